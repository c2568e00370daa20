// Calendar and reference commands: dates, trading days, code lists, contracts.
#include "commands.hpp"
#include "calendar_docs.hpp"

namespace vmcmd {
namespace {

Command kCalendar[] = {
    {"vmSendCmdGetCodeList", "block, date", "VelmoroGetCodeList_send", {"block", "date"}, Answer::Unchecked, "result",
     kNone,
     doc::vmSendCmdGetCodeList},
    {"vmSendCmdGetCodeListSet", "block, begin_date, end_date", "VelmoroGetCodeListSet_send",
     {"block", "begin_date", "end_date"}, Answer::Checked, "listCodelist", kNone,
     doc::vmSendCmdGetCodeListSet},
    {"vmSendCmdConvertTargets", "listMC=[], wstrOpFlags='czce'", "VelmoroConvertTargets_send",
     {rq::targets("listMC"), "wstrOpFlags"}, Answer::Checked, "listMC", kNone,
     doc::vmSendCmdConvertTargets},
    {"vmSendCmdGetCurDate", "", "VelmoroGetCurDate_send", {}, Answer::Unchecked, "result", kNone,
     doc::vmSendCmdGetCurDate},
    {"vmSendCmdGetCurTradeDate", "", "VelmoroGetCurTradeDate_send", {}, Answer::Unchecked, "result", kNone,
     doc::vmSendCmdGetCurTradeDate},
    {"vmSendCmdGetPreTradeDate", "", "VelmoroGetPreTradeDate_send", {}, Answer::Unchecked, "result", kNone,
     doc::vmSendCmdGetPreTradeDate},
    {"vmSendCmdGetTradingDays", "", "VelmoroGetTradingDays_send", {}, Answer::Unchecked, "result", kNone,
     doc::vmSendCmdGetTradingDays},
    {"vmSendCmdGetTradingDaysCondition", "market, begin_day, end_day", "VelmoroGetTradingDaysByCondition_send",
     {"market", "begin_day", "end_day"}, Answer::Checked, "listDays", kNone,
     doc::vmSendCmdGetTradingDaysCondition},
    {"vmSendCmdGetTargetIns", "Market, Code, BeginDate, EndDate", "VelmoroGetTargetIns_send",
     {"Market", "Code", "BeginDate", "EndDate"}, Answer::Checked, "listIns", kNone,
     doc::vmSendCmdGetTargetIns},
    {"vmSendCmdGetTargetIns_20190830", "Market, Code, BeginDate, EndDate", "VelmoroGetTargetIns_20190830_send",
     {"Market", "Code", "BeginDate", "EndDate"}, Answer::Checked, "listIns", kNone,
     doc::vmSendCmdGetTargetIns_20190830},
    {"vmSendCmdGetFutureContracts", "i64Date, wstrMarket, wstrVarieties", "VelmoroGetFutureContracts_send",
     {"i64Date", "wstrMarket", "wstrVarieties"}, Answer::Checked, "listComp", kNone,
     doc::vmSendCmdGetFutureContracts},
    {"vmSendCmdGetFutureInfo_20190920", "listMkCode", "VelmoroGetFutureInfo_20190920_send",
     {rq::targets("listMkCode")}, Answer::Checked, "listInfo", kNone, doc::vmSendCmdGetFutureInfo_20190920},
    {"vmSendCmdGetFutureInfoExculusively", "targets", "VelmoroGetFutureInfoExculusively_send",
     {rq::targets("targets")}, Answer::Checked, "listFutureInfoExcu", kNone, doc::vmSendCmdGetFutureInfoExculusively},
    {"vmSendCmdGetFutureInfoExculusively_20190918", "targets", "VelmoroGetFutureInfoExculusively_20190918_send",
     {rq::targets("targets")}, Answer::Checked, "listFutureInfoExcu", kNone,
     doc::vmSendCmdGetFutureInfoExculusively_20190918},
    {"vmSendCmdGetStockInfoExculusively", "targets", "VelmoroGetStockInfoExculusively_send", {rq::targets("targets")},
     Answer::Checked, "listStockInfoExcu", kNone, doc::vmSendCmdGetStockInfoExculusively},
    {"vmSendCmdGetOptionData", "market, code", "VelmoroGetOptionData_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone, doc::vmSendCmdGetOptionData},
    {"vmSendCmdGetOptionInfo", "market, code", "VelmoroGetOptionInfo_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone, doc::vmSendCmdGetOptionInfo},
    {"vmSendCmdGetOptionPos", "market, code", "VelmoroGetOptionPos_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone, doc::vmSendCmdGetOptionPos},
    {"vmSendCmdGetToolBoxRootofCacheDir", "", "VelmoroGetToolBoxRootofCacheDir_send", {}, Answer::Checked,
     "wstrRootCacheDir", kNone, doc::vmSendCmdGetToolBoxRootofCacheDir},
    {"vmSendCmdGetStrategyID", "", "VelmoroGetStrategyID_send", {}, Answer::Checked, "listStrategyInfo", kNone,
     doc::vmSendCmdGetStrategyID},
};


// The option-code record from 8 values (Market .. Level, adjustment type) or
// from 5 (Market, Code, begin date, end date, adjustment type). The 5-value
// form sends its end date under "EData", as the terminal reads it.
Ref option_code_record(PyObject* values) {
    Ref record = vm::new_dict(10);
    auto at = [values](Py_ssize_t i) { return vm::item(values, i); };
    const Py_ssize_t n = vm::length(values);
    if (n == 8) {
        const Name* keys[] = {&n_Market, &n_Code, &n_Price, &n_Month, &n_Type, &n_ValueType, &n_Level};
        for (Py_ssize_t i = 0; i < 7; ++i) vm::dict_set(record, *keys[i], at(i));
        vm::dict_set(record, n_BDate, n_empty);
        vm::dict_set(record, n_EDate, n_empty);
        vm::dict_set(record, n_ContractAdjustmentType, at(7));
    } else if (n == 5) {
        Ref zero = vm::integer(0);
        vm::dict_set(record, n_Market, at(0));
        vm::dict_set(record, n_Code, at(1));
        vm::dict_set(record, n_Price, zero);
        vm::dict_set(record, n_Month, zero);
        vm::dict_set(record, n_Type, n_empty);
        vm::dict_set(record, n_ValueType, n_empty);
        vm::dict_set(record, n_Level, zero);
        vm::dict_set(record, n_BDate, at(2));
        vm::dict_set(record, n_EData, at(3));
        vm::dict_set(record, n_ContractAdjustmentType, at(4));
    } else {
        vm::raise_instance(PyExc_ValueError, vm::global_attr(n_text, n_ERROR_PARAM_MISMATCH_5_8));
    }
    return record;
}

// The request is made in statements of its own, before vmserial is read.
Ref vmSendCmdGetOptionCode(Params<1> p) {
    auto [varargin] = p.take<1>();
    PyObject* func_name = n_vmSendCmdGetOptionCode;
    Ref request = dot(option_code_record(varargin));
    vm::global_attr(n_vmserial, n_VelmoroGetOptionCode_send).call({request});
    return vm::attr(receive(func_name), n_result);
}

Ref vmSendCmdTransTradeTimeToTradeDate(Params<1> p) {
    auto [check_time] = p.take<1>();
    PyObject* func_name = n_vmSendCmdTransTradeTimeToTradeDate;
    Ref time_text = vm::global(n_mft_to_str_format).call({check_time, n_trade_time_format});
    vm::global_attr(n_vmserial, n_VelmoroTransTradeTimeToTradeDate_send).call({time_text});
    return vm::attr(receive(func_name), n_result);
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetOptionCode, "varargin",
                doc::vmSendCmdGetOptionCode),
    VM_FUNCTION(vmSendCmdTransTradeTimeToTradeDate, "checkTime",
                doc::vmSendCmdTransTradeTimeToTradeDate),
};

}  // namespace

void register_calendar(vm::Module& m) {
    add_commands<kCalendar>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
