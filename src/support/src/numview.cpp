#include "vm/numview.hpp"

#include <cstdint>
#include <cstring>

namespace vm {
namespace {

bool native_order(char prefix) {
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    if (prefix == '<') return little;
    if (prefix == '>' || prefix == '!') return !little;
    return true;  // '@', '=' or none
}

template <class T>
double load(const char* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);  // strided buffers need not be aligned
    return static_cast<double>(v);
}

template <class I8, class I16, class I32, class I64>
double load_integer(const char* p, Py_ssize_t size) noexcept {
    switch (size) {
    case 1: return load<I8>(p);
    case 2: return load<I16>(p);
    case 4: return load<I32>(p);
    default: return load<I64>(p);
    }
}

}  // namespace

NumView::NumView(PyObject* obj) {
    check(PyObject_GetBuffer(obj, &buf_, PyBUF_RECORDS_RO));
    const char* f = buf_.format ? buf_.format : "B";
    char prefix = 0;
    if (*f == '@' || *f == '=' || *f == '<' || *f == '>' || *f == '!') prefix = *f++;
    const Py_ssize_t n = buf_.itemsize;
    bool ok = f[0] && !f[1] && native_order(prefix);
    if (ok) {
        switch (f[0]) {
        case '?': kind_ = Kind::Bool; ok = n == 1; break;
        case 'b': case 'h': case 'i': case 'l': case 'q': case 'n': kind_ = Kind::Signed; break;
        case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N': kind_ = Kind::Unsigned; break;
        case 'f': case 'd': kind_ = Kind::Float; ok = n == 4 || n == 8; break;
        default: ok = false;
        }
        ok = ok && (n == 1 || n == 2 || n == 4 || n == 8);
    }
    if (!ok) {
        PyErr_Format(PyExc_TypeError, "expected an array of numbers, got element format '%s'", buf_.format);
        PyBuffer_Release(&buf_);
        throw Error{};
    }
}

NumView::~NumView() { PyBuffer_Release(&buf_); }

Py_ssize_t NumView::size() const noexcept {
    Py_ssize_t n = 1;
    for (int d = 0; d < buf_.ndim; ++d) n *= buf_.shape[d];
    return n;
}

double NumView::read(const char* p) const noexcept {
    switch (kind_) {
    case Kind::Bool: return *p ? 1.0 : 0.0;
    case Kind::Float: return buf_.itemsize == 4 ? load<float>(p) : load<double>(p);
    case Kind::Signed: return load_integer<int8_t, int16_t, int32_t, int64_t>(p, buf_.itemsize);
    case Kind::Unsigned: return load_integer<uint8_t, uint16_t, uint32_t, uint64_t>(p, buf_.itemsize);
    }
    return 0.0;
}

}  // namespace vm
