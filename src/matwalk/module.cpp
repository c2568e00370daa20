// velmoro.tframe.utils._matwalk: the structure check of MAT v5 files, run
// on every file before the parser sees it.
#include "inflate.hpp"
#include "walk.hpp"

#include "vm/buffer.hpp"
#include "vm/internals.hpp"
#include "vm/module.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

using vm::Ref;

namespace matwalk {

namespace {

vm::Name n_MatFileError("MatFileError");

[[noreturn]] void refuse(PyObject* message) {
    // the framework's own error type, looked up when needed: the check
    // module imports this one
    Ref module = vm::own(PyImport_ImportModule("velmoro.tframe.utils.matcheck"));
    Ref type = vm::attr(module, n_MatFileError);
    vm::raise(type, message);
}

[[noreturn]] void refuse(const std::string& message) { refuse(vm::text(message)); }

// The unpacked file, built in one bytes object that grows as needed and is
// handed over at its final size.
class Output final : public Sink {
public:
    explicit Output(size_t capacity) : bytes_(vm::own(PyBytes_FromStringAndSize(nullptr, capacity))) {}

    size_t size() const { return size_; }
    const unsigned char* data() const { return reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes_.get())); }

    void append(const void* p, size_t n) {
        reserve(size_ + n);
        std::memcpy(end(), p, n);
        size_ += n;
    }

    size_t room(size_t wanted) override {
        if (wanted) reserve(size_ + 1);
        return capacity() - size_;
    }
    unsigned char* end() override { return reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes_.get())) + size_; }
    void grew(size_t n) override { size_ += n; }

    Ref finish() {
        resize(size_);
        return std::move(bytes_);
    }

private:
    size_t capacity() const { return static_cast<size_t>(PyBytes_GET_SIZE(bytes_.get())); }
    void reserve(size_t need) {
        if (need > capacity()) resize(std::max(need, 2 * capacity()));
    }
    void resize(size_t n) {
        PyObject* p = bytes_.release();
        if (vm::internals::resize_bytes(&p, static_cast<Py_ssize_t>(n)) < 0) vm::raise();
        bytes_ = Ref::steal(p);
    }

    Ref bytes_;
    size_t size_ = 0;
};

// The variable packed in a compressed element, appended to `out`: its tag
// and as many bytes as the tag names, no more (what follows is ignored, as
// the parser does, and a forged stream cannot inflate without bound).
void unpack(Inflater& zlib, Output& out, const unsigned char* packed, size_t count, size_t at, bool big_endian) {
    zlib.start(packed, count, at);
    const size_t start = out.size();
    if (zlib.inflate(out, 8) < 8) throw Refusal{"compressed variable at byte " + std::to_string(at) + " is cut short"};
    zlib.inflate(out, read_word(out.data() + start + 4, big_endian));
}

Ref checked_v5(vm::Params<1> p) {
    auto [file] = p.take<1>();
    const vm::BytesView in(file);
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
    std::optional<Inflater> zlib;
    size_t copied = 0;  // of the input, up to here
    try {
        while (walk.pos < size) {
            const size_t at = walk.pos;
            const Element tag = walk.element(size);
            if (tag.type == miCOMPRESSED) {
                if (!out) out.emplace(2 * size), zlib.emplace();
                out->append(data + copied, at - copied);
                const size_t begin = out->size();
                unpack(*zlib, *out, data + tag.start, tag.count, at, !little);
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
    VM_FUNCTION(checked_v5, "data: bytes -> bytes",
                "A v5 file's bytes, checked whole: given back as they are, or with compressed variables unpacked."
                "\n\nThe header is included. Raises MatFileError, naming the reason and the byte, when the file "
                "does not hold together."),
};

void exec(vm::Module& m) { m.add(kFunctions); }

}  // namespace
}  // namespace matwalk

VM_MODULE(_matwalk, "Structure check of MAT v5 files, element by element, before they are parsed.", matwalk::exec)
