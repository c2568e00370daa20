// Partial shortcuts: a caller that needs only part of what one of the module's
// own functions builds may do that part itself, but only while the global it
// would call is still that function (a replacement is called as Python would).
#pragma once

#include "vm/function.hpp"

namespace vm {

// Whether `f` (a global just read) is the module's own function F.
template <auto F>
bool is_own(PyObject* f) noexcept {
    return f == detail::Fn<F>::object;
}

// The arguments of a positional call to F, bound with F's own defaults.
template <auto F>
class Bound {
public:
    template <class... A>
    explicit Bound(const A&... a) {
        PyObject* given[sizeof...(A) + 1] = {ptr(a)...};
        if (!detail::Fn<F>::sig.bind(given, sizeof...(A), nullptr, bound_)) raise();
    }
    Args args() const noexcept { return Args(bound_); }

private:
    PyObject* bound_[kMaxParams];
};

}  // namespace vm
