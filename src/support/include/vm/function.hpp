// Functions declared once from a parameter list: the fastcall entry, the
// CPython-style binder, the defaults and the text signature all come from
// one declaration such as "listMC=[], wstrOpFlags='czce'".
#pragma once

#include "vm/call.hpp"

#include <string>
#include <type_traits>
#include <vector>

namespace vm {

constexpr size_t kMaxParams = 16;

// The bound arguments of one call, in declaration order (borrowed).
class Args {
public:
    explicit Args(PyObject* const* v) noexcept : v_(v) {}
    PyObject* operator[](size_t i) const noexcept { return v_[i]; }

private:
    PyObject* const* v_;
};

class Signature {
public:
    // `display` names the callable in binding errors; `self_count` is 1 for
    // methods, whose positional counts in messages include self as Python's do.
    void init(const std::string& display, const char* params, int self_count);

    // Fills out[0..size()) from a vectorcall; false with TypeError set.
    bool bind(PyObject* const* args, size_t nargs, PyObject* kwnames, PyObject** out) const noexcept;

    // "name($module, /, a, b=0)\n--\n\n" as inspect.signature reads it.
    // self_marker: "$module", "$self", or nullptr for a static method.
    std::string text_signature(const char* name, const char* self_marker) const;

    size_t size() const noexcept { return names_.size(); }
    PyObject* name_at(size_t i) const noexcept { return names_[i]; }
    PyObject* default_at(size_t i) const noexcept { return defaults_[i]; }

private:
    void too_many_positional(size_t given) const noexcept;
    void missing(PyObject* const* out) const noexcept;

    std::string display_;
    std::string params_text_;
    std::vector<PyObject*> names_;     // interned, kept for the process
    std::vector<PyObject*> defaults_;  // nullptr where required
    size_t required_ = 0;
    int self_count_ = 0;
};

// A literal default of a declaration: None, True, False, numbers, quoted
// strings, () and []. Built once at import and shared by every call.
Ref parse_literal(const std::string& source);

using FastEntry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct FunctionSpec {
    const char* name;
    const char* params;
    const char* doc;
    FastEntry entry;
    Signature* sig;
    PyObject** object;  // the published callable, for call_global shortcuts
};

namespace detail {
template <auto F>
struct Fn {
    static inline Signature sig;
    static inline PyObject* object = nullptr;

    static PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        PyObject* bound[kMaxParams];
        if (!sig.bind(args, static_cast<size_t>(nargs), kwnames, bound)) return nullptr;
        return guard([&] { return invoke(self, Args(bound)); });
    }

    static Ref invoke(PyObject* self, Args a) {
        if constexpr (std::is_invocable_v<decltype(F), Args>) {
            (void)self;
            return F(a);
        } else {
            return F(self, a);
        }
    }
};
}  // namespace detail

// A module-level function `Ref f(Args)` or a method `Ref f(PyObject* self, Args)`.
#define VM_FUNCTION(fn, params, doc)                                                        \
    ::vm::FunctionSpec {                                                                    \
        #fn, params, doc, &::vm::detail::Fn<fn>::entry, &::vm::detail::Fn<fn>::sig,         \
            &::vm::detail::Fn<fn>::object                                                   \
    }
#define VM_NAMED_FUNCTION(name, fn, params, doc)                                            \
    ::vm::FunctionSpec {                                                                    \
        name, params, doc, &::vm::detail::Fn<fn>::entry, &::vm::detail::Fn<fn>::sig,        \
            &::vm::detail::Fn<fn>::object                                                   \
    }

// Calls the module global `name` with positional arguments. While the global
// is still the module's own function F, the C++ body runs directly (same
// binding, same defaults); a replacement is called through Python.
template <auto F, class... A>
Ref call_global(const Name& name, const A&... a) {
    Ref f = global(name);
    using Fn = detail::Fn<F>;
    if (f.get() == Fn::object) {
        PyObject* given[sizeof...(A) + 1] = {ptr(a)...};
        PyObject* bound[kMaxParams];
        if (!Fn::sig.bind(given, sizeof...(A), nullptr, bound)) raise();
        return Fn::invoke(module_object(), Args(bound));
    }
    return call(f.get(), a...);
}

// Creates the function objects of `specs` and stores them in the module.
void add_functions(PyObject* module, const FunctionSpec* specs, size_t count);
template <size_t N>
void add_functions(PyObject* module, const FunctionSpec (&specs)[N]) {
    add_functions(module, specs, N);
}

// Method descriptors of a class (native or derived from a Python class):
// they bind like Python methods. `qualprefix` is the class name.
void add_methods(PyObject* type, const FunctionSpec* specs, size_t count);
template <size_t N>
void add_methods(PyObject* type, const FunctionSpec (&specs)[N]) {
    add_methods(type, specs, N);
}
// Classes show their constructor's parameters to inspect.signature as Python
// classes do; where a native __init__ or the interpreter's version hides
// them, the class gets an explicit __signature__ from `params`.
void ensure_class_signature(PyObject* type, const std::string& params);

// A static method (no self), stored on the class under `attr_name`.
void add_static_method(PyObject* type, const char* attr_name, const FunctionSpec& spec);

}  // namespace vm
