// RealTradeEnv.collect_contracts and its private helper __get_main_contract:
// each target resolved to the real contract the terminal last lists for it.
#include "runtypes.hpp"
#include "vm/textcase.hpp"

namespace runtypes {
namespace {

const vm::Name kTodotmc{"todotmc"}, kToIntNowDate{"to_int_now_date"}, kNextNDay{"next_n_day"};
const vm::Name kGetMainContract{"_RealTradeEnv__get_main_contract"}, kGet{"get"}, kUpper{"upper"};
const vm::Name kMarket{"Market"}, kCode{"Code"}, kTargetIns{"TargetIns"}, kDay{"Day"};
const vm::Name kRealTargetList{"RealTargetList"};
const vm::Kw kFmt{"fmt"};
const vm::Kw kDayOffset{"day", "in_fmt", "out_fmt"};
const char* const kDateFormat = "%Y%m%d";
const char* const kCommandModule = "velmoro.tframe.comm.vmcmd";
const char* const kTargetInsCommand = "vmSendCmdGetTargetIns_20190830";

// value.upper(), done here for str
vm::Ref upper(PyObject* value) {
    return PyUnicode_CheckExact(value) ? vm::upper(vm::to_string(value)) : vm::call_method(value, kUpper);
}

vm::Ref target_record(PyObject* market, PyObject* code) {
    vm::Ref record = vm::new_dict();
    vm::dict_set(record, kMarket, market);
    vm::dict_set(record, kCode, code);
    return record;
}

// from velmoro.tframe.comm.vmcmd import vmSendCmdGetTargetIns_20190830, at call time
vm::Ref target_ins_command() {
    vm::Ref module = vm::own(PyImport_ImportModule(kCommandModule));
    PyObject* f = PyObject_GetAttrString(module, kTargetInsCommand);
    if (!f) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) vm::raise();
        PyErr_Clear();
        vm::raise_format(PyExc_ImportError, "cannot import name '%s' from '%s'", kTargetInsCommand, kCommandModule);
    }
    return vm::Ref::steal(f);
}

vm::Ref get_main_contract(vm::Args a) {
    vm::Ref command = target_ins_command();
    vm::Ref todotmc = vm::global(kTodotmc);
    vm::Ref table = vm::new_dict();
    vm::for_each(a[0], [&](PyObject* target) {
        vm::Ref code = vm::item(target, kCode);
        vm::Ref records = vm::call(command.get(), vm::item(target, kMarket), code, a[1], a[2]);
        vm::Ref days = vm::new_list();
        vm::Ref codes = vm::new_list();
        vm::for_each(records, [&](PyObject* record) {
            vm::Ref ins = vm::item(record, kTargetIns);
            if (vm::equal(upper(ins), code)) return;  // the target's own code
            vm::append(days, vm::item(record, kDay));
            vm::append(codes, ins);
        });
        vm::Ref pair = vm::new_list();
        vm::append(pair, days);
        vm::append(pair, codes);
        vm::dict_set(table, vm::call(todotmc.get(), target), pair);
    });
    return table;
}

vm::Ref collect_contracts(PyObject* self, vm::Args a) {
    PyObject* targets = a[0];
    if (!PyList_Check(targets))
        vm::raise_format(PyExc_TypeError, "collect_contracts() argument 'targets' must be list, not %.200s",
                         Py_TYPE(targets)->tp_name);
    vm::Ref begin_date = vm::borrow(a[1]);
    vm::Ref end_date = vm::borrow(a[2]);
    if (vm::is_none(begin_date) && vm::is_none(end_date)) {
        // the last ten days
        vm::Ref format = vm::text(kDateFormat);
        end_date = vm::call(vm::global(kToIntNowDate).get(), kFmt, format);
        begin_date = vm::call(vm::global(kNextNDay).get(), kDayOffset, end_date, vm::integer(-10), format, format);
    }
    vm::Ref table = vm::call_method(self, kGetMainContract, targets, begin_date, end_date);

    vm::Ref todotmc = vm::global(kTodotmc);
    vm::Ref result_list = vm::new_list();
    vm::Ref result_dict = vm::new_dict();
    vm::Ref real_targets;  // read once a target needs it
    Py_ssize_t idx = 0;
    vm::for_each(targets, [&](PyObject* target) {
        vm::Ref position = vm::integer(idx);
        vm::Ref key = vm::call(todotmc.get(), target);
        vm::Ref entry = vm::call_method(table, kGet, key);
        vm::Ref codes = vm::is_none(entry) ? vm::Ref() : vm::item(entry, 1);
        if (codes && vm::truthy(codes)) {
            vm::Ref market = vm::item(target, kMarket);
            vm::Ref code = vm::item(codes, -1);
            vm::dict_set(result_dict, vm::call(todotmc.get(), target_record(market, code)), position);
            vm::append(result_list, target_record(upper(market), upper(code)));
        } else {
            vm::dict_set(result_dict, key, position);
            if (!real_targets) real_targets = vm::attr(vm::attr(vm::attr(self, kVr), kInputInfo), kRealTargetList);
            vm::append(result_list, vm::truthy(real_targets) ? vm::item(real_targets, idx) : vm::borrow(target));
        }
        ++idx;
    });
    return vm::new_tuple({result_list, result_dict});
}

const vm::FunctionSpec kMethods[] = {
    VM_FUNCTION(collect_contracts, "targets, begin_date=None, end_date=None",
                "Resolve each target record to its current real contract; returns (records, {dotted key: "
                "position}).\n\nThe window is the last ten days when neither date is given. A target without "
                "contract history is taken from the run's RealTargetList when it has one, else kept."),
};

const vm::FunctionSpec kMainContract = VM_NAMED_FUNCTION(
    "__get_main_contract", get_main_contract, "targets, begin_date, end_date",
    "Contract history of each target from the terminal: {dotted key: [days, codes]}, without the target's own code.");

}  // namespace

void add_contract_methods(PyObject* cls) {
    vm::add_methods(cls, kMethods);
    vm::add_static_method(cls, "_RealTradeEnv__get_main_contract", kMainContract);
}

}  // namespace runtypes
