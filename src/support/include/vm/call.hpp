// Calling Python and the generic object protocols, at raw vectorcall cost:
// arguments go on the stack, keyword names come from a prebuilt Kw tuple.
#pragma once

#include "vm/internals.hpp"
#include "vm/names.hpp"
#include "vm/ref.hpp"

#include <string>
#include <utility>

#define VM_VECTORCALL ::vm::internals::vectorcall

namespace vm {

// One argument of a braced argument list: borrowed from a variable, or owning
// the temporary it was made from until the call's full expression ends.
class Arg {
public:
    Arg(PyObject* p) noexcept : p_(p) {}
    Arg(const Ref& r) noexcept : p_(r.get()) {}
    Arg(Ref&& r) noexcept : owned_(std::move(r)), p_(owned_.get()) {}
    Arg(const Name& n) noexcept : p_(n.get()) {}
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;

    PyObject* get() const noexcept { return p_; }

private:
    Ref owned_;
    PyObject* p_;
};

namespace detail {
template <size_t N>
[[gnu::always_inline]] inline Ref vectorcall(PyObject* f, const Arg (&args)[N], size_t positional,
                                             PyObject* kwnames) {
    PyObject* argv[N + 1];
    argv[0] = nullptr;
    for (size_t i = 0; i < N; ++i) argv[i + 1] = args[i].get();
    return own(VM_VECTORCALL(f, argv + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}
}  // namespace detail

// f({a, b, ...}) and f(kw, {a, b, ..., name=value...}): a braced list is
// evaluated left to right, so arguments that make Python steps run them in
// Python's order. The callee must already be evaluated: a temporary callee
// would be unsequenced with the list (write `expr.call({...})` instead).
template <size_t N>
Ref call(PyObject* f, const Arg (&args)[N]) {
    return detail::vectorcall(f, args, N, nullptr);
}
template <size_t K, size_t N>
Ref call(PyObject* f, const Kw<K>& kw, const Arg (&args)[N]) {
    static_assert(K <= N, "every keyword needs its value");
    return detail::vectorcall(f, args, N - K, kw.tuple());
}
template <size_t N>
Ref call(Ref&& f, const Arg (&args)[N]) = delete;
template <size_t K, size_t N>
Ref call(Ref&& f, const Kw<K>& kw, const Arg (&args)[N]) = delete;

// f(a...): one argument, or arguments that are all variables already made.
// Several arguments that each make a Python step belong in a braced list.
template <class... A>
Ref call(PyObject* f, const A&... a) {
    PyObject* args[sizeof...(A) + 1] = {nullptr, ptr(a)...};
    return own(VM_VECTORCALL(f, args + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// f(positional..., name=value...): the last kw.size() arguments are the
// values of the keywords named by kw, in order.
template <class... A>
Ref call(PyObject* f, const Keywords& kw, const A&... a) {
    PyObject* args[sizeof...(A) + 1] = {nullptr, ptr(a)...};
    const size_t positional = sizeof...(A) - static_cast<size_t>(kw.size());
    return own(VM_VECTORCALL(f, args + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kw.tuple()));
}
template <size_t K, class... A>
Ref call(PyObject* f, const Kw<K>& kw, const A&... a) {
    static_assert(K <= sizeof...(A), "every keyword needs its value");
    return call(f, static_cast<const Keywords&>(kw), a...);
}

// o.name(...) as Python calls a method: o.name is looked up first, then the
// arguments are made, then the call. A function found on o's type is called
// with o prepended, without the bound method Python's method calls skip too;
// anything else found is called as it is.
class Method {
public:
    Method(PyObject* o, PyObject* name) : Method(o, lookup(o, name)) {}

    Ref call() const {
        PyObject* argv[2] = {nullptr, self_.get()};
        return finish(argv, 0, nullptr);
    }
    template <size_t N>
    Ref call(const Arg (&args)[N]) const {
        return vectorcall(args, N, nullptr);
    }
    template <size_t K, size_t N>
    Ref call(const Kw<K>& kw, const Arg (&args)[N]) const {
        static_assert(K <= N, "every keyword needs its value");
        return vectorcall(args, N - K, kw.tuple());
    }

private:
    // what the lookup found, and whether o goes before the arguments
    struct Found {
        PyObject* f;
        bool unbound;
    };
    static Found lookup(PyObject* o, PyObject* name);
    Method(PyObject* o, Found found) : f_(Ref::steal(found.f)), self_(found.unbound ? borrow(o) : Ref()) {}

    // argv[0] is free, argv[1] is self (or free), the arguments follow
    Ref finish(PyObject** argv, size_t positional, PyObject* kwnames) const {
        if (self_)
            return own(VM_VECTORCALL(f_.get(), argv + 1, (positional + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
        return own(VM_VECTORCALL(f_.get(), argv + 2, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
    }
    template <size_t N>
    Ref vectorcall(const Arg (&args)[N], size_t positional, PyObject* kwnames) const {
        PyObject* argv[N + 2];
        argv[0] = nullptr;
        argv[1] = self_.get();
        for (size_t i = 0; i < N; ++i) argv[i + 2] = args[i].get();
        return finish(argv, positional, kwnames);
    }

    Ref f_;
    Ref self_;  // empty when f_ is called as it is
};

// Array forms for calls whose argument count is known only at run time.
Ref call_array(PyObject* f, PyObject* const* args, size_t nargs, PyObject* kwnames = nullptr);

inline Ref attr(PyObject* o, PyObject* name) { return own(PyObject_GetAttr(o, name)); }
// o.name, or an empty Ref when o has none: no AttributeError is made for a
// name that is only looked for.
Ref optional_attr(PyObject* o, PyObject* name);
namespace detail {
extern PyObject* g_dict;  // the module's __dict__
using internals::dict_version;
}  // namespace detail

// The same, remembering what a module's attribute was (names.hpp, Seen):
// while the module's dict keeps its version, the read is taken here.
Ref read_module_attr(PyObject* module, PyObject* name, Seen& seen);
inline Ref module_attr(PyObject* module, PyObject* name, Seen& seen) {
    if (PyObject* v = seen.at(detail::dict_version(PyModule_GetDict(module)))) return borrow(v);
    return read_module_attr(module, name, seen);
}
inline Ref attr(PyObject* o, PyObject* name, Seen& seen) {
    return Py_TYPE(o) == &PyModule_Type ? module_attr(o, name, seen) : attr(o, name);
}
// The same, remembering how the read goes for the object's type (TypeSeen).
Ref instance_attr(PyObject* o, const Name& name);
// A value of the class that is no descriptor (TypeSeen::kClassValue), unless
// the instance's own dict holds the name.
Ref class_value(PyObject* o, const Name& name);

// The entry of the object's own __dict__ (borrowed), null without one. The
// entry found in a versioned dict is remembered (Seen) while that dict keeps
// its version: an object read again before its dict changes costs no lookup.
PyObject* read_dict_entry(PyObject* dict, const Name& name);
inline PyObject* dict_entry(PyObject* o, const Name& name) {
    PyObject** dict = internals::dict_ptr(o);
    if (!dict || !*dict) return nullptr;
    if (internals::versioned(*dict)) {
        if (PyObject* v = name.as_entry().at(detail::dict_version(*dict))) return v;
    }
    return read_dict_entry(*dict, name);
}
inline Ref attr(PyObject* o, const Name& name) {
    if (Py_TYPE(o) == &PyModule_Type) return module_attr(o, name.get(), name.as_attribute());
    const TypeSeen& seen = name.as_instance();
    if (!seen.holds(Py_TYPE(o))) return instance_attr(o, name);
    if (seen.where > 0) {
        if (PyObject* v = seen.slot(o)) return borrow(v);
    } else if (seen.where == TypeSeen::kInstanceDict) {
        if (PyObject* v = dict_entry(o, name)) return borrow(v);
    } else if (seen.where == TypeSeen::kClassValue) {
        return class_value(o, name);
    }
    return attr(o, name.get());  // the generic road, or the AttributeError Python raises
}
inline void set_attr(PyObject* o, PyObject* name, PyObject* v) { check(PyObject_SetAttr(o, name, v)); }

// `raise exception(argument)` as a Python raise statement does it.
[[noreturn]] void raise_instance(PyObject* exception);
[[noreturn]] void raise_instance(PyObject* exception, PyObject* argument);

// o[key]. A plain dict is read here, inline: the most common item step of
// the modules, at the cost of the lookup alone.
Ref item_of_any(PyObject* o, PyObject* key);
inline Ref item(PyObject* o, PyObject* key) {
    if (!PyDict_CheckExact(o)) return item_of_any(o, key);
    if (PyObject* v = PyDict_GetItemWithError(o, key)) return borrow(v);
    if (PyErr_Occurred()) raise();
    return own(PyObject_GetItem(o, key));  // the KeyError Python raises
}
// A dict (or subclass) whose iteration and item reads are dict's own: walking
// it with PyDict_Next sees what `for k in o: o[k]` would, without Python steps.
bool reads_as_dict(PyObject* o);
Ref item(PyObject* o, Py_ssize_t index);
inline void set_item(PyObject* o, PyObject* key, PyObject* v) { check(PyObject_SetItem(o, key, v)); }

bool truthy(PyObject* o);
Py_ssize_t length(PyObject* o);

namespace detail {
// Python's truth of `a <op> b` for Py_EQ, Py_NE and Py_LT
bool compared(PyObject* a, PyObject* b, int op);
}  // namespace detail

inline bool equal(PyObject* a, PyObject* b) { return detail::compared(a, b, Py_EQ); }      // truth of a == b
inline bool not_equal(PyObject* a, PyObject* b) { return detail::compared(a, b, Py_NE); }  // truth of a != b
inline bool less(PyObject* a, PyObject* b) { return detail::compared(a, b, Py_LT); }
bool is_none(PyObject* o) noexcept;

Ref integer(long long v);
Ref floating(double v);
Ref text(const char* s);
Ref text(const std::string& s);
long long to_long(PyObject* o);
double to_double(PyObject* o);
std::string to_string(PyObject* o);  // a str's UTF-8 text
Ref str(PyObject* o);                // str(o)
Ref repr(PyObject* o);               // repr(o)

Ref new_list(Py_ssize_t size = 0);
void append(PyObject* list, PyObject* v);
Ref new_tuple(std::initializer_list<PyObject*> items);
Ref new_list(std::initializer_list<PyObject*> items);
Ref new_dict();
// A dict that will hold `expected` items, made at that size at once as
// Python's dict displays are.
Ref new_dict(Py_ssize_t expected);
inline void dict_set(PyObject* d, PyObject* key, PyObject* v) { check(PyDict_SetItem(d, key, v)); }
Ref iter(PyObject* o);
// Next item of an iterator, or an empty Ref at its end.
Ref next(PyObject* it);
// a, b = value
std::pair<Ref, Ref> unpack2(PyObject* value);

// Calls body(item) for every item of an iterable, through the iterator
// protocol. A list or tuple is walked by index as its own iterator walks it:
// the length is read again before every item, so a body that changes the
// list sees the same items as a Python loop would.
template <class F>
void for_each(PyObject* iterable, F&& body) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        Ref keep = borrow(iterable);
        for (Py_ssize_t i = 0; i < Py_SIZE(iterable); ++i) {
            Ref v = borrow(PyList_CheckExact(iterable) ? PyList_GET_ITEM(iterable, i) : PyTuple_GET_ITEM(iterable, i));
            body(v.get());
        }
        return;
    }
    Ref it = iter(iterable);
    while (Ref v = next(it)) body(v.get());
}

// Module globals: read from the module's __dict__ at call time, so that a
// replacement by the framework or a test acts on the next call.
Ref read_global(const Name& name);
inline Ref global(const Name& name) {
    if (PyObject* v = name.as_global().at(detail::dict_version(detail::g_dict))) return borrow(v);
    return read_global(name);
}
// global.name: the global is read first, then its attribute. A module global
// whose attribute is remembered (module_attr) needs no reference of its own:
// neither read can run anything that would drop it.
namespace detail {
inline PyObject* remembered(const Name& global_name, Seen& seen) noexcept {
    PyObject* m = global_name.as_global().at(dict_version(g_dict));
    if (!m || Py_TYPE(m) != &PyModule_Type) return nullptr;
    return seen.at(dict_version(PyModule_GetDict(m)));
}
}  // namespace detail
inline Ref global_attr(const Name& global_name, PyObject* name, Seen& seen) {
    if (PyObject* v = detail::remembered(global_name, seen)) return borrow(v);
    return attr(global(global_name), name, seen);
}
inline Ref global_attr(const Name& global_name, const Name& name) {
    if (PyObject* v = detail::remembered(global_name, name.as_attribute())) return borrow(v);
    return attr(global(global_name), name);
}
PyObject* module_dict() noexcept;
PyObject* module_object() noexcept;

}  // namespace vm

namespace vm {

inline Ref Ref::attr(PyObject* name) const { return vm::attr(p_, name); }
inline Ref Ref::attr(const Name& name) const { return vm::attr(p_, name); }
inline Method Ref::method(PyObject* name) const { return Method(p_, name); }
inline Ref Ref::item(PyObject* key) const { return vm::item(p_, key); }
inline Ref Ref::item(Py_ssize_t index) const { return vm::item(p_, index); }
inline bool Ref::equals(PyObject* other) const { return equal(p_, other); }
inline Ref Ref::call() const { return vm::call(p_); }
template <size_t N>
Ref Ref::call(const Arg (&args)[N]) const {
    return vm::call(p_, args);
}
template <size_t K, size_t N>
Ref Ref::call(const Kw<K>& kw, const Arg (&args)[N]) const {
    return vm::call(p_, kw, args);
}

}  // namespace vm
