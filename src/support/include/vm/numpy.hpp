// numpy's C API, for the modules that make arrays or read their memory
// without a call through Python. A module that includes this header calls
// vm::numpy::import() once when it initialises; the API table is private to
// each module (symbols are hidden), as every module carries its own support
// layer.
#pragma once

#include "vm/ref.hpp"

#include <optional>

#define PY_ARRAY_UNIQUE_SYMBOL vm_numpy_api
#ifndef VM_NUMPY_API_DEFINED_HERE
#define NO_IMPORT_ARRAY
#endif
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
// built against numpy 2 headers, a module still loads on numpy 1.19 and later
#define NPY_TARGET_VERSION NPY_1_19_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

namespace vm::numpy {

// Imports numpy and takes its C API; ImportError (numpy missing, or one this
// module was not built for) when it cannot.
void import();

// The object as an ndarray that is no subclass, whose methods and indexing
// are numpy's own; null for anything else.
inline PyArrayObject* exact(PyObject* o) noexcept {
    return PyArray_CheckExact(o) ? reinterpret_cast<PyArrayObject*>(o) : nullptr;
}

// The object as an exact ndarray of `ndim` dimensions whose elements are
// booleans or numbers in the machine's byte order, elements this layer may
// read itself; null for anything else.
PyArrayObject* numbers(PyObject* o, int ndim) noexcept;

// The position along axis d that the index names, an exact int counted from
// the end when negative, as numpy's indexing takes it; empty for another
// index or one outside the axis (numpy's indexing then judges and raises).
std::optional<npy_intp> position(PyArrayObject* a, int d, PyObject* index) noexcept;
std::optional<npy_intp> position(PyArrayObject* a, int d, long long index) noexcept;

// The element at p of a numbers() array as numpy's indexing gives it: a
// numpy scalar of the array's type.
Ref scalar(PyArrayObject* a, const char* p);

// The element at p of a numbers() array as a C value: its integer for an
// array of integers, when a long long holds it; its value for an array of
// booleans, integers or float32/float64 as a double (other types empty).
std::optional<long long> integer(PyArrayObject* a, const char* p) noexcept;
std::optional<double> real(PyArrayObject* a, const char* p) noexcept;

// a[i, j] for any object a, with numpy's own indexing (and errors) wherever
// the element is not read directly.
Ref item(PyObject* a, PyObject* i, PyObject* j);

// a.ravel()
inline Ref ravel(PyArrayObject* a) { return own(PyArray_Ravel(a, NPY_CORDER)); }

// a[0, ..., 0], the element a.ravel()[0] reads, as the numpy scalar indexing
// gives, for an array of booleans or numbers in the machine's byte order with
// at least one element; empty for any other array.
Ref first_number(PyArrayObject* a);

// A new one-dimensional array of n elements of a builtin type (NPY_DOUBLE...),
// as numpy.empty(n, type) makes it.
inline Ref empty(int type, npy_intp n) {
    return own(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(type), 1, &n, nullptr, nullptr, 0, nullptr));
}

}  // namespace vm::numpy
