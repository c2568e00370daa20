// The bytes of one encoding, built in place (small ones without touching the
// heap), with the headers of msgpack's formats.
#pragma once

#include "vm/ref.hpp"

#include <cstdint>
#include <cstring>

namespace wirecodec {

// Big-endian reads and writes of the fixed-size fields, floats by their bits.
template <class U>
inline U swapped(U u) {
    if constexpr (sizeof(U) == 2) return __builtin_bswap16(u);
    if constexpr (sizeof(U) == 4) return __builtin_bswap32(u);
    if constexpr (sizeof(U) == 8) return __builtin_bswap64(u);
    return u;
}
template <size_t N> struct Bits;
template <> struct Bits<1> { using type = uint8_t; };
template <> struct Bits<2> { using type = uint16_t; };
template <> struct Bits<4> { using type = uint32_t; };
template <> struct Bits<8> { using type = uint64_t; };

template <class T>
inline T read_be(const unsigned char* p) {
    typename Bits<sizeof(T)>::type u;
    std::memcpy(&u, p, sizeof u);
    u = swapped(u);
    T v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

template <class T>
inline void write_be(unsigned char* p, T v) {
    typename Bits<sizeof(T)>::type u;
    std::memcpy(&u, &v, sizeof u);
    u = swapped(u);
    std::memcpy(p, &u, sizeof u);
}

// The largest count or length a msgpack header holds.
constexpr uint64_t kItemLimit = 0xffffffffu;

class Writer {
public:
    Writer() = default;
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    size_t size() const noexcept { return size_; }
    unsigned char* at(size_t pos) noexcept { return data_ + pos; }

    // Room for `n` more bytes, filled in later.
    void skip(size_t n) {
        reserve(n);
        size_ += n;
    }
    void byte(unsigned char b) {
        reserve(1);
        data_[size_++] = b;
    }
    void bytes(const void* p, size_t n) {
        reserve(n);
        std::memcpy(data_ + size_, p, n);
        size_ += n;
    }
    template <class T>
    void tagged(unsigned char tag, T v) {
        reserve(1 + sizeof v);
        data_[size_] = tag;
        write_be(data_ + size_ + 1, v);
        size_ += 1 + sizeof v;
    }
    // Moves the bytes from `from` to the end by `by` (either way).
    void shift(size_t from, ptrdiff_t by);

    // The smallest of msgpack's forms for each value, as msgpack's packer picks them.
    void nil() { byte(0xc0); }
    void boolean(bool b) { byte(b ? 0xc3 : 0xc2); }
    void unsigned_int(uint64_t v);
    void signed_int(int64_t v);
    void float64(double v);
    void str_header(size_t n) { header(n, 0xa0, 32, 0xd9, 0xda); }
    void bin_header(size_t n) { header(n, 0, 0, 0xc4, 0xc5); }
    void array_header(size_t n) { header(n, 0x90, 16, 0, 0xdc); }
    void map_header(size_t n) { header(n, 0x80, 16, 0, 0xde); }
    // The header of an extension value of `n` bytes and its code, placed at
    // `pos` where kExtRoom bytes were skipped before its content.
    static constexpr size_t kExtRoom = 3;
    void ext_header_at(size_t pos, int code);
    // The header of an extension value of `n` bytes and its code, written
    // now, before its content (whose size is known first: nothing moved).
    void ext_header(size_t n, int code);

    vm::Ref take(size_t from = 0) const;

private:
    void reserve(size_t n) {
        if (capacity_ - size_ < n) grow(n);
    }
    void grow(size_t n);
    // the fix form below `fix_limit`, then the 8-bit form (tag8, where the
    // format has one), the 16-bit one (tag16) and the 32-bit one (tag16 + 1)
    void header(size_t n, unsigned char fix, size_t fix_limit, unsigned char tag8, unsigned char tag16);
    // An extension header's bytes for `n` bytes of content and `code` in
    // `head` (at most 6); their number.
    static size_t ext_head(size_t n, int code, unsigned char* head);

    unsigned char local_[1024];
    unsigned char* data_ = local_;
    size_t size_ = 0;
    size_t capacity_ = sizeof local_;
};

}  // namespace wirecodec
