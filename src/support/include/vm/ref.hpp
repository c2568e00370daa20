// Owning references and error propagation: the only place that touches
// reference counts by hand.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <utility>

namespace vm {

class Arg;
class Method;
class Name;
template <size_t N>
class Kw;

// Thrown while a Python exception is set; the C entry points turn it back
// into a NULL return, so the Python error reaches the caller unchanged.
struct Error {};

[[noreturn]] void raise();
[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] void raise(PyObject* type, PyObject* message);
[[noreturn]] void raise_format(PyObject* type, const char* format, ...);

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return steal(p);
    }
    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    operator PyObject*() const noexcept { return p_; }

    // Python steps on this object, chained: C++17 evaluates the object of a
    // member call before its arguments, so `o.attr(n).call({x, y})` runs
    // o.n, then x, then y, then the call, as Python does (call.hpp).
    Ref attr(PyObject* name) const;
    Ref attr(const Name& name) const;
    Method method(PyObject* name) const;  // this.name, to be called (call.hpp)
    Ref item(PyObject* key) const;
    Ref item(Py_ssize_t index) const;
    bool equals(PyObject* other) const;  // truth of self == other
    Ref call() const;
    template <size_t N>
    Ref call(const Arg (&args)[N]) const;
    template <size_t K, size_t N>
    Ref call(const Kw<K>& kw, const Arg (&args)[N]) const;

private:
    PyObject* p_ = nullptr;
};

// A new reference returned by the C API; NULL means a Python error is set.
inline Ref own(PyObject* p) {
    if (!p) raise();
    return Ref::steal(p);
}
inline Ref borrow(PyObject* p) { return Ref::borrow(p); }
inline void check(int rc) {
    if (rc < 0) raise();
}

inline PyObject* ptr(PyObject* p) noexcept { return p; }
inline PyObject* ptr(const Ref& r) noexcept { return r.get(); }

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref boolean(bool b) { return Ref::borrow(b ? Py_True : Py_False); }

// Runs a body at a C boundary: Python errors come back as NULL/-1, C++
// failures become Python exceptions, nothing C++ escapes.
void set_from_current_exception() noexcept;

template <class F>
PyObject* guard(F&& body) noexcept {
    try {
        return body().release();
    } catch (...) {
        set_from_current_exception();
        return nullptr;
    }
}

template <class F>
int guard_int(F&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        set_from_current_exception();
        return -1;
    }
}

}  // namespace vm
