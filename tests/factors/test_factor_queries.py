"""The four factor queries against result files written here, with a recording
command channel in place of the terminal."""
import datetime as dt
import inspect

import numpy as np
import pytest

from velmoro.api.bpfactor import _factors
from velmoro.tframe.language.chinese import text

SSE = {"Market": "sse", "Code": "600000"}
SZSE = {"Market": "szse", "Code": "000001"}
CZCE = {"Market": "czce", "Code": "AP405"}
UNKNOWN = {"Market": "sse", "Code": "999999"}
DATES = [739253.625, 739254.625, 739255.625]


def log_line(item, first, last):
    return text.LOG_PREPARE_FACTORDATA.format(
        ITEMNAME=item, MARKET=first["Market"], CODE=first["Code"], MARKET2=last["Market"], CODE2=last["Code"]
    )


def commands(factor, targets, begin, end, before):
    """The channel's commands for one get_factor_by_factor call, in order."""
    args = (factor, targets, begin, end, before)
    return [("PutLog", 42, log_line(factor, targets[0], targets[-1])), ("AskFactor",) + args, ("GetFactor",) + args]


@pytest.mark.parametrize(
    "entries, expected",
    [
        # target keys in ascending order of the entry names, "date" last
        (
            {"bp_szse_000001": [1, 2, 3], "bp_sse_600000": [4, 5, 6]},
            {"SSE.600000": [4, 5, 6], "SZSE.000001": [1, 2, 3]},
        ),
        # only the last two parts name the target; letters turn upper case
        (
            {"bp_x_y_czce_ap405": [1, 2, 3], "bp_sse_600000": [4, 5, 6]},
            {"SSE.600000": [4, 5, 6], "CZCE.AP405": [1, 2, 3]},
        ),
        # other entries are ignored
        ({"Market": [1], "xbp_sse_1": [1], "bp_sse_600000": [4, 5, 6]}, {"SSE.600000": [4, 5, 6]}),
        # a later name with the same key keeps the first one's place, with its own series
        (
            {"bp_z_sse_600000": [9, 9, 9], "bp_sse_600000": [1, 1, 1], "bp_sse_600001": [2]},
            {"SSE.600000": [9, 9, 9], "SSE.600001": [2]},
        ),
        # short names; long names that differ only late
        (
            {"bp_x": [2], "bp_long_name_past_16_b_sse_1": [3], "bp_": [1], "bp_long_name_past_16_a_sse_1": [4]},
            {"BP.": [1], "SSE.1": [3], "BP.X": [2]},
        ),
        ({}, {}),
    ],
)
def test_by_factor_keys_follow_entry_names(files, entries, expected):
    files.write("momentum_5d", entries, DATES)
    result = _factors.get_factor_by_factor("momentum_5d", [SSE], 20240102, 20240104)
    assert list(result) == list(expected) + ["date"]
    for key, values in expected.items():
        assert result[key].ndim == 1
        np.testing.assert_array_equal(result[key], values)
    np.testing.assert_array_equal(result["date"], DATES)


def test_by_factor_flattens_row_major_and_asks_first(files, channel):
    files.write("turnover", {"bp_sse_600000": np.arange(6).reshape(2, 3)}, DATES)
    result = _factors.get_factor_by_factor("turnover", [SSE, UNKNOWN], 20240102, 20240104, 2)
    np.testing.assert_array_equal(result["SSE.600000"], [0, 1, 2, 3, 4, 5])
    assert "SSE.999999" not in result
    assert channel.events == commands("turnover", [SSE, UNKNOWN], 20240102, 20240104, 2)


def test_by_factor_without_date_entry_fails(tmp_path, channel):
    import scipy.io

    path = str(tmp_path / "f.mat")
    scipy.io.savemat(path, {"bp_sse_600000": np.ones((1, 3))})
    channel.paths["f"] = path
    with pytest.raises(KeyError):
        _factors.get_factor_by_factor("f", [SSE], 1, 2)


def test_single_target_is_first_and_last_in_log(channel):
    assert _factors.ask_factor_by_targets("turnover", [SZSE], 20240102, 20240104) is None
    assert channel.events == [
        ("PutLog", 42, log_line("turnover", SZSE, SZSE)),
        ("AskFactor", "turnover", [SZSE], 20240102, 20240104, 0),
    ]


@pytest.mark.parametrize(
    "call",
    [
        lambda: _factors.ask_factor_by_targets("f", [], 1, 2),
        lambda: _factors.get_factor_by_factor("f", [], 1, 2),
        lambda: _factors.get_factor_by_code(["f"], [], 1, 2),
        lambda: _factors.get_factor_by_day(["f"], [], 1),
    ],
)
def test_empty_targets_fail_before_anything_is_sent(channel, call):
    with pytest.raises(IndexError):
        call()
    assert channel.events == []


def test_channel_errors_pass_unchanged(channel, monkeypatch):
    class Refused(Exception):
        pass

    def refuse(*args):
        raise Refused(args)

    monkeypatch.setattr(channel, "vmSendCmdGetFactor", refuse)
    with pytest.raises(Refused):
        _factors.get_factor_by_code(["f"], [SSE], 1, 2)
    assert [e[0] for e in channel.events] == ["PutLog", "AskFactor"]


def test_globals_are_read_at_call_time(files, channel, monkeypatch):
    files.write("f", {"bp_sse_600000": [1, 2, 3]}, DATES)
    monkeypatch.setattr(_factors, "text", type("T", (), {"LOG_PREPARE_FACTORDATA": "{CODE2}/{ITEMNAME}"}))
    _factors.cnt.vr.g_VelmoroModeTaskId = 7
    _factors.get_factor_by_factor("f", [SZSE, SSE], 1, 2)
    assert channel.events[0] == ("PutLog", 7, "600000/f")

    asked = []
    monkeypatch.setattr(_factors, "ask_factor_by_targets", lambda *args: asked.append(args))
    _factors.get_factor_by_factor("f", [SSE], 1, 2)
    assert asked == [("f", [SSE], 1, 2, 0)]


def test_signatures_and_keywords(files):
    files.write("f", {"bp_sse_600000": [1, 2, 3]}, DATES)
    params = {
        "ask_factor_by_targets": "(item_name, targets, date_begin, date_end, date_before=0)",
        "get_factor_by_factor": "(factor, targets, begin_date, end_date, day_before=0)",
        "get_factor_by_code": "(factor_list, targets, begin_date, end_date)",
        "get_factor_by_day": "(factor_list, targets, date)",
    }
    assert {name: str(inspect.signature(getattr(_factors, name))) for name in params} == params
    by_keyword = _factors.get_factor_by_day(date=2, targets=[SSE], factor_list=["f"])
    assert by_keyword == {"code": ["SSE.600000"], "f": [1.0]}
    with pytest.raises(TypeError):
        _factors.get_factor_by_day(["f"], [SSE])


def test_by_code_reads_the_first_target(files, channel):
    files.write("a", {"bp_sse_600000": [1, 2, 3], "bp_szse_000001": [4, 5, 6]}, DATES)
    # the second factor lacks the first target and has its own dates
    files.write("b", {"bp_szse_000001": [7, 8]}, DATES[:2])
    result = _factors.get_factor_by_code(["a", "b"], [SSE, SZSE], 20240102, 20240104)
    assert type(result) is _factors.OrderedDict
    assert list(result) == ["date", "a", "b"]
    assert result["date"] == [dt.datetime(2024, 1, 2, 15), dt.datetime(2024, 1, 3, 15), dt.datetime(2024, 1, 4, 15)]
    np.testing.assert_array_equal(result["a"], [1, 2, 3])
    assert result["b"] == [None, None]
    expected = commands("a", [SSE, SZSE], 20240102, 20240104, 0)
    expected += commands("b", [SSE, SZSE], 20240102, 20240104, 0)
    assert channel.events == expected


@pytest.mark.parametrize(
    "dates_a, dates_b, outcome, fetched",
    [
        # no dates for the first factor: None at once, the second is not fetched
        ([], DATES, None, ["a"]),
        # only the first factor supplies the dates
        (DATES, [], ["date", "a", "b"], ["a", "b"]),
    ],
)
def test_by_code_dates_come_from_the_first_factor(files, channel, dates_a, dates_b, outcome, fetched):
    files.write("a", {"bp_sse_600000": dates_a}, dates_a)
    files.write("b", {"bp_szse_000001": dates_b}, dates_b)
    result = _factors.get_factor_by_code(["a", "b"], [SSE], 1, 2)
    assert (None if result is None else list(result)) == outcome
    if result is not None:
        assert result["b"] == []
    assert [e[1] for e in channel.events if e[0] == "GetFactor"] == fetched


def test_by_code_factor_named_date_replaces_the_dates(files):
    files.write("date", {"bp_sse_600000": [1, 2, 3]}, DATES)
    result = _factors.get_factor_by_code(["date"], [SSE], 1, 2)
    assert list(result) == ["date"]
    np.testing.assert_array_equal(result["date"], [1, 2, 3])


def test_by_day_collects_first_values(files, channel):
    files.write("a", {"bp_sse_600000": [1.5], "bp_czce_ap405": [2.5]}, DATES[:1])
    files.write("b", {"bp_czce_ap405": [3.5], "bp_szse_000001": [4.5]}, DATES[:1])
    result = _factors.get_factor_by_day(["a", "b"], [SSE, SZSE, CZCE], 20240102)
    assert type(result) is _factors.OrderedDict
    assert result == {"code": ["SSE.600000", "SZSE.000001", "CZCE.AP405"], "a": [1.5, None, 2.5], "b": [None, 4.5, 3.5]}
    assert list(result) == ["code", "a", "b"]
    assert [e[1:] for e in channel.events if e[0] == "GetFactor"] == [
        ("a", [SSE, SZSE, CZCE], 20240102, 20240102, 0),
        ("b", [SSE, SZSE, CZCE], 20240102, 20240102, 0),
    ]


@pytest.mark.parametrize("empty", ["a", "b"])
def test_by_day_is_none_when_any_factor_has_no_dates(files, empty):
    for factor in "ab":
        dates = [] if factor == empty else DATES[:1]
        files.write(factor, {"bp_sse_600000": dates}, dates)
    assert _factors.get_factor_by_day(["a", "b"], [SSE], 20240102) is None


def test_empty_factor_lists(files, channel):
    assert _factors.get_factor_by_code([], [SSE], 1, 2) == {}
    assert _factors.get_factor_by_day([], [SSE, SZSE], 1) == {"code": ["SSE.600000", "SZSE.000001"]}
    assert channel.events == []
