#include "frame.hpp"

namespace vmcmd {

Name n_result{"result"};

namespace {
Name n_vmserial{"vmserial"};
Name n_recv_serial{"recv_serial"};
Name n_vmReturnChecker{"vmReturnChecker"};
Name n_todotdict{"todotdict"};
Name n_isnan{"isnan"};
Name n_np{"np"};
Name n_int64{"int64"};
Name n_load_mat{"load_mat"};
Name n_raise{"raise"};
Name n_Idx{"Idx"};
Name n_Market{"Market"};
Name n_Code{"Code"};
Name n_FactorName{"FactorName"};
const vm::Kw kw_error{"error"};
}  // namespace

Ref sender(PyObject* send_name) { return vm::attr(vm::global(n_vmserial), send_name); }

Ref receive(PyObject* func_name) { return vm::call(vm::global(n_recv_serial), func_name); }

void check_answer(PyObject* func_name, PyObject* answer) {
    vm::call_global<vmReturnChecker>(n_vmReturnChecker, func_name, vm::attr(answer, n_result));
}

Ref dot(PyObject* mapping) { return vm::call(vm::global(n_todotdict), mapping); }

Ref dot_list(PyObject* items) {
    Ref todotdict = vm::global(n_todotdict);
    Ref out = vm::new_list();
    vm::for_each(items, [&](PyObject* t) { vm::append(out, vm::call(todotdict.get(), t)); });
    return out;
}

Ref target_list(PyObject* targets) { return dot_list(targets); }

// [todotdict({"Idx": i, ...fill(item)}) for i, item in enumerate(items)]
template <class Fill>
Ref indexed_records(PyObject* items, Fill fill) {
    Ref todotdict = vm::global(n_todotdict);
    Ref out = vm::new_list();
    Py_ssize_t idx = 0;
    vm::for_each(items, [&](PyObject* item) {
        Ref rec = vm::new_dict();
        vm::dict_set(rec, n_Idx, vm::integer(idx++));
        fill(rec.get(), item);
        vm::append(out, vm::call(todotdict.get(), rec));
    });
    return out;
}

Ref indexed_targets(PyObject* targets) {
    return indexed_records(targets, [](PyObject* rec, PyObject* t) {
        vm::dict_set(rec, n_Market, vm::item(t, n_Market));
        vm::dict_set(rec, n_Code, vm::item(t, n_Code));
    });
}

Ref indexed_factors(PyObject* factors) {
    return indexed_records(factors, [](PyObject* rec, PyObject* f) { vm::dict_set(rec, n_FactorName, f); });
}

bool nan_task_id(PyObject* task_id) { return vm::truthy(vm::call(vm::global(n_isnan), task_id)); }

Ref as_int64(PyObject* value) { return vm::call(vm::attr(vm::global(n_np), n_int64), value); }

Ref load(PyObject* path, bool raise_errors) {
    Ref load_mat = vm::global(n_load_mat);
    if (raise_errors) return vm::call(load_mat.get(), kw_error, path, n_raise);
    return vm::call(load_mat.get(), path);
}

}  // namespace vmcmd
