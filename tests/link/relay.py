"""A loopback TCP relay in the middle of a link: it cuts both directions of
its first connection into frames and hands each one after the handshake to a
test's hook, which says what passes on instead; later connections pass as
they are."""
import os
import socket
import struct
import threading

from proxy import loopback_listener

from velmoro.tframe.comm import wire

TAG = 16  # the bytes of a frame's tag
# frames of each direction that belong to the handshake: hello and proof (and
# the session's state, the first sealed one) from the client, hello from the server
HANDSHAKE = {"to_server": 3, "to_client": 1}


def message_of(frame):
    """The message of a sealed frame."""
    return wire.decode(frame[4:-TAG])


def sealed_as(frame, message):
    """A frame holding `message` under the tag of `frame`."""
    body = wire.encode(message)
    return struct.pack(">I", len(body) + TAG) + body + frame[-TAG:]


class Tamper:
    """What a relay does to the first frame whose message `wanted(message)`
    picks: "alter" it (`forged(message)` under its tag), "inject" a frame
    holding `forged(message)` before it (a tag made up), "replay" it, or
    "reorder" it (the next frame overtakes it)."""

    def __init__(self, how, wanted, forged=None):
        self.how, self.wanted, self.forged = how, wanted, forged
        self.done = False
        self.held = None

    def __call__(self, frame):
        if self.held is not None:
            held, self.held = self.held, None
            return [frame, held]
        if self.done or not self.wanted(message_of(frame)):
            return [frame]
        self.done = True
        if self.how == "alter":
            return [sealed_as(frame, self.forged(message_of(frame)))]
        if self.how == "inject":
            return [sealed_as(os.urandom(TAG), self.forged(message_of(frame))), frame]
        if self.how == "replay":
            return [frame, frame]
        self.held = frame
        return []


class Relay:
    def __init__(self, target, to_server=None, to_client=None):
        self.target = target
        self.hooks = {"to_server": to_server, "to_client": to_client}
        self.listener, self.address = loopback_listener(8)
        self.connections = 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(self.target, timeout=5)
            first = self.connections == 0
            self.connections += 1
            for direction, source, sink in (("to_server", client, server), ("to_client", server, client)):
                hook = self.hooks[direction] if first else None
                threading.Thread(target=self._pass, args=(direction, source, sink, hook), daemon=True).start()

    @staticmethod
    def _pass(direction, source, sink, hook):
        stream, count = b"", 0
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                stream += data
                out = []
                while len(stream) >= 4 and len(stream) >= 4 + struct.unpack(">I", stream[:4])[0]:
                    size = 4 + struct.unpack(">I", stream[:4])[0]
                    frame, stream = stream[:size], stream[size:]
                    out += [frame] if hook is None or count < HANDSHAKE[direction] else hook(frame)
                    count += 1
                sink.sendall(b"".join(out))
        except OSError:
            pass
        finally:
            for sock in (source, sink):  # the other direction ends with them
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                sock.close()

    def close(self):
        self.listener.close()
