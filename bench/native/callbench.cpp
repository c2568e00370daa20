// Times keyword and positional calls through the support layer against the
// same calls made with a raw vectorcall.
#include "vm/module.hpp"

#include <chrono>

namespace {

using vm::Args;
using vm::Ref;

const vm::Kw kw_level_console{"level", "console"};

template <class F>
Ref timed(PyObject* count, F&& body) {
    const long long n = vm::to_long(count);
    const auto start = std::chrono::steady_clock::now();
    for (long long i = 0; i < n; ++i) body();
    const auto end = std::chrono::steady_clock::now();
    return vm::integer(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
}

Ref layer_keyword(Args a) {
    PyObject* f = a[0];
    return timed(a[1], [&] { vm::call(f, kw_level_console, a[2], a[3], a[4], a[5]); });
}

Ref raw_keyword(Args a) {
    PyObject* f = a[0];
    PyObject* kwnames = kw_level_console.tuple();
    return timed(a[1], [&] {
        PyObject* args[5] = {nullptr, a[2], a[3], a[4], a[5]};
        PyObject* r = VM_VECTORCALL(f, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
        if (!r) vm::raise();
        Py_DECREF(r);
    });
}

Ref layer_positional(Args a) {
    PyObject* f = a[0];
    return timed(a[1], [&] { vm::call(f, a[2], a[3]); });
}

Ref raw_positional(Args a) {
    PyObject* f = a[0];
    return timed(a[1], [&] {
        PyObject* args[3] = {nullptr, a[2], a[3]};
        PyObject* r = VM_VECTORCALL(f, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
        if (!r) vm::raise();
        Py_DECREF(r);
    });
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(layer_keyword, "f, n, a, b, level, console", "f(a, b, level=, console=) n times, via the layer."),
    VM_FUNCTION(raw_keyword, "f, n, a, b, level, console", "The same with a raw vectorcall."),
    VM_FUNCTION(layer_positional, "f, n, a, b", "f(a, b) n times, via the layer."),
    VM_FUNCTION(raw_positional, "f, n, a, b", "The same with a raw vectorcall."),
};

void exec(vm::Module& m) { m.add(kFunctions); }

}  // namespace

VM_MODULE(_callbench, "Call benchmarks of the native support layer.", exec)
