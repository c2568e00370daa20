// Names of the command channel.
// Every interned name and keyword tuple of the module, declared once: a name
// declared twice fails the build.
#pragma once

#include "vm/names.hpp"

namespace vmcmd {

inline vm::Name n_AvgPrice{"AvgPrice"};
inline vm::Name n_BDate{"BDate"};
inline vm::Name n_check_vm_return_error{"check_vm_return_error"};
inline vm::Name n_Code{"Code"};
inline vm::Name n_ContractAdjustmentType{"ContractAdjustmentType"};
inline vm::Name n_dot{"."};
inline vm::Name n_EData{"EData"};
inline vm::Name n_EDate{"EDate"};
inline vm::Name n_empty{""};
inline vm::Name n_errCode{"errCode"};
inline vm::Name n_errInfo{"errInfo"};
inline vm::Name n_errLevel{"errLevel"};
inline vm::Name n_ERROR_CODE_REASON{"ERROR_CODE_REASON"};
inline vm::Name n_ERROR_LEVEL_ERROR{"ERROR_LEVEL_ERROR"};
inline vm::Name n_ERROR_LEVEL_INFO{"ERROR_LEVEL_INFO"};
inline vm::Name n_ERROR_LEVEL_WARNING{"ERROR_LEVEL_WARNING"};
inline vm::Name n_ERROR_PARAM_MISMATCH_5_8{"ERROR_PARAM_MISMATCH_5_8"};
inline vm::Name n_exists{"exists"};
inline vm::Name n_FactorName{"FactorName"};
inline vm::Name n_format{"format"};
inline vm::Name n_Frozen{"Frozen"};
inline vm::Name n_get{"get"};
inline vm::Name n_Handle{"Handle"};
inline vm::Name n_Handle64{"Handle64"};
inline vm::Name n_HandleList{"HandleList"};
inline vm::Name n_i64TaskID{"i64TaskID"};
inline vm::Name n_Idx{"Idx"};
inline vm::Name n_ignore{"ignore"};
inline vm::Name n_info{"info"};
inline vm::Name n_int64{"int64"};
inline vm::Name n_isnan{"isnan"};
inline vm::Name n_Level{"Level"};
inline vm::Name n_listAccountCash{"listAccountCash"};
inline vm::Name n_listGrossPosition{"listGrossPosition"};
inline vm::Name n_load_mat{"load_mat"};
inline vm::Name n_logical_not{"logical_not"};
inline vm::Name n_LongShort{"LongShort"};
inline vm::Name n_Market{"Market"};
inline vm::Name n_mft_to_str_format{"mft_to_str_format"};
inline vm::Name n_Month{"Month"};
inline vm::Name n_np{"np"};
inline vm::Name n_os{"os"};
inline vm::Name n_path{"path"};
inline vm::Name n_Position{"Position"};
inline vm::Name n_Price{"Price"};
inline vm::Name n_raise{"raise"};
inline vm::Name n_recv_serial{"recv_serial"};
inline vm::Name n_remove{"remove"};
inline vm::Name n_result{"result"};
inline vm::Name n_run_ignore_exception{"run_ignore_exception"};
inline vm::Name n_sPositionData{"sPositionData"};
inline vm::Name n_sse{"sse"};
inline vm::Name n_szse{"szse"};
inline vm::Name n_TargetList{"TargetList"};
inline vm::Name n_text{"text"};
inline vm::Name n_Time{"Time"};
inline vm::Name n_todotdict{"todotdict"};
inline vm::Name n_trade_time_format{"%Y%m%dT%H%M%S"};
inline vm::Name n_Type{"Type"};
inline vm::Name n_underscore{"_"};
inline vm::Name n_user_info{"user_info"};
inline vm::Name n_user_warning{"user_warning"};
inline vm::Name n_ValueType{"ValueType"};
inline vm::Name n_variable_pattern{"%s_%s_%d"};
inline vm::Name n_VelmoroBarTime_send{"VelmoroBarTime_send"};
inline vm::Name n_VelmoroCreateTaskRealTrade_send{"VelmoroCreateTaskRealTrade_send"};
inline vm::Name n_VelmoroGetAccountPositionAndCashInfo_send{"VelmoroGetAccountPositionAndCashInfo_send"};
inline vm::Name n_VelmoroGetHistoryInstruments_send{"VelmoroGetHistoryInstruments_send"};
inline vm::Name n_VelmoroGetOptionCode_send{"VelmoroGetOptionCode_send"};
inline vm::Name n_VelmoroPutLog_send{"VelmoroPutLog_send"};
inline vm::Name n_VelmoroSTGetAccountInfo_send{"VelmoroSTGetAccountInfo_send"};
inline vm::Name n_VelmoroSTGetAccountPosition_send{"VelmoroSTGetAccountPosition_send"};
inline vm::Name n_VelmoroStopTaskBackTest_send{"VelmoroStopTaskBackTest_send"};
inline vm::Name n_VelmoroSubscribeFactor_send{"VelmoroSubscribeFactor_send"};
inline vm::Name n_VelmoroToolboxCheck_send{"VelmoroToolboxCheck_send"};
inline vm::Name n_VelmoroTransTradeTimeToTradeDate_send{"VelmoroTransTradeTimeToTradeDate_send"};
inline vm::Name n_vmReturnChecker{"vmReturnChecker"};
inline vm::Name n_VmReturnError{"VmReturnError"};
inline vm::Name n_vmSendCmdCreateTaskRealTrade{"vmSendCmdCreateTaskRealTrade"};
inline vm::Name n_vmSendCmdGetAccountInfo{"vmSendCmdGetAccountInfo"};
inline vm::Name n_vmSendCmdGetAccountPositionAndCash{"vmSendCmdGetAccountPositionAndCash"};
inline vm::Name n_vmSendCmdGetDatePeriodBarTime{"vmSendCmdGetDatePeriodBarTime"};
inline vm::Name n_vmSendCmdGetHistoryInstruments{"vmSendCmdGetHistoryInstruments"};
inline vm::Name n_vmSendCmdGetOptionCode{"vmSendCmdGetOptionCode"};
inline vm::Name n_vmSendCmdSTGetAccountPosition{"vmSendCmdSTGetAccountPosition"};
inline vm::Name n_vmSendCmdStopTaskBackTest{"vmSendCmdStopTaskBackTest"};
inline vm::Name n_vmSendCmdToolboxCheck{"vmSendCmdToolboxCheck"};
inline vm::Name n_vmSendCmdTransTradeTimeToTradeDate{"vmSendCmdTransTradeTimeToTradeDate"};
inline vm::Name n_vmserial{"vmserial"};
inline vm::Name n_write_log{"write_log"};
inline vm::Name n_wstrFileName{"wstrFileName"};
inline vm::Name n_wstrFilePath{"wstrFilePath"};

inline const vm::Kw kw_error{"error"};
inline const vm::Kw kw_log{"level", "console"};
inline const vm::Kw kw_message{"Name", "Code", "Reason"};

}  // namespace vmcmd
