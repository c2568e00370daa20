// The numpy C API table of the module this support layer is linked into.
#define VM_NUMPY_API_DEFINED_HERE
#include "vm/numpy.hpp"

#include "vm/call.hpp"

#include <climits>
#include <type_traits>
#include <cstring>

namespace vm::numpy {
namespace {

// Elements of a builtin boolean or number type in the machine's byte order.
bool readable(PyArrayObject* a) noexcept {
    const int type = PyArray_TYPE(a);
    return (PyTypeNum_ISBOOL(type) || PyTypeNum_ISNUMBER(type)) && PyArray_ISNOTSWAPPED(a);
}

// the element at p, which need not be aligned
template <class T>
T load(const char* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// f(element at p as its C type) for the boolean and integer types;
// empty for the others.
template <class F>
auto with_integer(int type, const char* p, F f) noexcept -> decltype(f(0LL)) {
    switch (type) {
    case NPY_BOOL: return f(load<npy_bool>(p) != 0);
    case NPY_BYTE: return f(load<npy_byte>(p));
    case NPY_UBYTE: return f(load<npy_ubyte>(p));
    case NPY_SHORT: return f(load<npy_short>(p));
    case NPY_USHORT: return f(load<npy_ushort>(p));
    case NPY_INT: return f(load<npy_int>(p));
    case NPY_UINT: return f(load<npy_uint>(p));
    case NPY_LONG: return f(load<npy_long>(p));
    case NPY_ULONG: return f(load<npy_ulong>(p));
    case NPY_LONGLONG: return f(load<npy_longlong>(p));
    case NPY_ULONGLONG: return f(load<npy_ulonglong>(p));
    default: return {};
    }
}

}  // namespace

void import() {
    // numpy's own import: ImportError set when numpy is missing or too old
    if (_import_array() < 0) raise();
}

PyArrayObject* numbers(PyObject* o, int ndim) noexcept {
    PyArrayObject* a = exact(o);
    return a && PyArray_NDIM(a) == ndim && readable(a) ? a : nullptr;
}

std::optional<npy_intp> position(PyArrayObject* a, int d, long long index) noexcept {
    const npy_intp n = PyArray_DIM(a, d);
    if (index < 0) index += n;
    if (index < 0 || index >= n) return std::nullopt;
    return static_cast<npy_intp>(index);
}

std::optional<npy_intp> position(PyArrayObject* a, int d, PyObject* index) noexcept {
    // bool is no exact int: numpy takes it as a mask
    if (!PyLong_CheckExact(index)) return std::nullopt;
    int overflow = 0;
    const long long i = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (overflow) return std::nullopt;
    return position(a, d, i);
}

Ref scalar(PyArrayObject* a, const char* p) {
    // float64, the usual element, made in line
    if (PyArray_TYPE(a) == NPY_DOUBLE) {
        Ref s = own(PyArrayScalar_New(Double));
        PyArrayScalar_ASSIGN(s.get(), Double, load<double>(p));
        return s;
    }
    return own(PyArray_Scalar(const_cast<char*>(p), PyArray_DESCR(a), reinterpret_cast<PyObject*>(a)));
}

std::optional<long long> integer(PyArrayObject* a, const char* p) noexcept {
    const int type = PyArray_TYPE(a);
    if (type == NPY_BOOL) return std::nullopt;
    return with_integer(type, p, [](auto v) -> std::optional<long long> {
        using T = decltype(v);
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(long long)) {
            if (v > static_cast<unsigned long long>(LLONG_MAX)) return std::nullopt;
        }
        return static_cast<long long>(v);
    });
}

std::optional<double> real(PyArrayObject* a, const char* p) noexcept {
    switch (PyArray_TYPE(a)) {
    case NPY_DOUBLE: return load<double>(p);
    case NPY_FLOAT: return load<float>(p);
    default: return with_integer(PyArray_TYPE(a), p, [](auto v) -> std::optional<double> { return static_cast<double>(v); });
    }
}

Ref item(PyObject* a, PyObject* i, PyObject* j) {
    if (PyArrayObject* arr = numbers(a, 2)) {
        const std::optional<npy_intp> r = position(arr, 0, i);
        const std::optional<npy_intp> c = r ? position(arr, 1, j) : std::nullopt;
        if (c) return scalar(arr, static_cast<const char*>(PyArray_GETPTR2(arr, *r, *c)));
    }
    return vm::item(a, vm::new_tuple({i, j}));
}

Ref first_number(PyArrayObject* a) {
    if (!readable(a) || PyArray_SIZE(a) == 0) return Ref();
    // the data pointer is element (0, ..., 0) whatever the strides
    return scalar(a, PyArray_BYTES(a));
}

}  // namespace vm::numpy
