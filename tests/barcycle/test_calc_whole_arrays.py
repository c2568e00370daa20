"""The whole-array refresh calculations against their former per-row
versions, kept here as oracles, on random pushes (targets and times the run
lacks, repeated and missing bars included)."""
import types

import numpy as np
import pytest

import velmoro.realtrade.calc as calc
from velmoro.realtrade.runtypes import RealRunTimeContext, RealTradeEnv, RealTradeVar
from velmoro.tframe.runtypesbase import KData, KDataAdj, TargetColumns, gv

N_TARGETS = 7
TIMES = 739000.0 + np.arange(1, 41) / 1440.0


@pytest.fixture
def run(monkeypatch):
    vr = RealTradeVar()
    env = RealTradeEnv()
    env.vr = vr
    for module in (calc.bars, calc.indicators):
        monkeypatch.setattr(module, "cnt", types.SimpleNamespace(vr=vr, env=env))
    info = vr.g_VelmoroInputInfo
    info.KFrequencyI, info.KFreNum = gv.KFreq_Min, 1
    info.TargetListDot = ["SSE.{:06d}".format(600000 + t) for t in range(N_TARGETS)]
    return vr


def random_bars(rng, n_rows, missing=0.2):
    """Push rows: targets and times partly outside the run, some closes missing."""
    targets = rng.integers(-1, N_TARGETS + 1, n_rows).astype(float)
    targets[rng.random(n_rows) < 0.05] += 0.5
    times = rng.choice(np.r_[TIMES, TIMES[-1] + 1.0, TIMES[0] - 1.0], n_rows)
    values = rng.uniform(1, 100, (n_rows, len(calc.QUANTITIES)))
    values[rng.random(n_rows) < missing, calc.QUANTITIES.index("Close")] = np.nan
    return np.column_stack([targets, times, values])


def filled_matrix(rng, times, missing=0.3):
    matrix = calc.new_matrix(times, calc.continue_day_positions([], [], times), N_TARGETS)
    matrix[gv.KMatrixPos_Open :] = rng.uniform(1, 100, matrix[gv.KMatrixPos_Open :].shape)
    close_rows = [calc.quantity_rows(t)[3] for t in range(N_TARGETS)]
    gaps = rng.random((N_TARGETS, len(times))) < missing
    matrix[np.array(close_rows)[:, None], np.arange(len(times))] = np.where(gaps, np.nan, matrix[close_rows])
    return matrix


# --- the per-row versions -------------------------------------------------------------

def fill_per_row(matrix, bars):
    line = matrix[gv.KMatrixPos_TimeLine]
    for row in bars:
        col = np.searchsorted(line, row[1] - 0.5 / 86400)
        target = row[0]
        if col < line.size and abs(line[col] - row[1]) <= 0.5 / 86400 and 0 <= target < N_TARGETS and target == int(target):
            matrix[calc.quantity_rows(target), col] = row[2:]


def aggregate_per_target(block):
    block = block[:, ~np.isnan(block[3])]
    if block.shape[1] == 0:
        return np.nan
    return np.array([block[0, 0], block[1].max(), block[2].min(), block[3, -1], block[4].sum(), block[5].sum()])


def build_per_row(kdata, base, first, last):
    line, base_line = kdata.Matrix[gv.KMatrixPos_TimeLine], base.Matrix[gv.KMatrixPos_TimeLine]
    for col in range(max(first, 0), min(last, line.size - 1) + 1):
        lo = np.searchsorted(base_line, line[col - 1], side="right") if col > 0 else 0
        hi = np.searchsorted(base_line, line[col], side="right")
        for target in range(N_TARGETS):
            rows = calc.quantity_rows(target)
            kdata.Matrix[rows, col] = aggregate_per_target(base.Matrix[rows, lo:hi])


def adj_per_target(raw, adj, positions, unfilled):
    for target, calc_pos in enumerate(positions):
        begin = max(min(int(calc_pos[0]), int(unfilled)), 0)
        rows = calc.quantity_rows(target)
        adj[rows, begin:] = raw[rows, begin:]
        filled = np.flatnonzero(~np.isnan(raw[rows[3], begin:]))
        if filled.size:
            calc_pos[0] = begin + filled[-1]


# --- the comparisons ------------------------------------------------------------------

@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("n_rows", [0, 1, 5, 60])
def test_pushed_bars_land_as_placed_row_by_row(run, seed, n_rows):
    rng = np.random.default_rng(seed)
    kdata = KData("min", 1, filled_matrix(rng, TIMES), np.arange(TIMES.size))
    run.g_VelmoroKDataList.append(kdata)
    expected = kdata.Matrix.copy()
    bars = random_bars(rng, n_rows)
    # a repeated bar: the later row wins
    if n_rows:
        bars = np.vstack([bars, bars[:1] + np.r_[0, 0, np.ones(6)]])
    fill_per_row(expected, bars)
    lpc = RealRunTimeContext()
    lpc.unfilled_begin_calc_pos = np.array([TIMES.size])
    point, count = calc.fill_pushed_k_data(lpc, gv.KFreq_Min, bars)
    np.testing.assert_array_equal(kdata.Matrix, expected)
    assert count == 0 or point == min(r[1] for r in bars if r[1] in TIMES and 0 <= r[0] < N_TARGETS and r[0] % 1 == 0)


@pytest.mark.parametrize("time, n_rows", [(TIMES[5], N_TARGETS), (TIMES[0], 3), (TIMES[5] + 0.2 / 86400, 1),
                                           (TIMES[-1] + 1.0, N_TARGETS), (TIMES[7], N_TARGETS + 1)],
                         ids=["every target", "the first targets", "a time within a second", "off the line",
                              "a target too many"])
def test_a_push_of_one_column_lands_as_the_same_rows_in_any_order(run, time, n_rows):
    """A terminal's regular push (targets in order, one time) against its rows reversed."""
    rng = np.random.default_rng(1)
    bars = np.column_stack([np.arange(n_rows), np.full(n_rows, time), rng.uniform(1, 100, (n_rows, 6))])
    results = []
    for rows in (bars, bars[::-1]):
        kdata = KData("min", 1, filled_matrix(np.random.default_rng(2), TIMES), np.arange(TIMES.size))
        kdata.DataEnd = 3
        run.g_VelmoroKDataList[:] = [kdata]
        lpc = RealRunTimeContext()
        lpc.unfilled_begin_calc_pos = np.array([TIMES.size])
        point, count = calc.fill_pushed_k_data(lpc, gv.KFreq_Min, rows)
        results.append((kdata.Matrix.copy(), point, count, int(lpc.unfilled_begin_calc_pos[0]), kdata.DataEnd))
    regular, reversed_ = results
    np.testing.assert_array_equal(regular[0], reversed_[0])
    assert regular[1:] == reversed_[1:] or np.isnan(regular[1]) and regular[2:] == reversed_[2:] == (0, TIMES.size, 3)


@pytest.mark.parametrize("seed", range(8))
@pytest.mark.parametrize("freq_num, first, last", [(5, 0, 99), (3, 2, 5), (7, 4, 4), (2, 6, 3)])
def test_built_bars_equal_the_per_target_aggregates(seed, freq_num, first, last):
    rng = np.random.default_rng(seed)
    base = KData("min", 1, filled_matrix(rng, TIMES, missing=rng.choice([0.0, 0.5, 0.95])))
    # a bar the base has no data for at all
    base.Matrix[gv.KMatrixPos_Open :, 10:14] = np.nan
    own_times = TIMES[freq_num - 1 :: freq_num]
    built = KData("min", freq_num, calc.new_matrix(own_times, np.arange(own_times.size), N_TARGETS))
    expected = KData("min", freq_num, built.Matrix.copy())
    build_per_row(expected, base, first, last)
    calc.build_bars(built, base, first, last)
    # open, high, low, close exactly; sums up to their order of addition
    ohlc = [calc.quantity_rows(t)[:4] for t in range(N_TARGETS)]
    np.testing.assert_array_equal(built.Matrix[ohlc], expected.Matrix[ohlc])
    np.testing.assert_allclose(built.Matrix, expected.Matrix, rtol=1e-14)


@pytest.mark.parametrize("seed", range(8))
def test_adjusted_records_catch_up_as_target_by_target(run, seed):
    rng = np.random.default_rng(seed)
    raw = KData("min", 1, filled_matrix(rng, TIMES, missing=0.6))
    raw.Matrix[calc.quantity_rows(2)[3], 5:] = np.nan  # a target silent since column 5
    start = rng.integers(-3, TIMES.size + 3, N_TARGETS)
    adj = KDataAdj("min", 1, filled_matrix(rng, TIMES), adj_calc_pos={
        k: np.array([p]) for k, p in zip(run.g_VelmoroInputInfo.TargetListDot, start)})
    run.g_VelmoroKDataList.append(raw)
    run.g_VelmoroKDataList_Adj.append(adj)
    unfilled = rng.integers(0, TIMES.size + 2)
    expected, positions = adj.Matrix.copy(), [np.array([p]) for p in start]
    adj_per_target(raw.Matrix, expected, positions, unfilled)
    calc.update_base_history_k_data_adj(np.array([unfilled]), gv.KFreq_Min)
    np.testing.assert_array_equal(adj.Matrix, expected)
    assert isinstance(adj.AdjCalcPos, TargetColumns)
    assert [int(adj.AdjCalcPos[k][0]) for k in run.g_VelmoroInputInfo.TargetListDot] == [int(p[0]) for p in positions]


def test_target_columns_share_one_array():
    columns = TargetColumns(["A", "B", "C"], [4, 5, 6])
    columns["B"][0] = 9  # the way the loop's start-up moves one target
    columns.array[2] = 1
    assert columns.array.tolist() == [4, 9, 1] and [int(v[0]) for v in columns.values()] == [4, 9, 1]


def test_indicators_see_the_closes_up_to_each_position_without_changing_them(run):
    rng = np.random.default_rng(3)
    own = KData("min", 1, filled_matrix(rng, TIMES), np.arange(TIMES.size))
    run.g_VelmoroKDataList.append(own)
    seen = []

    def mean_close(closes):
        seen.append(closes.shape)
        with pytest.raises(ValueError):
            closes[0, 0] = 0.0
        return np.nanmean(closes, axis=1)

    run.g_VelmoroUserIndices = {"m": calc.UserIndicator("m", mean_close, N_TARGETS, TIMES.size)}
    calc.update_user_calc_indices(3, 4)
    closes = own.Matrix[[calc.quantity_rows(t)[3] for t in range(N_TARGETS)]]
    values = run.g_VelmoroUserIndices["m"].values
    for pos in range(3, 7):
        np.testing.assert_array_equal(values[:, pos], np.nanmean(closes[:, : pos + 1], axis=1))
    assert seen == [(N_TARGETS, pos + 1) for pos in range(3, 7)] and np.isnan(values[:, :3]).all()


def test_appended_columns_reuse_spare_room_and_keep_earlier_views():
    matrix = calc.new_matrix(TIMES[:3], [1, 2, 3], 2)
    grown = calc.append_columns(matrix, TIMES[3:5], [4, 5])
    view = grown[:, :]
    again = calc.append_columns(grown, TIMES[5:6], [6])
    assert np.shares_memory(grown, again) and view.shape == (matrix.shape[0], 5)
    np.testing.assert_array_equal(again[gv.KMatrixPos_TimeLine], TIMES[:6])
    assert np.isnan(again[gv.KMatrixPos_Open :, 3:]).all()
    # growing an earlier state again leaves the later one alone
    other = calc.append_columns(grown, TIMES[10:11], [9])
    assert not np.shares_memory(other, again) and again[gv.KMatrixPos_TimeLine, 5] == TIMES[5]


@pytest.mark.parametrize("seed", range(4))
def test_forming_bars_refresh_as_over_every_later_position(run, seed):
    rng = np.random.default_rng(seed)
    own = KData("min", 1, calc.new_matrix(TIMES, np.arange(TIMES.size), N_TARGETS), np.arange(TIMES.size))
    own.DataEnd = 0
    run.g_VelmoroKDataList.append(own)
    lpc = RealRunTimeContext()
    lpc.unfilled_begin_calc_pos = np.array([TIMES.size])
    pushed = random_bars(rng, 30)
    pushed[:, 1] = rng.choice(TIMES[: rng.integers(1, TIMES.size)], 30)
    calc.fill_pushed_k_data(lpc, gv.KFreq_Min, pushed)
    begin = int(rng.integers(0, TIMES.size))
    run.g_VelmoroDataValueFresh = fresh = calc.new_matrix(TIMES, np.arange(TIMES.size), N_TARGETS)
    calc.update_k_data_value_fresh(begin)
    # the same over every position from `begin` on, as when the record's data end is unknown
    expected = calc.new_matrix(TIMES, np.arange(TIMES.size), N_TARGETS)
    expected[gv.KMatrixPos_Open :, begin:] = own.Matrix[gv.KMatrixPos_Open :, begin:]
    np.testing.assert_array_equal(fresh, expected)
    assert own.DataEnd <= TIMES.size


@pytest.mark.parametrize("seed", range(8))
@pytest.mark.parametrize("shape", ["run", "shifted run", "repeats", "gaps and negatives"])
def test_forming_bars_refresh_as_position_by_position(run, seed, shape):
    """Refresh positions over their bars as a run (the usual push) or not, against the per-position copy."""
    rng = np.random.default_rng(seed)
    n = TIMES.size
    current = {"run": np.arange(n), "shifted run": np.arange(n) - int(rng.integers(-3, 4)),
               "repeats": np.sort(rng.integers(0, n, n)), "gaps and negatives": np.sort(rng.integers(-3, 2 * n, n))}[shape]
    own = KData("min", 1, filled_matrix(rng, TIMES), current.astype(np.int64))
    own.DataEnd = int(rng.integers(0, n + 1))
    run.g_VelmoroKDataList.append(own)
    begin = int(rng.integers(-2, n))
    run.g_VelmoroDataValueFresh = fresh = calc.new_matrix(TIMES, np.arange(n), N_TARGETS)
    expected = fresh.copy()
    for position in range(n):
        col = own.CurrentBar[position]
        if own.CurrentBar[position] >= begin and 0 <= col < own.DataEnd:
            expected[gv.KMatrixPos_Open :, position] = own.Matrix[gv.KMatrixPos_Open :, col]
    calc.update_k_data_value_fresh(begin)
    np.testing.assert_array_equal(fresh, expected)


@pytest.mark.parametrize("values", [
    [], [739000.5], [739000.5] * 5, [739000.5, 739000.5, 739000.6], [np.nan, np.nan], [0.0, -0.0],
    [2.0, 2.0, np.nan], np.arange(9.0), np.arange(1.0, 9.0), [0.0, 1.0, 3.0], [0.0, 1.0, 2.0, 2.0], [-0.0, 1.0],
    np.arange(5000.0), np.arange(5000.0)[::-1],
])
def test_byte_checks_of_a_push_agree_with_comparing_values(values):
    """A "yes" of the byte checks is always the values' own yes (a "no" only
    sends a push the general way, which places it the same)."""
    values = np.asarray(values, dtype=float)
    strided = np.column_stack([values, values])[:, 0]  # a push's column is strided
    for column in (values, strided):
        if calc.layout.repeats_first(column):
            assert column.size and not np.isnan(column[0]) and (column == column[0]).all()
        if calc.layout.counts_up(column):
            assert (column == np.arange(column.size)).all()
    assert calc.layout.repeats_first(np.full(3, 739000.5)) and calc.layout.counts_up(np.arange(7.0))


@pytest.mark.parametrize("index", [[], [3], [3, 4], [2, 3, 4, 5], [2, 4], [2, 3, 5], [5, 4], [-2, -1], [-1, 0, 1]])
def test_an_index_taken_as_a_slice_selects_the_same_columns(index):
    columns = np.arange(10.0).reshape(1, 10) * 10
    index = np.array(index, dtype=np.intp)
    np.testing.assert_array_equal(columns[:, calc.layout.index_or_slice(index)], columns[:, index])
