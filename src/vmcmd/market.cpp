// Market-data commands: bar data, TDP data, snapshots, bar time lines, sets.
#include "commands.hpp"
#include "vm/textcase.hpp"

#include <string>

namespace vmcmd {
namespace {

Command kMarket[] = {
    {"vmSendCmdGetKData", "targets, kFreq, kFreNum, beginDate, endDate, filledUp, fqType, noReturn",
     "VelmoroGetKData_send", "{MarketCode:t0,KFrequency:1,KFreNum:2,BeginDate:3,EndDate:4,FilledUp:5,FQ:6,NoReturn:7}",
     Answer::Checked, "listPaths", kNone,
     "Fetch bar data of the targets; returns the paths of the MAT files the terminal wrote."},
    {"vmSendCmdGetKDataMulti", "targetList, kFreq, beginDate, endDate, filledUp, fqType", "VelmoroGetKDataMulti_send",
     "{KFrequency:1,BeginDate:2,EndDate:3,FilledUp:4,FQ:5,NoReturn=False} t0", Answer::Checked, "wstrFilePath", kNone,
     "Fetch bar data of several targets into one MAT file; returns its path."},
    {"vmSendCmdGetKDataMultiFilePath", "targetList, kFreq, beginDate, endDate, filledUp, fqType",
     "VelmoroGetKDataMultiFilePath_send", "{KFrequency:1,BeginDate:2,EndDate:3,FilledUp:4,FQ:5,NoReturn=False} t0",
     Answer::Checked, "wstrFilePath", kNone, "Fetch bar data of several targets into one MAT file; returns its path."},
    {"vmSendCmdGetNKDataMulti", "targetList, kFreq, kFreNum, nCount, endDate, filledUp, fqType",
     "VelmoroGetNKDataMulti_send", "{KFrequency:1,NCount:3,FreNum:2,EndDate:4,FilledUp:5,FQ:6} t0", Answer::Checked,
     "wstrFilePath", kNone, "Fetch the last nCount bars up to endDate of several targets; returns the MAT file path."},
    {"vmSendCmdGetRtData", "targetList", "VelmoroGetRtData_send", "t0", Answer::Checked, "listRtData", kNone,
     "Real-time snapshots of the targets."},
    {"vmSendCmdGetTDPData", "market, code, date, fqType, no_return, check_permission=True", "VelmoroGetTDPData_send",
     "{Market:0,Code:1,Date:2,FQ:3,NoReturn:4,CheckPermission:5}", Answer::Checked, "wstrFilePath", kNone,
     "TDP data of one security on one date; returns the MAT file path."},
    {"vmSendCmdGetTDPDataMulti", "targetList, beginDate, endDate, fqType", "VelmoroGetTDPDataMulti_send", "t0 1 2 3",
     Answer::Checked, "wstrFilePath", kNone,
     "TDP data of several securities over a date range; returns the MAT file path."},
    {"vmSendCmdGetTDPDataMultiFilePath", "targetList, beginDate, endDate, fqType",
     "VelmoroGetTDPDataMultiFilePath_send", "t0 1 2 3", Answer::Checked, "wstrFilePath", kNone,
     "TDP data of several securities over a date range; returns the MAT file path."},
    {"vmSendCmdGetTradingTime", "targetList, kFreq, beginDay, endDay", "VelmoroGetTradingTime_send",
     "{freq:1,beginD:2,endD:3} t0", Answer::Checked, "wstrFilePath", kNone,
     "Bar times of a frequency between two days; returns the MAT file path (variable Time)."},
    {"vmSendCmdGetHistorySet", "Market, Code, CatName, ItemName, BeginDate, EndDate", "VelmoroGetHistorySet_send",
     "2 3 {Market:0,Code:1} 4 5", Answer::Load, "wstrFilePath", kNone,
     "A history data set of one security, loaded from the terminal's MAT file."},
    {"vmSendCmdGetMarketSet", "wstrCat, listItem, iBeginDate, iEndDate", "VelmoroGetMarketSet_send", "0 1 2 3",
     Answer::Load, "wstrFilePath", kNone, "A market-wide data set, loaded from the terminal's MAT file."},
};

Name n_vmSendCmdGetHistoryInstruments{"vmSendCmdGetHistoryInstruments"};
Name n_VelmoroGetHistoryInstruments_send{"VelmoroGetHistoryInstruments_send"};
Name n_vmSendCmdGetDatePeriodBarTime{"vmSendCmdGetDatePeriodBarTime"};
Name n_VelmoroBarTime_send{"VelmoroBarTime_send"};
Name n_wstrFilePath{"wstrFilePath"};
Name n_wstrFileName{"wstrFileName"};
Name n_Market{"Market"};
Name n_Code{"Code"};
Name n_sse{"sse"};
Name n_szse{"szse"};
Name n_np{"np"};
Name n_logical_not{"logical_not"};
Name n_os{"os"};
Name n_path{"path"};
Name n_exists{"exists"};
Name n_remove{"remove"};
Name n_run_ignore_exception{"run_ignore_exception"};
Name n_get{"get"};
Name n_Time{"Time"};

// "%s_%s_%d" % (target["Market"], target["Code"], idx), lower-cased
Ref variable_name(PyObject* target, Py_ssize_t idx) {
    std::string name = vm::to_string(vm::str(vm::item(target, n_Market)));
    name += '_';
    name += vm::to_string(vm::str(vm::item(target, n_Code)));
    name += '_';
    name += std::to_string(idx);
    return vm::lower(name);
}

// ".".join(name.split("_")[:2]).upper()
Ref result_key(PyObject* name) {
    std::string s = vm::to_string(name);
    size_t first = s.find('_');
    size_t second = first == std::string::npos ? first : s.find('_', first + 1);
    std::string key = s.substr(0, first);
    if (first != std::string::npos) key += '.' + s.substr(first + 1, second - first - 1);
    return vm::upper(key);
}

// Variables are looked up in request order, so the result is deterministic; a
// security asked twice keeps its first position and the later file variable.
Ref vmSendCmdGetHistoryInstruments(Args a) {
    PyObject* func_name = n_vmSendCmdGetHistoryInstruments;
    Ref targets = target_list(a[0]);
    vm::call(sender(n_VelmoroGetHistoryInstruments_send), targets, a[1], a[2], a[3]);
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref data = load(vm::attr(res, n_wstrFilePath), false);
    Ref result = vm::new_dict();
    Py_ssize_t idx = 0;
    vm::for_each(a[0], [&](PyObject* target) {
        Ref name = variable_name(target, idx++);
        int present = PySequence_Contains(data, name);
        vm::check(present);
        if (present) vm::dict_set(result, result_key(name), vm::item(data, name));
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
Ref vmSendCmdGetDatePeriodBarTime(Args a) {
    PyObject* func_name = n_vmSendCmdGetDatePeriodBarTime;
    PyObject* endtm = a[3];
    Ref targets = bar_time_targets(a[0]);
    vm::call(sender(n_VelmoroBarTime_send), endtm, a[1], a[2], targets);
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref path = vm::attr(res, n_wstrFileName);
    Ref data = load(path, true);
    if (vm::truthy(vm::call(vm::attr(vm::global(n_np), n_logical_not), endtm))) {
        Ref os = vm::global(n_os);
        if (vm::truthy(vm::call(vm::attr(vm::attr(os, n_path), n_exists), path))) {
            vm::call(vm::global(n_run_ignore_exception), vm::attr(os, n_remove), path);
        }
    }
    return vm::call_method(data, n_get, n_Time);
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetHistoryInstruments, "targets, begin_date, end_date, fq_type='NA'",
                "Real instruments behind the targets over a date range, keyed MARKET.CODE."),
    VM_FUNCTION(vmSendCmdGetDatePeriodBarTime, "allTargetLists, KFrequency, KFreNum, endtm",
                "The bar time line of a frequency for the targets' sessions (the Time variable of the result file)."),
};

}  // namespace

void register_market(vm::Module& m) {
    add_commands<kMarket>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
