"""A terminal in another process, reached over one stream connection.

`RemoteTerminal(address)` stands where the embedded terminal stands: its
`handle(command, args)` sends the command and waits for its answer, its
`next_push(timeout)` hands over the terminal's pushes in sequence order.

Each connection is a native Channel (see _wirecodec.pyi): the threads
waiting on it read it themselves, one at a time, an answer going to the
caller waiting for it and the rest (pushes, heartbeats, an answer whose
caller gave up) to this module's delivery. A consumer waiting for a push
reads in its turn as a caller does. A ticking thread reads what comes while
no one waits, and keeps an idle link checked with heartbeats. When the
connection dies, calls in flight fail with
OutcomeUnknownError and new ones fail fast with NotConnectedError while the
ticking thread reconnects: the handshake resumes the pushes after the last
one received and tells the outcome of every order or cancel whose answer was
lost. The key of each order or cancel is recorded in its connection's
channel before it is sent, so the loss of a connection leaves every key it
may have carried to be asked about. Orders are never sent again by the link itself; a caller
may resend with the same key, and the terminal answers the original result.

The client and the terminal each prove themselves before anything else is
said: over TCP by the shared token (the server's proof comes first, and a
client holding a token refuses a server that does not give it), over a Unix
socket by the peer's user, which must be this client's. Over TCP every frame
after the proof carries a tag under a key of the connection's own (see
wire.seals): one altered, replayed, reordered or injected on the way ends
the connection as a lost one.
"""
import atexit
import collections
import hashlib
import hmac
import itertools
import logging
import os
import shutil
import socket
import tempfile
import threading
import time
from typing import Any, List, Optional, Sequence, Tuple

from velmoro.tframe.comm import wire
from velmoro.tframe.comm import _wirecodec
from velmoro.protocol import (IN_PROGRESS, NEVER_ARRIVED, NotConnectedError, OutcomeUnknownError, PushGapError,
                              TransportError, run_days)

__all__ = ["RemoteTerminal", "KEYED_COMMANDS", "read_token", "default_token_file", "host_id", "FILE_FIELDS"]

_log = logging.getLogger("velmoro.link")

# commands that change orders: each carries an idempotency key
KEYED_COMMANDS = frozenset(("STTradeOperation", "STTradeStopOrder", "CancelOrder", "CancelStopOrder",
                            "CancelFrozen", "CloseOperation"))
# answer fields naming result files
FILE_FIELDS = ("listPaths", "wstrFilePath", "wstrFileName")
# errors a terminal's answer may carry back as themselves
_ERRORS = {cls.__name__: cls for cls in (TypeError, ValueError, KeyError, IndexError, AttributeError, LookupError,
                                         ArithmeticError, ZeroDivisionError, OverflowError, RuntimeError,
                                         NotImplementedError, PermissionError, FileNotFoundError, TransportError)}
WINDOW = 4096  # pushes the terminal may send ahead of what was taken
CHUNK = 1 << 20
CONNECT_TIMEOUT = 5.0
_GAP = object()
_monotonic = time.monotonic


def default_token_file() -> str:
    return os.environ.get("VELMORO_TERMINAL_TOKEN_FILE") or os.path.join(
        os.path.expanduser("~"), ".velmoro", "terminal.token")


def read_token(path: str) -> bytes:
    """The shared secret of a TCP link; the file must be readable by its owner only."""
    with open(path, "rb") as f:
        if os.fstat(f.fileno()).st_mode & 0o077:
            raise PermissionError("token file {} is open to other users (chmod 600 it)".format(path))
        token = f.read().strip()
    if not token:
        raise ValueError("token file {} is empty".format(path))
    return token


def host_id() -> str:
    """This machine's identity: a terminal on another one serves its result files by fetch."""
    try:
        with open("/proc/sys/kernel/random/boot_id") as f:
            boot = f.read().strip()
    except OSError:
        boot = ""
    return "{}/{}".format(socket.gethostname(), boot)


def _env_float(name, default):
    return float(os.environ.get(name) or default)


class _ServedRun:
    """A run's replay on the server: it ends with its stop push. It runs
    whole, in one session: its matrices are made with room for all its days
    (`room_days`), not grown at each new day."""

    def __init__(self, days):
        self.room_days = len(days)

    def detach(self):
        pass


# This thread's waiter, its reply cleared (see its doc).
_waiter = _wirecodec.thread_waiter


class RemoteTerminal:
    """The terminal server at `address` ("unix:PATH" or "tcp://HOST:PORT").

    timeout: seconds a command waits for its answer (VELMORO_TERMINAL_TIMEOUT,
    60 by default); heartbeat: seconds between signs of life on an idle link,
    which counts as dead after `dead_after` seconds of silence; reconnect_for:
    seconds of failed reconnection after which the link gives up; fetch: copy
    result files into a local cache (by default only from another host);
    window: pushes the terminal may send ahead of those taken.
    """

    def __init__(self, address: str, token_file: Optional[str] = None, timeout: Optional[float] = None,
                 heartbeat: float = 1.0, dead_after: float = 5.0, reconnect_for: float = 30.0,
                 fetch: Optional[bool] = None, cache_dir: Optional[str] = None, window: int = WINDOW) -> None:
        self.address = address
        self.kind, self.where = wire.parse_address(address)
        self.token = read_token(token_file or default_token_file()) if self.kind == "tcp" else None
        self.timeout = timeout if timeout is not None else _env_float("VELMORO_TERMINAL_TIMEOUT", 60.0)
        self.heartbeat, self.dead_after, self.reconnect_for = heartbeat, dead_after, reconnect_for
        self.window = window
        self._ack_every = max(1, window // 4)  # pushes taken between acknowledgements
        self.session = os.urandom(8).hex()
        self._fetch_wanted = fetch if fetch is not None else (os.environ.get("VELMORO_TERMINAL_FETCH") == "1" or None)
        self._cache_dir = cache_dir
        self._keys = itertools.count(1)
        self._loss_lock = threading.Lock()
        self._tick = heartbeat / 2  # longest blocking read
        self._ticked = threading.Event()  # wakes the ticking thread before its time
        self._pushes = collections.deque()
        self._push_lock = threading.Lock()
        self._consumers = set()  # waiters of next_push
        self.received = 0  # sequence number of the last push received
        self.consumed = 0  # ... and of the last one handed over
        self._acked = 0
        self._live = False  # pushes are expected (a replay or flood runs)
        self._keys_lock = threading.Lock()
        self.unknown = set()  # idempotency keys of orders and cancels sent whose answers were lost
        self.outcomes = {}  # idempotency key -> the answer found later, or NEVER_ARRIVED
        self._channel = None
        self._closed = False
        self._failed = None
        self.fetching = False
        self._open()
        self._ticker = threading.Thread(target=self._run, name="velmoro-link-ticker", daemon=True)
        self._ticker.start()

    @property
    def name(self) -> str:
        return "the terminal server at {}".format(self.address)

    # ---- connection ----

    def _connect_socket(self):
        if self.kind == "unix":
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.settimeout(CONNECT_TIMEOUT)
            sock.connect(self.where)
        else:
            sock = socket.create_connection(self.where, timeout=CONNECT_TIMEOUT)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return sock

    def _open(self):
        """Connect and shake hands; NotConnectedError when that fails."""
        try:
            sock = self._connect_socket()
        except OSError as exc:
            raise NotConnectedError("cannot reach the terminal at {}: {}".format(self.address, exc)) from None
        try:
            self._handshake(sock)
        except BaseException:
            sock.close()
            raise

    def _handshake(self, sock):
        if self.kind == "unix":
            uid = wire.peer_uid(sock)
            if uid != os.geteuid():
                raise NotConnectedError("the terminal at {} runs as user {}, not as this client's user {}: "
                                        "refused".format(self.address, uid, os.geteuid()))
        frames = wire.FrameReader()
        mine = wire.nonce()
        sock.sendall(wire.frame([wire.HELLO, {"version": wire.VERSION, "nonce": mine}]))
        theirs = self._expect(sock, frames, wire.HELLO)[1]
        version = theirs.get("version") if isinstance(theirs, dict) else None
        if version != wire.VERSION:
            raise NotConnectedError("the terminal speaks wire version {}, this client {}".format(version, wire.VERSION))
        nonce = theirs.get("nonce")
        if type(nonce) is not bytes or len(nonce) != wire.NONCE_SIZE:
            raise NotConnectedError("the terminal's hello has no nonce")
        seal = None
        if self.token is not None:
            given = theirs.get("proof")
            if type(given) is not bytes or not hmac.compare_digest(given, wire.proof(self.token, b"server", mine, nonce)):
                raise NotConnectedError("the terminal at {} did not prove it holds this client's token: "
                                        "authentication failed".format(self.address))
            seal, check = wire.seals(self.token, b"client", mine, nonce)
            frames.authenticate(check)  # from the welcome on
        elif theirs.get("auth"):
            raise NotConnectedError("the terminal asks for a token")
        with self._keys_lock, self._push_lock:
            resume = {"session": self.session, "received": self.received, "consumed": self.consumed,
                      "window": self.window, "live": self._live, "keys": list(self.unknown)}
        proof = wire.proof(self.token, b"client", nonce, mine) if self.token is not None else b""
        state = wire.frame([wire.RESUME, resume])
        sock.sendall(wire.frame([wire.AUTH, proof]) + (state if seal is None else seal.seal(state)))
        welcome = self._expect(sock, frames, wire.WELCOME)[1]
        if not isinstance(welcome, dict) or not isinstance(welcome.get("outcomes"), dict):
            raise NotConnectedError("the terminal's welcome is malformed")
        with self._keys_lock:
            for key, told in welcome["outcomes"].items():
                self._learn(key, told)
        if self._fetch_wanted is None:
            self.fetching = self.kind == "tcp" and welcome.get("host") != host_id()
        else:
            self.fetching = bool(self._fetch_wanted)
        wire.set_timeouts(sock, self._tick, self.dead_after)
        channel = _wirecodec.Channel(sock, frames, self._tick, self._deliver, self._lost, _ERRORS, seal)
        self._deliver(frames.feed(b""))  # what came with the welcome, before a caller reads the stream
        self._channel = channel

    def _expect(self, sock, frames, kind):
        deadline = time.monotonic() + CONNECT_TIMEOUT
        while True:
            message = frames.next()
            if message is not None:
                if message[0] == wire.BYE:
                    raise NotConnectedError("the terminal refused the connection: {}".format(message[1:]))
                if message[0] != kind:
                    raise NotConnectedError("unexpected message {} in the handshake".format(message[0]))
                return message
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                data = sock.recv(65536)
            except socket.timeout:
                raise NotConnectedError("the terminal did not shake hands in time") from None
            if not data:
                raise NotConnectedError("the terminal closed the connection during the handshake")
            frames.add(data)

    def close(self) -> None:
        """End the link; calls in flight fail, later ones fail fast."""
        self._closed = True
        channel, self._channel = self._channel, None
        closed = NotConnectedError("the link to the terminal was closed")
        if channel is not None:
            try:
                channel.send(wire.frame([wire.BYE, "closed"]))
            except (OSError, TransportError):
                pass
            channel.close(closed)
        self._fail(closed)
        self._ticked.set()
        if self._ticker is not threading.current_thread():
            self._ticker.join(5.0)

    def _run(self):
        """The ticking thread: reads what came while no thread waits,
        heartbeats, notices a dead link and reconnects."""
        while not self._closed:
            if self._channel is None:
                if not self._reconnect():
                    return
                with self._push_lock:
                    self._wake_consumers()  # those waiting on the old connection wait on this one
            channel = self._channel
            self._ticked.wait(self._tick)
            self._ticked.clear()
            if self._closed or self._channel is not channel:
                continue
            try:
                channel.poll()
                now = _monotonic()
                if now - channel.last_sent >= self.heartbeat:
                    channel.send(wire.frame([wire.PING]))
                if now - channel.last_recv > self.dead_after:
                    raise NotConnectedError("no sign of life from the terminal for {:.1f} s".format(
                        now - channel.last_recv))
            except (OSError, ValueError, TransportError) as exc:  # ValueError: a closed socket
                self._lost(channel, exc)

    def _lost(self, channel, exc):
        """The connection of `channel` failed: its calls in flight fail, the
        keys they carried are left to be asked about, the link reconnects."""
        with self._loss_lock:
            if self._channel is not channel:
                return  # noticed already
            error = OutcomeUnknownError("the connection to the terminal died before the answer: {}".format(exc))
            with self._keys_lock:  # before a reconnection can ask about them
                self._channel = None  # first: the callers it wakes call again on no closed channel
                self.unknown.update(key for key in channel.close(error) if key not in self.outcomes)
        _log.warning("link to the terminal at %s lost: %s", self.address, exc)
        self._ticked.set()  # reconnect now

    def _fail(self, error):
        """The link gave up: every consumer hears it."""
        with self._push_lock:
            self._failed = error
            self._wake_consumers()

    def _reconnect(self):
        """Connect again, with growing pauses; False once it gave up or was closed."""
        started, pause = time.monotonic(), 0.05
        while not self._closed:
            try:
                self._open()
                _log.warning("link to the terminal at %s restored", self.address)
                return True
            except (OSError, TransportError) as exc:
                if time.monotonic() - started > self.reconnect_for:
                    self._fail(NotConnectedError("the terminal at {} stayed unreachable for {:.0f} s: {}".format(
                        self.address, self.reconnect_for, exc)))
                    return False
            time.sleep(pause)
            pause = min(pause * 2, 1.0)
        return False

    def _deliver(self, messages):
        """(The reader) what a read brought besides the answers of waiting
        calls, in order: pushes are queued, the rest dispatched."""
        pushes = []
        for message in messages:
            if message[0] == wire.PUSH:
                pushes.append(message)
                continue
            if pushes:
                self._queue_pushes(pushes)
                pushes = []
            self._dispatch(message)
        if pushes:
            self._queue_pushes(pushes)

    def _dispatch(self, message):
        """The messages other than answers to waiting calls and pushes."""
        kind = message[0]
        if kind == wire.REPLY:
            _log.warning("answer to request %s came after its caller gave up: dropped", message[1])
        elif kind == wire.GAP:
            with self._push_lock:
                self._pushes.append((_GAP, message[1], message[2]))
                self.received = max(self.received, message[2])
                self._wake_consumers()
        elif kind == wire.PING:
            try:
                self._send(wire.frame([wire.PONG]))
            except NotConnectedError:
                pass  # one that came with the welcome: the connection is not in use yet
        elif kind == wire.BYE:
            raise NotConnectedError("the terminal ended the connection: {}".format(message[1:]))
        elif kind != wire.PONG:
            raise wire.FrameError("unexpected message kind {}".format(kind))

    def _queue_pushes(self, messages):
        """Queue pushes in order: one already here (sent again after a
        reconnect) is skipped, a hole in the numbers is a gap."""
        with self._push_lock:
            for _, seq, record in messages:
                if seq <= self.received:
                    continue
                if seq > self.received + 1:
                    self._pushes.append((_GAP, self.received + 1, seq - 1))
                self._pushes.append((seq, record))
                self.received = seq
            self._wake_consumers()

    def _wake_consumers(self):
        """(Under the push lock) tell the waiting consumers there is news."""
        for waiter in self._consumers:
            waiter.reply = True
            waiter.wake()

    def _send(self, data):
        """Send whole frames on the connection; NotConnectedError when it is down."""
        channel = self._channel
        if channel is None:
            raise self._down()
        channel.send(data)

    def _down(self):
        return self._failed or NotConnectedError("the link to the terminal at {} is down".format(self.address))

    # ---- commands ----

    def handle(self, command: str, args: Tuple[Any, ...], key: Optional[str] = None) -> Any:
        """Send one command and return its answer (an order or cancel with
        `key`, or a fresh one: sending it again with that key answers the
        first outcome)."""
        if key is None and command in KEYED_COMMANDS:
            key = self.new_key()
        answer = self._call("cmd", [command, list(args), key], key)
        if self.fetching and answer is not None:
            self._localise(answer)
        return answer

    def call(self, op: str, *args: Any, key: Optional[str] = None) -> Any:
        """One request to the terminal server and its answer."""
        return self._call(op, list(args), key)

    def _call(self, op, args, key):
        """One request and its answer: OutcomeUnknownError when it was sent
        and no answer came within `timeout`, or the connection died first (an
        order's key is then left to be asked about); NotConnectedError when
        nothing was sent; the terminal's own error answers as themselves."""
        channel = self._channel
        if channel is None:
            raise self._down()
        if key is None:
            return channel.call(op, args, None, self.timeout)
        self.outcomes.pop(key, None)  # what an earlier attempt found no longer tells
        try:
            answer = channel.call(op, args, key, self.timeout)
        except (OutcomeUnknownError, KeyboardInterrupt):  # it may have been sent
            with self._keys_lock:
                if key not in self.outcomes:
                    self.unknown.add(key)
            raise
        self.unknown.discard(key)
        return answer

    def _learn(self, key, told):
        """(Under the keys lock) what the terminal told of `key`: [EXECUTED,
        answer], [NEVER_ARRIVED] or [IN_PROGRESS] (it stays unknown)."""
        state = told[0] if isinstance(told, list) and told else None
        if state == wire.EXECUTED and len(told) == 2:
            self.outcomes[key] = told[1]
        elif state == wire.NEVER_ARRIVED:
            self.outcomes[key] = NEVER_ARRIVED
        else:
            _log.warning("order request %s is still in progress on the terminal", key)
            return IN_PROGRESS
        self.unknown.discard(key)
        _log.warning("order request %s %s", key, "was executed" if state == wire.EXECUTED else "never arrived")
        return self.outcomes[key]

    def new_key(self) -> str:
        """A fresh idempotency key of this client's session."""
        return "{}:{}".format(self.session, next(self._keys))

    def outcome(self, key: str) -> Any:
        """What became of the order or cancel with `key`: the terminal's
        answer (None for a command answering None, such as a cancel),
        NEVER_ARRIVED (the terminal never received it and no connection that
        could deliver it is left: sending it again is safe) or IN_PROGRESS
        (being sent or run: ask again)."""
        channel = self._channel
        if channel is not None and channel.carries(key):
            return IN_PROGRESS
        told = self.call("resolve", [key]).get(key)
        with self._keys_lock:
            return self._learn(key, told)

    @property
    def log(self) -> List[str]:
        """The terminal's log lines."""
        return self.call("log")

    # ---- pushes ----

    def replay(self, targets: Sequence[dict], days: Sequence[int], paced: bool = True) -> None:
        """Have the terminal replay `days` for `targets` as this session's
        pushes; paced: each minute is pushed when the previous one was taken
        (the terminal's clock follows the run), else as fast as they are made.
        Returns the number of pushes coming, the stop included."""
        with self._push_lock:
            self._live = True
        return self.call("replay", list(targets), list(days), "paced" if paced else "flood")

    def replay_for_run(self, targets: Sequence[dict], begin_date: int, end_date: int) -> Optional[Tuple[Any, int, int]]:
        """Arrange the pushes of a live run (see the embedded terminal's):
        the server replays `begin_date`..`end_date`, the days before them are
        the history. None when this session has pushes coming already."""
        if self._live:
            return None
        replayed, history = run_days(self.handle("GetTradingDays", ()).result, begin_date, end_date)
        self.replay(targets, replayed)
        return _ServedRun(replayed), history[0], history[-1]

    def flood(self, record: Any, count: int, wait: bool = True) -> None:
        """Have the terminal push `record` `count` times, then a stop push
        (`wait` false: without waiting for this client to take them)."""
        with self._push_lock:
            self._live = True
        return self.call("flood", record, count, wait)

    def _ack(self, seq):
        try:
            self._send(wire.frame([wire.ACK, seq]))
            self._acked = seq
        except (OSError, NotConnectedError):
            pass  # the handshake of the reconnection tells the terminal instead

    def next_push(self, timeout: float) -> Any:
        """The next push in sequence order, or None after `timeout` seconds of
        quiet; PushGapError when pushes were lost, the link's failure when it
        gave up reconnecting."""
        with self._push_lock:
            if self._pushes and self.consumed - self._acked < self._ack_every:
                return self._take_push()
            consumed = self.consumed
        self._ack(consumed)  # paced replays push the next minute on this
        deadline = _monotonic() + timeout
        while True:
            with self._push_lock:
                if self._pushes:
                    return self._take_push()
                if self._failed is not None:
                    raise self._failed
                waiter = _waiter()
                self._consumers.add(waiter)  # before the wait: a push queued now wakes it
            try:
                channel = self._channel
                if channel is None:
                    woken = waiter.wait(max(0.0, deadline - _monotonic()))
                else:
                    woken = channel.wait(waiter, deadline)
                if not woken and not self._pushes and _monotonic() >= deadline:
                    return None
            finally:
                with self._push_lock:
                    self._consumers.discard(waiter)

    def _take_push(self):
        """(Under the push lock) the next queued push."""
        item = self._pushes.popleft()
        if item[0] is _GAP:
            self.consumed = max(self.consumed, item[2])
            if item[2] < 0:
                raise PushGapError("the terminal lost this session's pushes from number {} on".format(item[1]))
            raise PushGapError("pushes {} to {} of the terminal were lost".format(item[1], item[2]))
        self.consumed = item[0]
        record = item[1]
        if isinstance(record, dict) and record.get("stop_run", True):
            self._live = False
        return record

    # ---- result files ----

    def _localise(self, answer):
        for field in FILE_FIELDS:
            value = getattr(answer, field, None)
            if isinstance(value, str) and value:
                setattr(answer, field, self.fetch(value))
            elif isinstance(value, list):
                setattr(answer, field, [self.fetch(v) if isinstance(v, str) and v else v for v in value])

    def _cache(self):
        if self._cache_dir is None:
            self._cache_dir = os.environ.get("VELMORO_TERMINAL_CACHE") or tempfile.mkdtemp(prefix="velmoro-files-")
            if "VELMORO_TERMINAL_CACHE" not in os.environ:
                atexit.register(shutil.rmtree, self._cache_dir, True)
        os.makedirs(self._cache_dir, mode=0o700, exist_ok=True)
        return self._cache_dir

    def fetch(self, path: str) -> str:
        """A local copy of the terminal's result file `path`, fetched in
        chunks and checked against the terminal's checksum."""
        size, digest = self.call("stat", path)
        local = os.path.join(self._cache(), "{}_{}".format(digest[:16], os.path.basename(path)))
        if os.path.exists(local):
            return local
        check = hashlib.sha256()
        part = local + ".part{}".format(threading.get_ident())
        with open(part, "wb") as f:
            for offset in range(0, size, CHUNK):
                data = self.call("read", path, offset, CHUNK)
                check.update(data)
                f.write(data)
        if check.hexdigest() != digest:
            os.remove(part)
            raise TransportError("result file {} arrived damaged (checksum mismatch)".format(path))
        os.replace(part, local)
        return local

