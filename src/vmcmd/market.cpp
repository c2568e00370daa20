// Market-data commands: bar data, TDP data, snapshots, bar time lines, sets.
#include "commands.hpp"
#include "market_docs.hpp"
#include "vm/textcase.hpp"

#include <algorithm>
#include <cstring>

namespace vmcmd {
namespace {

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
    {"vmSendCmdGetKData", "targets, kFreq, kFreNum, beginDate, endDate, filledUp, fqType, noReturn",
     "VelmoroGetKData_send", {rq::record(kGetKDataRecord)}, Answer::Checked, "listPaths", kNone,
     doc::vmSendCmdGetKData},
    {"vmSendCmdGetKDataMulti", "targetList, kFreq, beginDate, endDate, filledUp, fqType", "VelmoroGetKDataMulti_send",
     {rq::record(kGetKDataMultiRecord), rq::targets("targetList")}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetKDataMulti},
    {"vmSendCmdGetKDataMultiFilePath", "targetList, kFreq, beginDate, endDate, filledUp, fqType",
     "VelmoroGetKDataMultiFilePath_send", {rq::record(kGetKDataMultiRecord), rq::targets("targetList")},
     Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetKDataMultiFilePath},
    {"vmSendCmdGetNKDataMulti", "targetList, kFreq, kFreNum, nCount, endDate, filledUp, fqType",
     "VelmoroGetNKDataMulti_send", {rq::record(kGetNKDataMultiRecord), rq::targets("targetList")}, Answer::Checked,
     "wstrFilePath", kNone,
     doc::vmSendCmdGetNKDataMulti},
    {"vmSendCmdGetRtData", "targetList", "VelmoroGetRtData_send", {rq::targets("targetList")}, Answer::Checked,
     "listRtData", kNone, doc::vmSendCmdGetRtData},
    {"vmSendCmdGetTDPData", "market, code, date, fqType, no_return, check_permission=True", "VelmoroGetTDPData_send",
     {rq::record(kGetTDPDataRecord)}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTDPData},
    {"vmSendCmdGetTDPDataMulti", "targetList, beginDate, endDate, fqType", "VelmoroGetTDPDataMulti_send",
     {rq::targets("targetList"), "beginDate", "endDate", "fqType"}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTDPDataMulti},
    {"vmSendCmdGetTDPDataMultiFilePath", "targetList, beginDate, endDate, fqType",
     "VelmoroGetTDPDataMultiFilePath_send", {rq::targets("targetList"), "beginDate", "endDate", "fqType"},
     Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTDPDataMultiFilePath},
    {"vmSendCmdGetTradingTime", "targetList, kFreq, beginDay, endDay", "VelmoroGetTradingTime_send",
     {rq::record(kGetTradingTimeRecord), rq::targets("targetList")}, Answer::Checked, "wstrFilePath", kNone,
     doc::vmSendCmdGetTradingTime},
    {"vmSendCmdGetHistorySet", "Market, Code, CatName, ItemName, BeginDate, EndDate", "VelmoroGetHistorySet_send",
     {"CatName", "ItemName", rq::record(kGetHistorySetRecord), "BeginDate", "EndDate"}, Answer::Load, "wstrFilePath",
     kNone, doc::vmSendCmdGetHistorySet},
    {"vmSendCmdGetMarketSet", "wstrCat, listItem, iBeginDate, iEndDate", "VelmoroGetMarketSet_send",
     {"wstrCat", "listItem", "iBeginDate", "iEndDate"}, Answer::Load, "wstrFilePath", kNone,
     doc::vmSendCmdGetMarketSet},
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
    VM_FUNCTION(vmSendCmdGetHistoryInstruments, "targets, begin_date, end_date, fq_type='NA'",
                doc::vmSendCmdGetHistoryInstruments),
    VM_FUNCTION(vmSendCmdGetDatePeriodBarTime, "allTargetLists, KFrequency, KFreNum, endtm",
                doc::vmSendCmdGetDatePeriodBarTime),
};

}  // namespace

void register_market(vm::Module& m) {
    add_commands<kMarket>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
