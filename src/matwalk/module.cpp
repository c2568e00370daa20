// velmoro.tframe.utils._matwalk: the structure check of MAT v5 files, run
// on every file before the parser sees it.
#include "walk.hpp"

#include "vm/module.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

using vm::Ref;

namespace matwalk {

namespace {

vm::Name kZlib("zlib");
vm::Name kDecompressobj("decompressobj");
vm::Name kDecompress("decompress");
vm::Name kUnconsumedTail("unconsumed_tail");
vm::Name kError("error");
vm::Name kMatFileError("MatFileError");

[[noreturn]] void refuse(PyObject* message) {
    // the framework's own error type, looked up when needed: the check
    // module imports this one
    Ref module = vm::own(PyImport_ImportModule("velmoro.tframe.utils.matcheck"));
    Ref type = vm::attr(module, kMatFileError);
    vm::raise(type, message);
}

[[noreturn]] void refuse(const std::string& message) { refuse(vm::text(message)); }

// A read-only view of the caller's bytes, held (a bytearray cannot be
// resized under it) for the whole check.
class View {
public:
    explicit View(PyObject* o) { vm::check(PyObject_GetBuffer(o, &view_, PyBUF_SIMPLE)); }
    ~View() { PyBuffer_Release(&view_); }
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    const unsigned char* data() const { return static_cast<const unsigned char*>(view_.buf); }
    size_t size() const { return static_cast<size_t>(view_.len); }

private:
    Py_buffer view_;
};

// The unpacked file, built in one bytes object that grows as needed and is
// handed over at its final size.
class Output {
public:
    explicit Output(size_t capacity) : bytes_(vm::own(PyBytes_FromStringAndSize(nullptr, capacity))) {}

    size_t size() const { return size_; }
    const unsigned char* data() const { return reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes_.get())); }

    void append(const void* p, size_t n) {
        reserve(size_ + n);
        std::memcpy(PyBytes_AS_STRING(bytes_.get()) + size_, p, n);
        size_ += n;
    }

    Ref finish() {
        resize(size_);
        return std::move(bytes_);
    }

private:
    void reserve(size_t need) {
        const size_t capacity = static_cast<size_t>(PyBytes_GET_SIZE(bytes_.get()));
        if (need > capacity) resize(std::max(need, 2 * capacity));
    }
    void resize(size_t n) {
        PyObject* p = bytes_.release();
        if (_PyBytes_Resize(&p, static_cast<Py_ssize_t>(n)) < 0) vm::raise();
        bytes_ = Ref::steal(p);
    }

    Ref bytes_;
    size_t size_ = 0;
};

// stream.decompress(chunk, max_length), zlib's own error turned into a
// refusal of the variable at `at`.
Ref decompress(PyObject* stream, PyObject* chunk, uint64_t max_length, size_t at) {
    Ref limit = vm::own(PyLong_FromUnsignedLongLong(max_length));
    try {
        return vm::call_method(stream, kDecompress, chunk, limit);
    } catch (const vm::Error&) {
    }
    Ref zlib = vm::global(kZlib);
    Ref error = vm::attr(zlib, kError);
    if (!PyErr_ExceptionMatches(error)) vm::raise();
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    Ref held_type = Ref::steal(type), held_value = Ref::steal(value), held_trace = Ref::steal(trace);
    refuse(vm::own(PyUnicode_FromFormat("compressed variable at byte %zu: %S", at, value)));
}

// The variable packed in a compressed element, appended to `out`: its tag
// and as many bytes as the tag names, no more (what follows is ignored, as
// the parser does, and a forged stream cannot inflate without bound).
void inflate(Output& out, const unsigned char* chunk, size_t count, size_t at, bool big_endian) {
    Ref zlib = vm::global(kZlib);
    Ref make = vm::attr(zlib, kDecompressobj);
    Ref stream = vm::call(make.get());
    Ref view = vm::own(PyMemoryView_FromMemory(reinterpret_cast<char*>(const_cast<unsigned char*>(chunk)),
                                               static_cast<Py_ssize_t>(count), PyBUF_READ));
    Ref tag = decompress(stream, view, 8, at);
    if (PyBytes_GET_SIZE(tag.get()) < 8) refuse("compressed variable at byte " + std::to_string(at) + " is cut short");
    const size_t start = out.size();
    out.append(PyBytes_AS_STRING(tag.get()), 8);
    const uint64_t size = read_word(out.data() + start + 4, big_endian);
    if (!size) return;
    Ref tail = vm::attr(stream, kUnconsumedTail);
    Ref rest = decompress(stream, tail, size, at);
    out.append(PyBytes_AS_STRING(rest.get()), static_cast<size_t>(PyBytes_GET_SIZE(rest.get())));
}

Ref checked_v5(vm::Args a) {
    PyObject* file = a[0];
    const View in(file);
    const unsigned char* data = in.data();
    const size_t size = in.size();
    const bool little = size >= 128 && std::memcmp(data + 126, "IM", 2) == 0;
    if (!little && !(size >= 128 && std::memcmp(data + 126, "MI", 2) == 0)) {
        const size_t from = std::min<size_t>(size, 126);
        Ref mark = vm::own(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data + from),
                                                     static_cast<Py_ssize_t>(std::min<size_t>(size, 128) - from)));
        refuse(vm::own(PyUnicode_FromFormat("unknown byte order mark %R", mark.get())));
    }
    Walk walk(data, size, !little);
    walk.pos = 128;
    // variables are copied out only once a compressed one is met
    std::optional<Output> out;
    size_t copied = 0;  // of the input, up to here
    try {
        while (walk.pos < size) {
            const size_t at = walk.pos;
            const Element tag = walk.element(size);
            if (tag.type == miCOMPRESSED) {
                if (!out) out.emplace(2 * size);
                out->append(data + copied, at - copied);
                const size_t begin = out->size();
                inflate(*out, data + tag.start, tag.count, at, !little);
                Walk inner(out->data() + begin, out->size() - begin, !little);
                inner.content(inner.element(inner.size()), true);
                copied = tag.start + tag.count;
            } else {
                walk.content(tag, true);
            }
            walk.pos = tag.start + tag.count;  // variables follow each other unpadded
        }
    } catch (const Refusal& r) {
        refuse(r.what);
    }
    if (!out) return vm::borrow(file);
    out->append(data + copied, size - copied);
    return out->finish();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(checked_v5, "data",
                "A v5 file's bytes (header included), checked whole; compressed variables come back unpacked "
                "and an intact file without them comes back as given.\n\nRaises MatFileError, naming the reason "
                "and the byte, when the file does not hold together."),
};

void exec(vm::Module& m) {
    m.import_as("zlib", "zlib");
    m.add(kFunctions);
}

}  // namespace
}  // namespace matwalk

VM_MODULE(_matwalk, "Structure check of MAT v5 files, element by element, before they are parsed.", matwalk::exec)
