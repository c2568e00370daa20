"""Each command's request (send function, arguments and their forms) and
answer handling (fire, unchecked, checked, loaded file, int64), over a
recording transport."""
import datetime as dt
import math

import numpy as np
import pytest

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import datetime_to_mft
from velmoro.tframe.utils.exceptions import VmReturnError
from velmoro.tframe.utils.utilcls import DotDict as D

T = [{"Market": "sse", "Code": "600000"}, {"Market": "czce", "Code": "SR405"}]
DT = [D(Market="sse", Code="600000"), D(Market="czce", Code="SR405")]
IT = [D(Idx=0, Market="sse", Code="600000"), D(Idx=1, Market="czce", Code="SR405")]
P = {"StrategyName": "s", "Volume": 100}
DP = D(P)
RUN_FACTOR = {"StraName": "f", "StraPath": "/src", "IndexName": "Index", "ToolBoxDesc": "d", "BeginDate": 1,
              "EndDate": 2, "Other": 0}
REAL_TRADE = {"StrategyName": "rt", "HandleList": [1001, 1002], "TargetList": T}
NOON = datetime_to_mft(dt.datetime(2024, 1, 3, 12, 0, 5))
ANSWER = "the answer itself"
BOTH = ("listAccountCash", "listGrossPosition")

# (command, arguments, send function, arguments sent, answer, payload returned)
ROWS = [
    ("vmSendCmdGetKData", (T, "min", 1, 20240102, 20240103, 1, "NA", True), "VelmoroGetKData_send",
     (D(MarketCode=DT, KFrequency="min", KFreNum=1, BeginDate=20240102, EndDate=20240103, FilledUp=1, FQ="NA",
        NoReturn=True),), "checked", "listPaths"),
    ("vmSendCmdGetKDataMulti", (T, "day", 1, 2, 0, "NA"), "VelmoroGetKDataMulti_send",
     (D(KFrequency="day", BeginDate=1, EndDate=2, FilledUp=0, FQ="NA", NoReturn=False), DT), "checked", "wstrFilePath"),
    ("vmSendCmdGetKDataMultiFilePath", (T, "day", 1, 2, 0, "NA"), "VelmoroGetKDataMultiFilePath_send",
     (D(KFrequency="day", BeginDate=1, EndDate=2, FilledUp=0, FQ="NA", NoReturn=False), DT), "checked", "wstrFilePath"),
    ("vmSendCmdGetNKDataMulti", (T, "min", 5, 30, 20240103, 1, "NA"), "VelmoroGetNKDataMulti_send",
     (D(KFrequency="min", NCount=30, FreNum=5, EndDate=20240103, FilledUp=1, FQ="NA"), DT), "checked", "wstrFilePath"),
    ("vmSendCmdGetRtData", (T,), "VelmoroGetRtData_send", (DT,), "checked", "listRtData"),
    ("vmSendCmdGetTDPData", ("sse", "600000", 20240102, "NA", False), "VelmoroGetTDPData_send",
     (D(Market="sse", Code="600000", Date=20240102, FQ="NA", NoReturn=False, CheckPermission=True),), "checked",
     "wstrFilePath"),
    ("vmSendCmdGetTDPDataMulti", (T, 1, 2, "NA"), "VelmoroGetTDPDataMulti_send", (DT, 1, 2, "NA"), "checked",
     "wstrFilePath"),
    ("vmSendCmdGetTDPDataMultiFilePath", (T, 1, 2, "NA"), "VelmoroGetTDPDataMultiFilePath_send", (DT, 1, 2, "NA"),
     "checked", "wstrFilePath"),
    ("vmSendCmdGetTradingTime", (T, "min", 1, 2), "VelmoroGetTradingTime_send", (D(freq="min", beginD=1, endD=2), DT),
     "checked", "wstrFilePath"),
    ("vmSendCmdGetHistorySet", ("sse", "600000", "day", "Close", 1, 2), "VelmoroGetHistorySet_send",
     ("day", "Close", D(Market="sse", Code="600000"), 1, 2), "load", "wstrFilePath"),
    ("vmSendCmdGetMarketSet", ("day", ["Close"], 1, 2), "VelmoroGetMarketSet_send", ("day", ["Close"], 1, 2), "load",
     "wstrFilePath"),
    ("vmSendCmdGetCodeList", ("Index", 20180630), "VelmoroGetCodeList_send", ("Index", 20180630), "unchecked",
     "result"),
    ("vmSendCmdGetCodeListSet", ("Index", 1, 2), "VelmoroGetCodeListSet_send", ("Index", 1, 2), "checked",
     "listCodelist"),
    ("vmSendCmdConvertTargets", (), "VelmoroConvertTargets_send", ([], "czce"), "checked", "listMC"),
    ("vmSendCmdConvertTargets", (T, "shfe"), "VelmoroConvertTargets_send", (DT, "shfe"), "checked", "listMC"),
    ("vmSendCmdGetCurDate", (), "VelmoroGetCurDate_send", (), "unchecked", "result"),
    ("vmSendCmdGetCurTradeDate", (), "VelmoroGetCurTradeDate_send", (), "unchecked", "result"),
    ("vmSendCmdGetPreTradeDate", (), "VelmoroGetPreTradeDate_send", (), "unchecked", "result"),
    ("vmSendCmdGetTradingDays", (), "VelmoroGetTradingDays_send", (), "unchecked", "result"),
    ("vmSendCmdGetTradingDaysCondition", ("sse", 1, 2), "VelmoroGetTradingDaysByCondition_send", ("sse", 1, 2),
     "checked", "listDays"),
    ("vmSendCmdTransTradeTimeToTradeDate", (NOON,), "VelmoroTransTradeTimeToTradeDate_send", ("20240103T120005",),
     "unchecked", "result"),
    ("vmSendCmdGetTargetIns", ("czce", "SR888", 1, 2), "VelmoroGetTargetIns_send", ("czce", "SR888", 1, 2), "checked",
     "listIns"),
    ("vmSendCmdGetTargetIns_20190830", ("czce", "SR888", 1, 2), "VelmoroGetTargetIns_20190830_send",
     ("czce", "SR888", 1, 2), "checked", "listIns"),
    ("vmSendCmdGetFutureContracts", (20240102, "czce", "SR"), "VelmoroGetFutureContracts_send",
     (20240102, "czce", "SR"), "checked", "listComp"),
    ("vmSendCmdGetFutureInfo_20190920", (T,), "VelmoroGetFutureInfo_20190920_send", (DT,), "checked", "listInfo"),
    ("vmSendCmdGetFutureInfoExculusively", (T,), "VelmoroGetFutureInfoExculusively_send", (DT,), "checked",
     "listFutureInfoExcu"),
    ("vmSendCmdGetFutureInfoExculusively_20190918", (T,), "VelmoroGetFutureInfoExculusively_20190918_send", (DT,),
     "checked", "listFutureInfoExcu"),
    ("vmSendCmdGetStockInfoExculusively", (T,), "VelmoroGetStockInfoExculusively_send", (DT,), "checked",
     "listStockInfoExcu"),
    ("vmSendCmdGetOptionData", ("sse", "1"), "VelmoroGetOptionData_send", ("sse", "1"), "unchecked", "result"),
    ("vmSendCmdGetOptionInfo", ("sse", "1"), "VelmoroGetOptionInfo_send", ("sse", "1"), "unchecked", "result"),
    ("vmSendCmdGetOptionPos", ("sse", "1"), "VelmoroGetOptionPos_send", ("sse", "1"), "unchecked", "result"),
    ("vmSendCmdGetToolBoxRootofCacheDir", (), "VelmoroGetToolBoxRootofCacheDir_send", (), "checked",
     "wstrRootCacheDir"),
    ("vmSendCmdGetStrategyID", (), "VelmoroGetStrategyID_send", (), "checked", "listStrategyInfo"),
    ("vmSendCmdSTTradeOperation", (P,), "VelmoroSTTradeOperation_send", (DP,), "checked", "ClientID"),
    ("vmSendCmdSTTradeStopOrder", (P,), "VelmoroSTTradeStopOrder_send", (DP,), "checked", "ClientID"),
    ("vmSendCmdCancelOrder", ("s", 1001, 7), "VelmoroCancelOrder_send", ("s", 1001, 7), "fire", None),
    ("vmSendCmdCancelStopOrder", ("s", 1001, 7), "VelmoroCancelStopOrder_send", ("s", 1001, 7), "unchecked",
     "bResult"),
    ("vmSendCmdCancelFrozen", (1001,), "VelmoroCancelFrozen_send", (1001,), "fire", None),
    ("vmSendCmdCloseOperation", ("s", 1001), "VelmoroCloseOperation_send", ("s", np.int64(1001)), "fire", None),
    ("vmSendCmdSTOrderInfo", ([1001], [3]), "VelmoroGetOrderInfo_send", ([1001], [3]), "checked", "listOrders"),
    ("vmSendCmdSTUnFinishedOrderInfo", ([1001], [1]), "VelmoroGetUnFinishedOrderInfo_send", ([1001], [1]), "checked",
     "listOrders"),
    ("vmSendCmdSTGetOrderInfoByDate", ([1001], []), "VelmoroGetOrderInfoByDate_send", ([1001], []), "checked",
     "listOrders"),
    ("vmSendCmdSTGetLastOrderInfo", (1001, T, "buy", "open"), "VelmoroGetLastOrderInfo_send", (1001, T, "buy", "open"),
     "checked", "listOrders"),
    ("vmSendCmdSTGetExecutionInfo", ([1001], [1]), "VelmoroGetDailyExecution_send", ([1001], [1]), "checked",
     "listExecutions"),
    ("vmSendCmdSTGetLastExecutionInfo", (1001, T[0], "buy", "open"), "VelmoroGetLastExecution_send",
     (1001, T[0], "buy", "open"), "checked", "listExecutions"),
    ("vmSendCmdGetStopOrderInfo", (1001, [1]), "VelmoroGetStopOrderInfo3_1_4_send", (1001, [1]), "checked",
     "listStopOrderInfo"),
    ("vmSendCmdGetTradeAccountHandle", ("main",), "VelmoroSTTRadeGetAccountHandle_send", ("main",), "unchecked",
     "result"),
    ("vmSendCmdSTTradeGetAccountList", (), "VelmoroSTTradeGetAccountList_send", (), "unchecked", "result"),
    ("vmSendCmdIsAccountValid", (1001,), "VelmoroIsAccountValid_send", (1001,), "unchecked", "result"),
    ("vmSendCmdGetAccountCash", ([1001],), "VelmoroGetAccountCash_send", ([1001],), "checked", "listAccountCash"),
    ("vmSendCmdGetAccountTargetGrossPosition", ([1001], T), "VelmoroGetAccountTargetGrossPosition_send",
     ([1001], DT), "checked", "listGrossPosition"),
    ("vmSendCmdGetAccountPositionAndCash", ([1001], T), "VelmoroGetAccountPositionAndCashInfo_send", ([1001], DT),
     "checked", BOTH),
    ("vmSendCmdGetAccountConfig", ("s", 1001), "VelmoroGetAccountConfig_send", ("s", 1001), "unchecked", "result"),
    ("vmSendCmdSetAccountConfigTo", ("s", 1001, [P]), "VelmoroSetAccountConfigTo_send", ("s", 1001, [DP]), "fire",
     None),
    ("vmSendCmdCreateTaskBackTest", ([1001], T, P), "VelmoroCreateTaskBackTest_send", (DP, [1001], DT), "int64",
     "i64TaskID"),
    ("vmSendCmdStartTaskBackTest", (5,), "VelmoroStartTaskBackTest_send", (5,), "checked", None),
    ("vmSendCmdStopTaskBackTest", (5, T, [P], P), "VelmoroStopTaskBackTest_send", (5, DP, IT, [DP]), "checked", None),
    ("vmSendCmdCreateTaskRealTrade", (REAL_TRADE,), "VelmoroCreateTaskRealTrade_send",
     (D(REAL_TRADE), [1001, 1002], DT), "int64", "i64TaskID"),
    ("vmSendCmdStartTaskRealTrade", (5,), "VelmoroStartTaskRealTrade_send", (5,), "checked", None),
    ("vmSendCmdStopTaskRealTrade", (5, "s", [1001]), "VelmoroStopTaskRealTrade_send", (5, "s", [1001]), "checked",
     None),
    ("vmSendCmdCreateTaskRunFactor", (RUN_FACTOR,), "VelmoroCreateTaskRunFactor_send",
     (D(wstrFactorName="f", wstrSrcPath="/src", wstrIndexPlateName="Index", wstrToolBoxDes="d", iBegin=1, iEnd=2),),
     "int64", "i64TaskID"),
    ("vmSendCmdStartTaskRunFactor", (5,), "VelmoroStartTaskRunFactor_send", (5,), "checked", None),
    ("vmSendCmdStopTaskRunFactor", (5, "/d"), "VelmoroStopTaskRunFactor_send", (5, "/d"), "checked", None),
    ("vmSendCmdGetBackTestPerformance", (5,), "VelmoroGetBackTestPerformance_send", (5,), "checked", "listDetail"),
    ("vmSendCmdKeepActive", (), "VelmoroKeepActive_send", (), "fire", None),
    ("vmSendCmdRtNotifyReceived", (), "VelmoroRtNotifyReceived_send", (), "fire", None),
    ("vmSendCmdAccountNotifyReceived", (), "VelmoroAccountNotifyReceived_send", (), "fire", None),
    ("vmSendCmdPutLog", (5, "line"), "VelmoroPutLog_send", (5, "line"), "fire", None),
    ("vmSendCmdRiseError", (5, ValueError("bad")), "VelmoroRiseError_send", (5, "bad"), "fire", None),
    ("vmSendCmdTest", ("echo", [1]), "VelmoroCmdTest_send", ("echo", [1]), "checked", "listResult"),
    ("vmSendCmdToolboxCheck", ("python", "1.0", ["3.1.4"]), "VelmoroToolboxCheck_send", ("python", "1.0", ["3.1.4"]),
     "checked", ANSWER),
    ("vmSendCmdSubscribeAccount", ("a",), "VelmoroSubscribeAccount_send", ("a",), "fire", None),
    ("vmSendCmdUnsubscribeAccount", (["a"],), "VelmoroUnsubscribeAccount_send", (["a"],), "fire", None),
    ("vmSendCmdSubscribeIns", (T, "min"), "VelmoroSubscribeIns_send", (IT, "min"), "fire", None),
    ("vmSendCmdSubscribeIns", ([], "min"), "VelmoroSubscribeIns_send", ([], "min"), "fire", None),
    ("vmSendCmdUnsubscribeIns", (T, "min"), "VelmoroUnsubscribeIns_send", (IT, "min"), "fire", None),
    ("vmSendCmdSubscribeInstrument", (T,), "VelmoroSubscribeInstrument_send", (IT,), "fire", None),
    ("vmSendCmdUnsubscribeInstrument", (), "VelmoroUnsubscribeInstrument_send", (), "fire", None),
    ("vmSendCmdSubscribeFactor", (T, ["f", "g"]), "VelmoroSubscribeFactor_send",
     (IT, [D(Idx=0, FactorName="f"), D(Idx=1, FactorName="g")]), "fire", None),
    ("vmSendCmdUnsubscribeFactor", (T, "f"), "VelmoroUnsubscribeFactor_send", (IT, "f"), "fire", None),
    ("vmSendCmdCheckSubscribeNum", ("min", 10), "VelmoroCheckSubscribeNum_send", ("min", 10), "checked", None),
    ("vmSendCmdGetFactor", ("f", T, 1, 2, 3), "VelmoroGetFactor_send", ("f", DT, 1, 2, 3), "checked", "wstrFilePath"),
    ("vmSendCmdGetFactorMultiFilePath", (["f"], T, 1, 2), "VelmoroGetFactorMultiFilePath_send", (["f"], DT, 1, 2, 0),
     "checked", "listPaths"),
    ("vmSendCmdAskFactor", ("f", T, 1, 2, 3), "VelmoroAskFactor_send", ("f", DT, 1, 2, 3), "unchecked", None),
    ("vmSendCmdGetFundamentalSet", (T, "income", ["Revenue"], 1, 2), "VelmoroGetFundamentalSet_send",
     ("income", DT, ["Revenue"], 1, 2), "load", "wstrFilePath"),
    ("vmSendCmdGetFundamentalSet", ([], "income", ["Revenue"], 1, 2), "VelmoroGetFundamentalSet_send",
     ("income", [], ["Revenue"], 1, 2), "load", "wstrFilePath"),
    ("vmSendCmdGetFdmt", ("en", "is_pit", "{}"), "VelmoroGetFundamentalSet2_send", ("en", "is_pit", "{}"), "checked",
     "wstrFilePath"),
    ("vmSendCmdFdmtFieldInfo", (["a"],), "VelmoroFdmtFieldInfo_send", (["a"],), "checked", None),
    ("vmSendCmdIsMTFundmental", ("income", "Revenue"), "VelmoroIsMTFundmental_send", ("income", "Revenue"),
     "unchecked", "IsMTFundmental"),
    ("vmSendCmdGetRiskModel", ("en", "q", "{}"), "VelmoroGetRiskModelSet_send", ("en", "q", "{}"), "checked",
     "wstrFilePath"),
    ("vmSendCmdRiskModelFieldInfo", (["a"],), "VelmoroRiskModelFieldInfo_send", (["a"],), "checked", None),
]
FUNC_NAMES = {"vmSendCmdSTGetOrderInfoByDate": "vmSendCmdSTDailyOrderInfo"}
# commands whose answers take more than one row to describe (tested with their algorithms)
ALGORITHMS = {
    "vmSendCmdGetHistoryInstruments", "vmSendCmdGetDatePeriodBarTime", "vmSendCmdGetOptionCode",
    "vmSendCmdGetAccountInfo", "vmSendCmdSTGetAccountPosition",
}
GUARDED = {
    "vmSendCmdStartTaskBackTest": (), "vmSendCmdStopTaskBackTest": ([], [], {}), "vmSendCmdStartTaskRealTrade": (),
    "vmSendCmdStartTaskRunFactor": (), "vmSendCmdStopTaskRunFactor": ("/d",), "vmSendCmdPutLog": ("x",),
    "vmSendCmdRiseError": ("x",),
}


def _payload_names(payload):
    if payload in (None, ANSWER):
        return ()
    return payload if isinstance(payload, tuple) else (payload,)


def test_every_command_is_covered():
    covered = {row[0] for row in ROWS} | ALGORITHMS
    assert covered == {n for n in vars(vmcmd) if n.startswith("vmSendCmd")}


@pytest.fixture
def loads(monkeypatch):
    calls = []

    def load_mat(*args, **kw):
        calls.append((args, kw))
        return {"loaded": args[0]}

    monkeypatch.setattr(vmcmd, "load_mat", load_mat)
    return calls


@pytest.mark.parametrize("name,args,send,sent,answer,payload", ROWS, ids=[r[0] for r in ROWS])
def test_request_and_answer(wire, loads, monkeypatch, name, args, send, sent, answer, payload):
    values = {attr: object() for attr in _payload_names(payload)}
    if answer == "int64":
        values[payload] = 123
    if answer != "fire":
        # unchecked commands ignore the status: give them an error
        wire.reply(level=1 if answer == "unchecked" else 3, **values)
    shown = []
    monkeypatch.setattr(vmcmd, "user_info", shown.append)  # an INFO text is shown, the payload still returned
    got = getattr(vmcmd, name)(*args)
    assert [s for s, _ in wire.sent] == [send]
    assert wire.same(wire.sent[0][1], sent), wire.sent[0][1]
    assert wire.asked == ([] if answer == "fire" else [FUNC_NAMES.get(name, name)])
    assert len(shown) == (0 if answer in ("fire", "unchecked") else 1)
    if answer == "load":
        assert loads == [((values[payload],), {"error": "raise"})] and got == {"loaded": values[payload]}
    elif answer == "int64":
        assert type(got) is np.int64 and got == 123
    elif payload == ANSWER:
        assert got.result.errLevel == 3
    elif isinstance(payload, tuple):
        assert type(got) is tuple and all(g is values[p] for g, p in zip(got, payload))
    else:
        assert got is values.get(payload)


CHECKED = [r for r in ROWS if r[4] in ("checked", "load", "int64")]


@pytest.mark.parametrize("name,args,send,sent,answer,payload", CHECKED, ids=[r[0] for r in CHECKED])
def test_error_answer_raises_before_the_payload(wire, loads, name, args, send, sent, answer, payload):
    wire.reply(level=1)  # no payload attribute: reading one would fail otherwise
    with pytest.raises(VmReturnError) as exc:
        getattr(vmcmd, name)(*args)
    assert FUNC_NAMES.get(name, name) in str(exc.value) and "77" in str(exc.value)
    assert loads == []


@pytest.mark.parametrize("name,rest", sorted(GUARDED.items()))
def test_nan_task_id_sends_nothing(wire, name, rest):
    assert getattr(vmcmd, name)(float("nan"), *rest) is None
    assert getattr(vmcmd, name)(np.float64("nan"), *rest) is None
    assert wire.sent == [] and wire.asked == []
    if name not in ("vmSendCmdPutLog", "vmSendCmdRiseError"):
        wire.reply()
    getattr(vmcmd, name)(0, *rest)
    assert len(wire.sent) == 1 and wire.sent[0][1][0] == 0


class Real:
    def __float__(self):
        return float("nan")


@pytest.mark.parametrize("task_id,sent", [
    (np.int64(5), True), (np.float32("nan"), False), (Real(), False), (True, True), (2 ** 2000, None), ("1", None),
])
def test_nan_guard_tests_as_math_isnan(wire, task_id, sent):
    # the guard's answer and its errors are math.isnan's for every kind of id
    try:
        expected = not math.isnan(task_id)
    except (TypeError, OverflowError) as exc:
        with pytest.raises(type(exc)) as info:
            vmcmd.vmSendCmdPutLog(task_id, "x")
        assert str(info.value) == str(exc)
        return
    assert expected is sent
    vmcmd.vmSendCmdPutLog(task_id, "x")
    assert len(wire.sent) == int(sent)


def test_nan_guard_calls_a_replaced_isnan(wire, monkeypatch):
    seen = []
    monkeypatch.setattr(vmcmd, "isnan", lambda v: seen.append(v) or v == "skip")
    assert vmcmd.vmSendCmdPutLog("skip", "x") is None and wire.sent == []
    vmcmd.vmSendCmdPutLog("send", "x")
    assert seen == ["skip", "send"] and len(wire.sent) == 1


# commands sending a number they were given first, unconverted
NUMBER_FIRST = [r for r in ROWS if r[1] and isinstance(r[1][0], (int, float)) and r[3][:1] == r[1][:1]
                and r[0] not in GUARDED]


@pytest.mark.parametrize("name,args,send,sent,answer,payload", NUMBER_FIRST, ids=[r[0] for r in NUMBER_FIRST])
def test_other_commands_send_a_nan_first_argument(wire, loads, name, args, send, sent, answer, payload):
    if answer != "fire":
        wire.reply(**{attr: 1 for attr in _payload_names(payload)})
    getattr(vmcmd, name)(float("nan"), *args[1:])
    assert len(wire.sent) == 1


def test_indexed_records_need_market_and_code(wire):
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdSubscribeInstrument([{"Market": "sse"}])
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdCreateTaskRunFactor({"StraName": "f"})
    assert wire.sent == []
