"""Time-line expansion: splitting new times into per-day steps and applying a step."""
import numpy as np
import pytest

from velmoro.tframe.language import text
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.utilcls import DotDict

EXPAND_STEPS = (
    "_expand_k_data_value_fresh_wrapper",
    "_expand_history_k_data_wrapper",
    "_expand_k_data_value_fresh_adj_wrapper",
    "_expand_history_k_data_adj_wrapper",
    "_expand_factor_data_value_fresh_wrapper",
    "_expand_user_calc_indices_wrapper",
)


def times(freq, values):
    values = np.asarray(values, dtype=float)
    return DotDict(more_time=values, more_day_pos=values * 10, KFrequency=freq)


def split(loop, records, codes, gt_1day=True):
    loop.vr.g_VelmoroNFreqRealFreshOption["matrix_has_gt_1day"] = gt_1day
    steps = loop.b._extract_expand_time_line_loop(records, np.array(codes))
    return [[(r.KFrequency, r.more_time.tolist(), r.more_day_pos.tolist()) for r in step] for step in steps]


def summary(freq, values):
    return (freq, [float(v) for v in values], [float(v) * 10 for v in values])


@pytest.mark.parametrize("gt_1day, days", [(False, [5.0, 9.0]), (True, [5.0]), (True, [])])
def test_one_step_with_everything(loop, gt_1day, days):
    records = [times("min", [1, 2, 3]), times("day", days)]
    loop.vr.g_VelmoroNFreqRealFreshOption["matrix_has_gt_1day"] = gt_1day
    result = loop.b._extract_expand_time_line_loop(records, np.array([gv.KFreq_Min, gv.KFreq_Day]))
    assert len(result) == 1 and result[0] is records


MIN, DAY, TICK, WEEK = gv.KFreq_Min, gv.KFreq_Day, gv.KFreq_Tick, gv.KFreq_Week


@pytest.mark.parametrize(
    "records, codes, expected",
    [
        # two days: each step holds its day bar and the intraday bars up to the first at or after it
        (
            [times("min", [1, 2, 3, 4, 5, 6]), times("day", [3, 6])],
            [MIN, DAY],
            [[summary("min", [1, 2, 3]), summary("day", [3])], [summary("min", [4, 5, 6]), summary("day", [6])]],
        ),
        # no day code among the frequencies: one step with everything
        (
            [times("min", [1, 2]), times("week", [4, 8])],
            [MIN, WEEK],
            [[summary("min", [1, 2]), summary("week", [4, 8])]],
        ),
        # the last day bar has no intraday bar at or after it: that day takes the rest
        (
            [times("min", [1, 2, 3, 4]), times("day", [2, 9])],
            [MIN, DAY],
            [[summary("min", [1, 2]), summary("day", [2])], [summary("min", [3, 4]), summary("day", [9])]],
        ),
        # a longer frequency without a bar at or after a day bar gives empty arrays
        (
            [times("min", [1, 2, 3, 4]), times("day", [2, 4]), times("week", [2.5])],
            [MIN, DAY, WEEK],
            [
                [summary("min", [1, 2]), summary("day", [2]), summary("week", [2.5])],
                [summary("min", [3, 4]), summary("day", [4]), summary("week", [])],
            ],
        ),
        # each intraday frequency walks its own bars
        (
            [times("tick", [1, 1.5, 2, 2.5, 3, 3.5, 4]), times("min", [2, 4]), times("day", [2, 4])],
            [TICK, MIN, DAY],
            [
                [summary("tick", [1, 1.5, 2]), summary("min", [2]), summary("day", [2])],
                [summary("tick", [2.5, 3, 3.5, 4]), summary("min", [4]), summary("day", [4])],
            ],
        ),
    ],
)
def test_split_by_day(loop, records, codes, expected):
    assert split(loop, records, codes) == expected


def apply_step(loop, kfrenum, new_times, pushed=(), fresh_end=None):
    loop.minute_run([1.0, 2.0])
    loop.vr.g_VelmoroInputInfo.KFreNum = kfrenum
    for name in EXPAND_STEPS:
        loop.patch(name)
    loop.patch("get_real_trade_date", result=20240104)
    loop.patch("mft_to_str_format", effect=lambda t: "T{}".format(np.asarray(t).tolist()))
    loop.env_contracts = []

    def collect(targets, begin_date=None, end_date=None):
        loop.env_contracts.append((targets, begin_date, end_date))
        return ["real targets"], {"KEY": 0}

    loop._mp.setattr(type(loop.env), "collect_contracts", lambda self, *a, **k: collect(*a, **k))
    if fresh_end is not None:
        loop.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine, -1] = fresh_end
    lpc = loop.context(pushed_latest_timeline=np.asarray(pushed, dtype=float))
    step = [times("min", new_times), times("day", [99.0])]
    loop.b.expand_time_line_by_one(lpc, step, np.array([MIN, DAY]))
    return lpc, step


@pytest.mark.parametrize(
    "kfrenum, n, positions",
    [(1, 5, [1, 2, 3, 4, 5]), (5, 12, [5, 10, 12]), (5, 3, [3]), (5, 10, [5, 10])],
)
def test_refresh_positions_of_a_step(loop, kfrenum, n, positions):
    new = np.arange(1.0, n + 1) + 10
    lpc, step = apply_step(loop, kfrenum, new)
    assert np.flatnonzero(lpc.idx_fresh_array).tolist() == [p - 1 for p in positions]
    calls = {c[0]: c[1] for c in loop.rec.calls}
    assert calls["_expand_factor_data_value_fresh_wrapper"][1] == len(positions)
    assert calls["_expand_k_data_value_fresh_wrapper"][0].tolist() == [p + 10.0 for p in positions]
    assert calls["get_real_trade_date"] == (11.0 if kfrenum == 1 else positions[0] + 10.0,)
    assert loop.env_contracts == [(loop.vr.g_VelmoroInputInfo.TargetList, 20240104, 20240104)]
    assert loop.vr.g_VelmoroInputInfo.RealTargetList == ["real targets"]
    assert loop.vr.g_VelmoroInputInfo.MainContractsTargets == {"KEY": 0}
    assert loop.rec.names(*EXPAND_STEPS) == list(EXPAND_STEPS)
    assert calls["_expand_history_k_data_wrapper"][2] is step
    assert lpc.loop_status.op_ok
    (line, level), = [s for s in loop.rec.syslog() if s[0].startswith(text.LOG_MORE_TIMELINE.split("{")[0])]
    assert level == "info" and str(new.tolist()) in line


def test_time_lines_are_not_written_out_for_a_log_that_drops_them(loop):
    kept = []
    loop.patch("write_syslog", effect=lambda message, level="debug": kept.append(message))
    loop.b.write_syslog.writes = lambda level: level != "info"
    lpc, _ = apply_step(loop, 1, [11.0, 12.0])
    assert lpc.loop_status.op_ok and not [m for m in kept if text.LOG_MORE_TIMELINE.split("{")[0] in str(m)]
    loop.b.write_syslog.writes = lambda level: True
    apply_step(loop, 1, [13.0])
    assert [m for m in kept if text.LOG_MORE_TIMELINE.split("{")[0] in str(m)]


@pytest.mark.parametrize("kfrenum", [1, 5])
def test_step_without_times_of_the_run_frequency(loop, kfrenum):
    lpc, _ = apply_step(loop, kfrenum, [], pushed=[3.0])
    assert loop.env_contracts == [] and "get_real_trade_date" not in loop.rec.names()
    assert loop.rec.names(*EXPAND_STEPS) == list(EXPAND_STEPS)
    assert lpc.loop_status.op_break  # the pushed time is still beyond the line


def test_fatal_time_line_breaks_with_the_strategy_and_times(loop):
    lpc, _ = apply_step(loop, 1, [2.5], pushed=[2.5, 3.0])
    assert lpc.loop_status.op_break
    assert lpc.loop_status.detail == text.LOG_FATAL_TIMELINE.format(Strategy="demo", Time="T2.0", KTime="T[2.5, 3.0]")


@pytest.mark.parametrize("answer", [(1,), (1, 2, 3), iter([1, 2, 3]), ()])
def test_main_contract_answer_must_unpack_into_two(loop, answer):
    loop.minute_run([1.0])
    loop._mp.setattr(type(loop.env), "collect_contracts", lambda self, *a, **k: answer)
    with pytest.raises(ValueError) as ours:
        loop.b._update_target_main_contract(20240104)
    with pytest.raises(ValueError) as python:
        a, b = (1,) * len(answer) if isinstance(answer, tuple) else [1, 2, 3]
    assert str(ours.value) == str(python.value)
