// Functions declared once from a parameter list: the fastcall entry, the
// CPython-style binder, the defaults and the text signature all come from
// one declaration such as "listMC=[], wstrOpFlags='czce'".
#pragma once

#include "vm/call.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace vm {

constexpr size_t kMaxParams = 16;

// A parameter found by name in a declaration (see slot_of).
class Slot {
public:
    constexpr explicit Slot(size_t index) noexcept : index_(index) {}
    constexpr size_t index() const noexcept { return index_; }

private:
    size_t index_;
};

// The bound arguments of one call, in declaration order (borrowed), for
// bodies that serve many declarations: they read a parameter through a Slot
// resolved at import, or walk them all in order.
class Args {
public:
    Args(PyObject* const* v, size_t n) noexcept : v_(v), n_(n) {}
    PyObject* operator[](Slot s) const noexcept { return v_[s.index()]; }
    // by position, for code still to move to Params or Slots
    PyObject* operator[](size_t i) const noexcept { return v_[i]; }
    size_t size() const noexcept { return n_; }
    PyObject* const* begin() const noexcept { return v_; }
    PyObject* const* end() const noexcept { return v_ + n_; }

private:
    PyObject* const* v_;
    size_t n_;
};

// The bound arguments of a body written for one declaration of N parameters,
// taken by name in declaration order:
//     auto [targets, freq, num, begin] = p.take<4>();
// N is checked against the declaration when the function is created (at
// compile time where the declaration is a literal), so a parameter list and
// a body that disagree never load.
template <size_t N>
class Params {
public:
    explicit Params(PyObject* const* v) noexcept : v_(v) {}
    template <size_t K>
    std::array<PyObject*, K> take() const noexcept {
        static_assert(K == N, "take<K>() names every parameter of the declaration");
        std::array<PyObject*, K> out;
        for (size_t i = 0; i < K; ++i) out[i] = v_[i];
        return out;
    }

private:
    PyObject* const* v_;
};

// The end of the parameter that starts at p in a declaration such as
// "a: int, b: Tuple[int, int] = (1, 2), c='x,y' -> str": the next comma
// outside brackets and quotes, the return annotation's arrow, or the end.
// Annotations are for the stubs (tools/stubgen): binding ignores them.
constexpr const char* param_end(const char* p) {
    int depth = 0;
    char quote = 0;
    for (; *p; ++p) {
        const char c = *p;
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        } else if (depth == 0 && (c == ',' || (c == '-' && p[1] == '>'))) {
            break;
        }
    }
    return p;
}

// The number of parameters in a declaration.
constexpr size_t count_params(const char* params) {
    size_t commas = 0;
    bool any = false;
    for (const char* p = params;; ++p) {
        const char* end = param_end(p);
        for (; p != end; ++p) any = any || (*p != ' ' && *p != '\t' && *p != '\n');
        if (*end != ',') break;
        any = true;
        ++commas;
    }
    return any ? commas + 1 : 0;
}

// The slot of parameter `name` in the declaration `params`; SystemError when
// the declaration has no such parameter (a table row naming a wrong
// parameter fails the import, never a call).
Slot slot_of(const char* params, const char* name);

class Signature {
public:
    // `display` names the callable in binding errors; `self_count` is 1 for
    // methods, whose positional counts in messages include self as Python's do.
    void init(const std::string& display, const char* params, int self_count);

    // Fills out[0..size()) from a vectorcall; false with TypeError set.
    bool bind(PyObject* const* args, size_t nargs, PyObject* kwnames, PyObject** out) const noexcept;

    // The parameters without their annotations: "a, b=0".
    const std::string& params_text() const noexcept { return params_text_; }

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

constexpr size_t kAnyArity = SIZE_MAX;

struct FunctionSpec {
    const char* name;
    const char* params;
    const char* doc;
    FastEntry entry;
    Signature* sig;
    PyObject** object;  // the published callable, for own-function shortcuts
    size_t arity;       // parameters the body takes; kAnyArity for Args bodies
};

namespace detail {

// What a body takes: Args (any declaration) or Params<N>, after an optional self.
template <class In>
struct Input {
    static constexpr size_t arity = kAnyArity;
    static Args make(PyObject* const* v, const Signature& sig) noexcept { return Args(v, sig.size()); }
};
template <size_t N>
struct Input<Params<N>> {
    static constexpr size_t arity = N;
    static Params<N> make(PyObject* const* v, const Signature&) noexcept { return Params<N>(v); }
};
template <class F>
struct Body;
template <class In>
struct Body<Ref (*)(In)> : Input<In> {
    static constexpr bool method = false;
};
template <class In>
struct Body<Ref (*)(PyObject*, In)> : Input<In> {
    static constexpr bool method = true;
};

template <auto F>
struct Fn {
    using B = Body<decltype(F)>;
    static constexpr size_t arity = B::arity;
    static inline Signature sig;
    static inline PyObject* object = nullptr;

    // Every parameter given by position (the common call) is already bound:
    // the body reads the caller's argument array as it is.
    static PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        if (!kwnames && static_cast<size_t>(nargs) == sig.size()) return guard([&] { return invoke(self, args); });
        PyObject* bound[kMaxParams];
        if (!sig.bind(args, static_cast<size_t>(nargs), kwnames, bound)) return nullptr;
        return guard([&] { return invoke(self, bound); });
    }

    // A positional call made from C++, bound the same way.
    static Ref call_positional(PyObject* self, PyObject* const* args, size_t nargs) {
        if (nargs == sig.size()) return invoke(self, args);
        PyObject* bound[kMaxParams];
        if (!sig.bind(args, nargs, nullptr, bound)) raise();
        return invoke(self, bound);
    }

    static Ref invoke(PyObject* self, PyObject* const* bound) {
        if constexpr (B::method) {
            return F(self, B::make(bound, sig));
        } else {
            (void)self;
            return F(B::make(bound, sig));
        }
    }
};

// A literal declaration of `count` parameters for a body of `arity`.
template <size_t arity, size_t count>
constexpr const char* declared(const char* params) {
    static_assert(arity == kAnyArity || arity == count, "the body takes a different number of parameters");
    return params;
}

}  // namespace detail

// A module-level function `Ref f(Params<N>)` (or `Ref f(Args)`), or a method
// `Ref f(PyObject* self, Params<N>)`, published under its C++ name.
#define VM_FUNCTION(fn, params, doc)                                                                      \
    ::vm::FunctionSpec {                                                                                  \
        #fn, ::vm::detail::declared<::vm::detail::Fn<fn>::arity, ::vm::count_params(params)>(params), doc, \
            &::vm::detail::Fn<fn>::entry, &::vm::detail::Fn<fn>::sig, &::vm::detail::Fn<fn>::object,      \
            ::vm::detail::Fn<fn>::arity                                                                   \
    }
// The same under another name, for declarations made at run time (table rows).
#define VM_NAMED_FUNCTION(name, fn, params, doc)                                                          \
    ::vm::FunctionSpec {                                                                                  \
        name, params, doc, &::vm::detail::Fn<fn>::entry, &::vm::detail::Fn<fn>::sig,                      \
            &::vm::detail::Fn<fn>::object, ::vm::detail::Fn<fn>::arity                                    \
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
