"""Every documented terminal command exists with its parameter names and
defaults, and the module offers no other command."""
import inspect

import pytest

from velmoro.tframe.comm import vmcmd

_ = inspect.Parameter.empty

# command -> parameters, with (name, default) where a default is documented
CATALOGUE = {
    # market data
    "vmSendCmdGetKData": ["targets", "kFreq", "kFreNum", "beginDate", "endDate", "filledUp", "fqType", "noReturn"],
    "vmSendCmdGetKDataMulti": ["targetList", "kFreq", "beginDate", "endDate", "filledUp", "fqType"],
    "vmSendCmdGetKDataMultiFilePath": ["targetList", "kFreq", "beginDate", "endDate", "filledUp", "fqType"],
    "vmSendCmdGetNKDataMulti": ["targetList", "kFreq", "kFreNum", "nCount", "endDate", "filledUp", "fqType"],
    "vmSendCmdGetRtData": ["targetList"],
    "vmSendCmdGetTDPData": ["market", "code", "date", "fqType", "no_return", ("check_permission", True)],
    "vmSendCmdGetTDPDataMulti": ["targetList", "beginDate", "endDate", "fqType"],
    "vmSendCmdGetTDPDataMultiFilePath": ["targetList", "beginDate", "endDate", "fqType"],
    "vmSendCmdGetTradingTime": ["targetList", "kFreq", "beginDay", "endDay"],
    "vmSendCmdGetHistorySet": ["Market", "Code", "CatName", "ItemName", "BeginDate", "EndDate"],
    "vmSendCmdGetMarketSet": ["wstrCat", "listItem", "iBeginDate", "iEndDate"],
    "vmSendCmdGetHistoryInstruments": ["targets", "begin_date", "end_date", ("fq_type", "NA")],
    "vmSendCmdGetDatePeriodBarTime": ["allTargetLists", "KFrequency", "KFreNum", "endtm"],
    # calendar and reference
    "vmSendCmdGetCodeList": ["block", "date"],
    "vmSendCmdGetCodeListSet": ["block", "begin_date", "end_date"],
    "vmSendCmdConvertTargets": [("listMC", []), ("wstrOpFlags", "czce")],
    "vmSendCmdGetCurDate": [],
    "vmSendCmdGetCurTradeDate": [],
    "vmSendCmdGetPreTradeDate": [],
    "vmSendCmdGetTradingDays": [],
    "vmSendCmdGetTradingDaysCondition": ["market", "begin_day", "end_day"],
    "vmSendCmdTransTradeTimeToTradeDate": ["checkTime"],
    "vmSendCmdGetTargetIns": ["Market", "Code", "BeginDate", "EndDate"],
    "vmSendCmdGetTargetIns_20190830": ["Market", "Code", "BeginDate", "EndDate"],
    "vmSendCmdGetFutureContracts": ["i64Date", "wstrMarket", "wstrVarieties"],
    "vmSendCmdGetFutureInfo_20190920": ["listMkCode"],
    "vmSendCmdGetFutureInfoExculusively": ["targets"],
    "vmSendCmdGetFutureInfoExculusively_20190918": ["targets"],
    "vmSendCmdGetStockInfoExculusively": ["targets"],
    "vmSendCmdGetOptionCode": ["varargin"],
    "vmSendCmdGetOptionData": ["market", "code"],
    "vmSendCmdGetOptionInfo": ["market", "code"],
    "vmSendCmdGetOptionPos": ["market", "code"],
    "vmSendCmdGetToolBoxRootofCacheDir": [],
    "vmSendCmdGetStrategyID": [],
    # trading and account
    "vmSendCmdSTTradeOperation": ["params"],
    "vmSendCmdSTTradeStopOrder": ["params"],
    "vmSendCmdCancelOrder": ["strategyName", "handle", "orderID"],
    "vmSendCmdCancelStopOrder": ["strategyName", "handle", "orderID"],
    "vmSendCmdCancelFrozen": ["Handle"],
    "vmSendCmdCloseOperation": ["strategy_name", "i64Handle"],
    "vmSendCmdSTOrderInfo": ["handles", "order_ids"],
    "vmSendCmdSTUnFinishedOrderInfo": ["handles", "order_dates"],
    "vmSendCmdSTGetOrderInfoByDate": ["handles", "order_dates"],
    "vmSendCmdSTGetLastOrderInfo": ["handle", "targets", "order_side", "position_effect"],
    "vmSendCmdSTGetExecutionInfo": ["handles", "dates"],
    "vmSendCmdSTGetLastExecutionInfo": ["handle", "target", "side", "position_effect"],
    "vmSendCmdGetStopOrderInfo": ["account_handle", "stop_order_id_s"],
    "vmSendCmdGetTradeAccountHandle": ["name"],
    "vmSendCmdGetAccountInfo": ["handleList"],
    "vmSendCmdSTTradeGetAccountList": [],
    "vmSendCmdIsAccountValid": ["handle"],
    "vmSendCmdSTGetAccountPosition": ["Handle", "Market", "Code", ("LongShort", None)],
    "vmSendCmdGetAccountCash": ["handles"],
    "vmSendCmdGetAccountTargetGrossPosition": ["handles", "targets"],
    "vmSendCmdGetAccountPositionAndCash": ["handles", "targets"],
    "vmSendCmdGetAccountConfig": ["strategyName", "handle"],
    "vmSendCmdSetAccountConfigTo": ["strategyName", "handle", "target_configs"],
    # tasks, notifications and subscriptions
    "vmSendCmdCreateTaskBackTest": ["HandleList", "TargetList", "params"],
    "vmSendCmdStartTaskBackTest": ["i64TaskId"],
    "vmSendCmdStopTaskBackTest": ["i64TaskId", "targetList", "positionList", "params"],
    "vmSendCmdCreateTaskRealTrade": ["params"],
    "vmSendCmdStartTaskRealTrade": ["i64TaskId"],
    "vmSendCmdStopTaskRealTrade": ["i64TaskID", "strategy_name", "handles"],
    "vmSendCmdCreateTaskRunFactor": ["params"],
    "vmSendCmdStartTaskRunFactor": ["i64TaskId"],
    "vmSendCmdStopTaskRunFactor": ["i64TaskId", "record_dir"],
    "vmSendCmdGetBackTestPerformance": ["i64TaskID"],
    "vmSendCmdKeepActive": [],
    "vmSendCmdRtNotifyReceived": [],
    "vmSendCmdAccountNotifyReceived": [],
    "vmSendCmdPutLog": ["i64TaskId", "log"],
    "vmSendCmdRiseError": ["i64TaskId", "e"],
    "vmSendCmdTest": ["cmd_name", "params"],
    "vmSendCmdToolboxCheck": ["wstrLanguage", "wstrToolboxVer", "listSupportedCore"],
    "vmSendCmdSubscribeAccount": ["accountID"],
    "vmSendCmdUnsubscribeAccount": ["accountIDs"],
    "vmSendCmdSubscribeIns": ["marketCode", "kFreq"],
    "vmSendCmdUnsubscribeIns": ["marketCode", "kFreq"],
    "vmSendCmdSubscribeInstrument": ["MarketCodes"],
    "vmSendCmdUnsubscribeInstrument": [],
    "vmSendCmdSubscribeFactor": ["MarketCodes", "Factors"],
    "vmSendCmdUnsubscribeFactor": ["marketCode", "FactorName"],
    "vmSendCmdCheckSubscribeNum": ["Frequency", "SubscribeNum"],
    # factor, fundamental and risk model
    "vmSendCmdGetFactor": ["FactorName", "targetList", "BeginDate", "EndDate", "NDaysBefore"],
    "vmSendCmdGetFactorMultiFilePath": ["list_factor_name", "TargetList", "BeginDate", "EndDate", ("DaysBefore", 0)],
    "vmSendCmdAskFactor": ["ItemName", "TargetList", "dateBegin", "dateEnd", "dateBefore"],
    "vmSendCmdGetFundamentalSet": ["targetList", "CatName", "ItemList", "BeginDate", "EndDate"],
    "vmSendCmdGetFdmt": ["lang", "func", "params_str"],
    "vmSendCmdFdmtFieldInfo": ["fdmt_fields"],
    "vmSendCmdIsMTFundmental": ["CatName", "ItemName"],
    "vmSendCmdGetRiskModel": ["lang", "func", "params_str"],
    "vmSendCmdRiskModelFieldInfo": ["fdmt_fields"],
}
FAMILY_SIZES = (13, 22, 23, 26, 9)


def _declared(entry):
    return entry if isinstance(entry, tuple) else (entry, _)


def test_the_catalogue_is_the_whole_module():
    assert len(CATALOGUE) == sum(FAMILY_SIZES) == 93
    offered = {n for n in vars(vmcmd) if n.startswith("vmSendCmd")}
    assert offered == set(CATALOGUE)


@pytest.mark.parametrize("name", sorted(CATALOGUE))
def test_parameters_and_defaults(name):
    params = list(inspect.signature(getattr(vmcmd, name)).parameters.values())
    assert [(p.name, p.default) for p in params] == [_declared(e) for e in CATALOGUE[name]]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)
    assert getattr(vmcmd, name).__name__ == name


@pytest.mark.parametrize("name", ["vmSendCmdGetKData", "vmSendCmdGetAccountInfo", "vmSendCmdKeepActive"])
def test_wrong_arguments_are_refused_before_sending(name, monkeypatch):
    sent = []
    monkeypatch.setattr(vmcmd, "vmserial", type("Recorder", (), {"__getattr__": lambda s, n: sent.append(n)})())
    count = len(CATALOGUE[name])
    with pytest.raises(TypeError):
        getattr(vmcmd, name)(*range(count + 1))
    with pytest.raises(TypeError):
        getattr(vmcmd, name)(no_such_parameter=1)
    assert sent == []
