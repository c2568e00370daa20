#include "reader.hpp"

#include "codec.hpp"
#include "decode.hpp"
#include "seal.hpp"
#include "sockio.hpp"
#include "waiter.hpp"
#include "writer.hpp"

#include "vm/buffer.hpp"
#include "vm/nativetype.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <sys/socket.h>

namespace wirecodec {

namespace {

struct ReaderObject {
    PyObject_HEAD
    vm::Ref store;      // a private bytearray: its first `used` bytes are the stream not cut yet
    vm::Ref seal;       // the Seal each frame's tag is checked with (empty: frames carry none)
    Py_ssize_t used;
    long long cap;      // the largest frame body accepted
    int busy;           // a call is working on the stream
    bool spin;          // the next blocking read busy-reads first (see recv_blocking)
};

using Lifetime = vm::NativeType<ReaderObject, &ReaderObject::store, &ReaderObject::seal>;

PyTypeObject* reader_type = nullptr;  // kept alive by the module

ReaderObject* as_reader(PyObject* self) { return reinterpret_cast<ReaderObject*>(self); }

constexpr size_t kHeader = 4;
// the room a read from a socket is given at first
constexpr Py_ssize_t kKeep = 64 * 1024;
// the least room a read from a socket is given
constexpr Py_ssize_t kRoom = 16 * 1024;
// the most room kept after a cut: a stream of large frames (pushes of whole
// arrays) reads each into the same memory, and one that once took a very
// large frame gives most of it back
constexpr Py_ssize_t kKeepMost = 1 << 20;

// One call at a time: decoding runs Python code, during which another thread
// (or a decoder) could reach the same reader; it is refused instead of
// moving the stream under the cut.
class Busy {
public:
    explicit Busy(ReaderObject* r) : r_(r) {
        if (r_->busy) vm::raise(PyExc_RuntimeError, "the frame reader is in use by another call");
        r_->busy = 1;
    }
    ~Busy() { r_->busy = 0; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    ReaderObject* r_;
};

Py_ssize_t capacity(const ReaderObject* r) { return r->store ? PyByteArray_GET_SIZE(r->store.get()) : 0; }
unsigned char* stream(const ReaderObject* r) {
    return reinterpret_cast<unsigned char*>(PyByteArray_AS_STRING(r->store.get()));
}

void resize(ReaderObject* r, Py_ssize_t size) {
    if (!r->store) r->store = vm::own(PyByteArray_FromStringAndSize(nullptr, 0));
    vm::check(PyByteArray_Resize(r->store, size));
}

void append(ReaderObject* r, PyObject* data) {
    const vm::BytesView in(data);
    const Py_ssize_t n = static_cast<Py_ssize_t>(in.size());
    if (n > PY_SSIZE_T_MAX - r->used) vm::raise(PyExc_OverflowError, "the frame reader's stream is too long");
    if (r->used + n > capacity(r)) resize(r, std::max(r->used + n, std::min(2 * capacity(r), PY_SSIZE_T_MAX / 2)));
    if (n) std::memcpy(stream(r) + r->used, in.data(), static_cast<size_t>(n));
    r->used += n;
}

// Bytes taken from the socket `fd` into the stream, once: 0 at its end, -1
// when none came (a non-blocking read finding nothing, or a blocking one that
// reached the socket's receive time-out). Only a blocking read lets go of the
// GIL: a read of what is there already costs less than handing it over and
// taking it back. The waiters `due` are woken first, a blocking read's once
// the GIL is free for them to take. The store is the reader's own while the
// call is busy.
// The room the next read is given: the rest of a frame begun (when its
// header passed the cap), so that a large frame comes in one read of all
// that arrived; at least kRoom.
Py_ssize_t room_wanted(const ReaderObject* r) {
    Py_ssize_t room = kRoom;
    if (r->used >= static_cast<Py_ssize_t>(kHeader)) {
        const long long size = read_be<uint32_t>(stream(r));
        const long long tag = r->seal ? static_cast<long long>(kTagSize) : 0;
        if (size - tag <= r->cap) room = std::max<Py_ssize_t>(room, kHeader + size - r->used);
    }
    return room;
}

Py_ssize_t receive_into(ReaderObject* r, int fd, bool block, const std::vector<vm::Ref>& due) {
    const Py_ssize_t room = room_wanted(r);
    if (capacity(r) - r->used < room) resize(r, r->used + std::max(room, kKeep));
    auto wake_due = [&due]() noexcept {
        for (const vm::Ref& w : due) wake(w.get());
    };
    if (!block) wake_due();
    bool woken = !block;
    for (;;) {
        void* at = stream(r) + r->used;
        const size_t room = static_cast<size_t>(capacity(r) - r->used);
        ssize_t n;
        if (block) {
            Py_BEGIN_ALLOW_THREADS
            if (!woken) wake_due();
            n = recv_blocking(fd, at, room, r->spin);
            Py_END_ALLOW_THREADS
            woken = true;
        } else {
            n = ::recv(fd, at, room, MSG_DONTWAIT);
        }
        if (n >= 0) {
            r->used += n;
            return n;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
        if (errno != EINTR) {
            PyErr_SetFromErrno(PyExc_OSError);
            vm::raise();
        }
        vm::check(PyErr_CheckSignals());
    }
}

// The first `n` bytes of the stream are gone.
void drop(ReaderObject* r, size_t n) noexcept {
    if (!n) return;
    std::memmove(stream(r), stream(r) + n, static_cast<size_t>(r->used) - n);
    r->used -= static_cast<Py_ssize_t>(n);
}

void trim(ReaderObject* r) {
    if (capacity(r) > kKeepMost && r->used < capacity(r) / 4) resize(r, std::max(r->used, kKeepMost));
}

bool is_message(PyObject* m) {
    return PyList_CheckExact(m) && PyList_GET_SIZE(m) > 0 && PyLong_Check(PyList_GET_ITEM(m, 0));
}

// Up to `most` (-1: all) complete messages, in one pass over the stream and
// one move of the rest. On a bad frame the frames before it are dropped and
// FrameError raised; the bad frame stays at the head of the stream.
vm::Ref cut(ReaderObject* r, Py_ssize_t most) {
    vm::Ref messages = vm::new_list();
    size_t start = 0;
    try {
        while (static_cast<size_t>(r->used) - start >= kHeader && PyList_GET_SIZE(messages.get()) != most) {
            const uint32_t size = read_be<uint32_t>(stream(r) + start);
            // the cap is the body's: a sealed frame's tag comes on top
            const long long tag = r->seal ? static_cast<long long>(kTagSize) : 0;
            if (size == 0 || static_cast<long long>(size) - tag > r->cap)
                refuse(vm::own(PyUnicode_FromFormat("frame of %u bytes refused (cap %lld)", size, r->cap)));
            const size_t stop = start + kHeader + size;
            if (stop > static_cast<size_t>(r->used)) break;
            size_t body = size;
            if (r->seal) {
                open_frame(r->seal, stream(r) + start + kHeader, size);
                body -= kTagSize;
            }
            vm::Ref message = decode_body(stream(r) + start + kHeader, body);
            if (!is_message(message)) refuse(vm::text("a message must be a list starting with its kind"));
            vm::append(messages, message);
            start = stop;
        }
    } catch (const vm::Error&) {
        drop(r, start);
        throw;
    }
    drop(r, start);
    trim(r);
    return messages;
}

long long cap_of(PyObject* value) {
    vm::Ref n = vm::own(PyNumber_Index(value));
    int overflow = 0;
    const long long cap = PyLong_AsLongLongAndOverflow(n, &overflow);
    if (cap == -1 && PyErr_Occurred()) vm::raise();
    return overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : cap;
}

vm::Ref reader_init(PyObject* self, vm::Params<1> p) {
    auto [cap] = p.take<1>();
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    vm::Ref given = vm::is_none(cap) ? codec().global(n_MAX_FRAME) : vm::borrow(cap);
    r->cap = cap_of(given);
    r->used = 0;
    return vm::none();
}

vm::Ref authenticate(PyObject* self, vm::Params<1> p) {
    auto [seal] = p.take<1>();
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    if (!is_seal(seal)) vm::raise(PyExc_TypeError, "seal must be a Seal");
    if (r->seal) vm::raise(PyExc_RuntimeError, "the reader checks its frames' tags already");
    r->seal = vm::borrow(seal);
    return vm::none();
}

vm::Ref add(PyObject* self, vm::Params<1> p) {
    auto [data] = p.take<1>();
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    append(r, data);
    return vm::none();
}

vm::Ref next(PyObject* self, vm::Params<0>) {
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    vm::Ref messages = cut(r, 1);
    return PyList_GET_SIZE(messages.get()) ? vm::borrow(PyList_GET_ITEM(messages.get(), 0)) : vm::none();
}

vm::Ref feed(PyObject* self, vm::Params<1> p) {
    auto [data] = p.take<1>();
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    append(r, data);
    return cut(r, -1);
}

// The waiters of the list `wakes` (None: none), which is emptied.
std::vector<vm::Ref> take_wakes(PyObject* wakes) {
    std::vector<vm::Ref> due;
    if (vm::is_none(wakes)) return due;
    if (!PyList_CheckExact(wakes)) vm::raise(PyExc_TypeError, "wakes must be a list of waiters");
    const Py_ssize_t n = PyList_GET_SIZE(wakes);
    due.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* w = PyList_GET_ITEM(wakes, i);
        if (!is_waiter(w)) vm::raise(PyExc_TypeError, "wakes must be a list of waiters");
        due.push_back(vm::borrow(w));
    }
    vm::check(PyList_SetSlice(wakes, 0, n, nullptr));
    return due;
}

}  // namespace

bool is_frame_reader(PyObject* o) noexcept { return Py_TYPE(o) == reader_type; }

vm::Ref receive_messages(PyObject* self, PyObject* sock, PyObject* block, PyObject* wakes) {
    const int fd = PyObject_AsFileDescriptor(sock);
    if (fd < 0) vm::raise();
    const bool wait = vm::truthy(block);
    const std::vector<vm::Ref> due = take_wakes(wakes);
    ReaderObject* r = as_reader(self);
    Busy busy(r);
    Py_ssize_t n;
    try {
        n = receive_into(r, fd, wait, due);
    } catch (const vm::Error&) {
        for (const vm::Ref& w : due) wake(w.get());  // their replies are set: a second wake only makes them look
        throw;
    }
    if (n < 0) return vm::none();
    if (n == 0) vm::raise(PyExc_EOFError, "the stream ended");
    return cut(r, -1);
}

namespace {

vm::Ref receive(PyObject* self, vm::Params<3> p) {
    auto [sock, block, wakes] = p.take<3>();
    return receive_messages(self, sock, block, wakes);
}

vm::Ref get_cap(PyObject* self) { return vm::own(PyLong_FromLongLong(as_reader(self)->cap)); }
void set_cap(PyObject* self, PyObject* value) { as_reader(self)->cap = cap_of(value); }

PyGetSetDef kProperties[] = {
    {"cap", VM_GETTER(get_cap), VM_SETTER(set_cap), "The largest frame body accepted, in bytes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const vm::FunctionSpec kMethods[] = {
    VM_NAMED_FUNCTION("__init__", reader_init, "cap=None",
                      "A reader taking frames of at most `cap` bytes (None: the wire's MAX_FRAME)."),
    VM_FUNCTION(authenticate, "seal",
                "From the next frame cut on, each must end with its tag under the Seal `seal` (FrameError when "
                "one does not: altered, replayed, reordered or injected)."),
    VM_FUNCTION(add, "data", "Appends bytes to the stream."),
    VM_FUNCTION(next, "", "The next complete message, or None (FrameError on a bad frame)."),
    VM_FUNCTION(feed, "data", "The messages completed by `data` (FrameError on a bad frame)."),
    VM_FUNCTION(receive, "sock, block, wakes=None",
                "The messages completed by one read of `sock` (a socket or its descriptor), or None when nothing "
                "came: without `block` nothing was there, with it the socket's receive time-out passed (only a "
                "blocking read lets other threads run meanwhile). The waiters of the list `wakes` are taken from "
                "it and woken before the read, a blocking one's with the GIL let go. EOFError at the end of the "
                "stream, OSError when the read fails, FrameError on a bad frame."),
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("FrameReader(cap=None)\n--\n\n"
                                  "Cuts a byte stream into messages, whatever the pieces it arrives in.")},
    {Py_tp_new, reinterpret_cast<void*>(&PyType_GenericNew)},
    {Py_tp_getset, kProperties},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kSpec = {"velmoro.tframe.comm._wirecodec.FrameReader", sizeof(ReaderObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, kSlots};

}  // namespace

void register_frame_reader(vm::Module& m) {
    vm::Ref type = vm::make_type(m, &kSpec);
    vm::add_methods(type, kMethods);
    reader_type = reinterpret_cast<PyTypeObject*>(type.get());
}

}  // namespace wirecodec

