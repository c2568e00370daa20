// Names of the command channel.
// Every interned name and keyword tuple of the module, listed once: a name
// listed twice fails the build.
#pragma once

#include "vm/names.hpp"

#define VMCMD_NAMES(X) \
    X(AvgPrice, "AvgPrice") \
    X(BDate, "BDate") \
    X(check_vm_return_error, "check_vm_return_error") \
    X(Code, "Code") \
    X(ContractAdjustmentType, "ContractAdjustmentType") \
    X(dot, ".") \
    X(EData, "EData") \
    X(EDate, "EDate") \
    X(empty, "") \
    X(errCode, "errCode") \
    X(errInfo, "errInfo") \
    X(errLevel, "errLevel") \
    X(ERROR_CODE_REASON, "ERROR_CODE_REASON") \
    X(ERROR_LEVEL_ERROR, "ERROR_LEVEL_ERROR") \
    X(ERROR_LEVEL_INFO, "ERROR_LEVEL_INFO") \
    X(ERROR_LEVEL_WARNING, "ERROR_LEVEL_WARNING") \
    X(ERROR_PARAM_MISMATCH_5_8, "ERROR_PARAM_MISMATCH_5_8") \
    X(exists, "exists") \
    X(FactorName, "FactorName") \
    X(format, "format") \
    X(Frozen, "Frozen") \
    X(get, "get") \
    X(Handle, "Handle") \
    X(Handle64, "Handle64") \
    X(HandleList, "HandleList") \
    X(i64TaskID, "i64TaskID") \
    X(Idx, "Idx") \
    X(ignore, "ignore") \
    X(info, "info") \
    X(int64, "int64") \
    X(isnan, "isnan") \
    X(Level, "Level") \
    X(listAccountCash, "listAccountCash") \
    X(listGrossPosition, "listGrossPosition") \
    X(load_mat, "load_mat") \
    X(logical_not, "logical_not") \
    X(LongShort, "LongShort") \
    X(Market, "Market") \
    X(mft_to_str_format, "mft_to_str_format") \
    X(Month, "Month") \
    X(np, "np") \
    X(os, "os") \
    X(path, "path") \
    X(Position, "Position") \
    X(Price, "Price") \
    X(raise, "raise") \
    X(recv_serial, "recv_serial") \
    X(remove, "remove") \
    X(result, "result") \
    X(run_ignore_exception, "run_ignore_exception") \
    X(sPositionData, "sPositionData") \
    X(sse, "sse") \
    X(szse, "szse") \
    X(TargetList, "TargetList") \
    X(text, "text") \
    X(Time, "Time") \
    X(todotdict, "todotdict") \
    X(trade_time_format, "%Y%m%dT%H%M%S") \
    X(Type, "Type") \
    X(underscore, "_") \
    X(user_info, "user_info") \
    X(user_warning, "user_warning") \
    X(ValueType, "ValueType") \
    X(variable_pattern, "%s_%s_%d") \
    X(VelmoroBarTime_send, "VelmoroBarTime_send") \
    X(VelmoroCreateTaskRealTrade_send, "VelmoroCreateTaskRealTrade_send") \
    X(VelmoroGetAccountPositionAndCashInfo_send, "VelmoroGetAccountPositionAndCashInfo_send") \
    X(VelmoroGetHistoryInstruments_send, "VelmoroGetHistoryInstruments_send") \
    X(VelmoroGetOptionCode_send, "VelmoroGetOptionCode_send") \
    X(VelmoroPutLog_send, "VelmoroPutLog_send") \
    X(VelmoroSTGetAccountInfo_send, "VelmoroSTGetAccountInfo_send") \
    X(VelmoroSTGetAccountPosition_send, "VelmoroSTGetAccountPosition_send") \
    X(VelmoroStopTaskBackTest_send, "VelmoroStopTaskBackTest_send") \
    X(VelmoroSubscribeFactor_send, "VelmoroSubscribeFactor_send") \
    X(VelmoroToolboxCheck_send, "VelmoroToolboxCheck_send") \
    X(VelmoroTransTradeTimeToTradeDate_send, "VelmoroTransTradeTimeToTradeDate_send") \
    X(vmReturnChecker, "vmReturnChecker") \
    X(VmReturnError, "VmReturnError") \
    X(vmSendCmdCreateTaskRealTrade, "vmSendCmdCreateTaskRealTrade") \
    X(vmSendCmdGetAccountInfo, "vmSendCmdGetAccountInfo") \
    X(vmSendCmdGetAccountPositionAndCash, "vmSendCmdGetAccountPositionAndCash") \
    X(vmSendCmdGetDatePeriodBarTime, "vmSendCmdGetDatePeriodBarTime") \
    X(vmSendCmdGetHistoryInstruments, "vmSendCmdGetHistoryInstruments") \
    X(vmSendCmdGetOptionCode, "vmSendCmdGetOptionCode") \
    X(vmSendCmdSTGetAccountPosition, "vmSendCmdSTGetAccountPosition") \
    X(vmSendCmdStopTaskBackTest, "vmSendCmdStopTaskBackTest") \
    X(vmSendCmdToolboxCheck, "vmSendCmdToolboxCheck") \
    X(vmSendCmdTransTradeTimeToTradeDate, "vmSendCmdTransTradeTimeToTradeDate") \
    X(vmserial, "vmserial") \
    X(write_log, "write_log") \
    X(wstrFileName, "wstrFileName") \
    X(wstrFilePath, "wstrFilePath")

namespace vmcmd {

VMCMD_NAMES(VM_NAME_DECLARE)
extern const vm::Kw<1> kw_error;
extern const vm::Kw<2> kw_log;
extern const vm::Kw<3> kw_message;

}  // namespace vmcmd
