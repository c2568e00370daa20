// Every use of the interpreter's private or unstable internals, each behind a
// named helper: nothing else in the modules reads a struct field the public C
// API does not document or calls a function named with a leading underscore.
//
// VM_PUBLIC_API (the CMake option VELMORO_PUBLIC_API) builds on the public C
// API alone: each helper falls back to public calls, and the shortcuts that
// stand on internals (k* below) are off. VM_WITHOUT_<SHORTCUT> turns one
// shortcut off by itself, which is how each one's gain is measured
// (bench/internals_gain.py).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>

#if defined(VM_PUBLIC_API) || defined(VM_WITHOUT_DICT_VERSIONS)
#define VM_DICT_VERSIONS 0
#else
#define VM_DICT_VERSIONS 1
#endif
#if defined(VM_PUBLIC_API) || defined(VM_WITHOUT_TYPE_TAGS)
#define VM_TYPE_TAGS 0
#else
#define VM_TYPE_TAGS 1
#endif
#if defined(VM_PUBLIC_API) || defined(VM_WITHOUT_METHOD_LOOKUP)
#define VM_METHOD_LOOKUP 0
#else
#define VM_METHOD_LOOKUP 1
#endif
// Where instances of a class sharing their attribute names keep their values:
// one array per instance, in a dict split from the class's keys (3.8) or
// inline in the instance (3.13); the layouts of other versions are not known.
#if defined(VM_PUBLIC_API) || defined(VM_WITHOUT_SHARED_KEYS)
#elif PY_VERSION_HEX < 0x03090000
#define VM_SPLIT_DICT_VALUES 1
#elif PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
#define VM_INLINE_VALUES 1
#endif
#if defined(VM_PUBLIC_API) || defined(VM_WITHOUT_PRESIZED_DICTS)
#define VM_PRESIZED_DICTS 0
#else
#define VM_PRESIZED_DICTS 1
#endif

namespace vm {
namespace internals {

// ---- calls ------------------------------------------------------------------

// f(*args, **kwnames) by vectorcall; 3.8 has it under its provisional name
// only, which the public build replaces by a tuple and a dict.
inline PyObject* vectorcall(PyObject* f, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
#if PY_VERSION_HEX >= 0x03090000
    return PyObject_Vectorcall(f, args, nargsf, kwnames);
#elif !defined(VM_PUBLIC_API)
    return _PyObject_Vectorcall(f, args, nargsf, kwnames);
#else
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* positional = PyTuple_New(nargs);
    if (!positional) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SET_ITEM(positional, i, args[i]);
    }
    PyObject* keywords = kwnames && PyTuple_GET_SIZE(kwnames) ? PyDict_New() : nullptr;
    for (Py_ssize_t k = 0; keywords && k < PyTuple_GET_SIZE(kwnames); ++k) {
        if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0) Py_CLEAR(keywords);
    }
    PyObject* result = kwnames && PyTuple_GET_SIZE(kwnames) && !keywords ? nullptr : PyObject_Call(f, positional, keywords);
    Py_DECREF(positional);
    Py_XDECREF(keywords);
    return result;
#endif
}

// The lookup of Python's method calls: *method gets a new reference, and the
// result is 1 when it is a function of o's type to be called with o first
// (no bound method made), 0 when it is to be called as it is; *method is
// null on an error. Exported by every supported interpreter, declared in
// none of their public headers.
#if VM_METHOD_LOOKUP
extern "C" int _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);
#endif
inline int method_lookup(PyObject* o, PyObject* name, PyObject** method) {
#if VM_METHOD_LOOKUP
    return _PyObject_GetMethod(o, name, method);
#else
    *method = PyObject_GetAttr(o, name);
    return 0;
#endif
}

// ---- attributes -------------------------------------------------------------

// o.name, or 0 and *value null when o has none (no AttributeError kept).
inline int lookup_attr(PyObject* o, PyObject* name, PyObject** value) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(o, name, value);
#elif !defined(VM_PUBLIC_API)
    return _PyObject_LookupAttr(o, name, value);
#else
    *value = PyObject_GetAttr(o, name);
    if (*value) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
#endif
}

// What the type or one of its bases defines as `name` (borrowed), null for
// nothing; never an error. Gives the type a version tag where it can.
inline PyObject* type_lookup(PyTypeObject* type, PyObject* name) {
#ifndef VM_PUBLIC_API
    return _PyType_Lookup(type, name);
#else
    // the bases in order, each one's own dict, as the lookup walks them
    PyObject* mro = type->tp_mro;
    if (!mro) return nullptr;
    PyObject* found = nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro) && !found; ++i) {
        auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        // PyDict_GetItem keeps an error already set, as the lookup does
#if PY_VERSION_HEX >= 0x030C0000
        PyObject* dict = PyType_GetDict(base);  // static builtin types keep theirs elsewhere
        found = dict ? PyDict_GetItem(dict, name) : nullptr;
        Py_XDECREF(dict);  // the type keeps it, and with it what was found
#else
        found = base->tp_dict ? PyDict_GetItem(base->tp_dict, name) : nullptr;
#endif
    }
    return found;
#endif
}

// The type's version tag, 0 when it has none valid: the same nonzero tag
// means the type and its bases are unchanged. Always 0 without type tags.
inline unsigned int type_version(PyTypeObject* type) noexcept {
#if !VM_TYPE_TAGS
    (void)type;
    return 0;
#elif PY_VERSION_HEX >= 0x030C0000
    return type->tp_version_tag;  // set to 0 when the type changes
#else
    // up to 3.11 a modified type keeps its old tag but loses the flag
    return PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#endif
}

// The offset of the object slot `descr` reads when it is a member descriptor
// of o's class reading an object slot as it stands (no audit, an absolute
// offset, an unset slot raising AttributeError); 0 otherwise.
Py_ssize_t plain_slot_offset(PyObject* descr, PyObject* o);

// The pointer to o's instance dict, null when o's type has none or the
// interpreter keeps it where no pointer reaches.
inline PyObject** dict_ptr(PyObject* o) {
#ifndef VM_PUBLIC_API
    return _PyObject_GetDictPtr(o);
#else
    (void)o;
    return nullptr;
#endif
}

// ---- dicts ------------------------------------------------------------------

// The version every change of a dict renews (PEP 509), the one Python's own
// global caches check: never 0 once the dict exists. 0 without dict versions.
// 3.12 and later mark the field for their own use.
inline uint64_t dict_version(PyObject* dict) noexcept {
#if VM_DICT_VERSIONS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
#else
    (void)dict;
    return 0;
#endif
}

// Whether every change of the dict renews its version. From 3.11 an object
// may keep its attributes in itself: a dict over those values (a split
// table) sees them written past its version.
inline bool versioned(PyObject* dict) noexcept {
#if !VM_DICT_VERSIONS
    (void)dict;
    return false;
#elif PY_VERSION_HEX >= 0x030B0000
    return reinterpret_cast<PyDictObject*>(dict)->ma_values == nullptr;
#else
    (void)dict;
    return true;
#endif
}

// A new dict that will hold `expected` items, made at that size at once as
// Python's dict displays are.
inline PyObject* presized_dict(Py_ssize_t expected) {
#if VM_PRESIZED_DICTS
    return _PyDict_NewPresized(expected);
#else
    (void)expected;
    return PyDict_New();
#endif
}

// ---- values of instances sharing their class's keys --------------------------

#if VM_SPLIT_DICT_VALUES
// Gives a heap type keys its instances' dicts will share (3.8 leaves them to
// the class: type() gives each Python class its own); false on an error.
inline bool share_keys(PyTypeObject* type) {
    auto* heap = reinterpret_cast<PyHeapTypeObject*>(type);
    return heap->ht_cached_keys || (heap->ht_cached_keys = _PyDict_NewKeysForClass());
}
// The values array of a split dict, null for a combined one.
inline PyObject** split_values(PyObject* dict) noexcept { return reinterpret_cast<PyDictObject*>(dict)->ma_values; }
inline void* dict_keys(PyObject* dict) noexcept { return reinterpret_cast<PyDictObject*>(dict)->ma_keys; }
inline bool gc_tracked(PyObject* o) noexcept { return _PyObject_GC_IS_TRACKED(o); }
#endif

#if VM_INLINE_VALUES
// An instance's inline values as 3.13 lays them out (its struct _dictvalues):
// the values by their names' places in the class's keys, then those places
// in the order the attributes were set.
struct InlineValues {
    uint8_t capacity;
    uint8_t size;
    uint8_t embedded;
    uint8_t valid;  // cleared once a dict of their own holds them
    PyObject* values[1];
};

// Right after the object's header, for a class with no other instance layout
// whose type has Py_TPFLAGS_INLINE_VALUES.
inline InlineValues* inline_values(PyObject* o) noexcept {
    return reinterpret_cast<InlineValues*>(reinterpret_cast<char*>(o) + sizeof(PyObject));
}
inline uint8_t* insertion_order(InlineValues* v) noexcept { return reinterpret_cast<uint8_t*>(&v->values[v->capacity]); }
// The dict made for the instance once something asked for one, three words
// before the object.
inline PyObject* managed_dict(PyObject* o) noexcept {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(o) - 3 * sizeof(PyObject*));
}
// The keys the class's instances share.
inline void* class_keys(PyTypeObject* type) noexcept { return reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys; }
#endif

// ---- bytes ------------------------------------------------------------------

// Resizes the bytes *p (its only reference) to n, in place where it can; on
// an error *p is released and null.
inline int resize_bytes(PyObject** p, Py_ssize_t n) {
#ifndef VM_PUBLIC_API
    return _PyBytes_Resize(p, n);
#else
    const Py_ssize_t keep = PyBytes_GET_SIZE(*p) < n ? PyBytes_GET_SIZE(*p) : n;
    PyObject* grown = PyBytes_FromStringAndSize(nullptr, n);
    if (grown) memcpy(PyBytes_AS_STRING(grown), PyBytes_AS_STRING(*p), static_cast<size_t>(keep));
    Py_DECREF(*p);
    *p = grown;
    return grown ? 0 : -1;
#endif
}

}  // namespace internals
}  // namespace vm
