"""The terminal link's wire: frames, message encoding, addresses, the
challenge-response proof and the seals of the frames after it.

A frame is a 4-byte big-endian body length followed by a msgpack body. A
message is a list whose first item is its kind (the constants below). Values
are msgpack's own types plus a fixed set of extension types (numpy arrays
with dtype and shape, numpy scalars, tuples, sets, records of the framework,
answers and status records, dates and times); nothing else is accepted either
way, and nothing is ever unpickled.
"""
import collections
import datetime as _dt
import hashlib
import hmac
import os
import socket
import struct

import msgpack
import numpy as np

from velmoro.tframe.comm import _wirecodec
# the errors the channel raises are read here, as the codec reads FrameError
from velmoro.protocol import Answer, NotConnectedError, OutcomeUnknownError, Status, TransportError
# the message kinds are the protocol's: named here too, where the link's two ends read them
from velmoro.protocol import ACK, AUTH, BYE, CALL, GAP, HELLO, PING, PONG, PUSH, REPLY, RESUME, WELCOME
from velmoro.tframe.utils import utilcls
from velmoro.tframe.utils.utilcls import DotDict

__all__ = [
    "VERSION", "MAX_FRAME", "FrameError", "frame", "encode", "decode", "FrameReader", "send", "set_timeouts",
    "parse_address", "proof", "seals", "Seal", "ForgedFrameError", "nonce", "peer_uid", "NONCE_SIZE", "EXECUTED",
    "NEVER_ARRIVED", "IN_PROGRESS",
    "HELLO", "AUTH", "WELCOME", "CALL", "REPLY", "PUSH", "GAP", "ACK", "PING", "PONG", "BYE", "RESUME",
]

VERSION = 2
MAX_FRAME = 16 * 1024 * 1024
NONCE_SIZE = 32

# what the terminal knows of an order or cancel by its key
EXECUTED, NEVER_ARRIVED, IN_PROGRESS = "executed", "never arrived", "in progress"

_PEERCRED = struct.Struct("3i")  # pid, uid, gid

_TIMEVAL = struct.Struct("@ll")


class FrameError(TransportError):
    """A frame that is too large or does not decode: the connection is closed."""


class ForgedFrameError(FrameError):
    """A frame after the handshake without the tag its place in the stream
    asks for (altered, replayed, reordered or injected on the way): the
    connection is closed."""


# extension type codes
_ARRAY, _OBJECTS, _SCALAR, _TUPLE, _DOTDICT, _ANSWER, _STATUS, _SET, _FROZENSET, _DATETIME, _DATE, _TIME, \
    _TIMEDELTA, _ORDERED, _ORDERED_FRAMEWORK = range(1, 16)


_new_tuple = tuple.__new__


def _ext(code, content):
    """The extension value `code` holding `content`. (ExtType's own
    constructor checks its arguments in Python, at twice the cost of packing
    a small value; these are right by construction.)"""
    return _new_tuple(msgpack.ExtType, (code, encode(content)))


def _array(value):
    if value.dtype.hasobject:
        return _ext(_OBJECTS, [list(value.shape), value.ravel().tolist()])
    data = value if value.flags.c_contiguous else value.copy(order="C")
    return _ext(_ARRAY, [data.dtype.str, list(data.shape), data.tobytes()])


def _scalar(value):
    if value.dtype.hasobject:
        raise TypeError("cannot send a numpy object scalar")
    return _ext(_SCALAR, [value.dtype.str, value.tobytes()])


# The extension types the codec packs and builds itself, by exact type: the
# class, its code and how its content is made from a value v, and v from it:
#   "list"               list(v)                        cls(content)
#   "dict"               dict(v)                        cls(content)
#   "fields", names      [v.<name> for each name]       cls(*content)
#   "isoformat"          v.isoformat()                  cls.fromisoformat(content)
#   "state", defaults    v.__dict__                     cls.__new__(cls) with content as its
#                                                       __dict__, defaults for what it lacks
_EXTENSIONS = (
    (tuple, _TUPLE, "list"),
    (Answer, _ANSWER, "state", {"result": None}),
    (Status, _STATUS, "fields", ("errLevel", "errCode", "errInfo")),
    (DotDict, _DOTDICT, "dict"),
    (collections.OrderedDict, _ORDERED, "dict"),
    (utilcls.OrderedDict, _ORDERED_FRAMEWORK, "dict"),
    (set, _SET, "list"),
    (frozenset, _FROZENSET, "list"),
    (_dt.datetime, _DATETIME, "isoformat"),
    (_dt.date, _DATE, "isoformat"),
    (_dt.time, _TIME, "isoformat"),
    (_dt.timedelta, _TIMEDELTA, "fields", ("days", "seconds", "microseconds")),
)


def _default(value):
    """What stands for a value that is none of msgpack's types nor one of
    _EXTENSIONS: an extension value, or a value msgpack packs."""
    if isinstance(value, np.ndarray):
        return _array(value)
    if isinstance(value, np.generic):
        return _scalar(value)
    if isinstance(value, dict):
        return dict(value)
    if isinstance(value, (list, tuple)):
        return list(value)
    raise TypeError("cannot send a value of type {} to the terminal".format(type(value).__name__))


def _numeric_dtype(text):
    dtype = np.dtype(text)
    if dtype.hasobject:
        raise FrameError("object arrays are not accepted")
    return dtype


def _decode_array(items):
    text, shape, data = items
    dtype = _numeric_dtype(text)
    count = int(np.prod(shape, dtype=np.int64)) if shape else 1
    if any(n < 0 for n in shape) or count * dtype.itemsize != len(data):
        raise FrameError("array of shape {} and dtype {} does not match its {} bytes".format(shape, text, len(data)))
    return np.frombuffer(data, dtype=dtype).reshape(tuple(shape)).copy()


def _decode_objects(items):
    shape, values = items
    result = np.empty(len(values), dtype=object)
    result[:] = values
    return result.reshape(shape)


def _decode_scalar(items):
    text, data = items
    dtype = _numeric_dtype(text)
    if dtype.itemsize != len(data):
        raise FrameError("scalar of dtype {} from {} bytes".format(text, len(data)))
    return np.frombuffer(data, dtype=dtype)[0]


# the extension types the codec hands back to Python, by code
_DECODERS = {
    _ARRAY: _decode_array,
    _OBJECTS: _decode_objects,
    _SCALAR: _decode_scalar,
}


_wirecodec.configure(globals(), _EXTENSIONS)

# encode(value): the msgpack body of a value (TypeError for a value the wire
# does not carry); frame(message): one frame (length prefix and body);
# decode(body): the value of a body, FrameError when it is not one;
# FrameReader(cap=None, MAX_FRAME then): cuts a byte stream into messages,
# whatever the pieces it arrives in (add, next, feed). The bytes are msgpack's packer's
# (binary type, strict types, _default); values come back as its unpacker
# gives them.
encode = _wirecodec.encode
decode = _wirecodec.decode
frame = _wirecodec.frame
FrameReader = _wirecodec.FrameReader
send = _wirecodec.send
Seal = _wirecodec.Seal


def set_timeouts(sock, receive, send):
    """Make `sock` blocking, its reads giving up after `receive` seconds and
    its writes after `send` (BlockingIOError): the kernel keeps the clock, so
    that a read or write is one system call, not a poll and the call."""
    sock.settimeout(None)
    for option, seconds in ((socket.SO_RCVTIMEO, receive), (socket.SO_SNDTIMEO, send)):
        whole = int(seconds)
        sock.setsockopt(socket.SOL_SOCKET, option, _TIMEVAL.pack(whole, int((seconds - whole) * 1e6)))


def parse_address(address):
    """("unix", path) or ("tcp", (host, port)) from "unix:PATH" or "tcp://HOST:PORT"."""
    if address.startswith("unix:"):
        path = address[len("unix:"):]
        if not path:
            raise ValueError("no socket path in {!r}".format(address))
        return "unix", path
    if address.startswith("tcp://"):
        host, sep, port = address[len("tcp://"):].rpartition(":")
        if not sep or not port.isdigit():
            raise ValueError("no port in {!r}".format(address))
        return "tcp", (host.strip("[]") or "127.0.0.1", int(port))
    raise ValueError("a terminal address is unix:PATH or tcp://HOST:PORT, not {!r}".format(address))


def nonce():
    return os.urandom(NONCE_SIZE)


def peer_uid(sock):
    """The user id of the process at the other end of Unix socket `sock`."""
    return _PEERCRED.unpack(sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, _PEERCRED.size))[1]


def proof(token, role, first, second):
    """HMAC of the two nonces keyed by the shared token; `role` keeps the
    client's and the server's proofs apart."""
    return hmac.new(token, role + first + second, hashlib.sha256).digest()


def seals(token, side, client_nonce, server_nonce):
    """The Seals of a TCP connection's frames after the proof, for `side`
    (b"client" or b"server"): (the one its own frames are sent with, the one
    the peer's are checked with). Each direction's key is the token's HMAC of
    the direction and both nonces: both ends know it, a relay that saw the
    handshake does not, and every connection has new ones."""
    keys = {who: hmac.new(token, who + b" frames" + client_nonce + server_nonce, hashlib.sha256).digest()
            for who in (b"client", b"server")}
    peer = b"server" if side == b"client" else b"client"
    return Seal(keys[side]), Seal(keys[peer])
