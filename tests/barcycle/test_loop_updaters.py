"""Bar, factor and indicator updaters: which calculation runs, with what, and
where a pass is cut short."""
import math

import numpy as np
import pytest

from velmoro.tframe.runtypesbase import KData, KDataAdj, gv

BARS = np.ones((1, 8))
HISTORY_CALLS = ("fill_pushed_k_data", "update_base_history_k_data_adj", "update_history_k_data",
                 "update_history_k_data_adj", "expand_update_k_data_unfilled_index", "_update_history_instrument")


def history_pass(loop, minute=(), day=(), adjusted=True, fill_status=None, current=1, end=3):
    loop.minute_run([1.0, 2.0, 3.0, 4.0])
    if adjusted:
        loop.vr.g_VelmoroKDataList_Adj.append(KDataAdj("min", 1))

    def fill(lpc, code, bars):
        if fill_status:
            setattr(lpc.loop_status, fill_status, "fill failed")
        return (7.0 if code == gv.KFreq_Min else 5.0), len(bars)

    for name in HISTORY_CALLS:
        loop.patch(name, effect=fill if name == "fill_pushed_k_data" else None)
    loop.vr.g_VelmoroSimCurBarFresh = current
    lpc = loop.context(min_fresh_data=np.asarray(minute), day_fresh_data=np.asarray(day), end_fresh_bar=end,
                       unfilled_begin_calc_pos=np.array([-2, 4]))
    loop.b._update_history_k_data_wrapper(lpc)
    return lpc


M, D = gv.KFreq_Min, gv.KFreq_Day


@pytest.mark.parametrize(
    "minute, day, adjusted, fills, adj_updates, minimum",
    [
        (BARS, (), True, [M], 1, 7.0),
        (BARS, (), False, [M], 0, 7.0),
        ((), BARS, True, [D], 0, 5.0),  # the adjusted record is a minute one
        (BARS, BARS, False, [M, D], 0, 5.0),
        ((), (), True, [], 0, math.nan),
    ],
)
def test_history_refresh_fills_what_came(loop, minute, day, adjusted, fills, adj_updates, minimum):
    lpc = history_pass(loop, minute, day, adjusted)
    assert [c[1][1] for c in loop.rec.of("fill_pushed_k_data")] == fills
    assert len(loop.rec.of("update_base_history_k_data_adj")) == adj_updates
    assert loop.rec.names(*HISTORY_CALLS[2:]) == list(HISTORY_CALLS[2:])
    ((_, (ctx, point), _),) = loop.rec.of("update_history_k_data")
    assert ctx is lpc and (point == minimum or math.isnan(point) and math.isnan(minimum))
    assert lpc.unfilled_begin_calc_pos.tolist() == [0, 4]


@pytest.mark.parametrize("status", ["op_break", "op_continue"])
def test_fill_status_ends_the_history_refresh(loop, status):
    history_pass(loop, BARS, BARS, adjusted=False, fill_status=status)
    assert loop.rec.names(*HISTORY_CALLS) == ["fill_pushed_k_data"]


def test_current_position_beyond_pushed_data_continues(loop):
    lpc = history_pass(loop, BARS, current=12, end=11)
    assert lpc.loop_status.op_continue
    assert lpc.loop_status.detail == "g_VelmoroSimCurBarFresh > endFreshBar continue."
    assert loop.rec.syslog()[-1] == ("g_VelmoroSimCurBarFresh > endFreshBar continue.", "debug")
    assert "expand_update_k_data_unfilled_index" not in loop.rec.names()


@pytest.mark.parametrize("pre_pos, start", [(0, 1.0), (-3, 1.0), (3, 3.0)])
def test_instrument_refresh_span(loop, pre_pos, start):
    loop.minute_run([1.0, 2.0, 3.0, 4.0])
    loop.vr.g_VelmoroInputInfo.FQ = "forward"
    loop.patch("get_real_trade_date", effect=lambda t: int(t * 100))
    fetched = []
    loop.vr.g_VelmoroInstrument.fetch_or_update = lambda *a: fetched.append(a)
    lpc = loop.context(unfilled_begin_calc_pos=np.array([9, pre_pos]), refresh_k_data_idx=1, end_fresh_time=4.0)
    loop.b._update_history_instrument(lpc)
    assert fetched == [(int(start * 100), 400, gv.FQ_Forward)]


def test_forming_bars_refresh_from_the_base_column(loop):
    loop.minute_run([1.0, 2.0, 3.0], current_bar=[5, 6, 7])
    loop.vr.g_VelmoroKDataList.append(KData("day", 1))
    loop.vr.g_VelmoroSimCurBarFresh = 1
    for name in ("update_k_data_value_fresh", "update_k_data_value_fresh_adj"):
        loop.patch(name)
    lpc = loop.context(unfilled_begin_calc_pos=np.array([3, 4]))
    loop.b._update_k_data_value_fresh_wrapper(lpc)
    loop.b._update_k_data_value_fresh_adj_wrapper(lpc)
    assert [c[1] for c in loop.rec.calls if c[0] != "write_syslog"] == [(6,), (lpc.unfilled_begin_calc_pos, 6)]


@pytest.mark.parametrize("adj_matrix, expanded", [(np.zeros((8, 2)), True), (np.zeros((8, 0)), False),
                                                   (np.zeros(3), False)])
def test_adjusted_refresh_matrix_expands_only_when_kept(loop, adj_matrix, expanded):
    loop.vr.g_VelmoroDataValueFresh_Adj = adj_matrix
    loop.patch("expand_k_data_value_fresh_adj")
    loop.b._expand_k_data_value_fresh_adj_wrapper(loop.context(), np.array([5.0]))
    assert loop.rec.syslog() == [("_expand_k_data_value_fresh_adj_wrapper", "info")]
    assert ("expand_k_data_value_fresh_adj" in loop.rec.names()) == expanded


def test_expansion_steps_pass_their_arguments(loop):
    for name in ("expand_history_k_data", "expand_history_k_data_adj", "expand_k_data_value_fresh",
                 "expand_factor_data_value_fresh", "expand_user_calc_indices"):
        loop.patch(name)
    mask = np.array([1, 1])
    lpc = loop.context(is_tick_freq=False, idx_fresh_array=mask)
    loop.b._expand_history_k_data_wrapper(lpc, "codes", "times")
    loop.b._expand_history_k_data_adj_wrapper(lpc, "codes", "times")
    loop.b._expand_k_data_value_fresh_wrapper("line")
    loop.b._expand_factor_data_value_fresh_wrapper(lpc, 3)
    loop.b._expand_user_calc_indices_wrapper(lpc, "line")
    assert [c for c in loop.rec.calls if c[0] != "write_syslog"] == [
        ("expand_history_k_data", ("codes", "times", False, mask), {}),
        ("expand_history_k_data_adj", ("codes", "times"), {}),
        ("expand_k_data_value_fresh", ("line",), {}),
        ("expand_factor_data_value_fresh", (3,), {}),
        ("expand_user_calc_indices", ("line",), {}),
    ]
    assert [m for m, _ in loop.rec.syslog()] == [
        "_expand_history_k_data_wrapper", "_expand_history_k_data_adj_wrapper", "_expand_k_data_value_fresh_wrapper",
        "_expand_factor_data_value_fresh_wrapper", "expand_user_calc_indices",
    ]


@pytest.mark.parametrize(
    "pushes, breaking, applied",
    [
        ([], None, 0),
        ([np.ones(4), np.zeros(0), np.ones(4)], None, 2),
        ([np.ones(4), np.ones(4), np.ones(4)], 0, 1),
    ],
)
def test_factor_refresh_consumes_every_push(loop, pushes, breaking, applied):
    lpc = loop.context()
    lpc.factor_data.extend(pushes)
    count = []

    def update(data):
        count.append(data)
        if breaking is not None and len(count) == breaking + 1:
            lpc.loop_status.op_break = "bad factor"

    loop.patch("update_factor_data_value_fresh", effect=update)
    loop.b._update_factor_data_value_fresh_wrapper(lpc)
    assert len(count) == applied and lpc.factor_data == []
    assert loop.rec.syslog().count(("update_factor_data_value_fresh", "info")) == applied


def test_indicator_span(loop):
    loop.vr.g_VelmoroSimCurBarFresh = 5
    loop.patch("update_user_calc_indices")
    loop.b._update_user_indices_wrapper(loop.context(end_fresh_bar=7))
    assert loop.rec.of("update_user_calc_indices")[0][1] == (5, 3)
