// Calendar and reference commands: dates, trading days, code lists, contracts.
#include "commands.hpp"
#include "doc_parts.hpp"

namespace vmcmd {
namespace {

// Docstrings two commands share.
namespace doc {

constexpr char vmSendCmdGetFutureInfoExculusively[] =
    "Information on future contracts.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetFutureInfoExculusively and\n"
    "vmSendCmdGetFutureInfoExculusively_20190918, the same in all.\n\n"
    "Parameters\n"
    "  targets: the contracts.\n"
    DOC_FUTURE_TARGETS "\n"
    DOC_FUTURE_RECORDS;

constexpr char vmSendCmdGetTargetIns[] =
    "Real instruments behind a target over a date range, as records with TargetIns and Day.\n\n"
    "A stock stands for itself; a continuous future (\"SR888\") stands for its variety's main\n"
    "contract of each day. The terminal offers it as two commands, vmSendCmdGetTargetIns and\n"
    "vmSendCmdGetTargetIns_20190830, the same in all.\n\n"
    "Parameters\n"
    "  Market: lower-case exchange code (\"sse\", \"czce\", ...).\n"
    "  Code: the target's code as text (\"600000\", \"SR888\").\n"
    "  BeginDate, EndDate: the first and last trading day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A list of contract-day records, one per trading day with an instrument:\n"
    "  TargetIns (the instrument's code) and Day (YYYYMMDD).";

}  // namespace doc

Command kCalendar[] = {
    {"vmSendCmdGetCodeList", "block: str, date: int -> List[Any]",
     "VelmoroGetCodeList_send", {"block", "date"}, Answer::Unchecked, "result",
     kNone,
     "Members of a block (index, sector or board) on a date, as records with Code, Market, Weight, Name, BlockName.\n\n"
     "Not status-checked: the answer's result is returned as it comes, so a refused\n"
     "request (an unknown block, a date that is no date) gives the answer's status record\n"
     "(errLevel, errCode, errInfo) instead of a list.\n\n"
     "Parameters\n"
     "  block: the block's name (the embedded terminal: \"Index\", \"SSE\", \"SZSE\").\n"
     "  date: the day, YYYYMMDD; 0 means today.\n\n"
     "Returns\n"
     "  A list of member records: Code (text), Market (lower-case exchange code),\n"
     "  Weight (the member's weight in the block), Name (the security's name),\n"
     "  BlockName."},
    {"vmSendCmdGetCodeListSet", "block: str, begin_date: int, end_date: int -> List[Any]", "VelmoroGetCodeListSet_send",
     {"block", "begin_date", "end_date"}, Answer::Checked, "listCodelist", kNone,
     "Members of a block over a date range.\n\n"
     "Parameters\n"
     "  block: the block's name (the embedded terminal: \"Index\", \"SSE\", \"SZSE\").\n"
     "  begin_date, end_date: the first and last trading day.\n"
     DOC_DATES "\n"
     "Returns\n"
     "  A list of member records, for each trading day of the range its members:\n"
     "  Code, Market, Weight, Name, BlockName and Day (YYYYMMDD)."},
    {"vmSendCmdConvertTargets", "listMC: _Targets = [], wstrOpFlags: str = 'czce' -> List[Any]",
     "VelmoroConvertTargets_send",
     {rq::targets("listMC"), "wstrOpFlags"}, Answer::Checked, "listMC", kNone,
     "Targets converted by the terminal according to wstrOpFlags.\n\n"
     "Markets come back in lower case and codes in upper case.\n\n"
     "Parameters\n"
     "  listMC: the targets to convert (none by default).\n"
     DOC_TARGETS
     "  wstrOpFlags: conversion flags; \"czce\" (the default) turns a czce contract with\n"
     "      a four-digit month (\"SR2405\") into the exchange's three-digit form\n"
     "      (\"SR405\").\n\n"
     "Returns\n"
     "  A list of target records (Market, Code), one per target of listMC in order."},
    {"vmSendCmdGetCurDate", "-> int", "VelmoroGetCurDate_send", {}, Answer::Unchecked, "result", kNone,
     "The terminal's current date.\n\n"
     "Not status-checked. The command takes no parameters.\n\n"
     "Returns\n"
     "  The calendar date of the terminal's clock, YYYYMMDD (an int)."},
    {"vmSendCmdGetCurTradeDate", "-> int", "VelmoroGetCurTradeDate_send", {}, Answer::Unchecked, "result", kNone,
     "The current trading date.\n\n"
     "Not status-checked. The command takes no parameters. A moment from 20:00 on, or on\n"
     "a weekend, belongs to the next trading day.\n\n"
     "Returns\n"
     "  The trading date of the terminal's clock, YYYYMMDD (an int)."},
    {"vmSendCmdGetPreTradeDate", "-> int", "VelmoroGetPreTradeDate_send", {}, Answer::Unchecked, "result", kNone,
     "The previous trading date.\n\n"
     "Not status-checked. The command takes no parameters.\n\n"
     "Returns\n"
     "  The trading day before the current trading date, YYYYMMDD (an int)."},
    {"vmSendCmdGetTradingDays", "-> Any", "VelmoroGetTradingDays_send", {}, Answer::Unchecked, "result", kNone,
     "The trading days the terminal knows.\n\n"
     "Not status-checked. The command takes no parameters.\n\n"
     "Returns\n"
     "  A list of the trading days of the terminal's data, YYYYMMDD ints, ascending."},
    {"vmSendCmdGetTradingDaysCondition", "market: str, begin_day: int, end_day: int -> List[int]",
     "VelmoroGetTradingDaysByCondition_send",
     {"market", "begin_day", "end_day"}, Answer::Checked, "listDays", kNone,
     "Trading days of a market between two days.\n\n"
     "Parameters\n"
     "  market: lower-case exchange code: \"sse\", \"szse\", \"czce\", \"shfe\", \"dce\" or\n"
     "      \"cffex\".\n"
     "  begin_day, end_day: the first and last day.\n"
     DOC_DATES "\n"
     "Returns\n"
     "  A list of the market's trading days in the range, YYYYMMDD ints, ascending."},
    {"vmSendCmdGetTargetIns", "Market: str, Code: str, BeginDate: int, EndDate: int -> List[Any]",
     "VelmoroGetTargetIns_send",
     {"Market", "Code", "BeginDate", "EndDate"}, Answer::Checked, "listIns", kNone,
     doc::vmSendCmdGetTargetIns},
    {"vmSendCmdGetTargetIns_20190830", "Market: str, Code: str, BeginDate: int, EndDate: int -> List[Any]",
     "VelmoroGetTargetIns_20190830_send",
     {"Market", "Code", "BeginDate", "EndDate"}, Answer::Checked, "listIns", kNone,
     doc::vmSendCmdGetTargetIns},
    {"vmSendCmdGetFutureContracts", "i64Date: int, wstrMarket: str, wstrVarieties: str -> List[Any]",
     "VelmoroGetFutureContracts_send",
     {"i64Date", "wstrMarket", "wstrVarieties"}, Answer::Checked, "listComp", kNone,
     "Future contracts of varieties of a market on a date.\n\n"
     "Parameters\n"
     "  i64Date: the day, YYYYMMDD; 0 means today.\n"
     "  wstrMarket: lower-case exchange code (\"czce\", \"shfe\", \"dce\", \"cffex\").\n"
     "  wstrVarieties: the varieties, as text separated by commas (\"SR,CF\") or a\n"
     "      list; empty means every variety.\n\n"
     "Returns\n"
     "  A list of contract records trading on that day: Market, Code, Variety,\n"
     "  ListDate, LastTradeDate (YYYYMMDD)."},
    {"vmSendCmdGetFutureInfo_20190920", "listMkCode: _Targets -> List[Any]", "VelmoroGetFutureInfo_20190920_send",
     {rq::targets("listMkCode")}, Answer::Checked, "listInfo", kNone,
     "Information on future contracts.\n\n"
     "An earlier form of vmSendCmdGetFutureInfoExculusively, through its own terminal command.\n\n"
     "Parameters\n"
     "  listMkCode: the contracts.\n"
     DOC_FUTURE_TARGETS "\n"
     DOC_FUTURE_RECORDS},
    {"vmSendCmdGetFutureInfoExculusively", "targets: _Targets -> List[Any]", "VelmoroGetFutureInfoExculusively_send",
     {rq::targets("targets")}, Answer::Checked, "listFutureInfoExcu", kNone, doc::vmSendCmdGetFutureInfoExculusively},
    {"vmSendCmdGetFutureInfoExculusively_20190918", "targets: _Targets -> List[Any]",
     "VelmoroGetFutureInfoExculusively_20190918_send",
     {rq::targets("targets")}, Answer::Checked, "listFutureInfoExcu", kNone,
     doc::vmSendCmdGetFutureInfoExculusively},
    {"vmSendCmdGetStockInfoExculusively", "targets: _Targets -> List[Any]",
     "VelmoroGetStockInfoExculusively_send", {rq::targets("targets")},
     Answer::Checked, "listStockInfoExcu", kNone,
     "Information on stocks.\n\n"
     "Parameters\n"
     "  targets: the stocks.\n"
     DOC_TARGETS "\n"
     "Returns\n"
     "  A list of stock records, one per target in order: Market, Code, Name, LotSize,\n"
     "  PriceTick, Multiplier, LongMargin, ShortMargin."},
    {"vmSendCmdGetOptionData", "market: str, code: str -> Any",
     "VelmoroGetOptionData_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone,
     "Data of an option.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  market: lower-case exchange code.\n"
     "  code: the option's code as text.\n\n"
     "Returns\n"
     "  The answer's result: the option's data records (the embedded terminal lists\n"
     "  no options: an empty list)."},
    {"vmSendCmdGetOptionInfo", "market: str, code: str -> Any",
     "VelmoroGetOptionInfo_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone,
     "Information on an option.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  market: lower-case exchange code.\n"
     "  code: the option's code as text.\n\n"
     "Returns\n"
     "  The answer's result: the option's information records (the embedded terminal\n"
     "  lists no options: an empty list)."},
    {"vmSendCmdGetOptionPos", "market: str, code: str -> Any",
     "VelmoroGetOptionPos_send", {"market", "code"}, Answer::Unchecked,
     "result", kNone,
     "Option positions of a security.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  market: lower-case exchange code.\n"
     "  code: the security's code as text.\n\n"
     "Returns\n"
     "  The answer's result: the option position records (the embedded terminal lists\n"
     "  no options: an empty list)."},
    {"vmSendCmdGetToolBoxRootofCacheDir", "-> str", "VelmoroGetToolBoxRootofCacheDir_send", {}, Answer::Checked,
     "wstrRootCacheDir", kNone,
     "The terminal's cache directory.\n\n"
     "The command takes no parameters.\n\n"
     "Returns\n"
     "  The directory's path (text)."},
    {"vmSendCmdGetStrategyID", "-> List[Any]",
     "VelmoroGetStrategyID_send", {}, Answer::Checked, "listStrategyInfo", kNone,
     "The strategies the terminal knows.\n\n"
     "The command takes no parameters.\n\n"
     "Returns\n"
     "  A list of strategy records, one per real-trade task: StrategyID (the task\n"
     "  id), StrategyName, Status (\"created\", \"running\", \"stopped\")."},
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
    VM_FUNCTION(vmSendCmdGetOptionCode, "varargin: Sequence[Any] -> Any",
                "Option codes from a sequence of 8 or 5 values; any other count raises ValueError.\n\n"
                "Not status-checked.\n\n"
                "Parameters\n"
                "  varargin: 8 values: Market, Code, Price (strike), Month, Type, ValueType,\n"
                "      Level, ContractAdjustmentType; or 5 values: Market, Code, begin date, end\n"
                "      date (YYYYMMDD), ContractAdjustmentType.\n\n"
                "Returns\n"
                "  The answer's result: the matching option codes (the embedded terminal lists no\n"
                "  options: an empty list)."),
    VM_FUNCTION(vmSendCmdTransTradeTimeToTradeDate, "checkTime: float -> int",
                "The trading date a framework date-time belongs to.\n\n"
                "Not status-checked. A moment from 20:00 on, or on a weekend, belongs to the next\n"
                "trading day.\n\n"
                "Parameters\n"
                "  checkTime: the moment, framework numeric time (days as a float).\n\n"
                "Returns\n"
                "  Its trading date, YYYYMMDD (an int)."),
};

}  // namespace

void register_calendar(vm::Module& m) {
    add_commands<kCalendar>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
