"""Refresh calculations the replay does not reach: malformed pushes, factor
values, adjusted records and the day-position and bar-end rules."""
import types

import numpy as np
import pytest

import velmoro.realtrade.calc as calc
from velmoro.realtrade.runtypes import RealRunTimeContext, RealTradeEnv, RealTradeVar
from velmoro.tframe.runtypesbase import KData, KDataAdj, gv


@pytest.fixture
def run(monkeypatch):
    vr = RealTradeVar()
    env = RealTradeEnv()
    env.vr = vr
    for module in (calc.push, calc.bars, calc.factors, calc.indicators, calc.timeline):
        monkeypatch.setattr(module, "cnt", types.SimpleNamespace(vr=vr, env=env))
    return vr


@pytest.mark.parametrize(
    "check, data, kept",
    [
        (calc.check_min_fresh_data, np.ones((2, 8)), "min_fresh_data"),
        (calc.check_day_fresh_data, np.ones((1, 8)), "day_fresh_data"),
        (calc.check_min_fresh_data, np.ones((2, 5)), None),
        (calc.check_day_fresh_data, np.ones(8), None),
        (calc.check_factor_data, np.ones((3, 4)), "factor_data"),
        (calc.check_factor_data, np.ones((3, 2)), None),
    ],
)
def test_pushed_data_are_kept_or_break_the_pass(check, data, kept):
    lpc = RealRunTimeContext()
    check(data, lpc)
    check(data, lpc)
    if kept is None:
        assert lpc.loop_status.op_break and "got shape" in lpc.loop_status.detail
    else:
        held = getattr(lpc, kept)
        # factor pushes are kept one array each, bars row by row
        assert len(held) == (2 if kept == "factor_data" else 2 * len(data))


def test_pushed_time_line_takes_the_finest_bars_not_yet_refreshed():
    lpc = RealRunTimeContext()
    lpc.end_fresh_time = 2.0
    lpc.day_fresh_data = np.array([[0, 9.0, 1, 1, 1, 1, 1, 1]])
    calc.combine_pushed_timeline(lpc)
    assert lpc.pushed_latest_timeline.tolist() == [9.0]
    lpc.min_fresh_data = np.array([[0, t, 1, 1, 1, 1, 1, 1] for t in (3.0, 1.0, 2.0, 3.0)])
    calc.combine_pushed_timeline(lpc)
    assert lpc.pushed_latest_timeline.tolist() == [2.0, 3.0]


def test_factor_values_land_on_their_refresh_positions(run):
    run.g_VelmoroDataValueFresh = calc.new_matrix([1.0, 2.0, 3.0], [1, 2, 3], 2)
    run.g_VelmoroFactorDataValueFresh = np.full((2, 2, 3), np.nan)
    calc.update_factor_data_value_fresh(np.array([[0, 1, 2.0, 5.5], [1, 0, 2.5, 6.5], [2, 0, 1.0, 7.0], [0, 0, 9.0, 1]]))
    values = run.g_VelmoroFactorDataValueFresh
    assert values[0, 1, 1] == 5.5 and values[1, 0, 2] == 6.5 and np.isnan(values).sum() == 10
    calc.expand_factor_data_value_fresh(2)
    assert run.g_VelmoroFactorDataValueFresh.shape == (2, 2, 5)


def test_adjusted_records_follow_their_counterparts(run):
    info = run.g_VelmoroInputInfo
    info.KFrequencyI, info.KFreNum, info.TargetListDot = gv.KFreq_Min, 1, ["SSE.600000"]
    raw = KData("min", 1, calc.new_matrix([1.0, 2.0, 3.0], [1, 2, 3], 1), np.arange(3))
    run.g_VelmoroKDataList.append(raw)
    adj = KDataAdj("min", 1, raw.Matrix.copy(), raw.CurrentBar.copy(), {"SSE.600000": np.array([2])})
    run.g_VelmoroKDataList_Adj.append(adj)
    run.g_VelmoroDataValueFresh_Adj = raw.Matrix.copy()
    lpc = RealRunTimeContext()
    lpc.unfilled_begin_calc_pos = np.array([2])
    point, count = calc.fill_pushed_k_data(lpc, gv.KFreq_Min, np.array([[0, 2.0, 1, 2, 0.5, 1.5, 10, 15], [5, 2.0, 1, 1, 1, 1, 1, 1]]))
    assert (point, count, lpc.unfilled_begin_calc_pos[0]) == (2.0, 1, 1)
    calc.update_base_history_k_data_adj(lpc.unfilled_begin_calc_pos, gv.KFreq_Min)
    assert adj.Matrix[calc.quantity_rows(0), 1].tolist() == [1, 2, 0.5, 1.5, 10, 15]
    assert adj.AdjCalcPos["SSE.600000"][0] == 1
    calc.update_k_data_value_fresh_adj(lpc.unfilled_begin_calc_pos, 1)
    assert run.g_VelmoroDataValueFresh_Adj[calc.quantity_rows(0)[3], 1] == 1.5


@pytest.mark.parametrize(
    "day_pos, n, ends",
    [([1, 2, 3, 4, 5, 6, 7], 5, [4, 6]), ([3, 4, 1, 2], 2, [1, 3]), ([1, 2, 3], 1, [0, 1, 2])],
)
def test_bar_ends(day_pos, n, ends):
    assert np.flatnonzero(calc.bar_ends(np.array(day_pos), n)).tolist() == ends


def test_day_positions_continue_a_begun_day():
    from velmoro.tframe.utils.datetimefunc import datetime_to_mft
    import datetime as dt

    t = [datetime_to_mft(dt.datetime(2024, 1, 3, 10, m)) for m in range(4)]
    nxt = datetime_to_mft(dt.datetime(2024, 1, 4, 9, 31))
    assert calc.continue_day_positions(np.array(t[:2]), np.array([7.0, 8.0]), np.r_[t[2:], nxt]).tolist() == [9, 10, 1]
