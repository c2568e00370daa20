"""get_factor_by_code and get_factor_by_day reach get_factor_by_factor through
the module's globals: a replacement takes effect, and while the global is the
module's own function the partial reading gives exactly what the full
dictionary would, with the same framework calls."""
import numpy as np
import pytest

from velmoro.api.bpfactor import _factors

SSE = {"Market": "sse", "Code": "600000"}
SZSE = {"Market": "szse", "Code": "000001"}
CZCE = {"Market": "czce", "Code": "ap405"}
UNKNOWN = {"Market": "sse", "Code": "999999"}
TARGETS = [SSE, SZSE, CZCE, UNKNOWN]
DATES = [739253.625, 739254.625, 739255.625]


def same(a, b):
    assert type(a) is type(b)
    if isinstance(a, dict):
        assert list(a) == list(b)
        for key in a:
            same(a[key], b[key])
    elif isinstance(a, list):
        assert len(a) == len(b)
        for x, y in zip(a, b):
            same(x, y)
    elif isinstance(a, np.ndarray):
        assert (a.dtype, a.shape) == (b.dtype, b.shape)
        np.testing.assert_array_equal(a, b)
    elif isinstance(a, float) and np.isnan(a):
        assert np.isnan(b)
    else:
        assert a == b


def write_standard(files):
    files.write("a", {"bp_sse_600000": [1, 2, 3], "bp_szse_000001": [4, 5, 6], "bp_czce_ap405": [7, 8, np.nan]}, DATES)
    # lacks the first target; its own, shorter dates
    files.write("b", {"bp_szse_000001": [9, 10], "bp_czce_ap405": [11, 12]}, DATES[:2])
    # the same key twice: the later name wins
    files.write("c", {"bp_sse_600000": [1, 1, 1], "bp_q_sse_600000": [2, 2, 2], "bp_szse_000001": [3, 3, 3]}, DATES)
    files.write("empty", {"bp_sse_600000": []}, [])
    long_names = {"bp_long_name_past_16_b_sse_1": [1], "bp_": [2], "bp_long_name_past_16_a_sse_1": [3]}
    files.write("long", long_names, DATES[:1])


# A mapping only a replaced load_mat can give: names that are not ASCII (one
# of them upper-cases to the same key as an ASCII name), values that are not
# plain arrays.
ODD_MAPPING = {
    "Date": np.array([DATES]),
    "bp_sse_i600": np.array([[1.0, 2.0, 3.0]]),
    "bp_sse_\u0131600": np.array([[4.0, 5.0, 6.0]]),
    "bp_sse_stra\u00dfe": np.array([[7.0, 8.0, 9.0]]),
    "bp_szse_000001": np.ma.masked_array([[1.0, 2.0, 3.0]]),
}
ODD_TARGETS = [{"Market": "sse", "Code": "\u0131600"}, {"Market": "sse", "Code": "STRASSE"}, SZSE, SSE]

# Plain arrays only, names out of order: keys that several names give (by
# case, by extra parts, by a non-ASCII letter) must still hold the greatest
# name's series when the file is read without its name order.
PLAIN_MAPPING = {
    "bp_sse_\u0131600": np.array([[4.0, 5.0]]),
    "bp_x_sse_600000": np.array([[3.0, 3.0]]),
    "bp_SSE_600000": np.array([[1.0, 1.0]]),
    "Date": np.array([DATES[:2]]),
    "bp_sse_600000": np.array([[2.0, 2.0]]),
    "bp_sse_i600": np.array([[6.0, 7.0]]),
    "bp_szse_000001": np.array([[8.0, 9.0]]),
}
# First values of arrays of every layout: transposed, no dimension, strided,
# of objects.
SHAPES_MAPPING = {
    "Date": np.array([DATES[:1]]),
    "bp_sse_600000": np.arange(6.0).reshape(2, 3).T,
    "bp_szse_000001": np.array(5.0),
    "bp_czce_ap405": np.arange(8).reshape(2, 2, 2)[:, :, ::-1],
    "bp_sse_i600": np.array([["x", "y"]], dtype=object),
}
PLAIN_TARGETS = [SSE, {"Market": "sse", "Code": "i600"}, SZSE, UNKNOWN, SSE]
# Element types numpy's C API reads in place, and those it leaves to numpy's
# indexing: the first value and the series must be what numpy gives.
_FIRST_VALUES = [
    np.array([[3.5, 1.0]], dtype=">f8"),
    np.array([[7, 1]], dtype=np.int32),
    np.array([[2**63 - 1, 0]], dtype=np.uint64),
    np.array([[True, False]]),
    np.array([[1.5, 0.0]], dtype=np.float16),
    np.array([[1 + 2j, 0]]),
    np.frombuffer(b"\0" + np.array([2.5, 1.0]).tobytes(), dtype=np.float64, offset=1).reshape(1, 2),
    np.array([[np.nan, 1.0]]),
    np.array([["ab", "c"]]),
    np.array([["2024-01-02", "2024-01-03"]], dtype="datetime64[D]"),
    np.array([[(1, 2.0), (3, 4.0)]], dtype="i4,f8"),
    np.asfortranarray(np.arange(4.0).reshape(2, 2)),
    np.array([[5.0, 6.0]]).view(type("Subclass", (np.ndarray,), {})),
]
DTYPES_MAPPING = dict({"bp_sse_%d" % i: v for i, v in enumerate(_FIRST_VALUES)}, Date=np.array([DATES[:1]]))
DTYPES_TARGETS = [{"Market": "sse", "Code": str(i)} for i in range(len(_FIRST_VALUES))]

LONG_TARGETS = [{"Market": "sse", "Code": "1"}, {"Market": "bp", "Code": ""}]

SCENARIOS = {
    "code": (write_standard, lambda: _factors.get_factor_by_code(["a", "b", "c"], TARGETS, 20240102, 20240104)),
    "code first target missing": (
        write_standard,
        lambda: _factors.get_factor_by_code(["b", "a"], TARGETS[1:] + [SSE], 1, 2),
    ),
    "code no dates": (write_standard, lambda: _factors.get_factor_by_code(["empty", "a"], TARGETS, 1, 2)),
    "day": (write_standard, lambda: _factors.get_factor_by_day(["a", "b", "c"], TARGETS + [SSE], 20240102)),
    "day no dates": (write_standard, lambda: _factors.get_factor_by_day(["a", "empty", "b"], TARGETS, 20240102)),
    "long names": (
        write_standard,
        lambda: _factors.get_factor_by_day(["long", "a"], LONG_TARGETS, 1),
    ),
    "plain names out of order": ("plain", lambda: _factors.get_factor_by_code(["x"], PLAIN_TARGETS, 1, 2)),
    "plain names out of order by day": ("plain", lambda: _factors.get_factor_by_day(["x", "x"], PLAIN_TARGETS, 1)),
    "array layouts by day": ("shapes", lambda: _factors.get_factor_by_day(["x"], PLAIN_TARGETS, 1)),
    "element types by day": ("dtypes", lambda: _factors.get_factor_by_day(["x"], DTYPES_TARGETS, 1)),
    "element types by code": ("dtypes", lambda: _factors.get_factor_by_code(["x"], DTYPES_TARGETS[6:], 1, 2)),
    "odd names": ("odd", lambda: _factors.get_factor_by_code(["x"], ODD_TARGETS, 1, 2)),
    "odd names by day": ("odd", lambda: _factors.get_factor_by_day(["x"], ODD_TARGETS, 1)),
}


MAPPINGS = {"odd": ODD_MAPPING, "plain": PLAIN_MAPPING, "shapes": SHAPES_MAPPING, "dtypes": DTYPES_MAPPING}


def arrange(name, files, channel, monkeypatch):
    setup = SCENARIOS[name][0]
    if setup in MAPPINGS:
        channel.paths["x"] = setup + ".mat"
        mapping = MAPPINGS[setup]
        monkeypatch.setattr(_factors, "load_mat", lambda path: dict(mapping))
    else:
        setup(files)


def run_both(call, monkeypatch, events):
    """The query with the module's own get_factor_by_factor, then through a
    replacement that calls it: (result or exception type, framework calls)."""

    def outcome():
        del events[:]
        try:
            result = call()
        except Exception as exc:  # the failure itself is compared
            result = type(exc)
        return result, list(events)

    own = _factors.get_factor_by_factor
    shortcut = outcome()
    monkeypatch.setattr(_factors, "get_factor_by_factor", lambda *args: own(*args))
    generic = outcome()
    monkeypatch.setattr(_factors, "get_factor_by_factor", own)
    return shortcut, generic


@pytest.mark.parametrize("name", sorted(SCENARIOS))
def test_shortcut_matches_full_dictionary(name, files, channel, spies, monkeypatch):
    arrange(name, files, channel, monkeypatch)
    (result, calls), (expected, expected_calls) = run_both(SCENARIOS[name][1], monkeypatch, spies)
    assert not isinstance(expected, type), expected
    same(result, expected)
    assert calls == expected_calls


@pytest.mark.parametrize(
    "replace, failure",
    [
        # keys that are not str compare as they choose, against the real dictionary
        ("todotmc", lambda target: (target["Market"], target["Code"])),
        # values that cannot be flattened fail as the full dictionary fails
        ("load_mat", lambda path: {"Date": np.array([DATES]), "bp_sse_1": [1.0], "bp_sse_600000": np.ones((1, 3))}),
        # a series without a first value fails by day as the full dictionary's does
        ("load_mat", lambda path: {"Date": np.array([DATES]), "bp_sse_600000": np.ones((3, 0))}),
    ],
)
def test_shortcut_matches_with_unusual_framework_answers(replace, failure, files, channel, spies, monkeypatch):
    write_standard(files)
    monkeypatch.setattr(_factors, replace, failure)
    for call in (
        lambda: _factors.get_factor_by_code(["a", "b"], TARGETS, 1, 2),
        lambda: _factors.get_factor_by_day(["a", "b"], TARGETS, 1),
    ):
        (result, calls), (expected, expected_calls) = run_both(call, monkeypatch, spies)
        same(result, expected)
        assert calls == expected_calls


def test_odd_names_keep_python_text_rules(channel, monkeypatch):
    channel.paths["x"] = "odd.mat"
    monkeypatch.setattr(_factors, "load_mat", lambda path: dict(ODD_MAPPING))
    result = _factors.get_factor_by_factor("x", ODD_TARGETS, 1, 2)
    # names in code-point order ("i" < "s" < "\u0131"); "\u0131" upper-cases to
    # "I" and replaces the ASCII name's series under the same key
    assert list(result) == ["SSE.I600", "SSE.STRASSE", "SZSE.000001", "date"]
    np.testing.assert_array_equal(result["SSE.I600"], [4, 5, 6])
    assert type(result["SZSE.000001"]) is np.ma.MaskedArray
    by_day = _factors.get_factor_by_day(["x"], ODD_TARGETS, 1)
    assert by_day["x"] == [4.0, 7.0, 1.0, None]


@pytest.mark.parametrize(
    "query, expected",
    [
        (
            lambda: _factors.get_factor_by_code(["f", "g"], [SSE, SZSE], 1, 2),
            {"date": ["2024-01-02 15:00"], "f": [0.5, 0.25], "g": [None]},
        ),
        (
            lambda: _factors.get_factor_by_day(["f"], [SZSE, SSE], 1),
            {"code": ["SZSE.000001", "SSE.600000"], "f": [None, 0.5]},
        ),
    ],
)
def test_replaced_by_factor_global_takes_effect(query, expected, channel, monkeypatch):
    def replacement(factor, targets, begin_date, end_date):
        calls.append((factor, begin_date, end_date))
        series = {"SSE.600000": [0.5, 0.25]} if factor == "f" else {}
        return dict(series, date=np.array([DATES[0]]))

    calls = []
    monkeypatch.setattr(_factors, "get_factor_by_factor", replacement)
    result = query()
    if "date" in result:
        result["date"] = [d.strftime("%Y-%m-%d %H:%M") for d in result["date"]]
    assert dict(result) == expected
    assert channel.events == []
    assert [c[0] for c in calls] == list(expected)[1:]


def test_plain_names_out_of_order_by_factor(channel, monkeypatch):
    channel.paths["x"] = "plain.mat"
    monkeypatch.setattr(_factors, "load_mat", lambda path: dict(PLAIN_MAPPING))
    result = _factors.get_factor_by_factor("x", PLAIN_TARGETS, 1, 2)
    # "bp_SSE_..." < "bp_sse_..." < "bp_x_..." and "bp_sse_i600" < "bp_sse_\u0131600"
    assert list(result) == ["SSE.600000", "SSE.I600", "SZSE.000001", "date"]
    np.testing.assert_array_equal(result["SSE.600000"], [3.0, 3.0])
    np.testing.assert_array_equal(result["SSE.I600"], [4.0, 5.0])
    assert _factors.get_factor_by_day(["x"], PLAIN_TARGETS, 1)["x"] == [3.0, 4.0, 8.0, None, 3.0]


def test_series_and_first_values_are_what_numpy_gives(channel, monkeypatch):
    channel.paths["x"] = "dtypes.mat"
    monkeypatch.setattr(_factors, "load_mat", lambda path: dict(DTYPES_MAPPING))
    result = _factors.get_factor_by_factor("x", DTYPES_TARGETS, 1, 2)
    for i, value in enumerate(_FIRST_VALUES):
        series, expected = result["SSE.%d" % i], value.ravel()
        same(series, expected)
        # a view where numpy gives one, a copy where it copies
        assert np.shares_memory(series, value) == np.shares_memory(expected, value)
    by_day = _factors.get_factor_by_day(["x"], DTYPES_TARGETS, 1)["x"]
    for first, value in zip(by_day, _FIRST_VALUES):
        same(first, value.ravel()[0])


def test_mapping_of_its_own_is_read_in_name_order(files, channel, monkeypatch):
    """A DotDict replaced by a mapping with its own item reads: names are
    read in ascending order, then "Date", as the dictionary is filled."""
    reads = []

    class Recording(dict):
        def __getitem__(self, key):
            reads.append(key)
            return dict.__getitem__(self, key)

    write_standard(files)
    monkeypatch.setattr(_factors, "DotDict", Recording)
    for query in (
        lambda: _factors.get_factor_by_factor("a", TARGETS, 1, 2),
        lambda: _factors.get_factor_by_day(["a"], TARGETS, 1),
    ):
        del reads[:]
        query()
        assert reads == ["bp_czce_ap405", "bp_sse_600000", "bp_szse_000001", "Date"]


def test_a_file_read_while_another_is_let_go(channel, monkeypatch):
    """A value whose finalizer reads another factor file, run as a query
    lets its own file go: the inner read and the outer answer are whole."""
    inner = []

    class Finalized(np.ndarray):
        def __del__(self):
            inner.append(_factors.get_factor_by_factor("inner", [SSE, SZSE], 1, 2))

    def load(path):
        if path == "inner.mat":
            return {"Date": np.array([DATES]), "bp_sse_600000": np.array([[7.0, 8.0, 9.0]])}
        return {"Date": np.array([DATES]), "bp_szse_000001": np.array([[4.0, 5.0, 6.0]]),
                "bp_sse_600000": np.array([[1.0, 2.0, 3.0]]).view(Finalized)}

    channel.paths.update(outer="outer.mat", inner="inner.mat")
    monkeypatch.setattr(_factors, "load_mat", load)
    for _ in range(3):
        assert _factors.get_factor_by_day(["outer"], [SSE, SZSE], 1)["outer"] == [1.0, 4.0]
    assert len(inner) >= 3  # numpy's views of the value are finalized too
    for result in inner:
        assert list(result) == ["SSE.600000", "date"]
        np.testing.assert_array_equal(result["SSE.600000"], [7.0, 8.0, 9.0])
