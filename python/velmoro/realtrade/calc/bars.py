"""Bar matrices of a live run: pushed bars in, bars built from them, the
values of the forming bars on the refresh matrix, and new columns.

The adjusted records mirror the unadjusted ones column for column. The
terminal's bars carry no corporate actions, so an adjusted bar holds the
values of its unadjusted counterpart.
"""
import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.realtrade.calc.layout import (
    PUSH_BAR_COLUMNS,
    QUANTITIES,
    append_columns,
    bar_ends,
    continue_day_positions,
    current_bars,
    quantity_rows,
)
from velmoro.realtrade.calc.timeline import synthetic_k_data_rule_map
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.logger import write_syslog

__all__ = [
    "fill_pushed_k_data",
    "build_bars",
    "update_history_k_data",
    "update_history_k_data_adj",
    "update_base_history_k_data_adj",
    "expand_update_k_data_unfilled_index",
    "update_k_data_value_fresh",
    "update_k_data_value_fresh_adj",
    "expand_history_k_data",
    "expand_history_k_data_adj",
    "extend_current_bars",
]

_TARGET = PUSH_BAR_COLUMNS.index("Target")
_TIME = PUSH_BAR_COLUMNS.index("Time")
_VALUES = slice(PUSH_BAR_COLUMNS.index(QUANTITIES[0]), None)
_CLOSE = QUANTITIES.index("Close")
# pushed and calendar times of one bar agree to well within a second
_SAME_TIME = 0.5 / 86400.0


def _n_targets(matrix):
    return (matrix.shape[0] - gv.KMatrixPos_Open) // len(QUANTITIES)


def fill_pushed_k_data(lpc, code, bars):
    """Put pushed bars (rows as PUSH_BAR_COLUMNS) into the one-period record of
    frequency `code`. Returns (earliest time placed or NaN, number of bars
    placed); bars whose time or target the record lacks are left out and
    reported in the system log."""
    kdata_list = cnt.vr.g_VelmoroKDataList
    pos = kdata_list.find_pos(code, 1)
    bars = np.asarray(bars, dtype=float).reshape(-1, len(PUSH_BAR_COLUMNS))
    if pos < 0 or bars.shape[0] == 0:
        return np.nan, 0
    kdata = kdata_list[pos]
    line = kdata.Matrix[gv.KMatrixPos_TimeLine]
    times, targets = bars[:, _TIME], bars[:, _TARGET]
    cols = np.minimum(np.searchsorted(line, times - _SAME_TIME), max(line.size - 1, 0))
    placed = np.zeros(times.size, dtype=bool)
    if line.size:
        placed = (np.abs(line[cols] - times) <= _SAME_TIME) & (targets >= 0) & (targets < _n_targets(kdata.Matrix))
        placed &= targets == np.floor(targets)
    for row, col in zip(bars[placed], cols[placed]):
        kdata.Matrix[quantity_rows(row[_TARGET]), col] = row[_VALUES]
    if not placed.all():
        write_syslog(
            "pushed bars of frequency {} not on the run's time line or targets, left out: {!r}".format(
                code, bars[~placed].tolist()
            ),
            level="warn",
        )
    if not placed.any():
        return np.nan, 0
    lpc.unfilled_begin_calc_pos[pos] = min(lpc.unfilled_begin_calc_pos[pos], cols[placed].min())
    return float(times[placed].min()), int(placed.sum())


def _aggregate(block):
    """One bar from consecutive bars (quantity rows x bars); bars without a
    close are missing. NaN when none is there."""
    block = block[:, ~np.isnan(block[_CLOSE])]
    if block.shape[1] == 0:
        return np.nan
    return np.array([block[0, 0], block[1].max(), block[2].min(), block[3, -1], block[4].sum(), block[5].sum()])


def build_bars(kdata, base, first, last):
    """Build the columns `first`..`last` of `kdata` from the bars of `base`:
    column c covers the base bars after column c-1 up to its own time."""
    line = kdata.Matrix[gv.KMatrixPos_TimeLine]
    base_line = base.Matrix[gv.KMatrixPos_TimeLine]
    for col in range(max(first, 0), min(last, line.size - 1) + 1):
        lo = np.searchsorted(base_line, line[col - 1], side="right") if col > 0 else 0
        hi = np.searchsorted(base_line, line[col], side="right")
        for target in range(_n_targets(kdata.Matrix)):
            rows = quantity_rows(target)
            kdata.Matrix[rows, col] = _aggregate(base.Matrix[rows, lo:hi])


def _rebuild_from(kdata_list, since):
    """Rebuild every record built from another one, from the bar holding
    `since` up to the latest base bar with data."""
    for kdata in kdata_list:
        base_pos = kdata_list.find_pos(synthetic_k_data_rule_map(kdata.KFrequencyI), 1)
        if base_pos < 0 or kdata_list[base_pos] is kdata:
            continue
        base = kdata_list[base_pos]
        base_line = base.Matrix[gv.KMatrixPos_TimeLine]
        start = np.searchsorted(base_line, since, side="left")
        has_data = np.flatnonzero(~np.all(np.isnan(base.Matrix[gv.KMatrixPos_Open :, start:]), axis=0))
        if has_data.size == 0:
            continue
        line = kdata.Matrix[gv.KMatrixPos_TimeLine]
        first = np.searchsorted(line, since, side="left")
        last = np.searchsorted(line, base_line[start + has_data[-1]], side="left")
        build_bars(kdata, base, first, last)


def update_history_k_data(lpc, minimum_time_point):
    """Bring the records built from pushed ones up to date from
    `minimum_time_point` on (nothing to do for NaN: nothing was pushed)."""
    if not np.isnan(minimum_time_point):
        _rebuild_from(cnt.vr.g_VelmoroKDataList, minimum_time_point)


def update_history_k_data_adj(minimum_time_point):
    """The same for the adjusted records."""
    if not np.isnan(minimum_time_point):
        _rebuild_from(cnt.vr.g_VelmoroKDataList_Adj, minimum_time_point)


def update_base_history_k_data_adj(unfilled_begin_calc_pos, code):
    """Bring the adjusted one-period record of frequency `code` up to date
    from its unadjusted counterpart: per target from the earlier of its
    calculation position and the counterpart's first unfilled column; the
    calculation position then moves to the target's latest bar."""
    raw_list, adj_list = cnt.vr.g_VelmoroKDataList, cnt.vr.g_VelmoroKDataList_Adj
    raw_pos, adj_pos = raw_list.find_pos(code, 1), adj_list.find_pos(code, 1)
    if raw_pos < 0 or adj_pos < 0:
        return
    raw, adj = raw_list[raw_pos], adj_list[adj_pos]
    for target, key in enumerate(cnt.vr.g_VelmoroInputInfo.TargetListDot):
        calc_pos = adj.AdjCalcPos.setdefault(key, np.zeros(1, dtype=np.int64))
        begin = max(min(int(calc_pos[0]), int(unfilled_begin_calc_pos[raw_pos])), 0)
        rows = quantity_rows(target)
        adj.Matrix[rows, begin:] = raw.Matrix[rows, begin:]
        filled = np.flatnonzero(~np.isnan(raw.Matrix[rows[_CLOSE], begin:]))
        if filled.size:
            calc_pos[0] = begin + filled[-1]


def expand_update_k_data_unfilled_index(lpc):
    """Move each record's first column still to be calculated to its bar
    that is current at the end of the pushed data (the forming bar)."""
    end = int(lpc.end_fresh_bar)
    for i, kdata in enumerate(cnt.vr.g_VelmoroKDataList):
        if end < kdata.CurrentBar.size:
            lpc.unfilled_begin_calc_pos[i] = max(int(kdata.CurrentBar[end]), 0)


def _refresh_values(fresh_name, kdata_list, begin):
    """Copy the run's own bars into the refresh matrix at every refresh
    position whose base column is `begin` or later."""
    info = cnt.vr.g_VelmoroInputInfo
    own_pos = kdata_list.find_pos(info.KFrequencyI, info.KFreNum)
    base_pos = kdata_list.find_pos(synthetic_k_data_rule_map(info.KFrequencyI), 1)
    if own_pos < 0 or base_pos < 0:
        return
    fresh = getattr(cnt.vr, fresh_name)
    own = kdata_list[own_pos]
    positions = np.flatnonzero(kdata_list[base_pos].CurrentBar[: fresh.shape[1]] >= begin)
    cols = own.CurrentBar[positions]
    positions, cols = positions[cols >= 0], cols[cols >= 0]
    fresh[gv.KMatrixPos_Open :, positions] = own.Matrix[gv.KMatrixPos_Open :, cols]


def update_k_data_value_fresh(begin):
    """Refresh the forming bars' values on the refresh matrix from base column `begin` on."""
    _refresh_values("g_VelmoroDataValueFresh", cnt.vr.g_VelmoroKDataList, begin)


def update_k_data_value_fresh_adj(unfilled_begin_calc_pos, begin):
    """The same on the adjusted refresh matrix; the adjusted records' own
    calculation positions were brought forward by update_base_history_k_data_adj,
    so `unfilled_begin_calc_pos` adds nothing here."""
    del unfilled_begin_calc_pos
    _refresh_values("g_VelmoroDataValueFresh_Adj", cnt.vr.g_VelmoroKDataList_Adj, begin)


def extend_current_bars(kdata, refresh_times):
    """Extend `kdata.CurrentBar` to every refresh time."""
    done = kdata.CurrentBar.size
    added = current_bars(kdata.Matrix[gv.KMatrixPos_TimeLine], refresh_times[done:])
    kdata.CurrentBar = np.concatenate([kdata.CurrentBar, added]).astype(np.int64)


def expand_history_k_data(unique_i_freq, trading_time, is_tick_freq, idx_fresh_array):
    """Append the new times of one expansion step to every bar record: a
    one-period record takes every new time of its frequency, the run's own
    n-period record the times `idx_fresh_array` marks, another n-period record
    every n-th time of a day and each day's last. Tick runs are not supported."""
    if is_tick_freq:
        raise ValueError("tick-frequency runs are not supported")
    info = cnt.vr.g_VelmoroInputInfo
    codes = [int(c) for c in unique_i_freq]
    refresh_times = cnt.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine]
    for kdata in cnt.vr.g_VelmoroKDataList:
        new = trading_time[codes.index(kdata.KFrequencyI)]
        times = np.asarray(new.more_time, dtype=float)
        matrix = kdata.Matrix
        if kdata.KFreqNum == 1:
            day_pos = new.more_day_pos
        else:
            own = kdata.KFrequencyI == info.KFrequencyI and kdata.KFreqNum == info.KFreNum
            mask = np.asarray(idx_fresh_array).astype(bool) if own else bar_ends(new.more_day_pos, kdata.KFreqNum)
            times = times[mask]
            day_pos = continue_day_positions(matrix[gv.KMatrixPos_TimeLine], matrix[gv.KMatrixPos_DayPos], times)
        kdata.Matrix = append_columns(matrix, times, day_pos)
        extend_current_bars(kdata, refresh_times)


def expand_history_k_data_adj(unique_i_freq, trading_time):
    """Give every adjusted record the columns its unadjusted counterpart
    gained in this expansion step (expand_history_k_data runs first)."""
    del unique_i_freq, trading_time  # the counterparts already hold the step's times
    raw_list = cnt.vr.g_VelmoroKDataList
    for adj in cnt.vr.g_VelmoroKDataList_Adj:
        raw = raw_list[raw_list.find_pos(adj.KFrequencyI, adj.KFreqNum)]
        have = adj.Matrix.shape[1]
        new_columns = raw.Matrix[[gv.KMatrixPos_TimeLine, gv.KMatrixPos_DayPos], have:]
        adj.Matrix = append_columns(adj.Matrix, new_columns[0], new_columns[1])
        adj.CurrentBar = raw.CurrentBar.copy()
