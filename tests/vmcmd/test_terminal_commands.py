"""Every command end to end against the simulated terminal, and the
terminal's market data and calendar."""
import datetime as dt
import json
import os

import numpy as np
import pytest

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import datetime_to_mft, mft_to_datetime
from velmoro.tframe.utils.exceptions import VmReturnError
from velmoro.tframe.utils.utilfunc import load_mat

T = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]
RUN_FACTOR = {"StraName": "f", "StraPath": "/src", "IndexName": "Index", "ToolBoxDesc": "d", "BeginDate": 20240102,
              "EndDate": 20240104}
BUY = {"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy", "Volume": 200}


def mat(path):
    return load_mat(path, error="raise")


def backtest(term):
    return vmcmd.vmSendCmdCreateTaskBackTest([1001], T, {"StrategyName": "bt"})


def realtrade(term):
    return vmcmd.vmSendCmdCreateTaskRealTrade({"StrategyName": "rt", "HandleList": [1001], "TargetList": T})


def bought(term):
    return vmcmd.vmSendCmdSTTradeOperation(BUY)


def is_list_of(*fields):
    return lambda got, term: isinstance(got, list) and got and all(set(fields) <= set(r) for r in got)


def is_mat(*variables):
    return lambda got, term: set(variables) <= set(mat(got))


# (command, arguments (or a function of the terminal giving them), check of the result)
E2E = [
    ("vmSendCmdGetKData", (T, "min", 1, 20240102, 20240102, 0, "NA", False),
     lambda got, term: [mat(p)["Close"].shape for p in got] == [(1, 240)] * 2),
    ("vmSendCmdGetKDataMulti", (T, "day", 0, 0, 0, "NA"), is_mat("sse_600000_Close", "szse_000001_Time", "Targets")),
    ("vmSendCmdGetKDataMultiFilePath", (T, "day", 0, 0, 0, "NA"), is_mat("sse_600000_Close")),
    ("vmSendCmdGetNKDataMulti", (T, "min", 1, 10, 20240103, 0, "NA"),
     lambda got, term: mat(got)["sse_600000_Time"].shape == (1, 10)),
    ("vmSendCmdGetRtData", (T,), is_list_of("Market", "Code", "Price", "PreClose", "Volume")),
    ("vmSendCmdGetTDPData", ("sse", "600000", 20240102, "NA", False),
     lambda got, term: mat(got)["Price"].shape == (1, 240)),
    ("vmSendCmdGetTDPDataMulti", (T, 20240102, 20240103, "NA"), is_mat("szse_000001_Price", "Targets")),
    ("vmSendCmdGetTDPDataMultiFilePath", (T, 20240102, 20240103, "NA"), is_mat("sse_600000_Volume")),
    ("vmSendCmdGetTradingTime", (T, "day", 20240101, 20240112), lambda got, term: mat(got)["Time"].shape == (1, 10)),
    ("vmSendCmdGetHistorySet", ("sse", "600000", "day", "Close", 0, 0),
     lambda got, term: got["Close"].shape == got["Time"].shape == (1, 3)),
    ("vmSendCmdGetMarketSet", ("day", ["Close", "Volume"], 0, 0), lambda got, term: got["Volume"].shape == (4, 3)),
    ("vmSendCmdGetHistoryInstruments", (T, 20240102, 20240104),
     lambda got, term: list(got) == ["SSE.600000", "SZSE.000001"] and got["SSE.600000"].shape == (1, 3)),
    ("vmSendCmdGetDatePeriodBarTime", (T, "min", 5, 0), lambda got, term: got.shape == (1, 3 * 48)),
    ("vmSendCmdGetCodeList", ("Index", 0), is_list_of("Code", "Market", "Weight", "Name", "BlockName")),
    ("vmSendCmdGetCodeListSet", ("SSE", 20240102, 20240103), lambda got, term: len(got) == 4 and "Day" in got[0]),
    ("vmSendCmdConvertTargets", ([{"Market": "CZCE", "Code": "sr2405"}],),
     lambda got, term: got == [{"Market": "czce", "Code": "SR405"}]),
    ("vmSendCmdGetCurDate", (), lambda got, term: got == 20240104),
    ("vmSendCmdGetCurTradeDate", (), lambda got, term: got == 20240104),
    ("vmSendCmdGetPreTradeDate", (), lambda got, term: got == 20240103),
    ("vmSendCmdGetTradingDays", (), lambda got, term: got == [20240102, 20240103, 20240104]),
    ("vmSendCmdGetTradingDaysCondition", ("sse", 20240105, 20240109),
     lambda got, term: got == [20240105, 20240108, 20240109]),
    ("vmSendCmdTransTradeTimeToTradeDate", (datetime_to_mft(dt.datetime(2024, 1, 5, 21)),),
     lambda got, term: got == 20240108),
    ("vmSendCmdGetTargetIns", ("czce", "SR888", 20240102, 20240103), is_list_of("TargetIns", "Day")),
    ("vmSendCmdGetTargetIns_20190830", ("sse", "600000", 20240102, 20240103),
     lambda got, term: [(r["TargetIns"], r["Day"]) for r in got] == [("600000", 20240102), ("600000", 20240103)]),
    ("vmSendCmdGetFutureContracts", (20240102, "czce", "SR"), lambda got, term: [r.Code for r in got][:2] == [
        "SR401", "SR405"]),
    ("vmSendCmdGetFutureInfo_20190920", ([{"Market": "czce", "Code": "SR405"}],),
     is_list_of("Multiplier", "LongMargin", "ShortMargin")),
    ("vmSendCmdGetFutureInfoExculusively", ([{"Market": "czce", "Code": "CF888"}],),
     lambda got, term: got[0].Code == "CF888" and got[0].Variety == "CF"),
    ("vmSendCmdGetFutureInfoExculusively_20190918", ([{"Market": "czce", "Code": "SR409"}],), is_list_of("PriceTick")),
    ("vmSendCmdGetStockInfoExculusively", (T,), is_list_of("Name", "LotSize", "LongMargin", "ShortMargin")),
    ("vmSendCmdGetOptionCode", (["sse", "510050", 20240101, 20240201, 0],), lambda got, term: got == []),
    ("vmSendCmdGetOptionData", ("sse", "10000001"), lambda got, term: got == []),
    ("vmSendCmdGetOptionInfo", ("sse", "10000001"), lambda got, term: got == []),
    ("vmSendCmdGetOptionPos", ("sse", "10000001"), lambda got, term: got == []),
    ("vmSendCmdGetToolBoxRootofCacheDir", (), lambda got, term: os.path.isdir(got)),
    ("vmSendCmdGetStrategyID", lambda term: realtrade(term) and (),
     lambda got, term: [(s.StrategyName, s.Status) for s in got] == [("rt", "created")]),
    ("vmSendCmdSTTradeOperation", (BUY,), lambda got, term: got == 1),
    ("vmSendCmdSTTradeStopOrder", ({"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "sell",
                                    "Volume": 100, "StopPrice": 1.0},), lambda got, term: got == 1),
    ("vmSendCmdCancelOrder", ("s", 1001, 1), lambda got, term: got is None),
    ("vmSendCmdCancelStopOrder", ("s", 1001, 1), lambda got, term: got is False),
    ("vmSendCmdCancelFrozen", (1001,), lambda got, term: got is None),
    ("vmSendCmdCloseOperation", lambda term: bought(term) and ("s", 1001),
     lambda got, term: vmcmd.vmSendCmdSTGetOrderInfoByDate([1001], [])[-1].side == "buy"),  # bought today: kept
    ("vmSendCmdSTOrderInfo", lambda term: ([1001], [bought(term)]), is_list_of("order_id", "account_handle", "market")),
    ("vmSendCmdSTUnFinishedOrderInfo", lambda term: bought(term) and ([1001], []), lambda got, term: got == []),
    ("vmSendCmdSTGetOrderInfoByDate", lambda term: bought(term) and ([], []),
     lambda got, term: [(o.order_id, o["market"], o["code"]) for o in got] == [(1, "sse", "600000")]),
    ("vmSendCmdSTGetLastOrderInfo", lambda term: bought(term) and (1001, T, "buy", ""), is_list_of("order_id")),
    ("vmSendCmdSTGetExecutionInfo", lambda term: bought(term) and ([1001], []), is_list_of("price", "commission")),
    ("vmSendCmdSTGetLastExecutionInfo", lambda term: bought(term) and (1001, T[0], "buy", "open"),
     lambda got, term: [e.volume for e in got] == [200]),
    ("vmSendCmdGetStopOrderInfo", (1001, []), lambda got, term: got == []),
    ("vmSendCmdGetTradeAccountHandle", ("stock-hedge",), lambda got, term: got == 1002),
    ("vmSendCmdGetAccountInfo", ([1002, 1001],), lambda got, term: [a.Handle64 for a in got] == [1002, 1001]),
    ("vmSendCmdSTTradeGetAccountList", (), is_list_of("Handle", "AccountID")),
    ("vmSendCmdIsAccountValid", (42,), lambda got, term: got is False),
    ("vmSendCmdSTGetAccountPosition", lambda term: bought(term) and (1001, "sse", "600000"),
     lambda got, term: got[:2] == (200, 0) and got[2] > 0),
    ("vmSendCmdGetAccountCash", ([1002],), lambda got, term: got[0].available == got[0].balance == 500000.0),
    ("vmSendCmdGetAccountTargetGrossPosition", lambda term: bought(term) and ([1001], T),
     is_list_of("account_handle", "position", "avg_price")),
    ("vmSendCmdGetAccountPositionAndCash", ([], []), lambda got, term: len(got[0]) == 3 and got[1] == []),
    ("vmSendCmdGetAccountConfig", ("s", 1001), lambda got, term: got.TargetConfigs == []),
    ("vmSendCmdSetAccountConfigTo", ("s", 1001, [{"Market": "sse", "Code": "600000", "Max": 5}]),
     lambda got, term: vmcmd.vmSendCmdGetAccountConfig("s", 1001).TargetConfigs[0].Max == 5),
    ("vmSendCmdCreateTaskBackTest", ([1001], T, {}), lambda got, term: type(got) is np.int64),
    ("vmSendCmdStartTaskBackTest", lambda term: (backtest(term),), lambda got, term: got is None),
    ("vmSendCmdStopTaskBackTest", lambda term: (backtest(term), T, [], {}), lambda got, term: got is None),
    ("vmSendCmdCreateTaskRealTrade", ({"HandleList": [1001], "TargetList": T},), lambda got, term: got > 0),
    ("vmSendCmdStartTaskRealTrade", lambda term: (realtrade(term),), lambda got, term: got is None),
    ("vmSendCmdStopTaskRealTrade", lambda term: (realtrade(term), "rt", [1001]), lambda got, term: got is None),
    ("vmSendCmdCreateTaskRunFactor", (RUN_FACTOR,), lambda got, term: type(got) is np.int64),
    ("vmSendCmdStartTaskRunFactor", lambda term: (vmcmd.vmSendCmdCreateTaskRunFactor(RUN_FACTOR),),
     lambda got, term: got is None),
    ("vmSendCmdStopTaskRunFactor", lambda term: (vmcmd.vmSendCmdCreateTaskRunFactor(RUN_FACTOR), "/tmp/rec"),
     lambda got, term: got is None),
    ("vmSendCmdGetBackTestPerformance", lambda term: (backtest(term),),
     lambda got, term: {r.Item: r.Value for r in got}["Return"] == 0.0),
    ("vmSendCmdKeepActive", (), lambda got, term: got is None),
    ("vmSendCmdRtNotifyReceived", (), lambda got, term: got is None),
    ("vmSendCmdAccountNotifyReceived", (), lambda got, term: got is None),
    ("vmSendCmdPutLog", (1, "a line"), lambda got, term: term.log == ["a line"]),
    ("vmSendCmdRiseError", (1, KeyError("k")), lambda got, term: got is None),
    ("vmSendCmdTest", ("echo", [1, "x"]), lambda got, term: got == [1, "x"]),
    ("vmSendCmdToolboxCheck", ("python", "1.0", ["3.1.4"]), lambda got, term: got.wstrCoreVersion == "3.1.4"),
    ("vmSendCmdSubscribeAccount", ("stock-main",), lambda got, term: got is None),
    ("vmSendCmdUnsubscribeAccount", (["stock-main"],), lambda got, term: got is None),
    ("vmSendCmdSubscribeIns", (T, "min"), lambda got, term: got is None),
    ("vmSendCmdUnsubscribeIns", (T, "min"), lambda got, term: got is None),
    ("vmSendCmdSubscribeInstrument", (T,), lambda got, term: got is None),
    ("vmSendCmdUnsubscribeInstrument", (), lambda got, term: got is None),
    ("vmSendCmdSubscribeFactor", (T, ["momentum_5d"]), lambda got, term: got is None),
    ("vmSendCmdUnsubscribeFactor", (T, "momentum_5d"), lambda got, term: got is None),
    ("vmSendCmdCheckSubscribeNum", ("min", 500), lambda got, term: got is None),
    ("vmSendCmdGetFactor", ("momentum_5d", T, 0, 0, 0), is_mat("Date", "bp_sse_600000", "bp_szse_000001")),
    ("vmSendCmdGetFactorMultiFilePath", (["momentum_5d", "turnover"], T, 0, 0),
     lambda got, term: len(got) == 2 and all("bp_sse_600000" in mat(p) for p in got)),
    ("vmSendCmdAskFactor", ("no such factor", T, 0, 0, 0), lambda got, term: got is None),
    ("vmSendCmdGetFundamentalSet", (T, "income", ["Revenue"], 20220101, 20221231),
     lambda got, term: got["Columns"][0, -1].shape == (1, 8)),  # 4 reports of 2022, 2 targets
    ("vmSendCmdGetFdmt", ("en", "is_pit", json.dumps({"target_list": T[:1]})), is_mat("Fields", "Columns")),
    ("vmSendCmdFdmtFieldInfo", (["Revenue", "Cash"],), lambda got, term: got is None),
    ("vmSendCmdIsMTFundmental", ("balance", "Revenue"), lambda got, term: got is False),
    ("vmSendCmdGetRiskModel", ("en", "factor_return", json.dumps({"target_list": T})), is_mat("Fields", "Columns")),
    ("vmSendCmdRiskModelFieldInfo", (["Beta"],), lambda got, term: got is None),
]


def test_every_command_runs_end_to_end():
    assert {row[0] for row in E2E} == {n for n in vars(vmcmd) if n.startswith("vmSendCmd")}


@pytest.mark.parametrize("name,args,check", E2E, ids=[r[0] for r in E2E])
def test_command_end_to_end(terminal, name, args, check):
    if callable(args):
        args = args(terminal)
    got = getattr(vmcmd, name)(*args)
    assert check(got, terminal), got


def minute(term, day_index, position):
    """The time of a minute bar: day of the dataset, position in the day (1 = 09:31)."""
    return term.data.minute_times(term.data.trading_days[day_index])[position - 1]


def test_bars_exist_up_to_the_clock(terminal):
    terminal.now = minute(terminal, 1, 120)  # day 2, 11:30
    day = vmcmd.vmSendCmdGetKData(T[:1], "day", 1, 0, 0, 0, "NA", False)[0]
    mins = vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 0, 0, 0, "NA", False)[0]
    assert mat(day)["Time"].size == 1 and mat(mins)["Time"].size == 240 + 120
    assert mat(mins)["Time"][0, -1] == terminal.now


def test_bars_of_several_periods(terminal):
    one = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 20240102, 20240102, 0, "NA", False)[0])
    five = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 5, 20240102, 20240102, 0, "NA", False)[0])
    assert five["Time"].shape == (1, 48)
    np.testing.assert_array_equal(five["Time"][0], one["Time"][0, 4::5])
    np.testing.assert_array_equal(five["DayPos"][0], np.arange(1, 49))
    assert five["Open"][0, 1] == one["Open"][0, 5] and five["Close"][0, 1] == one["Close"][0, 9]
    assert five["High"][0, 1] == one["High"][0, 5:10].max() and five["Volume"][0, 1] == one["Volume"][0, 5:10].sum()
    seven = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 7, 20240102, 20240103, 0, "NA", False)[0])
    assert seven["Time"].size == 2 * 35 and seven["Time"][0, 34] == one["Time"][0, -1]  # the day's last bar closes


def test_last_bars_up_to_an_end_date(terminal):
    path = vmcmd.vmSendCmdGetNKDataMulti(T, "day", 1, 2, 20240103, 0, "NA")
    times = mat(path)["szse_000001_Time"][0]
    assert [mft_to_datetime(t).day for t in times] == [2, 3]


@pytest.mark.parametrize(
    "freq,begin,end,count,first,last",
    [
        ("min", 20240105, 20240109, 3 * 240, "2024-01-05 09:31", "2024-01-09 15:00"),
        ("day", 20240106, 20240107, 0, None, None),
        ("day", 20241230, 20250103, 5, "2024-12-30 15:00", "2025-01-03 15:00"),
        ("week", 20240101, 20240131, 5, "2024-01-05 15:00", "2024-01-31 15:00"),
        ("month", 20240115, 20240430, 4, "2024-01-31 15:00", "2024-04-30 15:00"),
        ("year", 20230601, 20241231, 2, "2023-12-29 15:00", "2024-12-31 15:00"),
    ],
)
def test_trading_time_covers_every_weekday(terminal, freq, begin, end, count, first, last):
    times = mat(vmcmd.vmSendCmdGetTradingTime(T, freq, begin, end))["Time"]
    assert times.shape == (1, count)
    if count:
        stamps = [mft_to_datetime(t).strftime("%Y-%m-%d %H:%M") for t in times[0, [0, -1]]]
        assert stamps == [first, last]
        assert (np.diff(times[0]) > 0).all()


def test_trading_time_matches_the_bars(terminal):
    bars = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 0, 0, 0, "NA", False)[0])["Time"]
    line = mat(vmcmd.vmSendCmdGetTradingTime(T, "min", 20240102, 20240104))["Time"]
    np.testing.assert_array_equal(bars, line)
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdGetTradingTime(T, "tick", 20240102, 20240104)


@pytest.mark.parametrize(
    "when,expected",
    [
        (dt.datetime(2024, 1, 3, 14, 0), 20240103),
        (dt.datetime(2024, 1, 3, 20, 0), 20240104),
        (dt.datetime(2024, 1, 5, 21, 30), 20240108),
        (dt.datetime(2024, 1, 6, 10, 0), 20240108),
        (dt.datetime(2024, 1, 7, 23, 0), 20240108),
    ],
)
def test_trade_date_of_a_date_time(terminal, when, expected):
    assert vmcmd.vmSendCmdTransTradeTimeToTradeDate(datetime_to_mft(when)) == expected


def test_the_clock_sets_today(terminal):
    terminal.now = minute(terminal, 0, 10)
    assert vmcmd.vmSendCmdGetCurTradeDate() == 20240102
    assert vmcmd.vmSendCmdGetPreTradeDate() == 20240101  # every weekday trades
    assert [r.TradeDate for r in vmcmd.vmSendCmdGetRtData(T)] == [20240102] * 2


def test_main_contract_rolls_over(terminal):
    records = vmcmd.vmSendCmdGetTargetIns_20190830("czce", "SR888", 20240410, 20240419)
    codes = [r["TargetIns"] for r in records]
    assert codes[0] == "SR405" and codes[-1] == "SR409" and codes == sorted(codes)
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdGetTargetIns_20190830("czce", "XX888", 20240410, 20240419)


def test_bar_time_line_is_loaded_then_removed(terminal):
    times = vmcmd.vmSendCmdGetDatePeriodBarTime(T, "day", 1, 0)
    assert times.shape == (1, 3)
    assert [f for f in os.listdir(terminal.result_dir) if f.startswith("bar_time")] == []
    vmcmd.vmSendCmdGetDatePeriodBarTime(T, "min", 1, minute(terminal, 0, 1))
    assert len([f for f in os.listdir(terminal.result_dir) if f.startswith("bar_time")]) == 1


def test_field_information_comes_as_messages(terminal, monkeypatch):
    shown = []
    monkeypatch.setattr(vmcmd, "user_info", lambda m: shown.append(("info", m)))
    monkeypatch.setattr(vmcmd, "user_warning", lambda m: shown.append(("warning", m)))
    vmcmd.vmSendCmdFdmtFieldInfo(["Revenue"])
    vmcmd.vmSendCmdRiskModelFieldInfo(["Beta", "Shoe size"])
    vmcmd.vmSendCmdToolboxCheck("python", "1.0", ["2.0"])
    assert [kind for kind, _ in shown] == ["info", "warning", "warning"]
    assert "Revenue" in shown[0][1] and "Shoe size" in shown[1][1]
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdToolboxCheck("matlab", "1.0", ["3.1.4"])
