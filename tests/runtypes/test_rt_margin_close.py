import datetime as dt

import pytest

from velmoro.realtrade import runtypes
from velmoro.tframe.language.chinese import text
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.exceptions import InvalidParamError

D = dt.datetime


@pytest.fixture
def margins(run):
    var, env = run
    var.g_VelmoroInputInfo.TargetListDot = ["SHFE.RB2405", "DCE.M2409"]
    var.g_VelmoroTargetsInfo = {
        "SHFE.RB2405": {"ShortMargin": 0.10, "LongMargin": 0.12},
        "DCE.M2409": {"LongMargin": 0.08},
    }
    var.g_VelmoroSettingInfo.MarginRate = 2.0
    return env


@pytest.mark.parametrize("args, expected", [((0,), 0.20), ((0, 0), 0.20), ((0, 1), 0.24), ((0, 2), 0.24),
                                            ((0, -1), 0.24), ((1, 5), 0.16)])
def test_margin_side_zero_is_short_others_long(margins, args, expected):
    assert margins.get_margin_rate(*args) == pytest.approx(expected)


@pytest.mark.parametrize("args, error", [((2,), IndexError), ((1, 0), TypeError)])
def test_margin_failures_pass_through(margins, args, error):
    with pytest.raises(error):
        margins.get_margin_rate(*args)


def test_unknown_target_code_is_a_key_error(margins):
    margins.vr.g_VelmoroInputInfo.TargetListDot.append("CZCE.X")
    with pytest.raises(KeyError):
        margins.get_margin_rate(2)


TWO_DAYS = [(D(2024, 1, 4, 9, 31), 1), (D(2024, 1, 4, 9, 32), 2), (D(2024, 1, 4, 14, 59), 3),
            (D(2024, 1, 5, 9, 31), 1), (D(2024, 1, 5, 9, 32), 2)]
ONE_DAY = TWO_DAYS[:3]
# the matrix starts inside a day: its span begins at column 0 only when no second day starts
TAIL_THEN_DAY = [(D(2024, 1, 4, 14, 0), 3), (D(2024, 1, 4, 14, 1), 4), (D(2024, 1, 5, 9, 31), 1),
                 (D(2024, 1, 5, 9, 32), 2)]
TAIL_THEN_TWO_DAYS = [(D(2024, 1, 4, 9, 0), 3), (D(2024, 1, 5, 10, 0), 0), (D(2024, 1, 5, 10, 1), 2),
                      (D(2024, 1, 8, 9, 0), 1)]


@pytest.mark.parametrize(
    "columns, close, accepted",
    [
        (TWO_DAYS, D(2024, 3, 1, 9, 31, 0), False),  # equal to the first bar: every bar is not earlier
        (TWO_DAYS, D(2024, 3, 1, 9, 31, 1), True),  # one second later
        (TWO_DAYS, D(2024, 3, 1, 9, 0), False),
        (TWO_DAYS, D(2024, 3, 1, 23, 59, 59), True),  # later than every bar
        (ONE_DAY, D(2000, 1, 1, 9, 31, 0, 999999), False),  # microseconds are not used
        (ONE_DAY, D(2000, 1, 1, 14, 0), True),
        (TAIL_THEN_DAY, D(2024, 1, 1, 14, 0), False),  # whole row: first bar is 14:00 on the 4th
        (TAIL_THEN_DAY, D(2024, 1, 1, 14, 0, 30), True),
        (TAIL_THEN_TWO_DAYS, D(2024, 1, 1, 9, 30), False),  # span starts at the 5th, 10:00
        (TAIL_THEN_TWO_DAYS, D(2024, 1, 1, 10, 0, 1), True),
    ],
)
@pytest.mark.parametrize("order", ["C", "F"])
def test_daily_close_needs_a_bar_of_the_first_day_before_it(minute_run, columns, close, accepted, order):
    var, env = minute_run(columns, order)
    before = var.g_VelmoroSettingInfo.DailyCloseTime
    if accepted:
        assert env.set_daily_close(close) is None
        assert var.g_VelmoroSettingInfo.DailyCloseTime is close
    else:
        with pytest.raises(InvalidParamError) as info:
            env.set_daily_close(close)
        assert str(info.value) == text.ERROR_SET_NONTRADING_PERIOD
        assert var.g_VelmoroSettingInfo.DailyCloseTime is before


def test_a_time_object_is_accepted_and_feeds_the_dispatch(minute_run):
    var, env = minute_run(TWO_DAYS)
    env.set_daily_close(dt.time(14, 30))
    assert env.exist_daily_close_time_setting()
    assert var.g_VelmoroDailyCloseTime == pytest.approx((14 * 60 + 30) / 1440)


@pytest.mark.parametrize("frequency", ["day", "week", "year"])
def test_daily_close_above_minute_bars_only_warns(minute_run, monkeypatch, frequency):
    var, env = minute_run(TWO_DAYS)
    var.g_VelmoroInputInfo.update(KFrequency=frequency, KFrequencyI=gv.frequency_to_int(frequency))
    warned = []
    monkeypatch.setattr(runtypes, "user_warning", warned.append)
    assert env.set_daily_close(D(2024, 1, 1, 14, 0)) is None
    assert warned == [text.WARN_FREQUENCY_GREAT_DAY.format(FREQUANCY=frequency)]
    assert var.g_VelmoroSettingInfo.DailyCloseTime is None


def test_tick_runs_are_checked_like_minute_runs(minute_run):
    var, env = minute_run(ONE_DAY)
    var.g_VelmoroInputInfo.update(KFrequency="tick", KFrequencyI=gv.KFreq_Tick)
    with pytest.raises(InvalidParamError):
        env.set_daily_close(D(2024, 1, 1, 9, 0))


def test_daily_close_without_bars_fails_loudly(minute_run):
    var, env = minute_run([])
    with pytest.raises(IndexError):
        env.set_daily_close(D(2024, 1, 1, 14, 0))
    var.g_VelmoroKDataList.clear()
    with pytest.raises(IndexError):
        env.set_daily_close(D(2024, 1, 1, 14, 0))
