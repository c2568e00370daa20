// Times keyword and positional calls through the support layer against the
// same calls made with a raw vectorcall.
#include "vm/module.hpp"

#include <chrono>

namespace {

using vm::Params;
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

Ref layer_keyword(Params<6> p) {
    auto [f, n, a, b, level, console] = p.take<6>();
    return timed(n, [&] { vm::call(f, kw_level_console, {a, b, level, console}); });
}

Ref raw_keyword(Params<6> p) {
    auto [f, n, a, b, level, console] = p.take<6>();
    PyObject* kwnames = kw_level_console.tuple();
    return timed(n, [&] {
        PyObject* args[5] = {nullptr, a, b, level, console};
        PyObject* r = VM_VECTORCALL(f, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
        if (!r) vm::raise();
        Py_DECREF(r);
    });
}

Ref layer_positional(Params<4> p) {
    auto [f, n, a, b] = p.take<4>();
    return timed(n, [&] { vm::call(f, {a, b}); });
}

Ref raw_positional(Params<4> p) {
    auto [f, n, a, b] = p.take<4>();
    return timed(n, [&] {
        PyObject* args[3] = {nullptr, a, b};
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
