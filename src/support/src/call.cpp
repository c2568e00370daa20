#include "vm/call.hpp"

#include "dict_probe.hpp"


namespace vm {
namespace detail {
PyObject* g_module = nullptr;
PyObject* g_dict = nullptr;
}  // namespace detail

Method::Found Method::lookup(PyObject* o, PyObject* name) {
    PyObject* f = nullptr;
    const int unbound = internals::method_lookup(o, name, &f);
    if (!f) raise();
    return {f, unbound != 0};
}

Ref call_array(PyObject* f, PyObject* const* args, size_t nargs, PyObject* kwnames) {
    return own(VM_VECTORCALL(f, args, nargs, kwnames));
}

void raise_instance(PyObject* exception) {
    Ref exc = call(exception);
    if (!PyExceptionInstance_Check(exc.get())) raise(PyExc_TypeError, "exceptions must derive from BaseException");
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw Error{};
}

void raise_instance(PyObject* exception, PyObject* argument) {
    Ref exc = call(exception, argument);
    if (!PyExceptionInstance_Check(exc.get())) raise(PyExc_TypeError, "exceptions must derive from BaseException");
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw Error{};
}

namespace {

PyObject* getitem_name() {
    static PyObject* const name = PyUnicode_InternFromString("__getitem__");
    return name;
}

// `type` is the builtin `Base` (a dict, list or tuple) or a subclass that
// keeps Base's own __getitem__: a subclass's item slot is still a generic
// one, which calls that method as Python would, at several times the cost.
// Base's method is found once: a builtin type never changes.
template <PyTypeObject* Base>
bool keeps_getitem(PyTypeObject* type) {
    static PyObject* const base_getitem = getitem_name() ? internals::type_lookup(Base, getitem_name()) : nullptr;
    return type == Base || (base_getitem && internals::type_lookup(type, getitem_name()) == base_getitem);
}

}  // namespace

// A key such a dict holds is read straight from it; a missing one takes the
// whole road (__missing__, KeyError).
Ref item_of_any(PyObject* o, PyObject* key) {
    if (PyDict_Check(o) && keeps_getitem<&PyDict_Type>(Py_TYPE(o))) {
        if (PyObject* v = PyDict_GetItemWithError(o, key)) return borrow(v);
        if (PyErr_Occurred()) raise();
    }
    return own(PyObject_GetItem(o, key));
}

bool reads_as_dict(PyObject* o) {
    return PyDict_Check(o) && Py_TYPE(o)->tp_iter == PyDict_Type.tp_iter && keeps_getitem<&PyDict_Type>(Py_TYPE(o));
}

// A list or tuple (or a subclass keeping its __getitem__) is read by position
// as its own item step reads it (a negative index counts from the end); other
// objects and an index out of range (IndexError) take the whole road.
Ref item(PyObject* o, Py_ssize_t index) {
    const bool list = PyList_Check(o) && keeps_getitem<&PyList_Type>(Py_TYPE(o));
    if (list || (PyTuple_Check(o) && keeps_getitem<&PyTuple_Type>(Py_TYPE(o)))) {
        const Py_ssize_t n = Py_SIZE(o);
        const Py_ssize_t i = index < 0 ? index + n : index;
        if (i >= 0 && i < n) return borrow(list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i));
    }
    Ref key = integer(index);
    return item(o, key.get());
}

bool truthy(PyObject* o) {
    int r = PyObject_IsTrue(o);
    check(r);
    return r != 0;
}

Py_ssize_t length(PyObject* o) {
    Py_ssize_t n = PyObject_Length(o);
    if (n < 0) raise();
    return n;
}

namespace {

bool ordered(long x, long y, int op) noexcept { return op == Py_EQ ? x == y : op == Py_NE ? x != y : x < y; }

// Exact ints and strs equal themselves, so the identity shortcut of
// PyObject_RichCompareBool gives Python's truth for them, without the bool.
bool reflexive(PyObject* a, PyObject* b) noexcept {
    return Py_TYPE(a) == Py_TYPE(b) && (PyLong_CheckExact(a) || PyUnicode_CheckExact(a));
}

}  // namespace

namespace detail {

bool compared(PyObject* a, PyObject* b, int op) {
    if (reflexive(a, b)) {
        if (a == b) return op == Py_EQ;  // equal to itself; neither unequal nor less
        // two exact ints of a C long's range compare as their values, as int's own comparison does
        if (PyLong_CheckExact(a)) {
            int wide_a = 0, wide_b = 0;
            const long x = PyLong_AsLongAndOverflow(a, &wide_a);
            const long y = PyLong_AsLongAndOverflow(b, &wide_b);
            if (!wide_a && !wide_b) return ordered(x, y, op);
        }
        const int r = PyObject_RichCompareBool(a, b, op);
        check(r);
        return r != 0;
    }
    // Python's truth of the comparison: no identity shortcut, so NaN != NaN as in Python
    Ref r = own(PyObject_RichCompare(a, b, op));
    return truthy(r.get());
}

}  // namespace detail

bool is_none(PyObject* o) noexcept { return o == Py_None; }

Ref integer(long long v) { return own(PyLong_FromLongLong(v)); }
Ref floating(double v) { return own(PyFloat_FromDouble(v)); }
Ref text(const char* s) { return own(PyUnicode_FromString(s)); }
Ref text(const std::string& s) {
    return own(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

long long to_long(PyObject* o) {
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) raise();
    return v;
}

double to_double(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) raise();
    return v;
}

std::string to_string(PyObject* o) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) raise();
    return std::string(s, static_cast<size_t>(n));
}

Ref str(PyObject* o) { return own(PyObject_Str(o)); }
Ref repr(PyObject* o) { return own(PyObject_Repr(o)); }

Ref new_list(Py_ssize_t size) { return own(PyList_New(size)); }
void append(PyObject* list, PyObject* v) { check(PyList_Append(list, v)); }

namespace {

// A new tuple or list (`make`) holding `items`, placed with `place` (its SET_ITEM).
template <class Make, class Place>
Ref holding(Make make, Place place, std::initializer_list<PyObject*> items) {
    Ref made = own(make(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (PyObject* v : items) {
        Py_INCREF(v);
        place(made.get(), i++, v);
    }
    return made;
}

}  // namespace

Ref new_tuple(std::initializer_list<PyObject*> items) {
    return holding(PyTuple_New, [](PyObject* t, Py_ssize_t i, PyObject* v) { PyTuple_SET_ITEM(t, i, v); }, items);
}

Ref new_list(std::initializer_list<PyObject*> items) {
    return holding(PyList_New, [](PyObject* l, Py_ssize_t i, PyObject* v) { PyList_SET_ITEM(l, i, v); }, items);
}

Ref new_dict() { return own(PyDict_New()); }
Ref new_dict(Py_ssize_t expected) { return own(internals::presized_dict(expected)); }
Ref iter(PyObject* o) { return own(PyObject_GetIter(o)); }

Ref next(PyObject* it) {
    PyObject* v = PyIter_Next(it);
    if (!v && PyErr_Occurred()) raise();
    return Ref::steal(v);
}

std::pair<Ref, Ref> unpack2(PyObject* value) {
    // a tuple or list of two is unpacked by position, as the interpreter does
    if ((PyTuple_CheckExact(value) || PyList_CheckExact(value)) && Py_SIZE(value) == 2)
        return {item(value, Py_ssize_t{0}), item(value, Py_ssize_t{1})};
    Ref it = iter(value);
    Ref first = next(it);
    Ref second = first ? next(it) : Ref();
    if (!second) raise_format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", first ? 1 : 0);
    if (next(it)) raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    return {first, second};
}

// A global read while the module's dict is unchanged since the last read of
// that name is the same object: global() takes it again without a lookup, as
// the interpreter's global caches do. Any change of the dict renews its version.
Ref read_global(const Name& name) {
    const uint64_t version = detail::dict_version(detail::g_dict);
    Seen& seen = name.as_global();
    PyObject* v = PyDict_GetItemWithError(detail::g_dict, name.get());
    if (v) {
        seen = Seen{version, v};
        return Ref::borrow(v);
    }
    if (PyErr_Occurred()) raise();
    // as Python does: fall back to the builtins, then NameError
    PyObject* builtins = PyEval_GetBuiltins();
    if (builtins) {
        v = PyDict_GetItemWithError(builtins, name.get());
        if (v) return Ref::borrow(v);
        if (PyErr_Occurred()) raise();
    }
    raise_format(PyExc_NameError, "name '%s' is not defined", name.text());
}

Ref optional_attr(PyObject* o, PyObject* name) {
    PyObject* v = nullptr;
    if (internals::lookup_attr(o, name, &v) < 0) raise();
    return Ref::steal(v);
}

// A module's attribute that ModuleType itself does not define is the entry
// of the module's dict, as module.__getattribute__ finds it; ModuleType
// cannot change, so that test holds for as long as the entry is unchanged.
Ref read_module_attr(PyObject* module, PyObject* name, Seen& seen) {
    PyObject* dict = PyModule_GetDict(module);
    const uint64_t version = detail::dict_version(dict);
    if (!internals::type_lookup(&PyModule_Type, name)) {
        if (PyObject* v = PyDict_GetItemWithError(dict, name)) {
            seen = Seen{version, v};
            return Ref::borrow(v);
        }
        if (PyErr_Occurred()) raise();
    }
    return attr(module, name);
}

// The generic read of an object whose type has neither __getattribute__ nor
// __getattr__ of its own is decided by the type's lookup of the name: a slot's
// descriptor (a data descriptor) gives the slot's value before any instance
// dict; no descriptor at all leaves the instance's dict, then AttributeError.
// Any change of the type (a new __getattr__ included) renews its version tag.
Ref instance_attr(PyObject* o, const Name& name) {
    PyTypeObject* type = Py_TYPE(o);
    PyObject* descr = internals::type_lookup(type, name.get());  // borrowed; gives the type a version tag
    const unsigned int version = internals::type_version(type);
    if (!version) return attr(o, name.get());
    TypeSeen& seen = name.as_instance();
    seen = TypeSeen{type, version, TypeSeen::kGeneric};
    if (type->tp_getattro != PyObject_GenericGetAttr) return attr(o, name.get());
    if (!descr) {
        seen.where = TypeSeen::kInstanceDict;
        if (PyObject* v = dict_entry(o, name)) return borrow(v);
    } else if (const Py_ssize_t offset = internals::plain_slot_offset(descr, o)) {
        seen.where = offset;
        if (PyObject* v = seen.slot(o)) return borrow(v);
    } else if (!Py_TYPE(descr)->tp_descr_get) {
        seen.where = TypeSeen::kClassValue;
        seen.value = descr;
        return class_value(o, name);
    }
    return attr(o, name.get());
}

// The value's own type decides whether it is a descriptor, and an instance
// may change its type: that is asked at every read. The instance's entry
// comes first; after its lookup the type is checked again, as a lookup
// among keys of any type may have run Python that changed it.
Ref class_value(PyObject* o, const Name& name) {
    const TypeSeen& seen = name.as_instance();
    if (!Py_TYPE(seen.value)->tp_descr_get) {
        if (PyObject* v = dict_entry(o, name)) return borrow(v);
        if (seen.holds(Py_TYPE(o)) && seen.where == TypeSeen::kClassValue) return borrow(seen.value);
    }
    return attr(o, name.get());
}

// Versions are unique to a dict and a state of it (names.hpp, Seen): the
// entry remembered stays the dict's while the version does.
PyObject* read_dict_entry(PyObject* dict, const Name& name) {
    const uint64_t version = internals::versioned(dict) ? internals::dict_version(dict) : 0;
    PyObject* v = detail::first_probe(dict, name.get());
    if (v == detail::undecided()) {
        v = PyDict_GetItemWithError(dict, name.get());
        if (!v && PyErr_Occurred()) raise();
    }
    if (v && version) name.as_entry() = Seen{version, v};
    return v;
}

PyObject* module_dict() noexcept { return detail::g_dict; }
PyObject* module_object() noexcept { return detail::g_module; }

}  // namespace vm
