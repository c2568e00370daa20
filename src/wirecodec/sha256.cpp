#include "sha256.hpp"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define WIRECODEC_SHA_NI 1
#endif

namespace wirecodec {

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t rotr(uint32_t x, int n) noexcept { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be(const unsigned char* p) noexcept {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void store_be(unsigned char* p, uint32_t v) noexcept {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// One block in plain C++, for processors without the SHA instructions.
void compress_portable(uint32_t state[8], const unsigned char* block) noexcept {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = load_be(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#ifdef WIRECODEC_SHA_NI
// The processor's SHA instructions: several times the speed of the plain
// rounds, which a frame of a large push feels.
bool has_sha_instructions() noexcept {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

__attribute__((target("sha,ssse3,sse4.1"))) void compress_sha(uint32_t state[8], const unsigned char* data,
                                                               size_t blocks) noexcept {
    const __m128i byte_order = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // the state as the instructions hold it: ABEF and CDGH
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    dcba = _mm_shuffle_epi32(dcba, 0xB1);
    cdgh = _mm_shuffle_epi32(cdgh, 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, dcba, 0xF0);
    for (; blocks; --blocks, data += 64) {
        const __m128i abef_before = abef, cdgh_before = cdgh;
        __m128i w[4];  // the schedule's words 4g..4g+3 of group g at w[g % 4]
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_order);
        for (int g = 0; g < 16; ++g) {
            __m128i wk = _mm_add_epi32(w[g & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            if (g < 12) {  // the words of group g + 4, in the place of group g's
                __m128i next = _mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4));
                w[g & 3] = _mm_sha256msg2_epu32(next, w[(g + 3) & 3]);
            }
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, cdgh, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(cdgh, feba, 8));
}

const bool kShaInstructions = has_sha_instructions();
#endif

}  // namespace

Sha256::Sha256() noexcept
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::compress(const unsigned char* data, size_t blocks) noexcept {
#ifdef WIRECODEC_SHA_NI
    if (kShaInstructions) {
        compress_sha(state_, data, blocks);
        return;
    }
#endif
    for (; blocks; --blocks, data += kBlock) compress_portable(state_, data);
}

void Sha256::update(const void* data, size_t n) noexcept {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    size_t held = static_cast<size_t>(length_ % kBlock);
    length_ += n;
    if (held) {
        const size_t take = n < kBlock - held ? n : kBlock - held;
        std::memcpy(buffer_ + held, p, take);
        p += take;
        n -= take;
        if (held + take < kBlock) return;
        compress(buffer_, 1);
    }
    compress(p, n / kBlock);
    p += n - n % kBlock;
    n %= kBlock;
    if (n) std::memcpy(buffer_, p, n);
}

void Sha256::finish(unsigned char out[kDigest]) noexcept {
    const uint64_t bits = length_ * 8;
    static const unsigned char kPad[kBlock] = {0x80};
    const size_t held = static_cast<size_t>(length_ % kBlock);
    update(kPad, held < 56 ? 56 - held : 120 - held);
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    update(tail, sizeof tail);
    for (int i = 0; i < 8; ++i) store_be(out + 4 * i, state_[i]);
}

void Hmac::set_key(const void* key, size_t n) noexcept {
    unsigned char block[Sha256::kBlock] = {};
    if (n > Sha256::kBlock) {
        Sha256 h;
        h.update(key, n);
        h.finish(block);
    } else {
        std::memcpy(block, key, n);
    }
    unsigned char pad[Sha256::kBlock];
    inner_ = Sha256();
    outer_ = Sha256();
    for (size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x36;
    inner_.update(pad, sizeof pad);
    for (size_t i = 0; i < sizeof pad; ++i) pad[i] = block[i] ^ 0x5c;
    outer_.update(pad, sizeof pad);
}

void Hmac::sign(const void* prefix, size_t prefix_n, const void* data, size_t n,
                unsigned char out[Sha256::kDigest]) const noexcept {
    Sha256 inner = inner_;
    inner.update(prefix, prefix_n);
    inner.update(data, n);
    unsigned char digest[Sha256::kDigest];
    inner.finish(digest);
    Sha256 outer = outer_;
    outer.update(digest, sizeof digest);
    outer.finish(out);
}

}  // namespace wirecodec
