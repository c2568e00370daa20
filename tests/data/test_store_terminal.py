"""The terminal on a market store: the generated market written into a
store and served back bar for bar, exported as CSV and imported again, a
halted security, a store of day bars only, and a run on the store."""
import datetime as dt
import os
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

from velmoro.data.ingest import ImportOptions, check_store, import_sources
from velmoro.data.store import MarketStore, StoreError
from velmoro.simterm.dataset import QUANTITIES, Dataset, universe
from velmoro.simterm.stored import StoreDataset, write_generated

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DAYS = 3


@pytest.fixture(scope="module")
def generated(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("gen") / "store")
    data = Dataset(start=dt.date(2024, 1, 2), days=DAYS, securities=universe(6))
    assert write_generated(folder, data) == 6 * 240 * DAYS
    return folder, data


def test_the_store_serves_the_generated_bars_and_day_bars(generated):
    folder, data = generated
    served = StoreDataset(folder)
    assert served.trading_days == data.trading_days
    assert [s.key for s in served.securities] == [s.key for s in data.securities]
    for day in data.trading_days:
        np.testing.assert_array_equal(served.minute_times(day), data.minute_times(day))
        for q in QUANTITIES:
            np.testing.assert_array_equal(served.day_bars(day)[q], data.day_bars(day)[q], err_msg=q)
    sec = data.securities[3]
    for freq in ("min", "day"):
        mine, theirs = served.bars(served.securities[3], freq), data.bars(sec, freq)
        for k in theirs:
            np.testing.assert_allclose(mine[k], theirs[k], err_msg=(freq, k))
    with pytest.raises(StoreError, match="already holds the days"):
        write_generated(folder, data)


def test_generate_export_as_csv_and_import_gives_the_same_bars(generated, tmp_path):
    folder, data = generated
    table = MarketStore(folder).read("bars/1min").to_pandas()
    local = table["time"].dt.tz_convert("Asia/Shanghai").dt.strftime("%Y-%m-%d %H:%M")
    export = table.assign(symbol=table["code"] + np.where(table["market"] == "sse", ".SH", ".SZ"), time=local)
    # a vendor's export: another order, comma-separated, start-labelled
    export["time"] = (pd.to_datetime(export["time"]) - pd.Timedelta(minutes=1)).dt.strftime("%Y-%m-%d %H:%M")
    export.drop(columns=["market", "code", "day"]).sample(frac=1, random_state=1).to_csv(tmp_path / "all.csv",
                                                                                         index=False)
    rows, found = import_sources(str(tmp_path / "s"), [str(tmp_path / "all.csv")], ImportOptions(label="start"))
    assert rows == {"1min": len(table)}
    assert [f.check.split(" [")[0] for f in found] == ["rows out of order"]
    again = StoreDataset(str(tmp_path / "s"))
    order = [again.row(again.security(s.market, s.code)) for s in data.securities]
    for day in data.trading_days:
        for q in QUANTITIES:
            np.testing.assert_array_equal(again.day_bars(day, order)[q], data.day_bars(day)[q])


def test_a_range_asked_in_batches_reads_each_day_once_and_then_lets_it_go(tmp_path):
    data = Dataset(start=dt.date(2024, 1, 2), days=6, securities=universe(4))
    write_generated(str(tmp_path / "s"), data)
    served = StoreDataset(str(tmp_path / "s"))
    reads, read = [], served.store.read
    served.store.read = lambda table, **kw: reads.append(table) or read(table, **kw)
    window, later = data.trading_days[:5], data.trading_days[5]
    for rows in ([0, 1], [2, 3], [3, 0]):  # the batches of one request walk the same days
        for make in ("range_bars", "day_range_bars"):
            mine, theirs = getattr(served, make)(rows, window), getattr(data, make)(rows, window)
            for k in theirs:
                np.testing.assert_allclose(mine[k], theirs[k], err_msg=(make, k))
    assert reads.count("bars/1min") == len(window)
    # a day past the range ends it: only the latest few days stay, the first is read again
    served.day_bars(later)
    served.day_bars(window[-1])
    assert reads.count("bars/1min") == len(window) + 1
    served.day_bars(window[0])
    assert reads.count("bars/1min") == len(window) + 2


def _csv(path, rows):
    pd.DataFrame(rows, columns=["code", "time", "open", "high", "low", "close", "volume"]).to_csv(path, index=False)
    return str(path)


def test_a_halted_day_and_gaps_are_flat_at_the_last_close(tmp_path):
    rows = [("600000", "2024-01-02 09:31", 10, 10.2, 9.9, 10.1, 5), ("600000", "2024-01-02 09:33", 10, 10, 9.8, 9.9, 5),
            ("000001", "2024-01-02 15:00", 5, 5, 5, 5, 1), ("000001", "2024-01-03 09:35", 5, 5.2, 5, 5.1, 1)]
    import_sources(str(tmp_path / "s"), [_csv(tmp_path / "x.csv", rows)], ImportOptions(frequency="1min"))
    served = StoreDataset(str(tmp_path / "s"))
    one, two = served.row(served.security("sse", "600000")), served.row(served.security("szse", "000001"))
    first = served.day_bars(20240102)
    assert first["Close"][one, :4].tolist() == [10.1, 10.1, 9.9, 9.9] and first["Volume"][one, 1] == 0
    assert (first["Close"][two, :-1] == 5).all() and first["Volume"][two].sum() == 1
    halted = served.day_bars(20240103)
    assert (halted["Close"][one] == 9.9).all() and halted["Volume"][one].sum() == 0
    assert halted["Close"][two, :4].tolist() == [5.0] * 4 and halted["Close"][two, 4] == 5.1


def velmoro(*args, cwd):
    return subprocess.run([sys.executable, "-m", "velmoro"] + list(args), cwd=str(cwd), capture_output=True,
                          text=True, timeout=300)


def test_the_readme_road_import_check_and_run_on_day_bars(tmp_path):
    days = pd.bdate_range("2024-01-02", periods=6)
    close = 10 + np.arange(6) * 0.1
    pd.DataFrame({"Date": days.strftime("%Y%m%d"), "Open": close - 0.05, "High": close + 0.1, "Low": close - 0.1,
                  "Close": close, "Volume": 1000}).to_csv(tmp_path / "600000.SH.csv", index=False)
    imported = velmoro("data", "import", "600000.SH.csv", "--store", "mystore", cwd=tmp_path)
    assert imported.returncode == 0 and "stored 6 day bars" in imported.stdout, imported.stderr
    check = velmoro("data", "check", "--store", "mystore", "--strict", cwd=tmp_path)
    assert check.returncode == 0 and "no findings" in check.stdout
    run = velmoro("run", os.path.join(TOP, "examples", "strategy.py"), "--store", "mystore", "--targets",
                  "sse.600000", "--frequency", "day", "--begin", "20240104", "--end", "20240109", "--out", "out", "--fq",
                  "forward",
                  cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "out" / "summary.json").exists()
    bad = velmoro("data", "import", "nothing.csv", "--store", "mystore", cwd=tmp_path)
    assert bad.returncode == 2 and bad.stderr.count("\n") == 1 and "nothing.csv" in bad.stderr


def test_the_terminal_server_takes_a_store_and_a_run_refuses_to_reshape_it(generated, tmp_path):
    from velmoro.cli import parser
    from velmoro.cli.errors import UserError
    from velmoro.cli.run import connect
    from velmoro.simterm.serve import dataset_of

    folder, data = generated
    args = parser().parse_args(["terminal", "serve", "--listen", "unix:/nowhere", "--store", folder])
    served = dataset_of(args.securities, args.first_day, args.days, args.store)
    assert isinstance(served, StoreDataset) and served.trading_days == data.trading_days
    with pytest.raises(UserError, match="--store serves the store's own market"):
        connect("embedded", 20240103, 20240104, securities=10, store=folder)
    with pytest.raises(UserError, match="holds the trading days 20240102..20240104"):
        connect("embedded", 20240102, 20240104, store=folder)


@pytest.mark.parametrize("command", [
    ["terminal", "serve", "--listen", "unix:/nowhere/sock", "--store", "nostore"],
    ["run", os.path.join(TOP, "examples", "strategy.py"), "--store", "nostore", "--targets", "all", "--begin",
     "20240103", "--end", "20240104"],
    ["data", "check", "--store", "nostore"],
])
def test_a_folder_that_is_no_store_is_one_line(tmp_path, command):
    proc = velmoro(*command, cwd=tmp_path)
    assert proc.returncode == 2 and proc.stderr.strip().count("\n") == 0 and "nostore: not a market store" in proc.stderr


def test_stored_day_bars_answer_day_requests_and_the_check_lists_those_that_disagree(tmp_path):
    minutes = [("600000", "2024-01-02 09:31", 10, 10.1, 9.9, 10.05, 100), ("600000", "2024-01-02 09:32", 10.05, 10.1,
               10, 10.06, 50), ("600000", "2024-01-03 09:31", 10.1, 10.2, 10, 10.1, 10),
               ("000001", "2024-01-02 09:31", 5, 5.1, 4.9, 5.05, 7)]
    # the first day agrees (more volume: the auctions), the second closes elsewhere
    days = [("600000", "20240102", 10, 10.2, 9.9, 10.06, 200), ("600000", "20240103", 10.1, 10.4, 10, 10.3, 10)]
    store = str(tmp_path / "s")
    import_sources(store, [_csv(tmp_path / "m.csv", minutes)], ImportOptions(frequency="1min"))
    import_sources(store, [_csv(tmp_path / "d.csv", days)], ImportOptions(frequency="day"))
    served = StoreDataset(store)
    stored, formed = (served.bars(served.security(*key), "day") for key in (("sse", "600000"), ("szse", "000001")))
    assert (stored["Close"].tolist(), stored["Volume"].tolist()) == ([10.06, 10.3], [200, 10])
    assert (formed["Close"][0], formed["Volume"][0]) == (5.05, 7)  # no stored day bar: from its minutes
    found = [f for f in check_store(store) if "disagree" in f.check]
    assert [(f.rows, f.examples) for f in found] == [(1, ["sse 600000 20240103"])]
