"""Send side of the terminal link: one Velmoro<Command>_send function per command.

Each takes the command's arguments positionally, hands them to the connected
terminal and returns nothing; the answer is taken with recv_serial.
"""
from velmoro.tframe.comm import link as _link

# written by tools/stubgen from the send functions of the commands' declarations (src/vmcmd)
SEND_FUNCTIONS = (
    "VelmoroAccountNotifyReceived_send",
    "VelmoroAskFactor_send",
    "VelmoroBarTime_send",
    "VelmoroCancelFrozen_send",
    "VelmoroCancelOrder_send",
    "VelmoroCancelStopOrder_send",
    "VelmoroCheckSubscribeNum_send",
    "VelmoroCloseOperation_send",
    "VelmoroCmdTest_send",
    "VelmoroConvertTargets_send",
    "VelmoroCreateTaskBackTest_send",
    "VelmoroCreateTaskRealTrade_send",
    "VelmoroCreateTaskRunFactor_send",
    "VelmoroFdmtFieldInfo_send",
    "VelmoroGetAccountCash_send",
    "VelmoroGetAccountConfig_send",
    "VelmoroGetAccountPositionAndCashInfo_send",
    "VelmoroGetAccountTargetGrossPosition_send",
    "VelmoroGetBackTestPerformance_send",
    "VelmoroGetCodeListSet_send",
    "VelmoroGetCodeList_send",
    "VelmoroGetCurDate_send",
    "VelmoroGetCurTradeDate_send",
    "VelmoroGetDailyExecution_send",
    "VelmoroGetFactorMultiFilePath_send",
    "VelmoroGetFactor_send",
    "VelmoroGetFundamentalSet2_send",
    "VelmoroGetFundamentalSet_send",
    "VelmoroGetFutureContracts_send",
    "VelmoroGetFutureInfoExculusively_20190918_send",
    "VelmoroGetFutureInfoExculusively_send",
    "VelmoroGetFutureInfo_20190920_send",
    "VelmoroGetHistoryInstruments_send",
    "VelmoroGetHistorySet_send",
    "VelmoroGetKDataMultiFilePath_send",
    "VelmoroGetKDataMulti_send",
    "VelmoroGetKData_send",
    "VelmoroGetLastExecution_send",
    "VelmoroGetLastOrderInfo_send",
    "VelmoroGetMarketSet_send",
    "VelmoroGetNKDataMulti_send",
    "VelmoroGetOptionCode_send",
    "VelmoroGetOptionData_send",
    "VelmoroGetOptionInfo_send",
    "VelmoroGetOptionPos_send",
    "VelmoroGetOrderInfoByDate_send",
    "VelmoroGetOrderInfo_send",
    "VelmoroGetPreTradeDate_send",
    "VelmoroGetRiskModelSet_send",
    "VelmoroGetRtData_send",
    "VelmoroGetStockInfoExculusively_send",
    "VelmoroGetStopOrderInfo3_1_4_send",
    "VelmoroGetStrategyID_send",
    "VelmoroGetTDPDataMultiFilePath_send",
    "VelmoroGetTDPDataMulti_send",
    "VelmoroGetTDPData_send",
    "VelmoroGetTargetIns_20190830_send",
    "VelmoroGetTargetIns_send",
    "VelmoroGetToolBoxRootofCacheDir_send",
    "VelmoroGetTradingDaysByCondition_send",
    "VelmoroGetTradingDays_send",
    "VelmoroGetTradingTime_send",
    "VelmoroGetUnFinishedOrderInfo_send",
    "VelmoroIsAccountValid_send",
    "VelmoroIsMTFundmental_send",
    "VelmoroKeepActive_send",
    "VelmoroPutLog_send",
    "VelmoroRiseError_send",
    "VelmoroRiskModelFieldInfo_send",
    "VelmoroRtNotifyReceived_send",
    "VelmoroSTGetAccountInfo_send",
    "VelmoroSTGetAccountPosition_send",
    "VelmoroSTTRadeGetAccountHandle_send",
    "VelmoroSTTradeGetAccountList_send",
    "VelmoroSTTradeOperation_send",
    "VelmoroSTTradeStopOrder_send",
    "VelmoroSetAccountConfigTo_send",
    "VelmoroStartTaskBackTest_send",
    "VelmoroStartTaskRealTrade_send",
    "VelmoroStartTaskRunFactor_send",
    "VelmoroStopTaskBackTest_send",
    "VelmoroStopTaskRealTrade_send",
    "VelmoroStopTaskRunFactor_send",
    "VelmoroSubscribeAccount_send",
    "VelmoroSubscribeFactor_send",
    "VelmoroSubscribeIns_send",
    "VelmoroSubscribeInstrument_send",
    "VelmoroToolboxCheck_send",
    "VelmoroTransTradeTimeToTradeDate_send",
    "VelmoroUnsubscribeAccount_send",
    "VelmoroUnsubscribeFactor_send",
    "VelmoroUnsubscribeIns_send",
    "VelmoroUnsubscribeInstrument_send",
)


def _sender(name):
    command = name[len("Velmoro"):-len("_send")]

    def send(*args):
        _link.send(command, args)

    send.__name__ = send.__qualname__ = name
    send.__doc__ = "Send the {} command to the terminal.".format(command)
    return send


for _name in SEND_FUNCTIONS:
    globals()[_name] = _sender(_name)
del _name
