// SHA-256 and HMAC-SHA256, small and self-contained: the link's frame tags
// are made and checked on every call, where a trip through Python's hmac
// would cost more than the rest of the frame's handling.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wirecodec {

class Sha256 {
public:
    static constexpr size_t kBlock = 64, kDigest = 32;

    Sha256() noexcept;
    void update(const void* data, size_t n) noexcept;
    void finish(unsigned char out[kDigest]) noexcept;

private:
    // `blocks` blocks of 64 bytes from `data` into the state
    void compress(const unsigned char* data, size_t blocks) noexcept;

    uint32_t state_[8];
    unsigned char buffer_[kBlock];
    uint64_t length_ = 0;  // bytes hashed so far
};

// HMAC-SHA256 under one key, the key's padded blocks hashed once.
class Hmac {
public:
    void set_key(const void* key, size_t n) noexcept;
    // The MAC of `prefix` followed by `data`.
    void sign(const void* prefix, size_t prefix_n, const void* data, size_t n,
              unsigned char out[Sha256::kDigest]) const noexcept;

private:
    Sha256 inner_, outer_;
};

}  // namespace wirecodec
