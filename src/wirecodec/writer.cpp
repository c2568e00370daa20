#include "writer.hpp"

#include <cstdlib>
#include <new>

namespace wirecodec {

namespace {

// The heap buffer of this thread's last large encoding, kept for its next:
// a push of whole arrays each time in fresh memory would be written through
// page faults (the allocator hands memory that large back to the system).
struct Spare {
    unsigned char* data = nullptr;
    size_t capacity = 0;
    ~Spare() { std::free(data); }
};
thread_local Spare t_spare;

// The most a thread keeps between encodings (a push of 5,000 targets' rows
// is 640 KB).
constexpr size_t kSpareMost = 8u << 20;

}  // namespace

Writer::~Writer() {
    if (data_ == local_) return;
    if (capacity_ <= kSpareMost && capacity_ > t_spare.capacity) {
        std::free(t_spare.data);
        t_spare.data = data_, t_spare.capacity = capacity_;
    } else {
        std::free(data_);
    }
}

void Writer::grow(size_t n) {
    if (n > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    size_t capacity = capacity_ * 2;
    if (capacity < size_ + n) capacity = size_ + n;
    if (data_ == local_ && t_spare.capacity >= capacity) {
        data_ = t_spare.data, capacity_ = t_spare.capacity;
        t_spare.data = nullptr, t_spare.capacity = 0;
        std::memcpy(data_, local_, size_);
        return;
    }
    void* p = data_ == local_ ? std::malloc(capacity) : std::realloc(data_, capacity);
    if (!p) throw std::bad_alloc();
    if (data_ == local_) std::memcpy(p, local_, size_);
    data_ = static_cast<unsigned char*>(p);
    capacity_ = capacity;
}

void Writer::shift(size_t from, ptrdiff_t by) {
    const size_t moved = size_ - from;
    if (by > 0) reserve(static_cast<size_t>(by));
    std::memmove(data_ + from + by, data_ + from, moved);
    size_ = static_cast<size_t>(static_cast<ptrdiff_t>(size_) + by);
}

void Writer::unsigned_int(uint64_t v) {
    if (v < 0x80) return byte(static_cast<unsigned char>(v));
    if (v <= 0xff) return tagged(0xcc, static_cast<uint8_t>(v));
    if (v <= 0xffff) return tagged(0xcd, static_cast<uint16_t>(v));
    if (v <= 0xffffffffu) return tagged(0xce, static_cast<uint32_t>(v));
    tagged(0xcf, v);
}

void Writer::signed_int(int64_t v) {
    if (v >= 0) return unsigned_int(static_cast<uint64_t>(v));
    if (v >= -32) return byte(static_cast<unsigned char>(v));
    if (v >= -0x80) return tagged(0xd0, static_cast<int8_t>(v));
    if (v >= -0x8000) return tagged(0xd1, static_cast<int16_t>(v));
    if (v >= -0x80000000LL) return tagged(0xd2, static_cast<int32_t>(v));
    tagged(0xd3, v);
}

void Writer::float64(double v) { tagged(0xcb, v); }

void Writer::header(size_t n, unsigned char fix, size_t fix_limit, unsigned char tag8, unsigned char tag16) {
    if (n < fix_limit) return byte(static_cast<unsigned char>(fix | n));
    if (tag8 && n <= 0xff) return tagged(tag8, static_cast<uint8_t>(n));
    if (n <= 0xffff) return tagged(tag16, static_cast<uint16_t>(n));
    if (n > kItemLimit) vm::raise(PyExc_ValueError, "a value too large for msgpack");
    tagged(static_cast<unsigned char>(tag16 + 1), static_cast<uint32_t>(n));
}

size_t Writer::ext_head(size_t n, int code, unsigned char* head) {
    if (n > kItemLimit) vm::raise(PyExc_ValueError, "EXT data is too large");
    size_t used;
    switch (n) {
        case 1: head[0] = 0xd4, used = 1; break;
        case 2: head[0] = 0xd5, used = 1; break;
        case 4: head[0] = 0xd6, used = 1; break;
        case 8: head[0] = 0xd7, used = 1; break;
        case 16: head[0] = 0xd8, used = 1; break;
        default:
            if (n <= 0xff) {
                head[0] = 0xc7, head[1] = static_cast<unsigned char>(n), used = 2;
            } else if (n <= 0xffff) {
                head[0] = 0xc8, write_be(head + 1, static_cast<uint16_t>(n)), used = 3;
            } else {
                head[0] = 0xc9, write_be(head + 1, static_cast<uint32_t>(n)), used = 5;
            }
    }
    head[used++] = static_cast<unsigned char>(static_cast<int8_t>(code));
    return used;
}

void Writer::ext_header_at(size_t pos, int code) {
    unsigned char head[6];
    const size_t used = ext_head(size_ - pos - kExtRoom, code, head);
    if (used != kExtRoom) shift(pos + kExtRoom, static_cast<ptrdiff_t>(used) - static_cast<ptrdiff_t>(kExtRoom));
    std::memcpy(data_ + pos, head, used);
}

void Writer::ext_header(size_t n, int code) {
    unsigned char head[6];
    bytes(head, ext_head(n, code, head));
}

vm::Ref Writer::take(size_t from) const {
    return vm::own(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data_ + from),
                                             static_cast<Py_ssize_t>(size_ - from)));
}

}  // namespace wirecodec
