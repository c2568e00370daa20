// A shortcut of dict lookups, private to the support layer (dict_probe.cpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vm {
namespace detail {

// What the first probe leaves to the whole lookup (never an object).
inline PyObject* undecided() noexcept {
    static char mark;
    return reinterpret_cast<PyObject*>(&mark);
}

// dict[name] (borrowed) when the first slot the name's hash gives decides it:
// the slot holds the name itself (its value; null for an entry without one)
// or no entry at all (null). Otherwise undecided(). `name` is an exact str.
PyObject* first_probe(PyObject* dict, PyObject* name) noexcept;

}  // namespace detail
}  // namespace vm
