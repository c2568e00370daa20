// The structure walk of MAT v5 streams: every element read in the order the
// parser will read it, each tag checked against what its place allows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace matwalk {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read as little-endian, swapped for big");

// A 32-bit word of a stream in the given byte order.
inline uint32_t read_word(const unsigned char* p, bool big_endian) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return big_endian ? __builtin_bswap32(v) : v;
}

// A stream that does not hold together; `what` names the reason and the byte.
struct Refusal {
    std::string what;
};

constexpr uint32_t miMATRIX = 14;
constexpr uint32_t miCOMPRESSED = 15;

// An element's data type, item or byte count and the start of its data.
struct Element {
    uint32_t type;
    uint64_t count;
    size_t start;
};

// Item size per data type, 0 where the type is not allowed.
using ItemSizes = std::array<uint8_t, 19>;

// The number of items of a matrix: a product of dimensions, exact while it
// fits 64 bits; a larger one cannot be in any file, and its factors are kept
// for the message that refuses it.
class Count {
public:
    void times(uint64_t factor);
    bool huge() const { return huge_; }
    uint64_t value() const { return value_; }
    std::string text() const;

private:
    std::array<uint64_t, 34> factors_;
    size_t n_ = 0;
    uint64_t value_ = 1;
    bool huge_ = false;
};

class Walk {
public:
    Walk(const unsigned char* data, size_t size, bool big_endian) : data_(data), size_(size), big_(big_endian) {}

    size_t pos = 0;
    size_t size() const { return size_; }

    // The next element, raw (byte count), moving past its data and padding.
    Element element(size_t end);
    // What a variable's tag holds: a matrix, whole. `top` for a variable of
    // the file (an empty matrix is allowed only inside cells and structures).
    void content(const Element& tag, bool top);

private:
    uint32_t word(size_t at) const { return read_word(data_ + at, big_); }
    [[noreturn]] void fail(const std::string& why) const;
    // An element of one of the allowed types, its count given in items.
    Element element(size_t end, const ItemSizes& allowed, const char* what);
    int32_t int32_at(size_t at) const { return static_cast<int32_t>(word(at)); }
    int64_t index_at(uint32_t type, size_t at) const;

    void matrix(size_t end, int depth);
    void content(const Element& tag, bool top, int depth);
    void array(size_t end, int depth);
    void numbers(size_t end, const Count& numel, const char* what);
    void items(size_t end, const Count& count, int depth);
    void fields(size_t end, Count count, int depth);
    void sparse(size_t end, const Element& dims, uint32_t flags);
    std::string ints_text(const Element& ints) const;

    const unsigned char* data_;
    size_t size_;
    bool big_;
};

}  // namespace matwalk
