"""The terminal link's wire: frames, message encoding, addresses and the
challenge-response proof.

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

from velmoro.tframe.comm.link import Answer, Status, TransportError
from velmoro.tframe.utils import utilcls
from velmoro.tframe.utils.utilcls import DotDict

__all__ = [
    "VERSION", "MAX_FRAME", "FrameError", "frame", "encode", "decode", "FrameReader", "set_timeouts",
    "parse_address", "proof", "nonce",
    "HELLO", "AUTH", "WELCOME", "CALL", "REPLY", "PUSH", "GAP", "ACK", "PING", "PONG", "BYE",
]

VERSION = 1
MAX_FRAME = 16 * 1024 * 1024

# message kinds
HELLO, AUTH, WELCOME, CALL, REPLY, PUSH, GAP, ACK, PING, PONG, BYE = range(1, 12)

_HEADER = struct.Struct(">I")
_TIMEVAL = struct.Struct("@ll")


class FrameError(TransportError):
    """A frame that is too large or does not decode: the connection is closed."""


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


_ENCODERS = {
    tuple: lambda v: _ext(_TUPLE, list(v)),
    DotDict: lambda v: _ext(_DOTDICT, dict(v)),
    collections.OrderedDict: lambda v: _ext(_ORDERED, dict(v)),
    utilcls.OrderedDict: lambda v: _ext(_ORDERED_FRAMEWORK, dict(v)),
    Answer: lambda v: _ext(_ANSWER, v.__dict__),
    Status: lambda v: _ext(_STATUS, [v.errLevel, v.errCode, v.errInfo]),
    set: lambda v: _ext(_SET, list(v)),
    frozenset: lambda v: _ext(_FROZENSET, list(v)),
    _dt.datetime: lambda v: _ext(_DATETIME, v.isoformat()),
    _dt.date: lambda v: _ext(_DATE, v.isoformat()),
    _dt.time: lambda v: _ext(_TIME, v.isoformat()),
    _dt.timedelta: lambda v: _ext(_TIMEDELTA, [v.days, v.seconds, v.microseconds]),
}


def _default(value):
    encoder = _ENCODERS.get(type(value))
    if encoder is not None:
        return encoder(value)
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


def _decode_answer(items):
    if not isinstance(items, dict):
        raise FrameError("an answer is a map of its attributes")
    answer = Answer.__new__(Answer)
    answer.__dict__ = items  # a dict of its own, fresh from the frame
    if "result" not in items:
        answer.result = None
    return answer


_DECODERS = {
    _ARRAY: _decode_array,
    _OBJECTS: _decode_objects,
    _SCALAR: _decode_scalar,
    _TUPLE: tuple,
    _DOTDICT: DotDict,
    _ORDERED: collections.OrderedDict,
    _ORDERED_FRAMEWORK: utilcls.OrderedDict,
    _ANSWER: _decode_answer,
    _STATUS: lambda items: Status(*items),
    _SET: set,
    _FROZENSET: frozenset,
    _DATETIME: _dt.datetime.fromisoformat,
    _DATE: _dt.date.fromisoformat,
    _TIME: _dt.time.fromisoformat,
    _TIMEDELTA: lambda items: _dt.timedelta(*items),
}


def _ext_hook(code, data):
    decoder = _DECODERS.get(code)
    if decoder is None:
        raise FrameError("unknown extension type {}".format(code))
    return decoder(decode(data))


_idle = []  # packers not in use, of any thread


def encode(value):
    """The msgpack body of a value (TypeError for a value the wire does not carry)."""
    # making a packer costs more than packing a small message; an extension
    # value packs its content with another one while the outer value is
    # being packed, and a thread may switch in the middle of a value: each
    # packing takes an idle packer for itself (list pop and append are atomic)
    try:
        packer = _idle.pop()
    except IndexError:
        packer = msgpack.Packer(default=_default, use_bin_type=True, strict_types=True)
    body = packer.pack(value)  # a packer that failed is dropped with the part it holds
    _idle.append(packer)
    return body


def decode(body):
    """The value of a msgpack body; FrameError when it is not one."""
    try:
        return msgpack.unpackb(body, ext_hook=_ext_hook, raw=False, strict_map_key=False)
    except FrameError:
        raise
    except Exception as exc:  # msgpack's and the decoders' errors alike: the body is bad
        raise FrameError("malformed frame: {}".format(exc)) from None


def frame(message):
    """One frame (length prefix and body) holding `message`."""
    body = encode(message)
    if len(body) > MAX_FRAME:
        raise FrameError("a frame of {} bytes exceeds the cap of {}".format(len(body), MAX_FRAME))
    return _HEADER.pack(len(body)) + body


class FrameReader:
    """Cuts a byte stream into messages, whatever the pieces it arrives in."""

    def __init__(self, cap=MAX_FRAME):
        self.cap = cap
        self._buffer = bytearray()

    def add(self, data):
        self._buffer += data

    def next(self):
        """The next complete message, or None (FrameError on a bad frame)."""
        messages = self._cut(1)
        return messages[0] if messages else None

    def feed(self, data):
        """The messages completed by `data` (FrameError on a bad frame)."""
        self._buffer += data
        return self._cut(-1)

    def _cut(self, most):
        """Up to `most` (-1: all) complete messages from the buffer, which
        keeps the rest: one pass and one move of the rest however many
        frames came in one read."""
        buffer, cap = self._buffer, self.cap
        end, start, messages = len(buffer), 0, []
        try:
            while end - start >= 4 and len(messages) != most:
                (size,) = _HEADER.unpack_from(buffer, start)
                if size == 0 or size > cap:
                    raise FrameError("frame of {} bytes refused (cap {})".format(size, cap))
                stop = start + 4 + size
                if stop > end:
                    break
                message = decode(buffer[start + 4:stop])
                if type(message) is not list or not message or not isinstance(message[0], int):
                    raise FrameError("a message must be a list starting with its kind")
                messages.append(message)
                start = stop
        finally:
            del buffer[:start]
        return messages


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
    return os.urandom(32)


def proof(token, role, first, second):
    """HMAC of the two nonces keyed by the shared token; `role` keeps the
    client's and the server's proofs apart."""
    return hmac.new(token, role + first + second, hashlib.sha256).digest()
