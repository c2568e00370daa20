// Read-only view of a numeric buffer (numpy arrays of any real or boolean
// type, any strides): elements are read as doubles without calling Python.
#pragma once

#include "vm/ref.hpp"

#include <cstring>

namespace vm {

class NumView {
public:
    // TypeError when `obj` offers no buffer or one of another element type.
    explicit NumView(PyObject* obj);
    ~NumView();
    NumView(const NumView&) = delete;
    NumView& operator=(const NumView&) = delete;

    int ndim() const noexcept { return buf_.ndim; }
    // Length along axis d (1 for axes a scalar buffer lacks).
    Py_ssize_t shape(int d) const noexcept { return d < buf_.ndim ? buf_.shape[d] : 1; }
    Py_ssize_t size() const noexcept;

    // Element i of a 1-D buffer; element (r, c) of a 2-D one. Indices are
    // not checked: callers stay within shape().
    double at(Py_ssize_t i) const noexcept { return element(static_cast<const char*>(buf_.buf) + i * buf_.strides[0]); }
    double at(Py_ssize_t r, Py_ssize_t c) const noexcept {
        return element(static_cast<const char*>(buf_.buf) + r * buf_.strides[0] + c * buf_.strides[1]);
    }

private:
    enum class Kind { Bool, Signed, Unsigned, Float };
    double read(const char* p) const noexcept;
    // float64, the usual element, read in line; the other kinds by read()
    double element(const char* p) const noexcept {
        if (kind_ != Kind::Float || buf_.itemsize != 8) return read(p);
        double v;
        std::memcpy(&v, p, sizeof v);  // strided buffers need not be aligned
        return v;
    }

    Py_buffer buf_{};
    Kind kind_ = Kind::Float;
};

}  // namespace vm
