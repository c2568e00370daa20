"""The wire's native codec against msgpack itself: the same bytes for every
value the wire carries, the same values back from any bytes, FrameError for
every bad body, and Python's own errors where Python code runs."""
import collections
import datetime as dt
import struct
import threading

import msgpack
import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import Answer, Status
from velmoro.tframe.utils import utilcls
from velmoro.tframe.utils.utilcls import DotDict


def same(a, b):
    """The same value: types, order and records alike, NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b or (a != a and b != b)
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and np.array_equal(a, b, equal_nan=a.dtype.kind == "f")
    if isinstance(a, np.generic):
        return a.tobytes() == b.tobytes()
    if isinstance(a, Answer):
        return same(a.__dict__, b.__dict__)
    if isinstance(a, Status):
        return same([a.errLevel, a.errCode, a.errInfo], [b.errLevel, b.errCode, b.errInfo])
    if isinstance(a, dict):
        return same(list(a.items()), list(b.items()))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b

# ---- the reference: msgpack's packer and unpacker with Python hooks -----


def _ref_array(value):
    if value.dtype.hasobject:
        return 2, [list(value.shape), value.ravel().tolist()]
    data = value if value.flags.c_contiguous else value.copy(order="C")
    return 1, [data.dtype.str, list(data.shape), data.tobytes()]


REFERENCE_ENCODERS = {
    tuple: lambda v: (4, list(v)),
    DotDict: lambda v: (5, dict(v)),
    collections.OrderedDict: lambda v: (14, dict(v)),
    utilcls.OrderedDict: lambda v: (15, dict(v)),
    Answer: lambda v: (6, v.__dict__),
    Status: lambda v: (7, [v.errLevel, v.errCode, v.errInfo]),
    set: lambda v: (8, list(v)),
    frozenset: lambda v: (9, list(v)),
    dt.datetime: lambda v: (10, v.isoformat()),
    dt.date: lambda v: (11, v.isoformat()),
    dt.time: lambda v: (12, v.isoformat()),
    dt.timedelta: lambda v: (13, [v.days, v.seconds, v.microseconds]),
}


def reference_default(value):
    encoder = REFERENCE_ENCODERS.get(type(value))
    if encoder is None and isinstance(value, np.ndarray):
        encoder = _ref_array
    elif encoder is None and isinstance(value, np.generic):
        encoder = lambda v: (3, [v.dtype.str, v.tobytes()])  # noqa: E731
    if encoder is not None:
        code, content = encoder(value)
        return msgpack.ExtType(code, reference_encode(content))
    if isinstance(value, dict):
        return dict(value)
    if isinstance(value, (list, tuple)):
        return list(value)
    raise TypeError("cannot send a value of type {} to the terminal".format(type(value).__name__))


def reference_encode(value):
    return msgpack.Packer(default=reference_default, use_bin_type=True, strict_types=True).pack(value)


def _ref_answer(items):
    answer = Answer.__new__(Answer)
    answer.__dict__ = items
    if "result" not in items:
        answer.result = None
    return answer


REFERENCE_DECODERS = {
    1: wire._decode_array, 2: wire._decode_objects, 3: wire._decode_scalar, 4: tuple, 5: DotDict,
    6: _ref_answer, 7: lambda items: Status(*items), 8: set, 9: frozenset, 10: dt.datetime.fromisoformat,
    11: dt.date.fromisoformat, 12: dt.time.fromisoformat, 13: lambda items: dt.timedelta(*items),
    14: collections.OrderedDict, 15: utilcls.OrderedDict,
}


def _ref_hook(code, data):
    if code not in REFERENCE_DECODERS:
        raise ValueError("unknown extension type")
    return REFERENCE_DECODERS[code](reference_decode(data))


def reference_decode(body):
    return msgpack.unpackb(body, ext_hook=_ref_hook, raw=False, strict_map_key=False)


# ---- values of every type the wire carries --------------------------------

text = st.text(max_size=40)  # beyond 31 bytes: the 8-bit string header
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-2 ** 63, 2 ** 64 - 1),
    st.sampled_from([0, 127, 128, 255, 256, 65535, 65536, 2 ** 32 - 1, 2 ** 32, -32, -33, -128, -129, -32768,
                     -32769, -2 ** 31, -2 ** 31 - 1, -2 ** 63, 2 ** 63, 2 ** 64 - 1]),
    st.floats(), text, st.binary(max_size=300), st.binary(max_size=8).map(bytearray),
    st.dates(), st.datetimes(), st.times(), st.timedeltas(),
    st.builds(msgpack.Timestamp, st.integers(-2 ** 40, 2 ** 40), st.integers(0, 10 ** 9 - 1)),
    st.builds(Status, st.integers(-5, 5), st.integers(0, 2 ** 40), text),
    st.sampled_from([np.int64(-3), np.float64(2.5), np.bool_(True), np.uint8(200), np.float32(0.25)]),
    hnp.arrays(st.sampled_from(["<f8", "<i8", ">i4", "|u1", "?", "<U3"]),
               hnp.array_shapes(min_dims=0, max_dims=3, max_side=3)),
)


class Mapping(dict):
    """A dict subclass the codec does not know: packed as dict(v)."""


class Items(list):
    """A list subclass the codec does not know: packed as list(v)."""


def ordered(pairs, cls):
    od = cls(pairs)
    if len(od) > 1:
        od.move_to_end(next(iter(od)))  # its order and its dict's differ
    return od


names = st.text("abcdefghijklmnopqrstuvwxyz", min_size=1, max_size=8).filter(lambda n: n != "result")


def containers(inner):
    keys = st.one_of(text, st.integers(-2 ** 63, 2 ** 63 - 1), st.tuples(st.integers(-2 ** 63, 2 ** 63 - 1), text))
    pairs = st.lists(st.tuples(keys, inner), max_size=20)
    return st.one_of(
        st.lists(inner, max_size=20), st.lists(inner, max_size=5).map(tuple), st.lists(inner, max_size=3).map(Items),
        st.dictionaries(keys, inner, max_size=20), pairs.map(DotDict), pairs.map(Mapping),
        pairs.map(lambda p: ordered(p, collections.OrderedDict)), pairs.map(lambda p: ordered(p, utilcls.OrderedDict)),
        st.sets(st.integers(-2 ** 63, 2 ** 63 - 1), max_size=5), st.frozensets(text, max_size=5),
        st.builds(lambda result, payload: Answer(result=result, **payload), inner,
                  st.dictionaries(names, inner, max_size=4)),
        st.builds(lambda payload: _ref_answer(dict(payload)),  # an answer without result
                  st.dictionaries(names, inner, max_size=3)),
    )


values = st.recursive(scalars, containers, max_leaves=25)
# sanitized builds and a busy machine make drawing these slow, not wrong
slow_data = settings(deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


@settings(slow_data, max_examples=150)
@given(values)
def test_bytes_are_msgpacks_own(value):
    body = wire.encode(value)
    assert body == reference_encode(value)
    framed = wire.frame([wire.PUSH, 1, value])
    assert framed == struct.pack(">I", len(framed) - 4) + reference_encode([wire.PUSH, 1, value])


@settings(slow_data, max_examples=80)
@given(values)
def test_values_come_back_as_msgpack_gives_them(value):
    body = reference_encode(value)
    native, reference = wire.decode(body), reference_decode(body)
    assert same(native, reference)
    # the codec's records are built alike: same attributes, same slots
    if isinstance(native, Answer):
        assert native.__dict__.keys() == reference.__dict__.keys()


_ARRAYS = [
    np.random.default_rng(1).random((5000, 8)),  # a push's rows: past the 16- and 32-bit headers
    np.arange(70000, dtype=">i4").reshape(2, 35000), np.array(3.5), np.zeros((0, 4)), np.ones((2, 3, 4), "?"),
    np.array(["ab", "c"]), np.zeros(3, "V4"), np.arange(12.0).reshape(3, 4).T, np.arange(10)[::2],
    np.array([1, None], dtype=object),
]


@pytest.mark.parametrize("value", _ARRAYS, ids=lambda a: "{}{}".format(a.dtype.str, a.shape))
def test_arrays_are_coded_as_the_wires_python_coders_code_them(value, monkeypatch):
    """Arrays packed and built natively (C-order numbers) give the bytes and
    arrays of the Python coders, which take over once replaced: the codec
    reads them at call time."""
    native = wire.frame([wire.PUSH, 1, {"rows": value}])
    assert native[4:] == reference_encode([wire.PUSH, 1, {"rows": value}])
    back = wire.decode(native[4:])[2]["rows"]
    assert same(back, value) and back.flags.c_contiguous and back.flags.writeable
    assert back.flags.owndata or value.dtype.hasobject
    calls = []
    monkeypatch.setattr(wire, "_array", lambda v, packer=wire._array: calls.append("pack") or packer(v))
    monkeypatch.setitem(wire._DECODERS, 1, lambda items, build=wire._decode_array: calls.append("build") or build(items))
    assert wire.frame([wire.PUSH, 1, {"rows": value}]) == native
    assert same(wire.decode(native[4:])[2]["rows"], value)
    assert calls == (["pack"] if value.dtype.hasobject else ["pack", "build"])


@pytest.mark.parametrize("value", [
    (1, "a", (2.5, None)), (), DotDict(a=1, b=DotDict(c=[2])), collections.OrderedDict([("b", 1), ("a", 2)]),
    utilcls.OrderedDict([("x", (1,))]), {1, 2}, frozenset(["a"]), set(), dt.datetime(2024, 5, 6, 7, 8, 9, 10),
    dt.date(2024, 2, 29), dt.time(23, 59, 59, 999999), dt.timedelta(days=-3, seconds=5, microseconds=7),
    Status(2, 3, "x"), Answer(result=Status(0, 0, ""), listResult=[1]), Answer(), msgpack.Timestamp(2 ** 35, 5),
    msgpack.Timestamp(-1, 0), msgpack.Timestamp(7, 0), np.arange(6, dtype="<i2").reshape(2, 3),
    np.array([1, "a", None], dtype=object), np.float32(1.5),
])
def test_each_extension_type_comes_back_with_its_type(value):
    back = wire.decode(wire.encode(value))
    if isinstance(value, Status):
        assert type(back) is Status and (back.errLevel, back.errCode, back.errInfo) == (2, 3, "x")
    elif isinstance(value, Answer):
        assert type(back) is Answer and back.__dict__.keys() == value.__dict__.keys() and "result" in back.__dict__
    elif isinstance(value, np.ndarray):
        assert back.dtype == value.dtype and back.shape == value.shape and list(back.ravel()) == list(value.ravel())
    else:
        assert type(back) is type(value) and back == value
        if isinstance(value, dict):
            assert list(back.items()) == list(value.items())


def test_a_record_from_the_frame_is_made_as_its_class_makes_it():
    # an answer's payload is its own fresh dict, its result None where not sent
    body = wire.encode(Answer(a=1))
    back = wire.decode(body.replace(b"\xa6result", b"\xa6resulx"))
    assert back.result is None and back.resulx is None and back.a == 1
    # a status of the wrong arity is a bad frame, as Status(*items) refuses it
    with pytest.raises(wire.FrameError, match="malformed"):
        wire.decode(msgpack.packb(msgpack.ExtType(7, msgpack.packb([1, 2, 3, 4]))))
    with pytest.raises(wire.FrameError, match="map of its attributes"):
        wire.decode(msgpack.packb(msgpack.ExtType(6, msgpack.packb([1]))))
    # a tuple's content may be any value tuple() takes
    assert wire.decode(msgpack.packb(msgpack.ExtType(4, msgpack.packb("ab")))) == ("a", "b")


def nested(depth, leaf, wrap):
    value = leaf
    for _ in range(depth):
        value = wrap(value)
    return value


# ---- what the wire does not carry --------------------------------------------


class Boom(Exception):
    pass


class Hostile(dict):
    """Its own iteration: dict(v) asks for its keys."""

    def __iter__(self):
        raise Boom("iter")

    def keys(self):
        raise Boom("keys")


class HostileList(list):
    def __iter__(self):
        raise Boom("iter")


@pytest.mark.parametrize("value, error", [
    ({"f": object()}, TypeError), ([2 ** 64], TypeError), ([-2 ** 63 - 1], TypeError), ("\ud800", UnicodeEncodeError),
    ([Hostile(a=1)], Boom), ((HostileList([1]),), Boom), (np.array([object()]), TypeError),
])
def test_refusals_and_python_errors_reach_the_caller_as_msgpack_gives_them(value, error):
    with pytest.raises(error):
        reference_encode(value)
    with pytest.raises(error):
        wire.encode(value)


def test_an_extension_code_out_of_range_is_refused_not_wrapped():
    with pytest.raises(ValueError, match="signed 8-bit"):
        wire.encode(tuple.__new__(msgpack.ExtType, (300, b"")))


def test_errors_of_default_reach_the_caller_unchanged(monkeypatch):
    raised = Boom("mine")

    def default(value):
        raise raised

    monkeypatch.setattr(wire, "_default", default)
    with pytest.raises(Boom) as caught:
        wire.encode([1, np.int64(2)])
    assert caught.value is raised
    # a replacement that msgpack cannot pack either
    monkeypatch.setattr(wire, "_default", lambda value: (1, 2))
    with pytest.raises(TypeError, match="can not serialize 'tuple'"):
        wire.encode(np.int64(2))


@pytest.mark.parametrize("wrap", [lambda v: [v], lambda v: {"k": v}, lambda v: (v,), lambda v: Answer(result=v)])
def test_deep_values_hit_the_recursion_limit_not_the_stack(wrap):
    assert wire.decode(wire.encode(nested(100, 1, wrap))) is not None
    with pytest.raises(ValueError, match="recursion limit"):
        wire.encode(nested(100000, 1, wrap))


def test_values_that_hold_themselves_are_refused():
    loop = []
    loop.append(loop)
    through_tuple = []
    through_tuple.append((through_tuple,))
    answer = Answer()
    answer.result = [answer]
    for value in (loop, through_tuple, answer):
        with pytest.raises(ValueError, match="recursion limit"):
            wire.encode(value)


def test_a_list_or_dict_changed_while_packed_is_refused(monkeypatch):
    # packed against its header it would give a body that does not decode
    items = [np.int64(1), 2, 3]
    monkeypatch.setattr(wire, "_default", lambda value: items.pop() and 0)
    with pytest.raises(RuntimeError, match="changed size"):
        wire.encode(items)
    table = {"a": np.int64(1), "b": 2}
    monkeypatch.setattr(wire, "_default", lambda value: table.update(c=3))
    with pytest.raises(RuntimeError, match="changed size"):
        wire.encode(table)


def test_frame_refuses_what_exceeds_the_cap_read_at_call_time(monkeypatch):
    monkeypatch.setattr(wire, "MAX_FRAME", 10)
    assert wire.frame([1, "1234567"]) == struct.pack(">I", 10) + msgpack.packb([1, "1234567"])
    with pytest.raises(wire.FrameError, match="a frame of 11 bytes exceeds the cap of 10"):
        wire.frame([1, "12345678"])


# ---- bad bodies ------------------------------------------------------------------


@settings(slow_data, max_examples=500)
@given(st.binary(max_size=80))
def test_any_bytes_give_msgpacks_value_or_a_frame_error(body):
    try:
        expected = reference_decode(body)
    except Exception:  # whatever msgpack says, the codec says FrameError
        with pytest.raises(wire.FrameError):
            wire.decode(body)
    else:
        assert same(wire.decode(body), expected)


@settings(slow_data, max_examples=150)
@given(values, st.data())
def test_mutated_and_cut_frames_give_values_or_a_frame_error(value, data):
    body = bytearray(wire.encode([wire.REPLY, 1, True, value]))
    for _ in range(data.draw(st.integers(1, 4))):
        at = data.draw(st.integers(0, len(body) - 1))
        body[at] = data.draw(st.integers(0, 255))
    cut = data.draw(st.integers(0, len(body)))
    for candidate in (bytes(body), bytes(body[:cut]), bytes(body) + b"\x00"):
        try:
            wire.decode(candidate)
        except wire.FrameError:
            pass


@pytest.mark.parametrize("body, reason", [
    (b"", "incomplete"),
    (b"\xc1", "unknown type byte"),
    (b"\x01\x02", "extra data"),
    (b"\xdd\xff\xff\xff\xff", "items announced"),  # four billion items in no bytes: nothing allocated
    (b"\xdf\xff\xff\xff\xff\x01", "pairs announced"),
    (b"\xdb\xff\xff\xff\xff", "incomplete"),
    (b"\xc9\xff\xff\xff\xff\x04", "incomplete"),
    (b"\xd4\x04\x01", "malformed"),  # a tuple of the content 1
    (b"\xc7\x02\x04\x90\x90", "extra data"),
    (b"\xc7\x00\x04", "incomplete"),
    (b"\xd4\x63\x00", "unknown extension type 99"),
    (b"\xd5\xff\x00\x00", "timestamp"),
    (b"\xa2\xff\xfe", "malformed"),  # not UTF-8
    (b"\x81\x90\x01", "malformed"),  # a list as a key
    (b"\x91" * 2000 + b"\x90", "nested deeper"),
    (nested(600, b"\x90", lambda inner: msgpack.packb(msgpack.ExtType(4, b"\x91" + inner))), "nested deeper"),
    (b"\xd4\x01\x90", "malformed"),  # an array extension without its three parts
])
def test_bad_bodies_are_frame_errors(body, reason):
    with pytest.raises(wire.FrameError, match=reason):
        wire.decode(body)


def raising(error):
    def decoder(items):
        raise error
    return decoder


def test_errors_of_decoders_become_frame_errors_but_frame_errors_and_interrupts_stay(monkeypatch):
    body = wire.encode(np.arange(3))
    raised = ValueError("bad")
    monkeypatch.setitem(wire._DECODERS, 1, raising(raised))
    with pytest.raises(wire.FrameError, match="malformed frame: bad") as caught:
        wire.decode(body)
    assert caught.value.__cause__ is None and caught.value.__suppress_context__ and caught.value.__context__ is raised
    for error in (wire.FrameError("mine"), KeyboardInterrupt()):
        monkeypatch.setitem(wire._DECODERS, 1, raising(error))
        with pytest.raises(type(error)) as caught:
            wire.decode(body)
        assert caught.value is error
    with pytest.raises(wire.FrameError, match="malformed"):
        wire.decode("not bytes")


# ---- the frame reader ---------------------------------------------------------


@settings(slow_data, max_examples=50)
@given(st.lists(values, min_size=1, max_size=6), st.lists(st.integers(0, 10 ** 6), max_size=8), st.data())
def test_the_reader_gives_the_messages_of_any_split_by_feed_add_and_next(messages, cuts, data):
    stream = b"".join(wire.frame([wire.PUSH, i, m]) for i, m in enumerate(messages))
    points = sorted({c % (len(stream) + 1) for c in cuts} | {0, len(stream)})
    reader = wire.FrameReader()
    got = []
    for start, end in zip(points, points[1:]):
        if data.draw(st.booleans()):
            got += reader.feed(memoryview(stream)[start:end])
        else:
            reader.add(bytearray(stream[start:end]))
            while True:
                message = reader.next()
                if message is None:
                    break
                got.append(message)
    assert same(got, [reference_decode(reference_encode([wire.PUSH, i, m])) for i, m in enumerate(messages)])
    assert reader.feed(b"") == [] and reader.next() is None


def test_a_bad_frame_drops_the_frames_before_it_and_stays():
    good, bad = wire.frame([wire.PING]), struct.pack(">I", 3) + b"\xc1\x00\x00"
    reader = wire.FrameReader(cap=100)
    with pytest.raises(wire.FrameError, match="malformed"):
        reader.feed(good + bad + good)
    with pytest.raises(wire.FrameError, match="malformed"):
        reader.next()  # the bad frame is still at the head
    assert reader.cap == 100
    reader.cap = 2
    with pytest.raises(wire.FrameError, match=r"frame of 3 bytes refused \(cap 2\)"):
        reader.next()
    assert wire.FrameReader().cap == wire.MAX_FRAME


@pytest.mark.parametrize("message", [{"kind": 1}, [], ["push"], 7, [None, 1]])
def test_a_message_is_a_list_starting_with_its_kind(message):
    with pytest.raises(wire.FrameError, match="must be a list"):
        wire.FrameReader().feed(wire.frame(message))
    assert wire.FrameReader().feed(wire.frame([True])) == [[True]]  # bool is an int, as isinstance says


def test_a_reader_used_from_its_own_decoder_refuses_instead_of_moving_under_the_cut(monkeypatch):
    reader = wire.FrameReader()
    seen = []

    def decoder(items):
        try:
            reader.feed(wire.frame([wire.PING]))
        except RuntimeError as exc:
            seen.append(str(exc))
        return wire._decode_array(items)

    monkeypatch.setitem(wire._DECODERS, 1, decoder)
    messages = reader.feed(wire.frame([wire.PUSH, np.arange(2)]) + wire.frame([wire.PING]))
    assert [m[0] for m in messages] == [wire.PUSH, wire.PING] and seen == ["the frame reader is in use by another call"]


def test_threads_sharing_a_reader_get_errors_or_messages_never_a_crash():
    frame = wire.frame([wire.PUSH, 1, {"a": [np.arange(4), dt.date(2024, 1, 2)]}])
    reader = wire.FrameReader()
    counts = []

    def work():
        got = 0
        for _ in range(300):
            try:
                got += len(reader.feed(frame[:7])) + len(reader.feed(frame[7:]))
            except (RuntimeError, wire.FrameError):
                pass
        counts.append(got)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(counts) == 4
