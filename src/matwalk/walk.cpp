#include "walk.hpp"

#include <cstring>
#include <vector>

namespace matwalk {

namespace {

constexpr uint32_t miINT8 = 1, miINT32 = 5, miUINT32 = 6;
constexpr uint32_t miUTF8 = 16, miUTF16 = 17, miUTF32 = 18;
constexpr uint32_t mxCELL = 1, mxSTRUCT = 2, mxOBJECT = 3, mxCHAR = 4, mxSPARSE = 5, mxFUNCTION = 16;
constexpr uint32_t kComplex = 0x800;
constexpr uint64_t kMaxDims = 32;
// Cells and structures nest no deeper: the parser reads them recursively
// on the C stack, and no result file comes near this.
constexpr int kMaxDepth = 200;

// `base` with more types allowed
constexpr ItemSizes sizes(std::initializer_list<std::pair<uint32_t, uint8_t>> types, ItemSizes base = {}) {
    for (auto [type, size] : types) base[type] = size;
    return base;
}

constexpr ItemSizes kInteger = sizes({{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {6, 4}, {12, 8}, {13, 8}});
constexpr ItemSizes kNumeric = sizes({{7, 4}, {9, 8}}, kInteger);  // singles and doubles too
constexpr ItemSizes kText = sizes({{miUTF8, 1}, {miUTF16, 2}, {miUTF32, 4}}, kNumeric);
constexpr ItemSizes kInt32 = sizes({{miINT32, 4}});
constexpr ItemSizes kUint32 = sizes({{miUINT32, 4}});
constexpr ItemSizes kInt8 = sizes({{miINT8, 1}});

std::string num(uint64_t v) { return std::to_string(v); }

}  // namespace

void Count::times(uint64_t factor) {
    factors_[n_++] = factor;
    if (factor == 0) {
        value_ = 0, huge_ = false;  // zero whatever came before
    } else if (!huge_ && __builtin_mul_overflow(value_, factor, &value_)) {
        huge_ = true;
    }
}

std::string Count::text() const {
    if (!huge_) return num(value_);
    // base 10^9 digits, least significant first
    std::vector<uint64_t> digits{1};
    for (size_t i = 0; i < n_; ++i) {
        uint64_t carry = 0;
        for (uint64_t& d : digits) {
            uint64_t v = d * factors_[i] + carry;  // factors are below 2^32: no overflow
            d = v % 1000000000, carry = v / 1000000000;
        }
        for (; carry; carry /= 1000000000) digits.push_back(carry % 1000000000);
    }
    std::string out = num(digits.back());
    for (size_t i = digits.size() - 1; i-- > 0;) {
        std::string part = num(digits[i]);
        out += std::string(9 - part.size(), '0') + part;
    }
    return out;
}

int64_t Walk::index_at(uint32_t type, size_t at) const {
    // as numpy's astype(int64) turns each integer type
    unsigned char b[8];
    const size_t n = kInteger[type];
    for (size_t i = 0; i < n; ++i) b[i] = data_[at + (big_ ? n - 1 - i : i)];
    uint64_t u = 0;
    std::memcpy(&u, b, n);
    const bool is_signed = type == 1 || type == 3 || type == 5 || type == 12;
    if (is_signed && n < 8 && (u >> (8 * n - 1))) u |= ~uint64_t(0) << (8 * n);
    return static_cast<int64_t>(u);
}

void Walk::fail(const std::string& why) const { throw Refusal{why + " at byte " + num(pos)}; }

Element Walk::element(size_t end) {
    const size_t at = pos;
    if (at + 8 > end) fail("element tag cut short");
    uint32_t type = word(at);
    uint64_t count = word(at + 4);
    size_t start = at + 8;
    if (type >> 16) {
        count = type >> 16, type &= 0xFFFF, start = at + 4;
        if (count > 4) fail("small element of " + num(count) + " bytes");
        pos = at + 8;
    } else if (count > end - start) {
        fail("element of " + num(count) + " bytes runs past its end");
    } else {
        pos = start + count + (-count & 7);
    }
    return {type, count, start};
}

Element Walk::element(size_t end, const ItemSizes& allowed, const char* what) {
    Element e = element(end);
    const uint8_t size = e.type < allowed.size() ? allowed[e.type] : 0;
    if (!size) fail(std::string(what) + " has data type " + num(e.type));
    if (e.count % size) fail(std::string(what) + " of " + num(e.count) + " bytes is not whole items");
    e.count /= size;
    return e;
}

void Walk::content(const Element& tag, bool top) { content(tag, top, 0); }

void Walk::content(const Element& tag, bool top, int depth) {
    if (tag.type != miMATRIX) fail("variable has data type " + num(tag.type));
    if (tag.count == 0 && !top) return;  // an empty matrix inside a cell or structure
    const size_t stop = tag.start + tag.count;
    pos = tag.start;
    array(stop, depth);
    if (pos != stop) fail("variable content ends at byte " + num(pos) + " of " + num(stop));
}

void Walk::matrix(size_t end, int depth) {
    if (depth >= kMaxDepth) fail("cells or structures nested over " + num(kMaxDepth) + " deep");
    content(element(end), false, depth + 1);
}

std::string Walk::ints_text(const Element& ints) const {
    std::string out = "[";
    for (uint64_t i = 0; i < ints.count; ++i) {
        if (i) out += ", ";
        out += std::to_string(int32_at(ints.start + 4 * i));
    }
    return out + "]";
}

void Walk::array(size_t end, int depth) {
    const Element head = element(end, kUint32, "array flags");
    if (head.count != 2) fail("array flags of " + num(head.count) + " words");
    const uint32_t flags = word(head.start);
    const Element dims = element(end, kInt32, "dimensions");
    Count numel;
    bool negative = false;
    for (uint64_t i = 0; i < dims.count && i < kMaxDims; ++i) {
        const int32_t d = int32_at(dims.start + 4 * i);
        negative |= d < 0;
        numel.times(static_cast<uint64_t>(d));
    }
    if (dims.count < 1 || dims.count > kMaxDims || negative) fail("dimensions " + ints_text(dims));
    element(end, kInt8, "name");
    const uint32_t cls = flags & 0xFF;
    if (cls >= 6 && cls < 16) {
        numbers(end, numel, "real part");
        if (flags & kComplex) numbers(end, numel, "imaginary part");
    } else if (cls == mxCHAR) {
        element(end, kText, "characters");
    } else if (cls == mxSPARSE) {
        sparse(end, dims, flags);
    } else if (cls == mxCELL) {
        items(end, numel, depth);
    } else if (cls == mxSTRUCT || cls == mxOBJECT) {
        if (cls == mxOBJECT) element(end, kInt8, "class name");
        fields(end, numel, depth);
    } else if (cls == mxFUNCTION) {
        matrix(end, depth);
    } else {  // opaque objects too: nothing here reads them
        fail("array class " + num(cls));
    }
}

void Walk::numbers(size_t end, const Count& numel, const char* what) {
    const uint64_t n = element(end, kNumeric, what).count;
    if (numel.huge() || n != numel.value())
        fail(std::string(what) + " holds " + num(n) + " items for " + numel.text());
}

void Walk::items(size_t end, const Count& count, int depth) {
    // each item takes a tag at least: a count beyond that is damage
    if (pos > end || count.huge() || count.value() > (end - pos) / 8) fail(count.text() + " items cannot fit");
    for (uint64_t i = 0; i < count.value(); ++i) matrix(end, depth);
}

void Walk::fields(size_t end, Count count, int depth) {
    const Element length = element(end, kInt32, "field name length");
    const int32_t each = length.count == 1 ? int32_at(length.start) : 0;
    if (each < 1) fail("field name length " + ints_text(length));
    const uint64_t names = element(end, kInt8, "field names").count;
    if (names % each) fail("field names of " + num(names) + " bytes for length " + num(each));
    count.times(names / each);
    items(end, count, depth);
}

// Row indices, column starts and values that index inside the matrix: the
// sparse routines do not check them.
void Walk::sparse(size_t end, const Element& dims, uint32_t flags) {
    if (dims.count != 2) fail("sparse matrix of " + num(dims.count) + " dimensions");
    const int64_t rows = int32_at(dims.start), cols = int32_at(dims.start + 4);
    const Element ir = element(end, kInteger, "row indices");
    const Element jc = element(end, kInteger, "column starts");
    const size_t ir_size = kInteger[ir.type], jc_size = kInteger[jc.type];
    bool fits = jc.count == static_cast<uint64_t>(cols) + 1 && index_at(jc.type, jc.start) == 0;
    for (uint64_t i = 1; fits && i < jc.count; ++i)
        fits = index_at(jc.type, jc.start + i * jc_size) >= index_at(jc.type, jc.start + (i - 1) * jc_size);
    const int64_t stored = fits ? index_at(jc.type, jc.start + (jc.count - 1) * jc_size) : 0;
    if (!fits || static_cast<uint64_t>(stored) > ir.count) fail("column starts do not fit the matrix");
    for (int64_t i = 0; i < stored; ++i) {
        const int64_t row = index_at(ir.type, ir.start + i * ir_size);
        if (row < 0 || row >= rows) fail("row index outside the matrix");
    }
    for (const char* part : {"real part", "imaginary part"}) {
        const uint64_t n = element(end, kNumeric, part).count;
        if (n < static_cast<uint64_t>(stored)) fail(std::string(part) + " holds " + num(n) + " of " + num(stored) + " values");
        if (!(flags & kComplex)) break;
    }
}

}  // namespace matwalk
