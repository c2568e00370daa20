// A frame's tag is the first 16 bytes of HMAC-SHA256(key, counter || body):
// the counter is the frame's number in its direction of the stream, known to
// both ends and never sent, so a frame replayed, dropped, moved or made up
// does not carry the tag its place asks for. Each direction has its own key
// (and its own Seal at each end): a frame sent back to its sender does not
// pass either.
#include "seal.hpp"

#include "codec.hpp"
#include "sha256.hpp"
#include "writer.hpp"

#include "vm/buffer.hpp"
#include "vm/call.hpp"
#include "vm/nativetype.hpp"

#include <cstring>

namespace wirecodec {

namespace {

struct SealObject {
    PyObject_HEAD
    Hmac mac;
    unsigned long long count;  // frames sealed or opened so far
    bool keyed;
};

using Lifetime = vm::NativeType<SealObject>;

PyTypeObject* seal_type = nullptr;  // kept alive by the module

vm::Name n_ForgedFrameError("ForgedFrameError");  // a global of the wire module, read at call time

constexpr size_t kHeader = 4;

SealObject* as_seal(PyObject* self) {
    SealObject* s = reinterpret_cast<SealObject*>(self);
    if (!s->keyed) vm::raise(PyExc_RuntimeError, "the seal was not initialised");
    return s;
}

// The tag of the next frame, whose body is `body`.
void next_tag(SealObject* s, const unsigned char* body, size_t n, unsigned char tag[Sha256::kDigest]) {
    unsigned char counter[8];
    write_be<unsigned long long>(counter, s->count++);
    s->mac.sign(counter, sizeof counter, body, n, tag);
}

vm::Ref seal_init(PyObject* self, vm::Params<1> p) {
    auto [key] = p.take<1>();
    SealObject* s = reinterpret_cast<SealObject*>(self);
    if (s->keyed) vm::raise(PyExc_RuntimeError, "a seal is initialised once");
    if (!PyBytes_Check(key)) vm::raise(PyExc_TypeError, "key must be bytes");
    if (PyBytes_GET_SIZE(key) < 16) vm::raise(PyExc_ValueError, "key must be at least 16 bytes");
    s->mac.set_key(PyBytes_AS_STRING(key), static_cast<size_t>(PyBytes_GET_SIZE(key)));
    s->count = 0;
    s->keyed = true;
    return vm::none();
}

vm::Ref seal_method(PyObject* self, vm::Params<1> p) {
    auto [data] = p.take<1>();
    return seal_frames(self, data);
}

vm::Ref get_count(PyObject* self) { return vm::own(PyLong_FromUnsignedLongLong(as_seal(self)->count)); }

PyGetSetDef kProperties[] = {
    {"count", VM_GETTER(get_count), nullptr, "The frames sealed or opened so far.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const vm::FunctionSpec kMethods[] = {
    VM_NAMED_FUNCTION("__init__", seal_init, "key",
                      "The seal of one direction of a connection under the session key `key` (bytes, at least 16)."),
    VM_NAMED_FUNCTION("seal", seal_method, "data",
                      "The frames of `data` (whole frames, in the order they will be sent), each with its tag: "
                      "ValueError when `data` is not whole frames."),
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Seal(key)\n--\n\n"
                                  "Tags the frames of one direction of a connection, or checks them.")},
    {Py_tp_new, reinterpret_cast<void*>(&PyType_GenericNew)},
    {Py_tp_getset, kProperties},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kSpec = {"velmoro.tframe.comm._wirecodec.Seal", sizeof(SealObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, kSlots};

}  // namespace

bool is_seal(PyObject* o) noexcept { return Py_TYPE(o) == seal_type; }

vm::Ref seal_frames(PyObject* self, PyObject* data) {
    if (!is_seal(self)) vm::raise(PyExc_TypeError, "seal must be a Seal");
    SealObject* s = as_seal(self);
    const vm::BytesView in(data);
    // the frames are counted first: nothing is sealed unless all of them are whole
    size_t frames = 0;
    for (size_t at = 0; at < in.size(); ++frames) {
        if (in.size() - at < kHeader) vm::raise(PyExc_ValueError, "data must be whole frames");
        const size_t body = read_be<uint32_t>(in.data() + at);
        if (in.size() - at - kHeader < body || body > 0xffffffffu - kTagSize)
            vm::raise(PyExc_ValueError, "data must be whole frames");
        at += kHeader + body;
    }
    vm::Ref out = vm::own(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(in.size() + frames * kTagSize)));
    unsigned char* to = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(out.get()));
    for (size_t at = 0; at < in.size();) {
        const uint32_t body = read_be<uint32_t>(in.data() + at);
        write_be<uint32_t>(to, static_cast<uint32_t>(body + kTagSize));
        std::memcpy(to + kHeader, in.data() + at + kHeader, body);
        unsigned char tag[Sha256::kDigest];
        next_tag(s, in.data() + at + kHeader, body, tag);
        std::memcpy(to + kHeader + body, tag, kTagSize);
        to += kHeader + body + kTagSize;
        at += kHeader + body;
    }
    return out;
}

void open_frame(PyObject* self, const unsigned char* content, size_t n) {
    SealObject* s = as_seal(self);
    const unsigned long long number = s->count;
    if (n >= kTagSize) {
        unsigned char tag[Sha256::kDigest];
        next_tag(s, content, n - kTagSize, tag);
        unsigned char differ = 0;  // every byte looked at: the time taken tells nothing
        for (size_t i = 0; i < kTagSize; ++i) differ |= tag[i] ^ content[n - kTagSize + i];
        if (!differ) return;
        s->count = number;
    }
    vm::Ref message = vm::own(PyUnicode_FromFormat(
        "frame %llu after the handshake failed its authentication (altered, replayed, reordered or injected)",
        number + 1));
    vm::raise_instance(codec().global(n_ForgedFrameError), message);
}

void register_seal(vm::Module& m) {
    vm::Ref type = vm::make_type(m, &kSpec);
    vm::add_methods(type, kMethods);
    seal_type = reinterpret_cast<PyTypeObject*>(type.get());
}

}  // namespace wirecodec
