// RealTradeEnv.collect_contracts and its private helper __get_main_contract:
// each target resolved to the real contract the terminal last lists for it.
#include "runtypes.hpp"
#include "vm/textcase.hpp"

namespace runtypes {
namespace {

vm::Name n_Code{"Code"};
vm::Name n_Day{"Day"};
vm::Name n__RealTradeEnv__get_main_contract{"_RealTradeEnv__get_main_contract"};
vm::Name n_Market{"Market"};
vm::Name n_next_n_day{"next_n_day"};
vm::Name n_RealTargetList{"RealTargetList"};
vm::Name n_TargetIns{"TargetIns"};
vm::Name n_todotmc{"todotmc"};
vm::Name n_to_int_now_date{"to_int_now_date"};
vm::Name n_upper{"upper"};
vm::Kw kw_day_offset{"day", "in_fmt", "out_fmt"};

const char* const kCommandModule = "velmoro.tframe.comm.vmcmd";
const char* const kTargetInsCommand = "vmSendCmdGetTargetIns_20190830";

// value.upper(): ASCII text is mapped here, any other value by its own upper()
vm::Ref upper(PyObject* value) {
    if (PyUnicode_CheckExact(value) && PyUnicode_READY(value) == 0 && PyUnicode_IS_ASCII(value))
        return vm::upper(vm::to_string(value));
    return vm::call(vm::attr(value, n_upper).get());
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

// [record[key] for record in records]
vm::Ref items_of(PyObject* records, const vm::Name& key) {
    vm::Ref values = vm::new_list();
    vm::for_each(records, [&](PyObject* record) { vm::append(values, vm::item(record, key)); });
    return values;
}

vm::Ref get_main_contract(vm::Params<3> p) {
    auto [targets, begin_date, end_date] = p.take<3>();
    vm::Ref command = target_ins_command();
    vm::Ref table = vm::new_dict();
    vm::for_each(targets, [&](PyObject* target) {
        vm::Ref market = vm::item(target, n_Market);
        vm::Ref code = vm::item(target, n_Code);
        vm::Ref records = vm::call(command.get(), market, code, begin_date, end_date);
        // the records of other contracts than the target's own code
        vm::Ref kept = vm::new_list();
        vm::for_each(records, [&](PyObject* record) {
            vm::Ref ins = upper(vm::item(record, n_TargetIns));
            if (vm::not_equal(ins, vm::item(target, n_Code))) vm::append(kept, record);
        });
        vm::Ref pair = vm::new_list();
        vm::append(pair, items_of(kept, n_Day));
        vm::append(pair, items_of(kept, n_TargetIns));
        vm::dict_set(table, vm::call(vm::global(n_todotmc), target), pair);
    });
    return table;
}

// {"Market": market, "Code": code}
vm::Ref target_record(PyObject* market, PyObject* code) {
    vm::Ref record = vm::new_dict();
    vm::dict_set(record, n_Market, market);
    vm::dict_set(record, n_Code, code);
    return record;
}

vm::Ref collect_contracts(PyObject* self, vm::Params<3> p) {
    auto [targets, begin, end] = p.take<3>();
    if (!PyList_Check(targets))
        vm::raise_format(PyExc_TypeError, "collect_contracts() argument 'targets' must be list, not %.200s",
                         Py_TYPE(targets)->tp_name);
    vm::Ref begin_date = vm::borrow(begin);
    vm::Ref end_date = vm::borrow(end);
    vm::Ref result_list = vm::new_list();
    vm::Ref result_dict = vm::new_dict();
    if (vm::is_none(begin_date) && vm::is_none(end_date)) {
        // the last ten days
        end_date = vm::call(vm::global(n_to_int_now_date).get(), kw_fmt, n_date_format);
        vm::Ref next_n_day = vm::global(n_next_n_day);
        begin_date =
            vm::call(next_n_day.get(), kw_day_offset, end_date, vm::integer(-10), n_date_format, n_date_format);
    }
    vm::Ref get_main = vm::attr(self, n__RealTradeEnv__get_main_contract);
    vm::Ref table = vm::call(get_main.get(), targets, begin_date, end_date);

    Py_ssize_t idx = 0;
    vm::for_each(targets, [&](PyObject* target) {
        vm::Ref position = vm::integer(idx);
        vm::Ref get = vm::attr(table, n_get);
        vm::Ref entry = vm::call(get.get(), vm::call(vm::global(n_todotmc), target));
        vm::Ref codes = vm::is_none(entry) ? vm::Ref() : vm::item(entry, 1);
        if (codes && vm::truthy(codes)) {
            vm::Ref market = vm::item(target, n_Market);
            vm::Ref code = vm::item(codes, -1);
            vm::dict_set(result_dict, vm::call(vm::global(n_todotmc), target_record(market, code)), position);
            vm::Ref upper_market = upper(market);
            vm::Ref upper_code = upper(code);
            vm::append(result_list, target_record(upper_market, upper_code));
        } else {
            // an unresolved target keeps its own key
            vm::dict_set(result_dict, vm::call(vm::global(n_todotmc), target), position);
            vm::Ref real_targets = vm::attr(vm::attr(vm::attr(self, n_vr), n_g_VelmoroInputInfo), n_RealTargetList);
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
