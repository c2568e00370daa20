"""Hypothesis strategies of bad input: values of wrong types and shapes,
objects that fail when used, malformed answers and broken result files."""
import math
import sys
import types

import numpy as np
from hypothesis import strategies as st

from harness.catalogue import plausible
from harness.fakes import Boom, FullAnswer, Hostile, Liar, failing_after, targets_copy
from velmoro.tframe.comm.link import Answer, Status
from velmoro.tframe.utils.utilcls import DotDict

KEYS = ["Market", "Code", "errLevel", "errCode", "errInfo", "stop_run", "factor_data", "TargetIns", "Day",
        "HandleList", "TargetList", "Date", "Time"]


def _arrays():
    return [
        np.zeros(0),
        np.zeros((2, 3)),
        np.array(5.0),
        np.array([["a", "bc"]]),
        np.array([None, 1], dtype=object),
        np.zeros((1, 0, 2)),
        np.arange(6.0).reshape(2, 3).T,  # not contiguous
        np.array([math.nan, math.inf]),
        np.zeros(3, dtype=np.int8),
        np.array([1 + 2j]),
        np.array([True, False]),
        np.full((2, 2), -1, dtype=np.int64),
    ]


class RaisingLen(list):
    def __len__(self):
        raise Boom("len")


class RaisingItem(dict):
    def __getitem__(self, key):
        raise Boom("item")


class WeirdFloat(float):
    def __float__(self):
        raise Boom("float")


class HugeIndex:
    def __index__(self):
        return sys.maxsize

    def __int__(self):
        return sys.maxsize


def _hostile():
    """Fresh objects each draw: they fail in one way or many."""
    makers = [
        Hostile,
        lambda: Liar(sys.maxsize, []),
        lambda: Liar(3, [{"Market": "sse"}]),
        lambda: Liar(0, targets_copy()),
        lambda: failing_after(1, targets_copy()),
        lambda: failing_after(0, []),
        lambda: RaisingLen(targets_copy()),
        lambda: RaisingItem(Market="sse", Code="600000"),
        lambda: WeirdFloat(1.5),
        HugeIndex,
        lambda: DotDict(Market=None, Code=Hostile()),
        lambda: [Hostile(), {"Market": "sse", "Code": "600000"}],
        lambda: object,
        lambda: types.ModuleType("junk"),
        lambda: print,
    ]
    return st.sampled_from(makers).map(lambda make: make())


def scalars():
    return st.one_of(
        st.none(),
        st.booleans(),
        st.integers(min_value=-(2 ** 70), max_value=2 ** 70),
        st.floats(),
        st.text(max_size=6),
        st.binary(max_size=4),
        st.sampled_from([math.nan, np.nan, np.int64(7), np.float64(math.nan), np.bool_(True), np.uint64(2 ** 64 - 1),
                         "", "sse", "600000", "min", 20240102, 0, -1, 2 ** 31, 2 ** 63, -(2 ** 63) - 1]),
        st.sampled_from(_arrays()).map(np.copy),
    )


def targets():
    """Target lists, some well formed, some without "Market" or "Code"."""
    record = st.fixed_dictionaries({}, optional={"Market": scalars(), "Code": scalars()})
    good = st.sampled_from(["sse", "szse", "czce"]).flatmap(
        lambda m: st.fixed_dictionaries({"Market": st.just(m), "Code": st.sampled_from(["600000", "000001", ""])})
    )
    return st.lists(st.one_of(good, record, good.map(DotDict)), max_size=4)


junk = st.recursive(
    st.one_of(scalars(), _hostile(), targets()),
    lambda inner: st.one_of(
        st.lists(inner, max_size=4),
        st.tuples(inner, inner),
        st.dictionaries(st.one_of(st.sampled_from(KEYS), st.text(max_size=3)), inner, max_size=4),
    ),
    max_leaves=8,
)


@st.composite
def argument(draw, name):
    """A value for the parameter `name`: mostly plausible (so that calls get
    past their first argument), else junk or a target list."""
    kind = draw(st.integers(0, 9))
    if kind < 6:
        return plausible(name)
    return draw(targets() if kind == 9 else junk)


def call_shape(params, arg):
    """(args, kwargs) for a callable with these parameters: usually one value
    per parameter, positionally or by keyword; sometimes too few or too many."""

    @st.composite
    def build(draw):
        names = [p.name for p in params]
        n = draw(st.sampled_from([len(names)] * 6 + [max(len(names) - 1, 0), len(names) + 1]))
        values = [draw(arg(names[i] if i < len(names) else "extra")) for i in range(n)]
        by_keyword = draw(st.integers(0, len(values)))
        args = values[: len(values) - by_keyword] if n <= len(names) else values
        kwargs = {} if n > len(names) else dict(zip(names[len(args):n], values[len(args):]))
        return args, kwargs

    return build()


MAT_NAMES = ["Date", "Time", "bp_sse_600000", "bp_szse_000001", "bp_x", "bp_a_b_c", "sse_600000_0", "Close",
             "Fields", "Columns"]


def _mat_values():
    texts = np.empty((1, 2), dtype=object)
    texts[0, 0], texts[0, 1] = "a", np.zeros(2)
    return [
        np.zeros((0, 0)),
        np.zeros((2, 3)),
        np.arange(24.0).reshape(2, 3, 4),
        np.array(["text"]),
        texts,
        np.array([[1 + 1j]]),
        np.array([[True]]),
        np.array([[-5]], dtype=np.int8),
        np.array([[math.nan, 45293.0]]),
        {"field": np.ones(2)},
    ]


def mat_file(files):
    """A readable MAT file whose variables have odd names, shapes and types."""
    variables = st.dictionaries(st.sampled_from(MAT_NAMES), st.sampled_from(_mat_values()), max_size=5)
    return variables.map(lambda v: files.write("odd.mat", v))


def result_file(files):
    """The path of a result file: readable, of odd content, truncated,
    altered, empty, a folder, missing, or a MAT v7.3 header over junk."""
    v73 = b"MATLAB 7.3 MAT-file".ljust(116, b" ") + bytes(8) + b"\x00\x02IM" + bytes(64)
    original = st.sampled_from(files.originals)
    return st.one_of(
        st.just(files.valid),
        mat_file(files),
        original.flatmap(lambda data: st.integers(0, len(data) - 1).map(
            lambda n: files.broken("cut.mat", data[:n]))),
        original.flatmap(lambda data: st.lists(st.tuples(st.integers(0, len(data) - 1), st.integers(0, 255)),
                                               min_size=1, max_size=8).map(
            lambda changes: files.broken("altered.mat", _altered(data, changes)))),
        st.just(b"").map(lambda d: files.broken("empty.mat", d)),
        st.just(v73).map(lambda d: files.broken("v73.mat", d)),
        st.just(files.folder),
        st.just(files.folder + "/missing.mat"),
    )


def _altered(data, changes):
    b = bytearray(data)
    for pos, value in changes:
        b[pos] = value
    return bytes(b)


def answers(files):
    """What the terminal may answer: well formed at any level, with a broken
    result file, with a junk status or payload, or not an answer at all."""
    levels = st.one_of(st.sampled_from([0, 1, 2, 3, 7, math.nan, "1", None, np.int64(1), 1.0]), scalars())
    full = st.builds(FullAnswer, result_file(files), levels, st.one_of(st.text(max_size=5), scalars()))
    status = st.builds(Status, levels, scalars(), st.one_of(st.text(max_size=5), scalars()))

    @st.composite
    def loose(draw):
        payload = draw(st.dictionaries(st.sampled_from(["listPaths", "wstrFilePath", "i64TaskID", "bResult",
                                                        "listIns", "sPositionData", "ClientID", "listOrders"]),
                                       st.one_of(junk, result_file(files)), max_size=4))
        return Answer(result=draw(st.one_of(status, junk)), **payload)

    return st.one_of(full, loose(), junk)
