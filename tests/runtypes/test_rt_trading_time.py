import datetime as dt

import numpy as np
import pytest

from velmoro.realtrade import runtypes
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.datetimefunc import datetime_to_mft, get_specific_year_end, mft_to_datetime

TARGETS = [{"Market": "shfe", "Code": "RB2405"}]


def day_line(first, last):
    """Numeric times of every day from `first` to `last` (dates), 15:00."""
    n = (last - first).days + 1
    return np.array([datetime_to_mft(dt.datetime(first.year, first.month, first.day, 15)) + i for i in range(n)])


class History:
    """Stands in for get_trading_time: answers lines from a table and notes the calls."""

    def __init__(self, *lines):
        self.lines = list(lines)
        self.calls = []

    def __call__(self, *args):
        self.calls.append(args)
        return self.lines.pop(0), "second item"


@pytest.fixture
def history(run, monkeypatch):
    var, env = run
    var.g_VelmoroInputInfo.update(TargetList=TARGETS, KFrequency="day", KFrequencyI=gv.KFreq_Day, KFreNum=1,
                                  BeginDate=20240102)

    def install(*lines):
        h = History(*lines)
        monkeypatch.setattr(runtypes, "get_trading_time", h)
        return h

    return var, env, install


def year_end(year=None):
    return int(get_specific_year_end(year, fmt="%Y%m%d"))


def test_line_is_fetched_once_and_cached_per_frequency(history):
    var, env, install = history
    line = day_line(dt.date(2024, 1, 2), dt.date(2024, 1, 31))
    h = install(line)
    first = env.get_all_trading_time(line[3])
    assert first is line and env.get_all_trading_time(line[-2]) is line
    assert h.calls == [(TARGETS, "day", 20240102, year_end(), 1)]
    assert var.g_VelmoroCache.get_cache("1day_att") is line


@pytest.mark.parametrize("frequency, num, key", [("day", 1, "1day_att"), ("min", 5, "5min_att"), ("week", 2, "2week_att")])
def test_cache_key_names_bar_count_and_frequency(history, frequency, num, key):
    var, env, install = history
    var.g_VelmoroInputInfo.update(KFrequency=frequency, KFreNum=num)
    line = np.array([1.0, 2.0])
    install(line)
    env.get_all_trading_time()
    assert var.g_VelmoroCache.get_cache(key) is line


def test_without_new_time_the_cached_line_never_extends(history):
    var, env, install = history
    line = day_line(dt.date(2020, 1, 2), dt.date(2020, 1, 9))
    var.g_VelmoroCache.set_cache("1day_att", line)
    h = install()
    assert env.get_all_trading_time() is line and env.get_all_trading_time(None) is line
    assert h.calls == []


@pytest.mark.parametrize(
    "code, num, back_days", [("KFreq_Day", 1, 1), ("KFreq_Day", 3, 3), ("KFreq_Week", 2, 30), ("KFreq_Month", 1, 31),
                             ("KFreq_Year", 1, 366)]
)
def test_reaching_the_end_extends_to_the_next_year(history, code, num, back_days):
    var, env, install = history
    var.g_VelmoroInputInfo.update(KFrequencyI=getattr(gv, code), KFreNum=num)
    old = day_line(dt.date(2024, 12, 2), dt.date(2024, 12, 31))
    following = day_line(dt.date(2024, 11, 1), dt.date(2025, 12, 31))
    h = install(old, following)
    line = env.get_all_trading_time(old[-1])  # equal to the last entry: reached
    begin = mft_to_datetime(old[-1] - back_days)
    assert h.calls[1] == (TARGETS, "day", begin.year * 10000 + begin.month * 100 + begin.day, year_end(begin.year + 1), num)
    assert line[0] == old[-1] and line[-1] == following[-1] and line.ndim == 1
    assert np.all(np.diff(line) > 0)
    assert var.g_VelmoroCache.get_cache("{}day_att".format(num)) is line


def test_later_new_time_also_extends_and_keeps_only_entries_from_the_old_end(history):
    var, env, install = history
    t0 = datetime_to_mft(dt.datetime(2024, 6, 3))
    old = t0 + np.array([10.0, 20.0, 30.0])
    install(old, t0 + np.array([5.0, 25.0, 30.0, 12.0, 40.0]))
    assert (env.get_all_trading_time(t0 + 31.5) - t0).tolist() == [30.0, 40.0]


def test_minute_lines_cannot_extend(history):
    var, env, install = history
    var.g_VelmoroInputInfo.update(KFrequency="min", KFrequencyI=gv.KFreq_Min)
    old = np.array([1.0, 2.0])
    install(old)
    with pytest.raises(KeyError):
        env.get_all_trading_time(2.0)
    assert var.g_VelmoroCache.get_cache("1min_att") is old


def test_empty_line_is_returned_as_it_is(history):
    var, env, install = history
    empty = np.zeros(0)
    h = install(empty)
    assert env.get_all_trading_time(1e6) is empty and len(h.calls) == 1


def test_history_errors_pass_unchanged(history, monkeypatch):
    var, env, install = history

    def failing(*args):
        raise LookupError("no calendar")

    monkeypatch.setattr(runtypes, "get_trading_time", failing)
    with pytest.raises(LookupError, match="no calendar"):
        env.get_all_trading_time()
    assert var.g_VelmoroCache.get_cache("1day_att") is None
