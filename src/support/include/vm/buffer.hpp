// A read-only view of a caller's bytes-like object, held for a whole call (a
// bytearray cannot be resized under it).
#pragma once

#include "vm/ref.hpp"

namespace vm {

class BytesView {
public:
    explicit BytesView(PyObject* o) { check(PyObject_GetBuffer(o, &view_, PyBUF_SIMPLE)); }
    ~BytesView() { PyBuffer_Release(&view_); }
    BytesView(const BytesView&) = delete;
    BytesView& operator=(const BytesView&) = delete;

    const unsigned char* data() const noexcept { return static_cast<const unsigned char*>(view_.buf); }
    size_t size() const noexcept { return static_cast<size_t>(view_.len); }

private:
    Py_buffer view_;
};

}  // namespace vm
