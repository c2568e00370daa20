"""Peers that speak the link's wire by hand: a raw client that shakes hands as
told and sends what a test wants, and an impostor server."""
import socket
import threading

from proxy import loopback_listener

from velmoro.tframe.comm import wire


def raw_socket(address):
    kind, where = wire.parse_address(address)
    sock = socket.socket(socket.AF_UNIX if kind == "unix" else socket.AF_INET)
    sock.settimeout(10)
    sock.connect(where)
    return sock


def read_message(sock, frames):
    """The next message, or None when the peer closed the connection."""
    while True:
        message = frames.next()
        if message is not None:
            return message
        try:
            data = sock.recv(65536)
        except ConnectionResetError:
            return None
        if not data:
            return None
        frames.add(data)


def resume(session, *keys, **fields):
    """A session's state as a client tells it after the proof, asking about `keys`."""
    return dict(dict(session=session, received=0, consumed=0, window=64, live=False, keys=list(keys)), **fields)


class RawClient:
    """A connection whose handshake is done by hand (no token: a Unix socket);
    `welcome` is the server's last handshake message (a BYE when refused)."""

    def __init__(self, address, state):
        self.sock = raw_socket(address)
        self.frames = wire.FrameReader()
        mine = wire.nonce()
        self.sock.sendall(wire.frame([wire.HELLO, {"version": wire.VERSION, "nonce": mine}]))
        read_message(self.sock, self.frames)
        self.sock.sendall(wire.frame([wire.AUTH, b""]) + wire.frame([wire.RESUME, state]))
        self.welcome = read_message(self.sock, self.frames)

    def send(self, *messages):
        self.sock.sendall(b"".join(wire.frame(m) for m in messages))

    def close(self):
        self.sock.close()


class Impostor:
    """A TCP listener that answers a client's hello with `greeting` (its
    nonce filled in) and keeps every message the client sends after it."""

    def __init__(self, greeting):
        self.greeting = greeting
        self.heard = []
        self.listener, self.address = loopback_listener(4)
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                sock, _ = self.listener.accept()
            except OSError:
                return
            with sock:
                sock.settimeout(5)
                frames = wire.FrameReader()
                if read_message(sock, frames) is None:
                    continue
                sock.sendall(wire.frame([wire.HELLO, dict(self.greeting, nonce=wire.nonce())]))
                while True:
                    try:
                        message = read_message(sock, frames)
                    except OSError:
                        break
                    if message is None:
                        break
                    self.heard.append(message)

    def close(self):
        self.listener.close()
