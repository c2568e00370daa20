// Market-data commands: bar data, TDP data, snapshots, bar time lines, sets.
#include "commands.hpp"
#include "doc_parts.hpp"
#include "vm/textcase.hpp"

#include <algorithm>
#include <cstring>

namespace vmcmd {
namespace {

// Docstrings two commands share.
namespace doc {

constexpr char vmSendCmdGetKDataMulti[] =
    "Fetch bar data of several targets into one MAT file; returns its path.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetKDataMulti and\n"
    "vmSendCmdGetKDataMultiFilePath, the same in all.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ "; one period a bar.\n"
    "  beginDate, endDate: the first and last trading day of the bars.\n"
    DOC_DATES
    DOC_FILLED_UP
    DOC_FQ_TYPE "\n"
    "Returns\n"
    "  The path of one MAT file.\n"
    DOC_MULTI_FILE
    DOC_BAR_VARIABLES;

constexpr char vmSendCmdGetTDPDataMulti[] =
    "TDP data of several securities over a date range; returns the MAT file path.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetTDPDataMulti and\n"
    "vmSendCmdGetTDPDataMultiFilePath, the same in all.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS
    "  beginDate, endDate: the first and last trading day.\n"
    DOC_DATES
    DOC_FQ_TYPE "\n"
    "Returns\n"
    "  The path of one MAT file.\n"
    DOC_MULTI_FILE
    "      TDP variables, 1 x n rows, minute by minute: Time (framework numeric\n"
    "      time), Price, Volume, Amount.";

}  // namespace doc

constexpr rq::Field kGetKDataRecord[] = {
    {"MarketCode", rq::targets("targets")},
    {"KFrequency", "kFreq"},
    {"KFreNum", "kFreNum"},
    {"BeginDate", "beginDate"},
    {"EndDate", "endDate"},
    {"FilledUp", "filledUp"},
    {"FQ", "fqType"},
    {"NoReturn", "noReturn"},
};
constexpr rq::Field kGetKDataMultiRecord[] = {
    {"KFrequency", "kFreq"},
    {"BeginDate", "beginDate"},
    {"EndDate", "endDate"},
    {"FilledUp", "filledUp"},
    {"FQ", "fqType"},
    {"NoReturn", rq::literal("False")},
};
constexpr rq::Field kGetNKDataMultiRecord[] = {
    {"KFrequency", "kFreq"},
    {"NCount", "nCount"},
    {"FreNum", "kFreNum"},
    {"EndDate", "endDate"},
    {"FilledUp", "filledUp"},
    {"FQ", "fqType"},
};
constexpr rq::Field kGetTDPDataRecord[] = {
    {"Market", "market"},
    {"Code", "code"},
    {"Date", "date"},
    {"FQ", "fqType"},
    {"NoReturn", "no_return"},
    {"CheckPermission", "check_permission"},
};
constexpr rq::Field kGetTradingTimeRecord[] = {
    {"freq", "kFreq"},
    {"beginD", "beginDay"},
    {"endD", "endDay"},
};
constexpr rq::Field kGetHistorySetRecord[] = {
    {"Market", "Market"},
    {"Code", "Code"},
};

Command kMarket[] = {
    {"vmSendCmdGetKData", "targets: _Targets, kFreq: str, kFreNum: int, beginDate: int, endDate: int, filledUp: int, "
     "fqType: str, noReturn: bool -> List[str]",
     "VelmoroGetKData_send", {rq::record(kGetKDataRecord)}, Answer::Checked, "listPaths", kNone,
     "Fetch bar data of the targets; returns the paths of the MAT files the terminal wrote.\n\n"
     "Parameters\n"
     "  targets: the securities, in the order the files should come.\n"
     DOC_TARGETS
     "  kFreq: bar frequency, " DOC_FREQ ".\n"
     "  kFreNum: periods per bar, a whole number, at least 1 (kFreq \"min\" with 5: five-minute bars).\n"
     "  beginDate, endDate: the first and last trading day of the bars.\n"
     DOC_DATES
     DOC_FILLED_UP
     DOC_FQ_TYPE
     "  noReturn: True (or 1) asks the terminal to prepare the bars without writing\n"
     "      files; False (or 0) has them written.\n\n"
     "Returns\n"
     "  A list of MAT file paths, one per target in request order (empty when noReturn\n"
     "  is true). Each file holds Market, Code, KFrequency and the target's bars.\n"
     DOC_BAR_VARIABLES},
    {"vmSendCmdGetKDataMulti", "targetList: _Targets, kFreq: str, beginDate: int, endDate: int, filledUp: int, "
     "fqType: str -> str", "VelmoroGetKDataMulti_send",
     {rq::record(kGetKDataMultiRecord), rq::targets("targetList")}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetKDataMulti},
    {"vmSendCmdGetKDataMultiFilePath", "targetList: _Targets, kFreq: str, beginDate: int, endDate: int, "
     "filledUp: int, fqType: str -> str",
     "VelmoroGetKDataMultiFilePath_send", {rq::record(kGetKDataMultiRecord), rq::targets("targetList")},
     Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetKDataMulti},
    {"vmSendCmdGetNKDataMulti", "targetList: _Targets, kFreq: str, kFreNum: int, nCount: int, endDate: int, "
     "filledUp: int, fqType: str -> str",
     "VelmoroGetNKDataMulti_send", {rq::record(kGetNKDataMultiRecord), rq::targets("targetList")}, Answer::Checked,
     "wstrFilePath", kNone,
     "Fetch the last nCount bars up to endDate of several targets; returns the MAT file path.\n\n"
     "Parameters\n"
     "  targetList: the securities.\n"
     DOC_TARGETS
     "  kFreq: bar frequency, " DOC_FREQ ".\n"
     "  kFreNum: periods per bar, a whole number, at least 1.\n"
     "  nCount: how many bars, a whole number, at least 0; fewer come when the data has fewer.\n"
     "  endDate: the last trading day (YYYYMMDD; 0: up to the latest bar).\n"
     DOC_FILLED_UP
     DOC_FQ_TYPE "\n"
     "Returns\n"
     "  The path of one MAT file with each target's last bars.\n"
     DOC_MULTI_FILE
     DOC_BAR_VARIABLES},
    {"vmSendCmdGetRtData", "targetList: _Targets -> List[Any]",
     "VelmoroGetRtData_send", {rq::targets("targetList")}, Answer::Checked,
     "listRtData", kNone,
     "Real-time snapshots of the targets.\n\n"
     "Parameters\n"
     "  targetList: the securities.\n"
     DOC_TARGETS "\n"
     "Returns\n"
     "  A list of snapshot records, one per target in order: Market, Code, TradeDate\n"
     "  (YYYYMMDD), Time (of the last bar, framework numeric time; NaN before the\n"
     "  first), Price (the last price; the previous close before the first bar),\n"
     "  PreClose, Open, High, Low (NaN before the first bar), Volume and Amount of\n"
     "  the trading day so far."},
    {"vmSendCmdGetTDPData", "market: str, code: str, date: int, fqType: str, no_return: bool, "
     "check_permission: bool = True -> str", "VelmoroGetTDPData_send",
     {rq::record(kGetTDPDataRecord)}, Answer::Checked, "wstrFilePath", kNone,
     "TDP data of one security on one date; returns the MAT file path.\n\n"
     "TDP data are the security's traded prices and sizes through the day.\n\n"
     "Parameters\n"
     "  market: lower-case exchange code (\"sse\", \"szse\", ...).\n"
     "  code: the security's code as text (\"600000\").\n"
     "  date: the trading day, YYYYMMDD.\n"
     DOC_FQ_TYPE
     "  no_return: True (or 1) asks the terminal to prepare the data without writing\n"
     "      a file; False (or 0) has it written.\n"
     "  check_permission: True (the default) has the terminal check that the user may\n"
     "      read the data.\n\n"
     "Returns\n"
     "  The path of a MAT file (\"\" when no_return is true) holding 1 x n rows, minute\n"
     "  by minute: Time (framework numeric time), Price, Volume, Amount."},
    {"vmSendCmdGetTDPDataMulti", "targetList: _Targets, beginDate: int, endDate: int, fqType: str -> str",
     "VelmoroGetTDPDataMulti_send",
     {rq::targets("targetList"), "beginDate", "endDate", "fqType"}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTDPDataMulti},
    {"vmSendCmdGetTDPDataMultiFilePath", "targetList: _Targets, beginDate: int, endDate: int, fqType: str -> str",
     "VelmoroGetTDPDataMultiFilePath_send", {rq::targets("targetList"), "beginDate", "endDate", "fqType"},
     Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTDPDataMulti},
    {"vmSendCmdGetTradingTime", "targetList: _Targets, kFreq: str, beginDay: int, endDay: int -> str",
     "VelmoroGetTradingTime_send",
     {rq::record(kGetTradingTimeRecord), rq::targets("targetList")}, Answer::Checked, "wstrFilePath", kNone,
     "Bar times of a frequency between two days; returns the MAT file path (variable Time).\n\n"
     "Parameters\n"
     "  targetList: the securities whose trading sessions give the bar times.\n"
     DOC_TARGETS
     "  kFreq: \"min\", \"day\", \"week\", \"month\" or \"year\".\n"
     "  beginDay, endDay: the first and last day.\n"
     DOC_DATES "\n"
     "Returns\n"
     "  The path of a MAT file with one variable, Time: a 1 x n row of bar end times\n"
     "  (framework numeric time) of every trading day in the range, one period a bar.\n"
     "  A day bar (and a week, month or year bar) ends at 15:00 of its last day."},
    {"vmSendCmdGetHistorySet", "Market: str, Code: str, CatName: str, ItemName: str, BeginDate: int, "
     "EndDate: int -> _MatVariables", "VelmoroGetHistorySet_send",
     {"CatName", "ItemName", rq::record(kGetHistorySetRecord), "BeginDate", "EndDate"}, Answer::Load, "wstrFilePath",
     kNone,
     "A history data set of one security, loaded from the terminal's MAT file.\n\n"
     "Parameters\n"
     "  Market: lower-case exchange code (\"sse\", \"szse\", ...).\n"
     "  Code: the security's code as text (\"600000\").\n"
     "  CatName: the bar frequency of the set, " DOC_FREQ ".\n"
     "  ItemName: the bar field: \"Open\", \"High\", \"Low\", \"Close\", \"Volume\" or \"Amount\".\n"
     "  BeginDate, EndDate: the first and last trading day.\n"
     DOC_DATES "\n"
     "Returns\n"
     "  A mapping of the file's variables: Time (bar end times, framework numeric time)\n"
     "  and the item named by ItemName, each a 1 x n row."},
    {"vmSendCmdGetMarketSet", "wstrCat: str, listItem: Sequence[str], iBeginDate: int, iEndDate: int -> _MatVariables",
     "VelmoroGetMarketSet_send",
     {"wstrCat", "listItem", "iBeginDate", "iEndDate"}, Answer::Load, "wstrFilePath", kNone,
     "A market-wide data set, loaded from the terminal's MAT file.\n\n"
     "Parameters\n"
     "  wstrCat: the bar frequency of the set, " DOC_FREQ ".\n"
     "  listItem: bar fields, each \"Open\", \"High\", \"Low\", \"Close\", \"Volume\" or\n"
     "      \"Amount\".\n"
     "  iBeginDate, iEndDate: the first and last trading day.\n"
     DOC_DATES "\n"
     "Returns\n"
     "  A mapping of the file's variables: Targets (a cell row of the keys \"MARKET.CODE\"\n"
     "  of every security the terminal has), Time (a 1 x n row of bar end times) and\n"
     "  per item of listItem one matrix, a row per security in Targets' order."},
};


// The decimal digits of idx >= 0, written backwards from end.
char* digits_before(char* end, Py_ssize_t idx) {
    do {
        *--end = static_cast<char>('0' + idx % 10);
        idx /= 10;
    } while (idx);
    return end;
}

// ("%s_%s_%d" % (target["Market"], target["Code"], idx)).lower(), made by
// str's own operations so that any text Python accepts works here too; ASCII
// texts, the usual ones, are joined and mapped here to the same result
Ref variable_name(PyObject* target, Py_ssize_t idx) {
    Ref market = vm::item(target, n_Market);
    Ref code = vm::item(target, n_Code);
    const char* m = vm::ascii_data(market);
    const char* c = vm::ascii_data(code);
    if (!m || !c) {
        Ref values = vm::new_tuple({market.get(), code.get(), vm::integer(idx).get()});
        return vm::str_lower(vm::own(PyUnicode_Format(n_variable_pattern, values)));
    }
    char number[24];
    char* const number_end = number + sizeof number;
    const char* first_digit = digits_before(number_end, idx);
    const Py_ssize_t lm = PyUnicode_GET_LENGTH(market.get());
    const Py_ssize_t lc = PyUnicode_GET_LENGTH(code.get());
    const Py_ssize_t ld = number_end - first_digit;
    Ref name = vm::own(PyUnicode_New(lm + 1 + lc + 1 + ld, 127));
    char* d = static_cast<char*>(PyUnicode_DATA(name.get()));
    vm::ascii_lower(d, m, lm);
    d[lm] = '_';
    vm::ascii_lower(d + lm + 1, c, lc);
    d[lm + 1 + lc] = '_';
    std::memcpy(d + lm + 1 + lc + 1, first_digit, static_cast<size_t>(ld));
    return name;
}

// ".".join(name.split("_")[:2]).upper(), for ASCII names by a scan of the text
Ref result_key(PyObject* name) {
    const char* s = vm::ascii_data(name);
    if (!s) {
        Ref parts = vm::own(PyUnicode_Split(name, n_underscore, 2));
        Ref first_two = vm::own(PyList_GetSlice(parts, 0, 2));
        return vm::str_upper(vm::own(PyUnicode_Join(n_dot, first_two)));
    }
    const char* end = s + PyUnicode_GET_LENGTH(name);
    const char* first = std::find(s, end, '_');
    const char* second = first == end ? end : std::find(first + 1, end, '_');
    Ref key = vm::own(PyUnicode_New(second - s, 127));
    char* d = static_cast<char*>(PyUnicode_DATA(key.get()));
    vm::ascii_upper(d, s, second - s);
    if (first != end) d[first - s] = '.';
    return key;
}

// Variables are looked up in request order, so the result is deterministic; a
// security asked twice keeps its first position and the later file variable.
Ref vmSendCmdGetHistoryInstruments(Params<4> p) {
    auto [targets, begin_date, end_date, fq_type] = p.take<4>();
    PyObject* func_name = n_vmSendCmdGetHistoryInstruments;
    Ref target_records = target_list(targets);
    vm::global_attr(n_vmserial, n_VelmoroGetHistoryInstruments_send).call(
        {target_records, begin_date, end_date, fq_type});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref data = load_answer_file(res, n_wstrFilePath, false);
    Ref result = vm::new_dict();
    Py_ssize_t idx = 0;
    vm::for_each(targets, [&](PyObject* target) {
        Ref name = variable_name(target, idx++);
        int present = PySequence_Contains(data, name);
        vm::check(present);
        if (present) {
            Ref value = data.item(name);
            vm::dict_set(result, result_key(name), value);
        }
    });
    return result;
}

bool on_stock_exchange(PyObject* target) {
    Ref market = vm::item(target, n_Market);
    return vm::equal(market, n_sse) || vm::equal(market, n_szse);
}

// Every non-stock-exchange target, then the first stock-exchange one: the
// terminal needs one stock target to know the stock sessions.
Ref bar_time_targets(PyObject* all_targets) {
    Ref out = vm::new_list();
    vm::for_each(all_targets, [&](PyObject* t) {
        if (!on_stock_exchange(t)) vm::append(out, dot(t));
    });
    Ref it = vm::iter(all_targets);
    while (Ref t = vm::next(it)) {
        if (on_stock_exchange(t)) {
            vm::append(out, dot(t));
            break;
        }
    }
    return out;
}

// The file is loaded before a falsy endtm has it removed: removing first
// would leave nothing to load.
Ref vmSendCmdGetDatePeriodBarTime(Params<4> p) {
    auto [all_targets, frequency, frequency_num, endtm] = p.take<4>();
    PyObject* func_name = n_vmSendCmdGetDatePeriodBarTime;
    Ref targets = bar_time_targets(all_targets);
    vm::global_attr(n_vmserial, n_VelmoroBarTime_send).call({endtm, frequency, frequency_num, targets});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref path = vm::attr(res, n_wstrFileName);
    Ref data = load(path, true);
    if (vm::truthy(vm::global_attr(n_np, n_logical_not).call({endtm})) &&
        vm::truthy(vm::global_attr(n_os, n_path).attr(n_exists).call({path}))) {
        vm::global(n_run_ignore_exception).call({vm::global_attr(n_os, n_remove), path});
    }
    return data.attr(n_get).call({n_Time});
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetHistoryInstruments, "targets: _Targets, begin_date: int, end_date: int, "
                "fq_type: str = 'NA' -> Dict[str, np.ndarray[Any, Any]]",
                "Real instruments behind the targets over a date range, keyed MARKET.CODE.\n\n"
                "A stock stands for itself; a continuous future (\"SR888\") stands for its variety's main\n"
                "contract of each day.\n\n"
                "Parameters\n"
                "  targets: the targets.\n"
                DOC_TARGETS
                "  begin_date, end_date: the first and last trading day.\n"
                DOC_DATES
                "  fq_type: price adjustment for dividends and splits (\"NA\" by default):\n"
                DOC_FQ "\n"
                "Returns\n"
                "  A dict from each target's key \"MARKET.CODE\" (upper case) to a 1 x n cell row of\n"
                "  the codes of the instrument that traded for it on each trading day of the range.\n"
                "  A target the terminal does not know, or without an instrument on some day of\n"
                "  the range, has no key; a target asked twice has one."),
    VM_FUNCTION(vmSendCmdGetDatePeriodBarTime, "allTargetLists: _Targets, KFrequency: str, KFreNum: int, "
                "endtm: float -> Optional[np.ndarray[Any, Any]]",
                "The bar time line of a frequency for the targets' sessions (the Time variable of the result file).\n\n"
                "Parameters\n"
                "  allTargetLists: the run's targets; only the first \"sse\" or \"szse\" one is sent\n"
                "      with all the others, as every stock shares its sessions.\n"
                DOC_TARGETS
                "  KFrequency: bar frequency, " DOC_FREQ ".\n"
                "  KFreNum: periods per bar, at least 1.\n"
                "  endtm: the last moment, framework numeric time: the line runs to the end of\n"
                "      its trading day. 0 (or None) means the terminal's current trading day,\n"
                "      and the result file is removed once read.\n\n"
                "Returns\n"
                "  The Time variable of the result file: a 1 x n row of bar end times (framework\n"
                "  numeric time) of every trading day up to endtm's, KFreNum periods a bar\n"
                "  (intraday bars restart each day); None when the file has no Time."),
};

}  // namespace

void register_market(vm::Module& m) {
    add_commands<kMarket>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
