// Module globals that may still be one of the module's own functions: while
// the global is that function, a caller may run its body (or the part it
// needs) directly; a replacement is called as Python would call it.
#pragma once

#include "vm/function.hpp"

namespace vm {

// The module global `name`, read when this object is made, that may be F.
template <auto F>
class OwnFunction {
public:
    explicit OwnFunction(const Name& name) : f_(global(name)) {}

    bool is_own() const noexcept { return f_.get() == detail::Fn<F>::object; }
    const Ref& object() const noexcept { return f_; }

    // f(a...): F's body with F's binding and defaults, or a Python call.
    template <size_t N>
    Ref call(const Arg (&args)[N]) const {
        if (!is_own()) return vm::call(f_.get(), args);
        PyObject* given[N];
        for (size_t i = 0; i < N; ++i) given[i] = args[i].get();
        return detail::Fn<F>::call_positional(module_object(), given, N);
    }
    Ref call() const {
        if (!is_own()) return vm::call(f_.get());
        return detail::Fn<F>::call_positional(module_object(), nullptr, 0);
    }

private:
    Ref f_;
};

// vm::global<F>(name).call({a, b}): the global is read first, then the
// arguments are made left to right, then the call, as Python does.
template <auto F>
OwnFunction<F> global(const Name& name) {
    return OwnFunction<F>(name);
}

// The arguments of a positional call to F, bound with F's own defaults, in
// the form F's body takes them.
template <auto F>
class Bound {
public:
    template <size_t N>
    explicit Bound(const Arg (&args)[N]) {
        PyObject* given[N];
        for (size_t i = 0; i < N; ++i) given[i] = args[i].get();
        if (!detail::Fn<F>::sig.bind(given, N, nullptr, bound_)) raise();
    }
    auto input() const noexcept { return detail::Fn<F>::B::make(bound_, detail::Fn<F>::sig); }

private:
    PyObject* bound_[kMaxParams];
};

}  // namespace vm
