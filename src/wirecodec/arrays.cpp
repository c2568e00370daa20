#include "arrays.hpp"

#include "codec.hpp"

#include "vm/call.hpp"
#include "vm/numpy.hpp"

#include <cstring>

namespace wirecodec {

namespace {

vm::Name n_str("str");
vm::Name n_itemsize("itemsize");
vm::Name n__numeric_dtype("_numeric_dtype");

// Whether the global `name` is still `anchor`, the object it held when the
// codec was configured.
bool unchanged(const Codec& codec, const vm::Name& name, const vm::Ref& anchor) {
    if (!anchor) return false;
    PyObject* now = PyDict_GetItemWithError(codec.ns, name.get());
    if (!now && PyErr_Occurred()) vm::raise();
    return now == anchor.get();
}

// A cursor over content bytes that reads only the forms pack_array writes.
class Content {
public:
    Content(const unsigned char* p, size_t n) : p_(p), end_(p + n) {}

    size_t left() const noexcept { return static_cast<size_t>(end_ - p_); }

    // A whole number's value, or false for any other value.
    bool number(unsigned long long& v) {
        if (!left()) return false;
        const unsigned char b = *p_;
        if (b < 0x80) return ++p_, v = b, true;
        switch (b) {
            case 0xcc: return fixed<uint8_t>(v);
            case 0xcd: return fixed<uint16_t>(v);
            case 0xce: return fixed<uint32_t>(v);
            case 0xcf: return fixed<uint64_t>(v);
            default: return false;
        }
    }

    // The length of an item of a format with a fix form (tag & ~mask == fix
    // up to `fix_limit`) and 8/16/32-bit forms (tag8 may be 0: none).
    bool length(size_t& n, unsigned char fix, size_t fix_limit, unsigned char tag8, unsigned char tag16) {
        if (!left()) return false;
        const unsigned char b = *p_;
        unsigned long long v;
        if (b >= fix && b < fix + fix_limit) return ++p_, n = b - fix, true;
        if (tag8 && b == tag8) return fixed<uint8_t>(v) && (n = v, true);
        if (b == tag16) return fixed<uint16_t>(v) && (n = v, true);
        if (b == tag16 + 1) return fixed<uint32_t>(v) && (n = v, true);
        return false;
    }

    const unsigned char* take(size_t n) {
        if (left() < n) return nullptr;
        const unsigned char* at = p_;
        p_ += n;
        return at;
    }

private:
    template <class U>
    bool fixed(unsigned long long& v) {
        if (left() < 1 + sizeof(U)) return false;
        v = read_be<U>(p_ + 1);
        p_ += 1 + sizeof(U);
        return true;
    }

    const unsigned char* p_;
    const unsigned char* end_;
};

}  // namespace

bool pack_array(Writer& out, const Codec& codec, PyObject* o) {
    PyArrayObject* a = vm::numpy::exact(o);
    if (!a || !PyArray_IS_C_CONTIGUOUS(a) || PyDataType_FLAGCHK(PyArray_DESCR(a), NPY_ITEM_HASOBJECT)) return false;
    if (!unchanged(codec, n__default, codec.array_default) || !unchanged(codec, n__array, codec.array_packer))
        return false;
    // [dtype.str, list(shape), data.tobytes()], its data written once
    vm::Ref text = vm::attr(reinterpret_cast<PyObject*>(PyArray_DESCR(a)), n_str);
    Py_ssize_t size;
    const char* s = PyUnicode_AsUTF8AndSize(text, &size);
    if (!s) vm::raise();
    Writer head;
    head.array_header(3);
    head.str_header(static_cast<size_t>(size));
    head.bytes(s, static_cast<size_t>(size));
    const int ndim = PyArray_NDIM(a);
    head.array_header(static_cast<size_t>(ndim));
    for (int d = 0; d < ndim; ++d) head.unsigned_int(static_cast<uint64_t>(PyArray_DIM(a, d)));
    const size_t bytes = static_cast<size_t>(PyArray_NBYTES(a));
    head.bin_header(bytes);
    out.ext_header(head.size() + bytes, codec.array_code);
    out.bytes(head.at(0), head.size());
    out.bytes(PyArray_DATA(a), bytes);
    return true;
}

vm::Ref unpack_array(const Codec& codec, PyObject* decoder, const unsigned char* p, size_t n) {
    if (!codec.array_decoder || decoder != codec.array_decoder.get()) return {};
    Content in(p, n);
    size_t items, text_size, ndim, data_size;
    if (!in.length(items, 0x90, 16, 0, 0xdc) || items != 3) return {};
    if (!in.length(text_size, 0xa0, 32, 0xd9, 0xda)) return {};
    const unsigned char* text = in.take(text_size);
    if (!text || !in.length(ndim, 0x90, 16, 0, 0xdc) || ndim > NPY_MAXDIMS) return {};
    npy_intp dims[NPY_MAXDIMS];
    unsigned long long count = 1;
    for (size_t d = 0; d < ndim; ++d) {
        unsigned long long v;
        if (!in.number(v) || v > static_cast<unsigned long long>(NPY_MAX_INTP)) return {};
        if (v && count > static_cast<unsigned long long>(NPY_MAX_INTP) / v) return {};  // numpy's product would wrap
        count *= v;
        dims[d] = static_cast<npy_intp>(v);
    }
    if (!in.length(data_size, 0, 0, 0xc4, 0xc5) || in.left() != data_size) return {};
    const unsigned char* data = in.take(data_size);
    // the checks of _decode_array, in its order: the dtype's first
    vm::Ref name = vm::own(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(text),
                                                static_cast<Py_ssize_t>(text_size), nullptr));
    vm::Ref dtype = vm::call(codec.global(n__numeric_dtype).get(), name);
    if (!PyArray_DescrCheck(dtype.get())) return {};
    const long long itemsize = vm::to_long(vm::attr(dtype, n_itemsize));
    // an item of no size, or bytes that do not match: _decode_array says so
    if (itemsize <= 0 || count > data_size / static_cast<unsigned long long>(itemsize) ||
        count * static_cast<unsigned long long>(itemsize) != data_size)
        return {};
    PyArray_Descr* descr = reinterpret_cast<PyArray_Descr*>(dtype.get());
    Py_INCREF(descr);  // taken by the new array
    vm::Ref array = vm::own(PyArray_NewFromDescr(&PyArray_Type, descr, static_cast<int>(ndim), dims, nullptr, nullptr,
                                                 0, nullptr));
    if (data_size) std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), data, data_size);
    return array;
}

}  // namespace wirecodec
