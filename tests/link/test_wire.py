"""Frames and values on the wire: whatever pieces the bytes come in, and
whatever bytes come."""
import datetime as dt
import socket
import struct
import threading

import msgpack
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import Answer, Status
from velmoro.tframe.utils.utilcls import DotDict

scalars = st.one_of(st.none(), st.booleans(), st.integers(-2 ** 63, 2 ** 64 - 1), st.floats(allow_nan=False),
                    st.text(max_size=20), st.binary(max_size=20))
arrays = hnp.arrays(st.sampled_from(["<f8", "<i8", "<i4", "|u1", "?", ">f4", "<U3"]),
                    hnp.array_shapes(min_dims=0, max_dims=3, max_side=4))
values = st.recursive(
    st.one_of(scalars, arrays),
    lambda inner: st.one_of(
        st.lists(inner, max_size=4), st.tuples(inner, inner),
        st.dictionaries(st.text(max_size=8), inner, max_size=4),
        st.dictionaries(st.text(max_size=8), inner, max_size=4).map(DotDict),
        st.frozensets(st.integers(-2 ** 63, 2 ** 63 - 1), max_size=4)),
    max_leaves=12)


def same(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and np.array_equal(a, b, equal_nan=a.dtype.kind == "f")
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


@given(values)
def test_values_come_back_as_they_went(value):
    assert same(wire.decode(wire.encode(value)), value)


def test_records_of_the_terminal_keep_their_types():
    answer = Answer(result=Status(1, 77, "no"), ClientID=np.int64(7), when=dt.datetime(2024, 1, 2, 9, 31),
                    day=dt.date(2024, 1, 2), cut=dt.time(14, 50), rows=np.arange(6.0).reshape(2, 3)[:, ::2],
                    names=np.array(["a", None], dtype=object), held={1, 2})
    back = wire.decode(wire.encode(answer))
    assert type(back) is Answer and type(back.result) is Status
    assert (back.result.errLevel, back.result.errCode, back.result.errInfo) == (1, 77, "no")
    assert type(back.ClientID) is np.int64 and back.ClientID == 7
    assert (back.when, back.day, back.cut, back.held) == (answer.when, answer.day, answer.cut, answer.held)
    assert np.array_equal(back.rows, [[0.0, 2.0], [3.0, 5.0]]) and list(back.names) == ["a", None]


def test_what_the_wire_does_not_carry_is_refused_before_sending():
    with pytest.raises(TypeError, match="cannot send"):
        wire.encode({"f": object()})


@settings(max_examples=60)
@given(st.lists(values, min_size=1, max_size=5), st.lists(st.integers(0, 10 ** 6), max_size=8))
def test_split_and_merged_frames_give_the_messages_in_order(messages, cuts):
    stream = b"".join(wire.frame([wire.PUSH, i, m]) for i, m in enumerate(messages))
    points = sorted({c % (len(stream) + 1) for c in cuts} | {0, len(stream)})
    reader = wire.FrameReader()
    got = []
    for start, end in zip(points, points[1:]):
        got += reader.feed(stream[start:end])
    assert same(got, [[wire.PUSH, i, m] for i, m in enumerate(messages)])
    assert reader.next() is None


def connected_pair(family):
    if family == socket.AF_UNIX:
        return socket.socketpair()
    with socket.socket(family) as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        ours = socket.create_connection(listener.getsockname())
        return ours, listener.accept()[0]


families = pytest.mark.parametrize("family", [socket.AF_UNIX, socket.AF_INET], ids=["unix", "tcp"])


@families
def test_a_socket_read_gives_the_messages_it_completed(family):
    """What one read of a socket brings, cut into messages: a frame split
    over reads (one larger than a read's room too) comes whole with its last
    piece; nothing there is None, the end of the stream EOFError."""
    ours, theirs = connected_pair(family)
    try:
        wire.set_timeouts(ours, 0.05, 5.0)
        reader = wire.FrameReader()
        big = [wire.PUSH, 2, b"x" * 300000]
        stream = wire.frame([wire.PUSH, 1, "a"]) + wire.frame(big)
        assert reader.receive(ours, False) is None
        assert reader.receive(ours.fileno(), True) is None  # the receive time-out passed
        theirs.sendall(stream[:6])
        assert reader.receive(ours, False) == []
        sender = threading.Thread(target=theirs.sendall, args=(stream[6:],))
        sender.start()
        got = []
        while len(got) < 2:
            got += reader.receive(ours, True) or []
        sender.join()
        assert got == [[wire.PUSH, 1, "a"], big]
        theirs.sendall(wire.frame([wire.PONG]))
        theirs.close()
        assert reader.receive(ours, True) == [[wire.PONG]]
        with pytest.raises(EOFError):
            reader.receive(ours, True)
    finally:
        ours.close()
        theirs.close()
    with pytest.raises((OSError, ValueError)):
        reader.receive(ours, False)  # a closed socket


@families
@pytest.mark.parametrize("how", ["socket", "descriptor", "socket with a time-out"])
def test_send_writes_everything_or_says_it_could_not(family, how):
    """All of what is sent arrives, in order, however slowly the peer takes
    it; a peer that takes nothing makes the send time-out pass (of the
    socket's options, BlockingIOError, or of a Python socket, as its own
    sendall raises it), a peer that is gone an OSError, never a signal."""
    ours, theirs = connected_pair(family)
    timed = how == "socket with a time-out"
    target = ours.fileno() if how == "descriptor" else ours
    try:
        if timed:
            ours.settimeout(5.0)
        else:
            wire.set_timeouts(ours, 5.0, 5.0)
        data = bytes(range(256)) * 12000
        got = bytearray()

        def take_slowly():
            while len(got) < len(data):
                got.extend(theirs.recv(100000))

        taker = threading.Thread(target=take_slowly)
        taker.start()
        wire.send(target, data)
        taker.join()
        assert got == data
        if timed:
            ours.settimeout(0.05)
        else:
            wire.set_timeouts(ours, 5.0, 0.05)
        with pytest.raises(OSError) as refused:
            wire.send(target, data * 10)
        assert timed or refused.type is BlockingIOError
        theirs.close()
        with pytest.raises(OSError):
            for _ in range(100):  # what the closed peer's buffer took first
                wire.send(target, data)
        ours.close()
        with pytest.raises(OSError):
            wire.send(ours, b"x")  # as a closed socket's own sendall
    finally:
        ours.close()
        theirs.close()


@given(st.binary(max_size=64))
def test_any_bytes_give_messages_or_a_frame_error(body):
    reader = wire.FrameReader(cap=1000)
    try:
        reader.feed(struct.pack(">I", len(body)) + body)
    except wire.FrameError:
        pass


@pytest.mark.parametrize("data, reason", [
    (struct.pack(">I", 10 ** 6), "refused"),  # larger than the cap: refused on its header alone
    (struct.pack(">I", 0), "refused"),
    (wire.frame({"kind": 1}), "must be a list"),
    (wire.frame(["push"]), "must be a list"),
    (struct.pack(">I", 3) + b"\xc1\x00\x00", "malformed"),
    (struct.pack(">I", 2) + b"\x92\x01", "malformed"),  # a list cut short
])
def test_bad_frames_are_refused(data, reason):
    with pytest.raises(wire.FrameError, match=reason):
        wire.FrameReader(cap=1000).feed(data)


@pytest.mark.parametrize("code, payload, reason", [
    (1, [np.dtype(object).str, [1], b"\x00" * 8], "object arrays"),
    (1, ["<f8", [3], b"\x00" * 8], "does not match"),
    (1, ["<f8", [-1, -1], b"\x00" * 8], "does not match"),
    (3, ["<i8", b"\x00"], "scalar"),
    (99, [], "unknown extension"),
])
def test_bad_extension_values_are_refused(code, payload, reason):
    body = msgpack.packb([wire.REPLY, msgpack.ExtType(code, msgpack.packb(payload, use_bin_type=True))],
                         use_bin_type=True)
    with pytest.raises(wire.FrameError, match=reason):
        wire.decode(body)


def test_a_frame_over_the_cap_is_not_made():
    with pytest.raises(wire.FrameError, match="exceeds the cap"):
        wire.frame([wire.PUSH, 1, b"\x00" * (wire.MAX_FRAME + 1)])


@pytest.mark.parametrize("text, parsed", [
    ("unix:/run/t.sock", ("unix", "/run/t.sock")),
    ("tcp://127.0.0.1:7000", ("tcp", ("127.0.0.1", 7000))),
    ("tcp://:7000", ("tcp", ("127.0.0.1", 7000))),
    ("tcp://[::1]:7000", ("tcp", ("::1", 7000))),
])
def test_addresses(text, parsed):
    assert wire.parse_address(text) == parsed


@pytest.mark.parametrize("text", ["unix:", "tcp://host", "http://x:1", "embedded"])
def test_bad_addresses(text):
    with pytest.raises(ValueError):
        wire.parse_address(text)
