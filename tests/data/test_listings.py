"""Listing and delisting dates: imported from a securities table (or the
bar table's own columns), a later import's facts winning, and served: the
instrument queries name them, and a security has no bars and takes no
orders before its listing day or from its delisting day on."""
import numpy as np
import pandas as pd
import pytest

from velmoro.data.ingest import ImportOptions, import_sources
from velmoro.data.store import MarketStore
from velmoro.simterm import Terminal
from velmoro.simterm.stored import StoreDataset
from velmoro.tframe.utils.utilcls import DotDict

DAYS = ["2024-01-02", "2024-01-03", "2024-01-04"]


@pytest.fixture
def store(tmp_path):
    bars = pd.DataFrame([(code, day, 10.0, 10.0, 10.0, 10.0, 100.0) for code in ("600000.SH", "000001.SZ")
                         for day in DAYS], columns=["code", "time", "open", "high", "low", "close", "volume"])
    bars.to_csv(tmp_path / "bars.csv", index=False)
    # the securities table, with its own spellings; a second import tells more and wins
    pd.DataFrame({"ts_code": ["600000.SH", "000001.SZ"], "name": ["Pudong", "Ping An"],
                  "list_date": [20240103, None]}).to_csv(tmp_path / "securities.csv", index=False)
    pd.DataFrame({"symbol": ["sz000001"], "delist_date": ["2024-01-04"]}).to_csv(tmp_path / "later.csv", index=False)
    folder = str(tmp_path / "s")
    rows, _ = import_sources(folder, [str(tmp_path / "bars.csv"), str(tmp_path / "securities.csv")], ImportOptions())
    assert rows == {"day": 6, "securities": 2}
    assert import_sources(folder, [str(tmp_path / "later.csv")], ImportOptions())[0] == {"securities": 1}
    return folder


def test_the_store_keeps_what_the_latest_import_told(store):
    table = MarketStore(store).securities().set_index("code")
    assert table.loc["600000", ["name", "listed"]].tolist() == ["Pudong", 20240103]
    assert table.loc["000001", ["name", "delisted"]].tolist() == ["Ping An", 20240104]
    assert np.isnan(table.loc["000001", "listed"]) and np.isnan(table.loc["600000", "delisted"])


@pytest.mark.parametrize("day,served", [(20240102, ["szse.000001"]), (20240103, ["sse.600000", "szse.000001"]),
                                        (20240104, ["sse.600000"])])
def test_a_security_is_served_only_while_it_is_on_the_market(store, tmp_path, day, served):
    term = Terminal(StoreDataset(store), result_dir=str(tmp_path / "files"))
    members = term.handle("GetCodeList", ("Index", day)).result
    assert sorted("{}.{}".format(m.Market, m.Code) for m in members) == served
    bars = term.data.day_bars(day)
    term.now = float(term.data.minute_times(day)[5])
    for sec in term.data.securities:
        listed = "{}.{}".format(sec.market, sec.code) in served
        row = term.data.row(sec)
        assert np.isnan(bars["Close"][row]).all() != listed and (bars["Volume"][row].sum() > 0) == listed
        order = DotDict(Handle=1001, Market=sec.market, Code=sec.code, Side="buy", Volume=100, Price=10.0)
        answer = term.handle("STTradeOperation", (order,))
        assert (answer.result.errLevel == 0) == listed, answer.result.errInfo
        if not listed:
            assert "does not trade on {}".format(day) in answer.result.errInfo


def test_the_stock_information_names_the_dates(store, tmp_path):
    term = Terminal(StoreDataset(store), result_dir=str(tmp_path / "files"))
    targets = [DotDict(Market="sse", Code="600000"), DotDict(Market="szse", Code="000001")]
    info = term.handle("GetStockInfoExculusively", (targets,)).listStockInfoExcu
    assert [(i.Name, i.ListDate, i.DelistDate) for i in info] == [("Pudong", 20240103, 0), ("Ping An", 0, 20240104)]
