"""The simulated market at scale: bars that depend on their security and day
alone, pushes built from whole arrays, bar files written once and found
again, the dataset's options on the command line."""
import datetime as dt
import json
import os
import subprocess
import sys

import numpy as np
import pytest
import scipy.io

from velmoro.cli.run import connect
from velmoro.cli import parser
from velmoro.realtrade.calc.layout import PUSH_BAR_COLUMNS, QUANTITIES
from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.dataset import DEFAULT_SECURITIES, universe
from velmoro.simterm.market import bars_now, kdata_files
from velmoro.simterm.matfile import mat_bytes
from velmoro.simterm.replay import Replay
from velmoro.simterm.serve import dataset_of
from velmoro.tframe.comm import link, vmcmd
from velmoro.tframe.utils.utilfunc import load_mat

DAY = 20240104
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def day_of(data, key, day=DAY):
    market, code = key.split(".")
    return data.bars(data.security(market, code), "min", day, day)


@pytest.mark.parametrize("data", [
    Dataset(start=dt.date(2023, 12, 25), days=15, securities=universe(60)),
    Dataset(start=dt.date(2024, 1, 4), days=1),
    Dataset(start=dt.date(2024, 1, 3), days=2, seed=20240102, securities=universe(3)[::-1]),
], ids=["long window, 60 securities", "the day alone", "other order"])
def test_a_bar_depends_only_on_its_security_and_day(data):
    reference = Dataset(days=3)
    for key in ("SSE.600000", "SSE.600519"):
        same, ref = day_of(data, key), day_of(reference, key)
        assert all(np.array_equal(same[q], ref[q]) for q in ref), key
    # a day made for all securities at once or for a few: the same bars
    rows = [len(data.securities) - 1, 0]
    alone, together = data.day_bars(DAY, rows), data.day_bars(DAY)
    assert all(np.array_equal(alone[q], together[q][rows]) for q in QUANTITIES)


def test_the_run_window_does_not_change_the_bars():
    closes = []
    for begin in (20240103, 20240104):
        connect("embedded", begin, 20240105)
        data = link.current().data
        bars = day_of(data, "SSE.600000")
        closes.append(bars["Close"][bars["Time"] == data.minute_times(DAY)[29]])  # 10:00
        link.disconnect()
    assert closes[0] == closes[1]


def test_the_market_holds_together():
    data = Dataset(days=4, securities=universe(300))
    day = data.day_range_bars([7, 250], data.trading_days)  # made first, then kept with the minutes
    bars = data.range_bars(np.arange(300), data.trading_days)
    by_day = {q: bars[q][[7, 250]].reshape(2, 4, -1) for q in QUANTITIES}
    assert np.array_equal(day["Open"], by_day["Open"][..., 0]) and np.array_equal(day["Close"], by_day["Close"][..., -1])
    assert np.array_equal(day["High"], by_day["High"].max(axis=2)) and np.array_equal(day["Low"], by_day["Low"].min(axis=2))
    assert np.array_equal(day["Volume"], by_day["Volume"].sum(axis=2))
    np.testing.assert_allclose(day["Amount"], by_day["Amount"].sum(axis=2), rtol=1e-13)
    assert all(np.array_equal(data.day_range_bars([250], data.trading_days)[q][0], day[q][1]) for q in QUANTITIES)
    assert (bars["Low"] > 0).all() and (bars["Volume"] > 0).all()
    assert (bars["High"] >= np.maximum(bars["Open"], bars["Close"])).all()
    assert (bars["Low"] <= np.minimum(bars["Open"], bars["Close"])).all()
    # a day opens at the previous day's close, a minute at the previous minute's
    assert np.array_equal(bars["Open"][:, 1:], bars["Close"][:, :-1])
    keys = [s.key for s in universe(300)]
    assert len(set(keys)) == 300 and keys[:4] == [s.key for s in DEFAULT_SECURITIES]
    assert keys[:50] == [s.key for s in universe(50)]


def per_row_pushes(term, securities, day):
    """The pushes of a day built one row at a time (the replay's former builder)."""
    bars = [term.data.bars(sec, "min", day, day) for sec in securities]
    out = []
    for i, moment in enumerate(term.data.minute_times(day)):
        mins, days = [], []
        for idx, b in enumerate(bars):
            mins.append([idx, moment] + [b[q][i] for q in QUANTITIES])
            days.append([idx, term.data.day_time(day), b["Open"][0], b["High"][: i + 1].max(),
                         b["Low"][: i + 1].min(), b["Close"][i], b["Volume"][: i + 1].sum(),
                         b["Amount"][: i + 1].sum()])
        out.append((np.array(mins), np.array(days)))
    return out


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_pushes_from_whole_arrays_match_the_rows(seed, tmp_path):
    rng = np.random.default_rng(seed)
    term = Terminal(Dataset(days=3, securities=universe(int(rng.integers(5, 40)))), result_dir=str(tmp_path))
    picked = rng.choice(len(term.data.securities), size=int(rng.integers(1, 12)))  # repeats allowed
    securities = [term.data.securities[i] for i in picked]
    day = term.data.trading_days[int(rng.integers(0, 3))]
    Replay(term, [{"Market": s.market, "Code": s.code} for s in securities], [day])
    sums = [PUSH_BAR_COLUMNS.index(q) for q in ("Volume", "Amount")]
    for mins, days in per_row_pushes(term, securities, day):
        push = term.next_push(0)
        assert push["stop_run"] is False and push["min_fresh_data"].shape == (len(securities), 8)
        np.testing.assert_array_equal(push["min_fresh_data"], mins)
        others = [c for c in range(len(PUSH_BAR_COLUMNS)) if c not in sums]
        np.testing.assert_array_equal(push["day_fresh_data"][:, others], days[:, others])
        np.testing.assert_allclose(push["day_fresh_data"][:, sums], days[:, sums], rtol=1e-13)
        assert term.now == mins[0, 1]
    assert term.next_push(0)["stop_run"] is True


def test_bar_files_are_written_once_and_found_again(tmp_path):
    term = Terminal(Dataset(days=3, securities=universe(6)), result_dir=str(tmp_path))
    secs = term.data.securities
    first = kdata_files(term, secs, "min", 0, 99991231)
    written = {p: os.stat(p).st_mtime_ns for p in first}
    assert kdata_files(term, secs[::-1], "min", 0, 99991231) == first[::-1]
    assert {p: os.stat(p).st_mtime_ns for p in first} == written
    os.remove(first[2])  # a file a client removed is written again
    assert kdata_files(term, secs, "min", 0, 99991231) == first and os.path.exists(first[2])
    # another range, another clock or another bar length: other files
    term.now = term.data.minute_times(term.data.trading_days[1])[99]
    cases = [("min", 0, 99991231, 1), ("min", 20240103, 20240103, 1), ("min", 0, 99991231, 5), ("day", 0, 0, 1)]
    for freq, begin, end, n in cases:
        paths = kdata_files(term, secs[:2], freq, begin, end or 99991231, n)
        assert not set(paths) & set(first)
        for sec, path in zip(secs[:2], paths):
            got = load_mat(path, error="raise")
            expected = bars_now(term, sec, freq, begin, end or 99991231, n)
            assert set(got) == set(expected) | {"Market", "Code", "KFrequency"}
            assert all(np.array_equal(got[k][0], v) for k, v in expected.items()), (freq, begin, n)
            assert (got["Market"][0], got["Code"][0], got["KFrequency"][0]) == (sec.market, sec.code, freq)


@pytest.mark.parametrize("freq", ["min", "day"])
def test_a_market_set_is_every_security_at_once(tmp_path, freq):
    term = link.connect(Terminal(Dataset(days=3, securities=universe(40)), result_dir=str(tmp_path)))
    term.now = term.data.minute_times(term.data.trading_days[1])[100]
    got = vmcmd.vmSendCmdGetMarketSet(freq, ["Close", "Volume"], 0, 0)
    link.disconnect()
    for i, sec in enumerate(term.data.securities):
        expected = bars_now(term, sec, freq)
        assert np.array_equal(got["Time"][0], expected["Time"])
        assert np.array_equal(got["Close"][i], expected["Close"]) and np.array_equal(got["Volume"][i], expected["Volume"])


def _cells(*values):
    cells = np.empty((1, len(values)), dtype=object)
    cells[0, :] = values
    return cells


def _same(lean, ours):
    assert type(lean) is type(ours)
    if isinstance(ours, np.ndarray) and ours.dtype == object:
        assert lean.shape == ours.shape
        for a, b in zip(lean.ravel(), ours.ravel()):
            _same(a, b)
    else:
        assert lean.dtype == ours.dtype
        np.testing.assert_array_equal(lean, ours)


def test_the_lean_writer_reads_back_as_scipy_writes(tmp_path):
    # bar rows and texts, and a query's table: cells of texts (empty ones too), integer and number rows
    variables = {"Time": np.arange(7) + 739000.5, "Empty": np.zeros(0), "One": np.ones(1), "Market": "szse",
                 "Code": "600000", "F": "d", "Blank": "",
                 "Fields": _cells("Market", "EndDate", "NetProfit"),
                 "Columns": _cells(_cells("sse", "", "szse"), np.array([[20231231, 20240331, 0]]),
                                   np.array([[1.5, np.nan, -2.0]]))}
    (tmp_path / "lean.mat").write_bytes(mat_bytes(variables))
    scipy.io.savemat(str(tmp_path / "scipy.mat"), {k: v if isinstance(v, str) else v.reshape(1, -1)
                                                   for k, v in variables.items()})
    lean, ours = (load_mat(str(tmp_path / n), error="raise") for n in ("lean.mat", "scipy.mat"))
    assert lean.keys() == ours.keys()
    for name in ours:
        _same(lean[name], ours[name])


@pytest.mark.parametrize("value", ["七", np.ones((2, 3)), np.ones(3, dtype=np.int32), np.ones(2, dtype=bool)])
def test_the_terminal_leaves_what_the_lean_writer_does_not_lay_out_to_scipy(tmp_path, value):
    path = Terminal(Dataset(days=2), result_dir=str(tmp_path)).write_mat("other", {"V": value})
    scipy.io.savemat(path + ".scipy.mat", {"V": value})
    _same(load_mat(path, error="raise")["V"], load_mat(path + ".scipy.mat", error="raise")["V"])


def test_history_for_many_targets_in_one_request(terminal):
    link.connect(Terminal(Dataset(days=2, securities=universe(120)), result_dir=terminal.result_dir))
    targets = [{"Market": s.market, "Code": s.code} for s in link.current().data.securities]
    paths = vmcmd.vmSendCmdGetKData(targets, "min", 1, 0, 0, 0, "NA", False)
    assert len(set(paths)) == 120 and load_mat(paths[-1], error="raise")["Close"].shape == (1, 480)
    assert len(vmcmd.vmSendCmdGetCodeList("Index", 0)) == 120


def test_the_dataset_options_of_the_terminal_server():
    args = parser().parse_args(["terminal", "serve", "--listen", "unix:x", "--securities", "10", "--first-day", "20240105"])
    data = dataset_of(args.securities, args.first_day, args.days)
    assert len(data.securities) == 10 and data.trading_days[0] == 20240105 and len(data.trading_days) == 5


def velmoro_run(tmp_path, *args):
    return subprocess.run([sys.executable, "-m", "velmoro", "run", os.path.join(TOP, "examples", "strategy.py"),
                           "--out", str(tmp_path)] + list(args), capture_output=True, text=True, timeout=300,
                          cwd=str(tmp_path))


@pytest.mark.parametrize("args,words", [
    (["--first-day", "20240105"], "no history day before --begin"),
    (["--days", "2"], "end before --end 20240105"),
    (["--first-day", "2024"], "--first-day"),
    (["--securities", "0"], "--securities"),
    (["--terminal", "unix:/nowhere", "--securities", "9"], "embedded terminal's dataset"),
])
def test_dataset_options_that_cannot_be_met_are_one_line(tmp_path, args, words):
    proc = velmoro_run(tmp_path, "--targets", "all", "--begin", "20240104", "--end", "20240105", *args)
    assert proc.returncode == 2 and words in proc.stderr and "Traceback" not in proc.stderr


def test_a_run_on_every_security_of_the_dataset(tmp_path):
    proc = velmoro_run(tmp_path, "--targets", "all", "--securities", "30", "--first-day", "20240103", "--days", "2",
                       "--begin", "20240104", "--end", "20240104")
    assert proc.returncode == 0, proc.stderr
    assert json.loads((tmp_path / "summary.json").read_text())["bars"] == 229
