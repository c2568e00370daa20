"""The simulated terminal served to other processes over a Unix socket or TCP.

    python -m velmoro.simterm serve --listen unix:PATH|tcp://HOST:PORT [--state DIR]

Every connection shakes hands (wire version; over TCP a challenge each side
answers with the shared token's HMAC, the token itself never sent; over a
Unix socket the peer's user is checked both ways), then sends calls and takes
answers and pushes. A connection belongs to a client session, which outlives
it: pushes carry the session's sequence numbers, wait in a bounded queue per
session (when it overflows the oldest pushes give way to a gap that the client
is told of; a stop push never does) and are kept until the client took them,
to be sent again after a reconnect from the last one it received. A frame
that is malformed, too large or unauthenticated closes its own connection
only; before the proof, frames are small, and after it every frame of a TCP
connection carries its tag both ways (see wire.seals). A new connection of
a session fences the earlier ones (they finish the request at hand and read
no more) before it is told the outcomes of its orders.
"""
import collections
import errno
import fcntl
import hashlib
import hmac
import ipaddress
import logging
import os
import socket
import stat
import threading
import time
from typing import Any, Optional

from velmoro.protocol import TransportError
from velmoro.simterm.ahead import DaysAhead
from velmoro.simterm.commands import HANDLERS
from velmoro.simterm.replay import Replay
from velmoro.simterm.store import Store, is_recorded
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.netlink import host_id, read_token
from velmoro.tframe.comm.wire import EXECUTED, IN_PROGRESS, NEVER_ARRIVED

__all__ = ["Server", "StartRefused", "QUEUE_CAP", "MAX_CONNECTIONS", "bind", "ensure_token"]

_log = logging.getLogger("velmoro.terminal.server")

QUEUE_CAP = 10000
MAX_CONNECTIONS = 256
SESSION_KEEP = 600.0  # seconds a session without connection waits for its client to come back
HANDSHAKE_TIMEOUT = 5.0
PREAUTH_FRAME = 4096  # largest frame before the peer proved itself
MAX_WINDOW = 1 << 16
MAX_KEYS = 100000  # idempotency keys one handshake may ask about
# a Unix socket's send buffer once its client proved itself (the system
# doubles it, and may cap it; TCP sizes its own): a push of whole arrays
# (640 KB at 5,000 targets) leaves in one write and is read in one
PUSH_BUFFER = 1 << 20
# accept errors that pass: out of descriptors or memory, a peer gone before its turn
_ACCEPT_RETRY = frozenset((errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM))
_EMPTY_STOP = {"stop_run": True}
_monotonic = time.monotonic


def _is_stop(record):
    return not isinstance(record, dict) or bool(record.get("stop_run", True))


class StartRefused(Exception):
    """The server cannot start as asked: its message is the one line its user reads."""


def ensure_token(path):
    """The token in `path`, made (random, readable by the owner only) when absent."""
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, mode=0o700, exist_ok=True)
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        pass
    else:
        with os.fdopen(fd, "w") as f:
            f.write(os.urandom(32).hex())
    try:
        return read_token(path)
    except (OSError, ValueError) as exc:
        raise StartRefused(str(exc)) from None


class Listener:
    """A listening socket; for a Unix socket also its path and the lock that
    makes the path this server's while it lives."""

    def __init__(self, sock, path=None, lock=None):
        self.sock, self.path, self.lock = sock, path, lock
        self.closed = False

    def accept(self):
        return self.sock.accept()

    def getsockname(self):
        return self.sock.getsockname()

    def close(self):
        """Stop listening (a thread in accept wakes), remove the socket file,
        then let go of its lock: a later server finds the path free."""
        if self.closed:
            return
        self.closed = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        if self.lock is not None:
            try:
                os.remove(self.path)
            except FileNotFoundError:
                pass
            os.close(self.lock)


def _claim_unix(where):
    """The lock of socket path `where`, its stale socket removed; StartRefused
    when a live terminal holds it or the path is not a socket."""
    folder = os.path.dirname(os.path.abspath(where))
    if not os.path.isdir(folder):
        os.makedirs(folder, mode=0o700)
    info = os.stat(folder)
    if info.st_uid != os.geteuid():
        raise StartRefused("the socket's folder {} belongs to user {}, not to this server's ({})".format(
            folder, info.st_uid, os.geteuid()))
    if stat.S_IMODE(info.st_mode) & 0o077:
        raise StartRefused("the socket's folder {} is open to other users (chmod 700 it)".format(folder))
    lock = os.open(where + ".lock", os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        os.close(lock)
        raise StartRefused("another terminal serves at {}".format(where)) from None
    try:
        info = os.lstat(where)
    except FileNotFoundError:
        return lock
    if not stat.S_ISSOCK(info.st_mode):
        os.close(lock)
        raise StartRefused("{} exists and is not a socket: not replaced".format(where))
    probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        probe.connect(where)
    except OSError:
        os.remove(where)  # left by a terminal that died
        return lock
    finally:
        probe.close()
    os.close(lock)
    raise StartRefused("another terminal serves at {}".format(where))


def _is_loopback(host):
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return host == "localhost"


def bind(address):
    """A Listener at `address`; a Unix socket only in a folder of this user's
    that no other user can enter, and never over a live terminal's socket or
    another file. StartRefused when it cannot be."""
    kind, where = wire.parse_address(address)
    lock = None
    try:
        if kind == "unix":
            lock = _claim_unix(where)
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.bind(where)
            os.chmod(where, 0o600)
        else:
            sock = socket.socket(socket.AF_INET6 if ":" in where[0] else socket.AF_INET, socket.SOCK_STREAM)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(where)
            if not _is_loopback(where[0]):
                _log.warning("listening on %s: reachable from other hosts (frames are authenticated, not encrypted)",
                             where[0])
    except OSError as exc:
        if lock is not None:
            os.close(lock)
        raise StartRefused("cannot listen at {}: {}".format(address, exc.strerror or exc)) from None
    sock.listen(128)
    return Listener(sock, where if kind == "unix" else None, lock)


class _Port:
    """What a Replay needs of a terminal: its data and clock, and a place for
    its pushes (the session's queue)."""

    def __init__(self, term, sink):
        self.data = term.data
        self._term = term
        self.sink = sink

    @property
    def now(self):
        return self._term.now

    @now.setter
    def now(self, value):
        self._term.now = value

    def push(self, record):
        self.sink(record)

    def next_push(self, timeout):
        return None


class Session:
    """A client's pushes: numbered, queued (bounded) and kept for a resend."""

    def __init__(self, server, session_id):
        self.server = server
        self.id = session_id
        self.cond = threading.Condition()
        self.seq = 0  # last number given
        self.sent = 0  # last number sent
        self.acked = 0  # last number the client took
        self.window = 1
        self.outbox = collections.deque()  # ("push", seq, record) or ("gap", first, last)
        # (seq, record) sent and not yet taken, for a resend: at most a window's worth
        self.history = collections.deque()
        self.connection = None
        self.connections = set()  # those not finished: the current one and any being fenced
        self.left = None  # when its last connection ended
        self.replay = None  # (Replay, paced, its port)
        self.restored = False  # its replay was rebuilt from the stored state and waits for the client

    def put(self, record, wait=False):
        """Queue a push; with `wait` (a source that can wait) until there is
        room, else the oldest queued pushes give way."""
        with self.cond:
            while wait and len(self.outbox) >= self.server.queue_cap:
                self.cond.wait(0.5)
            self.seq += 1
            self.outbox.append(("push", self.seq, record))
            while len(self.outbox) > self.server.queue_cap and self._shed():
                pass
            if len(self.outbox) == 1:  # the pusher waits only for an empty outbox to fill
                self.cond.notify_all()

    def _shed(self):
        """The oldest push that is not a stop becomes (part of) a gap."""
        for i, entry in enumerate(self.outbox):
            if entry[0] == "push" and not _is_stop(entry[2]):
                break
        else:
            return False
        seq = entry[1]
        before = self.outbox[i - 1] if i else None
        if before is not None and before[0] == "gap" and before[2] == seq - 1:
            self.outbox[i - 1] = ("gap", before[1], seq)
            del self.outbox[i]
        else:
            self.outbox[i] = ("gap", seq, seq)
        return True

    def take(self, alive):
        """The entries the client has room for (waits briefly for some)."""
        with self.cond:
            if not self.outbox or self.sent - self.acked >= self.window:
                self.cond.wait(0.2)
            entries = []
            if not alive():
                return entries
            while self.outbox and self.sent - self.acked < self.window and len(entries) < 256:
                entry = self.outbox.popleft()
                if entry[0] == "push":
                    self.history.append((entry[1], entry[2]))
                self.sent = entry[2] if entry[0] == "gap" else entry[1]
                entries.append(entry)
            if entries:
                self.cond.notify_all()
            return entries

    def ack(self, seq):
        with self.cond:
            self.acked = max(self.acked, seq)
            history = self.history
            while history and history[0][0] <= self.acked:
                history.popleft()
            self.cond.notify_all()
            due = self.replay is not None and self.replay[1] and self.acked >= self.seq
        if due:
            self.server.advance(self)

    def resume(self, received, consumed, live):
        """Send again what the client did not receive; report what is gone."""
        with self.cond:
            self.acked = consumed
            behind = received - self.seq
            if received < self.sent:
                kept = [(s, r) for s, r in self.history if s > received]
                first = kept[0][0] if kept else self.sent + 1
                entries = [("gap", received + 1, first - 1)] if first > received + 1 else []
                entries += [("push", s, r) for s, r in kept]
                self.outbox.extendleft(reversed(entries))
                self.sent = received
            self.cond.notify_all()
        if behind > 0:
            # numbers given before this terminal restarted: a replay makes them
            # again, other pushes are gone
            if self.replay is not None:
                self.server.skip(self, behind)
            elif live:
                with self.cond:
                    self.outbox.appendleft(("gap", received + 1, -1))
                    self.seq = self.sent = received
        if self.restored:
            self.restored = False
            self.server.run_replay(self)
        self.ack(consumed)


def _resume_fields(fields):
    """The client's session state of its RESUME message, checked field by field."""
    def number(name, low, high):
        value = fields.get(name)
        if type(value) is not int or not low <= value <= high:
            raise wire.FrameError("handshake field {} is {!r}, not a whole number from {} to {}".format(
                name, value, low, high))
        return value

    if not isinstance(fields, dict):
        raise wire.FrameError("the handshake's session state is not a map")
    session, keys, live = fields.get("session"), fields.get("keys"), fields.get("live")
    if type(session) is not str or not 0 < len(session) <= 64:
        raise wire.FrameError("handshake field session is not a name of 1 to 64 characters")
    if type(keys) is not list or len(keys) > MAX_KEYS or not all(type(k) is str for k in keys):
        raise wire.FrameError("handshake field keys is not a list of at most {} keys".format(MAX_KEYS))
    if type(live) is not bool:
        raise wire.FrameError("handshake field live is not true or false")
    received = number("received", 0, 2 ** 62)
    return session, keys, live, received, number("consumed", 0, received), number("window", 1, MAX_WINDOW)


class Connection:
    def __init__(self, server, sock):
        self.server = server
        self.sock = sock
        self.alive = True
        self.session = None
        self.send_lock = threading.Lock()
        self.frames = wire.FrameReader(PREAUTH_FRAME)
        self.seal = None  # tags this connection's frames after the proof (TCP)
        self.last_sent = self.last_recv = time.monotonic()
        self.finished = threading.Event()  # it reads and runs nothing more

    def write(self, data):
        with self.send_lock:  # sealed in the order the frames leave
            wire.send(self.sock, data if self.seal is None else self.seal.seal(data))
            self.last_sent = _monotonic()

    def close(self):
        """End the connection; its reader thread lets go of the socket."""
        if self.alive:
            self.alive = False
            try:
                self.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _expect(self, kind, deadline):
        while True:
            message = self.frames.next()
            if message is not None:
                if message[0] != kind or len(message) != 2:
                    raise wire.FrameError("expected message kind {} in the handshake".format(kind))
                return message[1]
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            data = self.sock.recv(65536)
            if not data:
                raise TransportError("closed during the handshake")
            self.frames.add(data)

    def _refuse(self, reason):
        self.write(wire.frame([wire.BYE, reason]))
        raise TransportError(reason)

    def handshake(self):
        """Both sides prove themselves before anything else is said: the
        server answers the client's nonce with its own proof, then checks the
        client's; frames stay small until then. The session's state comes
        after the proof, its earlier connections are fenced, then the outcomes
        of the keys it asks about are told."""
        server = self.server
        deadline = time.monotonic() + HANDSHAKE_TIMEOUT
        if self.sock.family == socket.AF_UNIX:
            uid = wire.peer_uid(self.sock)
            if uid != os.geteuid():
                self._refuse("a client of user {} is not served by user {}".format(uid, os.geteuid()))
        hello = self._expect(wire.HELLO, deadline)
        if not isinstance(hello, dict) or hello.get("version") != wire.VERSION:
            self._refuse("wire version {} is not {}".format(
                hello.get("version") if isinstance(hello, dict) else None, wire.VERSION))
        theirs = hello.get("nonce")
        if type(theirs) is not bytes or len(theirs) != wire.NONCE_SIZE:
            raise wire.FrameError("a hello without a nonce of {} bytes".format(wire.NONCE_SIZE))
        mine = wire.nonce()
        greeting = {"version": wire.VERSION, "nonce": mine, "auth": server.token is not None}
        if server.token is not None:
            greeting["proof"] = wire.proof(server.token, b"server", theirs, mine)
        self.write(wire.frame([wire.HELLO, greeting]))
        answer = self._expect(wire.AUTH, deadline)
        if server.token is not None:
            expected = wire.proof(server.token, b"client", mine, theirs)
            if not (type(answer) is bytes and hmac.compare_digest(answer, expected)):
                self._refuse("authentication failed")
            seal, check = wire.seals(server.token, b"server", theirs, mine)
            self.frames.authenticate(check)  # from the session's state on
            self.seal = seal
        self.frames.cap = server.max_frame
        session_id, keys, live, received, consumed, window = _resume_fields(self._expect(wire.RESUME, deadline))
        wire.set_timeouts(self.sock, server.heartbeat / 2, server.dead_after)
        if self.sock.family == socket.AF_UNIX:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, PUSH_BUFFER)
        self.session = server.attach(self, session_id)
        with self.session.cond:
            self.session.window = window
        outcomes = server.outcomes(self.session, keys, self)
        self.write(wire.frame([wire.WELCOME, {"outcomes": outcomes, "host": host_id()}]))
        self.session.resume(received, consumed, live)

    def serve(self):
        try:
            self.handshake()
            pusher = threading.Thread(target=self.push_loop, name="velmoro-terminal-pusher", daemon=True)
            pusher.start()
            self.pump()
        except wire.ForgedFrameError as exc:
            _log.warning("connection closed: %s", exc)
        except (OSError, TransportError) as exc:
            if self.alive:
                _log.info("connection closed: %s", exc)
        except Exception:  # a fault of this connection's own: the server serves on
            _log.exception("connection ended by an unexpected error")
        finally:
            self.close()
            self.sock.close()
            self.server.detach(self)
            self.finished.set()

    def pump(self):
        """Read and answer until the connection ends: the answers to all that
        one read brought go out in one write, those made before a bad
        message included."""
        sock, receive, dispatch = self.sock, self.frames.receive, self.dispatch
        while self.alive:
            try:
                messages = receive(sock, True)
            except EOFError:
                raise TransportError("the client closed the connection") from None
            if messages is None:  # quiet for half a heartbeat
                self.check(_monotonic())
                continue
            self.last_recv = now = _monotonic()
            answers = []
            try:
                for message in messages:
                    if not self.alive:
                        break  # fenced by a newer connection of the session: the rest never arrived
                    answer = dispatch(message)
                    if answer is not None:
                        answers.append(answer)
            finally:
                if answers:
                    self.write(b"".join(answers))
            if not answers:
                self.check(now)

    def check(self, now):
        """Heartbeat a connection that sent nothing for a while; end one whose
        client was silent too long."""
        if now - self.last_sent >= self.server.heartbeat:
            self.write(wire.frame([wire.PING]))
        if now - self.last_recv > self.server.dead_after:
            raise TransportError("no sign of life from the client")

    def dispatch(self, message):
        """Act on one message; the frame answering it, if any."""
        kind = message[0]
        if kind == wire.CALL and len(message) == 4 and type(message[2]) is str and type(message[3]) is list:
            return wire.frame(self.server.call(self, message[1], message[2], message[3]))
        if kind == wire.ACK and len(message) == 2 and isinstance(message[1], int):
            self.session.ack(message[1])
        elif kind == wire.PING:
            return wire.frame([wire.PONG])
        elif kind == wire.BYE:
            self.server.forget(self.session)
            raise TransportError("the client said goodbye")
        elif kind != wire.PONG:
            raise wire.FrameError("unexpected message {!r}".format(message[:2]))
        return None

    def push_loop(self):
        session = self.session
        alive = lambda: self.alive and session.connection is self  # noqa: E731
        try:
            while alive():
                entries = session.take(alive)
                if entries:
                    self.write(b"".join(wire.frame([wire.PUSH, e[1], e[2]] if e[0] == "push" else [wire.GAP, e[1], e[2]])
                                        for e in entries))
        except (OSError, TransportError) as exc:
            _log.info("pushes to a client stopped: %s", exc)
            self.close()


class Server:
    """Serves `terminal` at `address`; its state kept in `state_dir` (memory
    when None); TCP clients must prove they hold the token of `token_file`."""

    def __init__(self, terminal: Any, address: str, state_dir: Optional[str] = None, token_file: Optional[str] = None,
                 queue_cap: int = QUEUE_CAP, heartbeat: float = 1.0, dead_after: float = 5.0,
                 max_frame: int = wire.MAX_FRAME, max_connections: int = MAX_CONNECTIONS) -> None:
        self.term = terminal
        self.address = address
        self.queue_cap, self.heartbeat, self.dead_after, self.max_frame = queue_cap, heartbeat, dead_after, max_frame
        self.max_connections = max_connections
        kind = wire.parse_address(address)[0]
        if kind == "tcp":
            from velmoro.tframe.comm.netlink import default_token_file

            self.token = ensure_token(token_file or default_token_file())
        else:
            self.token = None
        self.lock = threading.RLock()  # the terminal's state, one command at a time
        self.store = Store(state_dir)
        self.sessions = {}
        self.connections = set()
        # VELMORO_TERMINAL_FAULT=hold:COMMAND:SECONDS holds the answer after the
        # command took effect (a crash test kills the terminal in between)
        fault = os.environ.get("VELMORO_TERMINAL_FAULT", "")
        self.hold = fault.split(":")[1:] if fault.startswith("hold:") else None
        self.ops = {name[3:]: getattr(self, name) for name in dir(self) if name.startswith("op_")}
        self._recorded = {}  # command -> whether its effect is stored
        self._restore()
        self.listener = bind(address)
        if kind == "tcp":  # the port the system gave for port 0
            host, port = self.listener.getsockname()[:2]
            self.address = "tcp://{}:{}".format("[{}]".format(host) if ":" in host else host, port)
        self._thread: Optional[threading.Thread] = None

    def _restore(self):
        count = 0
        for command, args, clock in self.store.events():
            self.term.now = clock
            self.term.handle(command, tuple(args))
            count += 1
        if count:
            _log.info("terminal state rebuilt from %d recorded commands", count)

    # ---- connections and sessions ----

    def serve_forever(self) -> None:
        """Accept connections until the listener is closed: running out of
        descriptors or memory pauses accepting, never ends it."""
        warned = 0.0
        while not self.listener.closed:
            try:
                sock, _ = self.listener.accept()
            except OSError as exc:
                if self.listener.closed:
                    return
                if exc.errno in _ACCEPT_RETRY:
                    if _monotonic() - warned > 10.0:
                        warned = _monotonic()
                        _log.warning("cannot accept connections for now: %s", exc)
                    time.sleep(0.05)
                continue  # others (a peer gone before its turn) concern that peer only
            with self.lock:
                full = len(self.connections) >= self.max_connections
            if full:
                sock.close()
                if _monotonic() - warned > 10.0:
                    warned = _monotonic()
                    _log.warning("%d connections open: new ones refused", self.max_connections)
                continue
            conn = Connection(self, sock)
            with self.lock:
                self.connections.add(conn)
            try:
                if sock.family != socket.AF_UNIX:
                    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                sock.settimeout(HANDSHAKE_TIMEOUT)
                threading.Thread(target=conn.serve, name="velmoro-terminal-conn", daemon=True).start()
            except (OSError, RuntimeError) as exc:  # RuntimeError: no thread to be had
                with self.lock:
                    self.connections.discard(conn)
                sock.close()
                _log.warning("a connection dropped: %s", exc)

    def start(self) -> "Server":
        """Serve in a background thread; returns self."""
        self._thread = threading.Thread(target=self.serve_forever, name="velmoro-terminal-accept", daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        """Stop serving: close the listener and every connection."""
        self.listener.close()
        with self.lock:
            connections = list(self.connections)
        for conn in connections:
            conn.close()
        if self._thread is not None:
            self._thread.join(5.0)

    def attach(self, conn, session_id):
        with self.lock:
            now = time.monotonic()
            for gone in [s for s in self.sessions.values() if s.left is not None and now - s.left > SESSION_KEEP]:
                del self.sessions[gone.id]
            session = self.sessions.get(session_id)
            if session is None:
                session = self.sessions[session_id] = Session(self, session_id)
                replay = self.store.session(session_id)
                if replay is not None:
                    self._start_replay(session, *replay)
                    session.restored = True
            earlier = list(session.connections)
            session.connections.add(conn)
            session.connection, session.left = conn, None
        self._fence(earlier)
        return session

    def _fence(self, connections):
        """End `connections`: each finishes the request it runs and reads no
        more (waited for up to dead_after seconds)."""
        for old in connections:
            old.close()
        deadline = _monotonic() + self.dead_after
        for old in connections:
            old.finished.wait(max(0.0, deadline - _monotonic()))

    def detach(self, conn):
        with self.lock:
            self.connections.discard(conn)
            if conn.session is not None:
                conn.session.connections.discard(conn)
        if conn.session is not None:
            with conn.session.cond:
                if conn.session.connection is conn:
                    conn.session.connection = None
                    conn.session.left = time.monotonic()
                conn.session.cond.notify_all()

    def forget(self, session):
        """A client that said goodbye does not come back for its session."""
        with self.lock:
            self.sessions.pop(session.id, None)

    def outcomes(self, session, keys, asking):
        """Each key's outcome: ["executed", answer], ["never arrived"] when
        no connection of the session but `asking` may still run it, else
        ["in progress"]."""
        with self.lock:
            unsettled = any(c is not asking and not c.finished.is_set() for c in session.connections)
            outcomes = {}
            for key in keys:
                known, answer = self.store.answer(key)
                outcomes[key] = [EXECUTED, answer] if known else [IN_PROGRESS if unsettled else NEVER_ARRIVED]
            return outcomes

    # ---- calls ----

    def call(self, conn, rid, op, args):
        try:
            handler = self.ops.get(op)
            if handler is None:
                raise TransportError("unknown request {!r}".format(op))
            return [wire.REPLY, rid, True, handler(conn, *args)]
        except Exception as exc:  # the caller's failure, answered to it
            return [wire.REPLY, rid, False, [type(exc).__name__, str(exc)]]

    def recorded(self, command):
        """Whether `command` changes what a restart must rebuild (known
        commands only are remembered: a client may send any name)."""
        handler = HANDLERS.get(command)
        recorded = is_recorded(command, handler)
        if handler is not None:
            self._recorded[command] = recorded
        return recorded

    def op_cmd(self, conn, command, args, key):
        with self.lock:
            if key is not None:
                known, answer = self.store.answer(key)
                if known:
                    return answer
            recorded = self._recorded.get(command)
            if recorded is None:
                recorded = self.recorded(command)
            clock = self.term.now
            answer = self.term.handle(command, tuple(args))
            if recorded or key is not None:
                self.store.record(command, args, clock, key, answer, recorded)
        if self.hold is not None and self.hold[0] == command:
            time.sleep(float(self.hold[1]))
        return answer

    def op_resolve(self, conn, keys):
        if type(keys) is not list or not all(type(k) is str for k in keys):
            raise TypeError("resolve takes a list of keys")
        return self.outcomes(conn.session, keys, conn)

    def op_log(self, conn):
        return list(self.term.log)

    def _result_file(self, path):
        real = os.path.realpath(path)
        root = os.path.realpath(self.term.result_dir)
        if os.path.commonpath([real, root]) != root or not os.path.isfile(real):
            raise PermissionError("{} is not a result file of this terminal".format(path))
        return real

    def op_stat(self, conn, path):
        real = self._result_file(path)
        digest = hashlib.sha256()
        with open(real, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        return [os.path.getsize(real), digest.hexdigest()]

    def op_read(self, conn, path, offset, size):
        with open(self._result_file(path), "rb") as f:
            f.seek(int(offset))
            return f.read(min(int(size), self.max_frame // 2))

    # ---- pushes ----

    def op_replay(self, conn, targets, days, mode):
        session = conn.session
        with self.lock:
            if session.seq:
                raise TransportError("a session replays once; connect anew for another replay")
            self.store.save_session(session.id, [targets, days, mode])
            replay = self._start_replay(session, targets, days, mode)
        self.run_replay(session)
        return sum(len(self.term.data.minute_times(d)) for d in replay.days) + 1

    def _start_replay(self, session, targets, days, mode):
        port = _Port(self.term, session.put)
        replay = Replay(port, targets, days)
        # its days' bars made ahead, beside the client's work
        port.data = DaysAhead(self.term.data, replay.days, [port.data.row(sec) for sec in replay.securities])
        session.replay = (replay, mode == "paced", port)
        return replay

    def run_replay(self, session):
        """Start a replay that pushes as fast as it goes (a paced one goes on
        the client's acknowledgements)."""
        if not session.replay[1]:
            threading.Thread(target=self._flood_replay, args=(session,), daemon=True).start()

    def _flood_replay(self, session):
        replay, _, port = session.replay
        while True:
            made = []
            with self.lock:  # the clock moves with the replay
                port.sink = made.append
                replay.next_push(0)
            if not made:
                return
            for record in made:  # waiting for room without holding the terminal
                session.put(record, wait=True)

    def skip(self, session, count):
        """Bring a rebuilt replay forward by `count` pushes the client already has."""
        with self.lock:
            replay, _, port = session.replay
            sink, port.sink = port.sink, lambda record: None
            for _ in range(count):
                replay.next_push(0)
            port.sink = sink
            with session.cond:
                session.seq += count
                session.sent = session.seq

    def advance(self, session):
        """The next minute of a paced replay, once the client took the last push."""
        with self.lock:
            if session.acked >= session.seq:
                session.replay[0].next_push(0)

    def op_flood(self, conn, record, count, wait=True):
        """Push `record` `count` times, then a stop push: a load for the link
        (`wait` false: as fast as it comes, whatever the client takes)."""
        def run():
            for _ in range(int(count)):
                conn.session.put(record, wait)
            conn.session.put(dict(_EMPTY_STOP), wait)

        threading.Thread(target=run, daemon=True).start()
