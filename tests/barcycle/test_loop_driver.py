"""The loop driver: start-up, the course of a pass, new refresh positions,
the end of the pushed data and the order of the refresh steps."""
import types

import numpy as np
import pytest

from velmoro.tframe.language import text
from velmoro.tframe.runtypesbase import KData, KDataAdj, gv

E = np.zeros(0)
PASS_STEPS = ("expand_by_time_line_wrapper", "update_by_time_line_wrapper", "call_on_data_wrapper")
CHECKS = ("check_factor_data", "check_min_fresh_data", "check_day_fresh_data")
STOP = {"stop_run": True}


def push(factor=E, minute=E, day=E):
    return {"stop_run": False, "factor_data": factor, "min_fresh_data": minute, "day_fresh_data": day}


def run_loop(loop, pushes, pushed_timeline=E, check_effects=None):
    """Run the loop over `pushes` with every calculation and pass step faked."""
    loop.minute_run([1.0, 2.0, 3.0])
    feed = iter(pushes)
    loop.patch("receive_data", effect=lambda: next(feed))
    for name in CHECKS:
        loop.patch(name, effect=(check_effects or {}).get(name))

    def combine(lpc):
        lpc.pushed_latest_timeline = pushed_timeline

    loop.patch("combine_pushed_timeline", effect=combine)
    for name in PASS_STEPS:
        loop.patch(name)
    loop.b.real_trade_k_fresh_loop()
    return loop.rec


@pytest.mark.parametrize(
    "pushes, expected",
    [
        ([STOP, push()], ["receive_data"]),
        ([{"factor_data": E}], ["receive_data"]),  # no stop flag: stop
        ([None, None, STOP], ["receive_data"] * 3),
        ([push(), STOP], ["receive_data", *CHECKS, "combine_pushed_timeline", "receive_data"]),
    ],
)
def test_passes_without_pushed_times_do_no_step(loop, pushes, expected):
    rec = run_loop(loop, pushes)
    assert rec.names("receive_data", *CHECKS, "combine_pushed_timeline", *PASS_STEPS) == expected
    assert not [line for line in rec.syslog() if line[1] == "info"]


def test_pass_with_new_times_runs_every_step_and_logs_it(loop):
    bars = np.ones((1, 8))
    rec = run_loop(loop, [push(factor=np.ones((1, 4)), minute=bars, day=bars), STOP], pushed_timeline=np.array([4.0]))
    assert rec.names(*CHECKS, "combine_pushed_timeline", *PASS_STEPS) == [
        *CHECKS,
        "combine_pushed_timeline",
        *PASS_STEPS,
    ]
    info = [m for m, level in rec.syslog() if level == "info"]
    assert info == [
        "Received factor_data[[1.0, 1.0, 1.0, 1.0]]",
        "Received min_fresh_data{!r}".format(bars.tolist()),
        "Received day_fresh_data{!r}".format(bars.tolist()),
        "combine_pushed_timeline[4.0]",
        *PASS_STEPS,
    ]
    assert rec.of("write_log") == []


class Tolist(np.ndarray):
    """An array that counts the text made of it."""

    made = 0

    def tolist(self):
        Tolist.made += 1
        return super().tolist()


@pytest.mark.parametrize("writes", [True, False])
def test_a_log_that_drops_the_pushed_arrays_is_not_handed_their_text(loop, writes):
    asked = []
    loop.b.write_syslog.writes = lambda level: asked.append(level) or writes
    bars = np.ones((2, 8)).view(Tolist)
    Tolist.made = 0
    rec = run_loop(loop, [push(factor=bars, minute=bars, day=bars), STOP], pushed_timeline=np.array([4.0]).view(Tolist))
    arrays = [m for m, level in rec.syslog() if level == "info" and m not in PASS_STEPS]
    assert (len(arrays), Tolist.made, asked) == ((4, 4) if writes else (0, 0)) + (["info"] * 4,)
    assert [m for m, level in rec.syslog() if m in PASS_STEPS] == list(PASS_STEPS)


@pytest.mark.parametrize("level, writes", [("INFO", False), ("DEBUG", True)])
def test_the_system_log_says_whether_it_writes(level, writes):
    import logging

    from velmoro.tframe.utils import logger

    old = logger.system_log.level
    logger.system_log.setLevel(level)
    try:
        assert logger.write_syslog.writes("info") is writes and logger.write_syslog.writes("warn") is True
    finally:
        logger.system_log.setLevel(old)


def test_break_skips_the_pass_warns_and_the_next_pass_starts_ok(loop):
    seen = []

    def breaks(data, lpc):
        lpc.loop_status.op_break = "bad minute data"

    def record_status(data, lpc):
        seen.append(lpc.loop_status.op_ok)

    rec = run_loop(
        loop,
        [push(), push(), STOP],
        pushed_timeline=np.array([4.0]),
        check_effects={"check_min_fresh_data": breaks, "check_factor_data": record_status},
    )
    assert rec.names(*CHECKS, *PASS_STEPS).count("check_day_fresh_data") == 0
    assert not set(PASS_STEPS) & set(rec.names())
    assert [c[1:] for c in rec.of("write_log")] == [(("bad minute data",), {"level": "warn", "use_args_for_console": True})] * 2
    assert seen == [True, True]


def test_start_up_resumes_from_the_saved_position(loop):
    times = np.arange(60.0)
    kdata = loop.minute_run(times, current_bar=np.r_[-1, -1, np.arange(58)])
    day = KData("day", 1, kdata.Matrix[:, :3].copy(), np.r_[-3, np.zeros(59, dtype=int)])
    loop.vr.g_VelmoroKDataList.append(day)
    loop.vr.g_VelmoroRealTradeSaveFreshPosition = 0
    loop.vr.g_VelmoroModeTaskId = 77
    loop.vr.g_VelmoroInputInfo.FactorList = ["f1", "f2"]
    loop.vr.g_VelmoroInputInfo.RefreshKDataIdx = 1
    contexts = []
    loop.patch("receive_data", result=STOP)
    loop.patch("_reset_base_adj_matrix_calc_pos", effect=lambda pos: contexts.append(pos.copy()))
    loop.vr.g_VelmoroLastHeartBeat.beat()
    loop.b.real_trade_k_fresh_loop()

    assert loop.vr.g_VelmoroLastHeartBeat.beats == 0
    assert loop.vr.g_VelmoroSimCurBarFresh == 0
    assert contexts[0].tolist() == [0, 0]
    (task, line), _ = loop.rec.of("vmSendCmdPutLog")[0][1:]
    assert task == 77 and line.startswith(text.LOG_BEFORE_REALFRESH_REAL.split("{")[0])
    assert [m for m, _ in loop.rec.syslog()] == [
        text.LOG_BEFORE_LOOP_K_TIMELINE.format(0, times[-50:].tolist()),
        text.LOG_BEFORE_LOOP_K_TIMELINE.format(1, times[:3].tolist()),
        text.LOG_BEFORE_LOOP_DVF_TIMELINE.format(times[-50:].tolist()),
        text.LOG_REAL_TRADE_FRESH_POSITION.format(0),
    ]


def test_start_up_context_fields(loop):
    loop.minute_run([1.0, 2.0, 3.0], current_bar=[0, 1, 2])
    loop.vr.g_VelmoroRealTradeSaveFreshPosition = 2
    loop.vr.g_VelmoroInputInfo.FactorList = ["f1"]
    captured = []
    loop.patch("receive_data", result=STOP)
    orig = loop.b.RealRunTimeContext
    loop._mp.setattr(loop.b, "RealRunTimeContext", lambda: captured.append(orig()) or captured[-1])
    loop.b.real_trade_k_fresh_loop()
    lpc = captured[0]
    assert (lpc.end_fresh_bar, lpc.target_list_len, lpc.factor_list_len) == (2, 1, 1)
    assert lpc.unfilled_begin_calc_pos.tolist() == [2]


def test_adjusted_calculation_positions_reset(loop):
    loop.minute_run([1.0, 2.0])
    loop.vr.g_VelmoroKDataList.append(KData("min", 5))
    key0, key1 = "SSE.600000", "SSE.600001"
    loop.vr.g_VelmoroInputInfo.TargetList = [{"Market": "sse", "Code": "600000"}, {"Market": "sse", "Code": "600001"}]
    one = KDataAdj("min", 1, adj_calc_pos={key0: np.array([0]), key1: np.array([4])})
    five = KDataAdj("min", 5)
    loop.vr.g_VelmoroKDataList_Adj.extend([one, five])
    loop.b._reset_base_adj_matrix_calc_pos(np.array([7, 3]))
    assert (one.AdjCalcPos[key0][0], one.AdjCalcPos[key1][0]) == (0, 7)
    assert (five.LastSynBaseTimeLinePos, five.LastSynTimeLinePos) == (7, 3)


@pytest.mark.parametrize(
    "pushed, gt_1day, status, end_bar",
    [
        ([2.5, 3.5], False, "ok", 2),
        ([9.0], False, "ok", 4),
        ([0.5], False, "continue", 11),
        ([1.5], True, "ok", 0),  # the run's own longer-than-day line decides
        (E, False, "ok", 11),
    ],
)
def test_end_of_pushed_data(loop, pushed, gt_1day, status, end_bar):
    loop.minute_run([1.0, 2.0, 3.0, 4.0, 5.0])
    loop.vr.g_VelmoroNFreqRealFresh = np.array([1.0, 5.0])
    loop.vr.g_VelmoroNFreqRealFreshOption["f_freq_gt_1day"] = gt_1day
    lpc = loop.context(pushed_latest_timeline=np.asarray(pushed), end_fresh_bar=11)
    loop.b._update_end_fresh_bar_pos_wrapper(lpc)
    assert getattr(lpc.loop_status, "op_" + status)
    assert lpc.end_fresh_bar == end_bar
    if status == "continue":
        detail = text.WARN_ERROR_REAL_TIMELINE.format(
            BARFRESHTIMELINE=str([1.0, 2.0, 3.0, 4.0, 5.0]), KFRESHTIMELINE="[0.5]", CURFRESHBARPOS=0, FINDPOS=""
        )
        assert lpc.loop_status.detail == detail
        assert loop.rec.syslog()[-1] == (detail, "warn")
    elif np.size(pushed):
        assert lpc.end_fresh_time == (loop.vr.g_VelmoroNFreqRealFresh if gt_1day else [1, 2, 3, 4, 5])[end_bar]


def _numpy_with(*others):
    """A module np whose named functions are others than numpy's own (same results)."""
    module = types.SimpleNamespace(**vars(np))
    for name in others:
        setattr(module, name, lambda *args, _f=getattr(np, name): _f(*args))
    return module


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("others", [(), ("max",), ("max", "flatnonzero")])
def test_end_of_pushed_data_read_in_place_as_numpy_finds_it(loop, monkeypatch, seed, others):
    """The time line and the pushed times read from memory (numpy's own max and
    flatnonzero in the module) or by the module's np: the same end either way,
    on lines sorted or not, with NaN, and pushes before, inside and after them."""
    rng = np.random.default_rng(seed)
    line = rng.uniform(0.0, 20.0, 12)
    line = np.sort(line) if seed % 2 else line
    line[rng.random(12) < 0.15] = np.nan
    pushed = rng.uniform(-2.0, 22.0, int(rng.integers(1, 4)))
    if seed == 4:
        pushed[-1] = np.nan
    loop.minute_run(line)
    monkeypatch.setattr(loop.b, "np", _numpy_with(*others))
    lpc = loop.context(pushed_latest_timeline=pushed, end_fresh_bar=11)
    loop.b._update_end_fresh_bar_pos_wrapper(lpc)
    found = np.flatnonzero(line <= np.max(pushed))
    assert bool(lpc.loop_status.op_continue) == (found.size == 0)
    assert lpc.end_fresh_bar == (found[-1] if found.size else 11)


def test_new_refresh_positions_only_for_later_times(loop):
    loop.minute_run([1.0, 2.0, 3.0])
    loop.vr.g_VelmoroKDataList.append(KData("day", 1))
    loop.vr.g_VelmoroKDataList.append(KData("min", 5))
    loop.patch("get_new_time_line_and_day_position", result=["new times"])
    loop.patch("_extract_expand_time_line_loop", result=["step 1", "step 2"])
    loop.patch("expand_time_line_by_one")
    loop.b.expand_by_time_line_wrapper(loop.context(pushed_latest_timeline=np.array([2.0, 3.0])))
    assert loop.rec.calls == []

    lpc = loop.context(pushed_latest_timeline=np.array([3.0, 3.5, 4.0]))
    loop.b.expand_by_time_line_wrapper(lpc)
    (_, (moment,), _), (_, (date, codes, targets, last), _) = loop.rec.calls[:2]
    assert moment == 3.5 and date == 20240103 and type(date) is int
    assert codes.tolist() == [gv.KFreq_Min, gv.KFreq_Day]
    assert targets is loop.vr.g_VelmoroInputInfo.TargetList and last == 3.0
    assert [c[1][1] for c in loop.rec.of("expand_time_line_by_one")] == ["step 1", "step 2"]
    assert all(c[1][0] is lpc for c in loop.rec.of("expand_time_line_by_one"))


REFRESH_STEPS = (
    "_update_end_fresh_bar_pos_wrapper",
    "_update_history_k_data_wrapper",
    "_update_k_data_value_fresh_wrapper",
    "_update_k_data_value_fresh_adj_wrapper",
    "_update_factor_data_value_fresh_wrapper",
    "_update_user_indices_wrapper",
)


@pytest.mark.parametrize("stopping", [None, *REFRESH_STEPS])
def test_refresh_sequence_stops_at_a_status_and_drops_pushed_bars(loop, stopping):
    def stop(lpc):
        lpc.loop_status.op_continue = "stop"

    for name in REFRESH_STEPS:
        loop.patch(name, effect=stop if name == stopping else None)
    lpc = loop.context(min_fresh_data=np.ones((2, 8)), day_fresh_data=np.ones((1, 8)))
    loop.b.update_by_time_line_wrapper(lpc)
    ran = REFRESH_STEPS if stopping is None else REFRESH_STEPS[: REFRESH_STEPS.index(stopping) + 1]
    assert loop.rec.names() == list(ran)
    assert lpc.min_fresh_data.shape == (0,) and lpc.day_fresh_data.shape == (0,)


def test_steps_replaced_in_the_module_are_the_ones_called(loop):
    loop.patch("_update_end_fresh_bar_pos_wrapper")
    for name in REFRESH_STEPS[1:]:
        loop.patch(name)
    loop.b.update_by_time_line_wrapper(loop.context())
    assert loop.rec.names() == list(REFRESH_STEPS)


def test_handler_exception_leaves_the_loop_unchanged(loop):
    error = RuntimeError("strategy failed")

    def fail(lpc):
        raise error

    loop.minute_run([1.0])
    loop.patch("receive_data", result=push())
    for name in CHECKS:
        loop.patch(name)
    loop.patch("combine_pushed_timeline", effect=lambda lpc: setattr(lpc, "pushed_latest_timeline", np.ones(1)))
    loop.patch("expand_by_time_line_wrapper")
    loop.patch("update_by_time_line_wrapper")
    loop.patch("call_on_data_wrapper", effect=fail)
    with pytest.raises(RuntimeError) as caught:
        loop.b.real_trade_k_fresh_loop()
    assert caught.value is error
