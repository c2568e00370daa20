#include "frame.hpp"

#include "vm/shortcut.hpp"

#include <cmath>

namespace vmcmd {

Ref receive(PyObject* func_name) { return vm::global(n_recv_serial).call({func_name}); }

void check_answer(PyObject* func_name, PyObject* answer) {
    vm::global<vmReturnChecker>(n_vmReturnChecker).call({func_name, vm::attr(answer, n_result)});
}

Ref dot(PyObject* mapping) { return vm::global(n_todotdict).call({mapping}); }

// [todotdict(t) for t in items]. The global is read once per list: nothing
// between two items can rebind it but todotdict itself, which never does.
Ref dot_list(PyObject* items) {
    Ref todotdict = vm::global(n_todotdict);
    Ref out = vm::new_list();
    vm::for_each(items, [&](PyObject* t) { vm::append(out, todotdict.call({t})); });
    return out;
}

Ref target_list(PyObject* targets) { return dot_list(targets); }

// [todotdict({"Idx": i, ...fill(item)}) for i, item in enumerate(items)],
// each record of `fields` keys
template <class Fill>
Ref indexed_records(PyObject* items, Py_ssize_t fields, Fill fill) {
    Ref out = vm::new_list();
    Py_ssize_t idx = 0;
    Ref todotdict = vm::global(n_todotdict);  // once per list, as dot_list reads it
    vm::for_each(items, [&](PyObject* item) {
        Ref rec = vm::new_dict(fields);
        vm::dict_set(rec, n_Idx, vm::integer(idx++));
        fill(rec.get(), item);
        vm::append(out, todotdict.call({rec}));
    });
    return out;
}

Ref indexed_targets(PyObject* targets) {
    return indexed_records(targets, 3, [](PyObject* rec, PyObject* t) {
        vm::dict_set(rec, n_Market, vm::item(t, n_Market));
        vm::dict_set(rec, n_Code, vm::item(t, n_Code));
    });
}

Ref indexed_factors(PyObject* factors) {
    return indexed_records(factors, 2, [](PyObject* rec, PyObject* f) { vm::dict_set(rec, n_FactorName, f); });
}

// math.isnan as the module imported it: while the global is still that
// function, its test runs here, at the cost of a C call instead of a Python one.
PyObject* g_math_isnan = nullptr;

void keep_math_isnan() { g_math_isnan = vm::global(n_isnan).release(); }

bool nan_task_id(PyObject* task_id) {
    Ref isnan = vm::global(n_isnan);
    if (isnan.get() != g_math_isnan) return vm::truthy(isnan.call({task_id}));
    const double v = PyFloat_CheckExact(task_id) ? PyFloat_AS_DOUBLE(task_id) : PyFloat_AsDouble(task_id);
    if (v == -1.0 && PyErr_Occurred()) vm::raise();
    return std::isnan(v);
}

Ref as_int64(PyObject* value) { return vm::global_attr(n_np, n_int64).call({value}); }

Ref load(PyObject* path, bool raise_errors) {
    Ref load_mat = vm::global(n_load_mat);
    if (raise_errors) return load_mat.call(kw_error, {path, n_raise});
    return load_mat.call({path});
}

Ref load_answer_file(PyObject* answer, PyObject* path_name, bool raise_errors) {
    Ref load_mat = vm::global(n_load_mat);
    if (raise_errors) return load_mat.call(kw_error, {vm::attr(answer, path_name), n_raise});
    return load_mat.call({vm::attr(answer, path_name)});
}

Ref answer_int64(PyObject* answer, PyObject* name) {
    return vm::global_attr(n_np, n_int64).call({vm::attr(answer, name)});
}

}  // namespace vmcmd
