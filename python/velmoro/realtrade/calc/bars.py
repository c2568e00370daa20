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
    counts_up,
    current_bars,
    index_or_slice,
    quantity_block,
    repeats_first,
)
from velmoro.realtrade.calc.timeline import synthetic_k_data_rule_map
from velmoro.tframe.runtypesbase import TargetColumns, gv
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
    "target_columns",
]

_TARGET = PUSH_BAR_COLUMNS.index("Target")
_TIME = PUSH_BAR_COLUMNS.index("Time")
_VALUES = slice(PUSH_BAR_COLUMNS.index(QUANTITIES[0]), None)
_CLOSE = QUANTITIES.index("Close")
# pushed and calendar times of one bar agree to well within a second
_SAME_TIME = 0.5 / 86400.0


def _whole_column(line, times, targets, n_targets):
    """The column of a push that is one bar of each of the first targets in
    target order, all at one time of `line` (a terminal's regular push), or
    None for any other push."""
    first = times[0]
    col = int(line.searchsorted(first - _SAME_TIME))
    if col == line.size or abs(line[col] - first) > _SAME_TIME or targets.size > n_targets:
        return None
    if repeats_first(times) and counts_up(targets):
        return col
    return None


def fill_pushed_k_data(lpc, code, bars):
    """Put pushed bars (rows as PUSH_BAR_COLUMNS) into the one-period record of
    frequency `code`. Returns (earliest time placed or NaN, number of bars
    placed); bars whose time or target the record lacks are left out and
    reported in the system log. Of two bars of one target and time the later
    row wins."""
    kdata_list = cnt.vr.g_VelmoroKDataList
    pos = kdata_list.find_pos(code, 1)
    bars = np.asarray(bars, dtype=float).reshape(-1, len(PUSH_BAR_COLUMNS))
    if pos < 0 or bars.shape[0] == 0:
        return np.nan, 0
    kdata = kdata_list[pos]
    matrix = kdata.Matrix
    line = matrix[gv.KMatrixPos_TimeLine]
    times, targets = bars[:, _TIME], bars[:, _TARGET]
    n_targets = (matrix.shape[0] - gv.KMatrixPos_Open) // len(QUANTITIES)
    col = _whole_column(line, times, targets, n_targets)
    if col is not None:
        # every row placed, each in its own cell: the column is written whole,
        # target after target as the matrix's rows run
        matrix[gv.KMatrixPos_Open : gv.KMatrixPos_Open + bars[:, _VALUES].size, col] = bars[:, _VALUES].reshape(-1)
        kdata.wrote_columns(col + 1)
        lpc.unfilled_begin_calc_pos[pos] = min(lpc.unfilled_begin_calc_pos[pos], col)
        return float(times[0]), targets.size
    block = quantity_block(matrix)
    cols = np.minimum(np.searchsorted(line, times - _SAME_TIME), max(line.size - 1, 0))
    placed = np.zeros(times.size, dtype=bool)
    if line.size:
        placed = (np.abs(line[cols] - times) <= _SAME_TIME) & (targets >= 0) & (targets < block.shape[0])
        placed &= targets == np.floor(targets)
    rows = np.flatnonzero(placed)
    cell = targets[rows].astype(np.intp) * line.size + cols[rows]
    # the last row of each (target, column): first in the reversed order
    _, last = np.unique(cell[::-1], return_index=True)
    rows = rows[rows.size - 1 - last]
    block[targets[rows].astype(np.intp), :, cols[rows]] = bars[rows, _VALUES]
    if not placed.all():
        write_syslog(
            "pushed bars of frequency {} not on the run's time line or targets, left out: {!r}".format(
                code, bars[~placed].tolist()
            ),
            level="warn",
        )
    if not placed.any():
        return np.nan, 0
    kdata.wrote_columns(cols[placed].max() + 1)
    lpc.unfilled_begin_calc_pos[pos] = min(lpc.unfilled_begin_calc_pos[pos], cols[placed].min())
    return float(times[placed].min()), int(placed.sum())


def _segments(block, starts):
    """One bar per segment of consecutive bars of `block` (targets x
    quantities x bars); `starts` are the segments' first bars, ascending and
    distinct, the last segment running to the block's end. Bars without a
    close are missing; a segment without any gives NaN. Shape: targets x
    quantities x segments."""
    width = block.shape[2]
    present = ~np.isnan(block[:, _CLOSE])
    at = np.arange(width)

    def reduce(ufunc, values):
        return ufunc.reduceat(values, starts, axis=-1)

    first = reduce(np.minimum, np.where(present, at, width - 1))
    last = reduce(np.maximum, np.where(present, at, 0))
    out = np.empty(block.shape[:2] + (starts.size,))
    out[:, 0] = np.take_along_axis(block[:, 0], first, axis=1)
    out[:, 1] = reduce(np.maximum, np.where(present, block[:, 1], -np.inf))
    out[:, 2] = reduce(np.minimum, np.where(present, block[:, 2], np.inf))
    out[:, 3] = np.take_along_axis(block[:, 3], last, axis=1)
    out[:, 4] = reduce(np.add, np.where(present, block[:, 4], 0.0))
    out[:, 5] = reduce(np.add, np.where(present, block[:, 5], 0.0))
    out.transpose(0, 2, 1)[reduce(np.add, present) == 0] = np.nan
    return out


def build_bars(kdata, base, first, last):
    """Build the columns `first`..`last` of `kdata` from the bars of `base`:
    column c covers the base bars after column c-1 up to its own time."""
    line = kdata.Matrix[gv.KMatrixPos_TimeLine]
    base_line = base.Matrix[gv.KMatrixPos_TimeLine]
    cols = np.arange(max(first, 0), min(last, line.size - 1) + 1)
    if cols.size == 0:
        return
    hi = np.searchsorted(base_line, line[cols], side="right")
    lo = np.where(cols > 0, np.searchsorted(base_line, line[cols - 1], side="right"), 0)
    target = quantity_block(kdata.Matrix)
    target[:, :, cols] = np.nan
    filled = hi > lo
    if filled.any():
        begin, end = lo[filled][0], hi[filled][-1]
        values = _segments(quantity_block(base.Matrix)[:, :, begin:end], lo[filled] - begin)
        target[:, :, cols[filled]] = values
    kdata.wrote_columns(cols[-1] + 1)


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


def target_columns(adj, keys):
    """`adj.AdjCalcPos` as TargetColumns over `keys`, in their order. Another
    mapping is replaced once by one holding its values (0 for a key it lacks)."""
    positions = adj.AdjCalcPos
    if not (isinstance(positions, TargetColumns) and positions.keys_in_order == list(keys)):
        values = [np.ravel(positions.get(key, 0))[0] for key in keys]
        positions = adj.AdjCalcPos = TargetColumns(keys, values)
    return positions


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
    calc_pos = target_columns(adj, cnt.vr.g_VelmoroInputInfo.TargetListDot).array
    n_cols = raw.Matrix.shape[1]
    begin = np.clip(np.minimum(calc_pos, int(unfilled_begin_calc_pos[raw_pos])), 0, n_cols)
    # every (target, column) from the target's begin on, as flat index pairs
    counts = n_cols - begin
    if counts.sum() == 0:
        return
    target = np.repeat(np.arange(begin.size), counts)
    offset = np.repeat(np.cumsum(counts) - counts, counts)
    col = np.arange(target.size) - offset + np.repeat(begin, counts)
    raw_q, adj_q = quantity_block(raw.Matrix), quantity_block(adj.Matrix)
    adj_q[target, :, col] = raw_q[target, :, col]
    adj.DataEnd = None if raw.DataEnd is None or adj.DataEnd is None else max(adj.DataEnd, raw.DataEnd)
    # the latest column with a close, per target that has one
    latest = np.where(np.isnan(raw_q[target, _CLOSE, col]), -1, col)
    has_cols = counts > 0
    latest = np.maximum.reduceat(latest, (np.cumsum(counts) - counts)[has_cols])
    moved = np.flatnonzero(has_cols)[latest >= 0]
    calc_pos[moved] = latest[latest >= 0]


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
    positions = (kdata_list[base_pos].CurrentBar[: fresh.shape[1]] >= begin).nonzero()[0]
    cols = own.CurrentBar[positions]
    # columns past the record's data are empty, as are the positions they would fill
    end = own.Matrix.shape[1] if own.DataEnd is None else own.DataEnd
    kept = (cols >= 0) & (cols < end)
    if not kept.all():
        positions, cols = positions[kept], cols[kept]
    fresh[gv.KMatrixPos_Open :, index_or_slice(positions)] = own.Matrix[gv.KMatrixPos_Open :, index_or_slice(cols)]


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
