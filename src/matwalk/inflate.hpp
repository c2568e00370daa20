// Compressed variables of a MAT file, inflated by zlib straight into the
// unpacked file, never past what their tags name.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace matwalk {

// Where inflated bytes go: room at the end, on demand.
class Sink {
public:
    virtual ~Sink() = default;
    // Room for up to `wanted` more bytes (at least one while wanted > 0).
    virtual size_t room(size_t wanted) = 0;
    virtual unsigned char* end() = 0;
    virtual void grew(size_t n) = 0;
};

// One zlib stream, reset for each compressed variable of a file.
class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // The compressed variable at byte `at` of the file, `count` bytes of it.
    void start(const unsigned char* data, size_t count, size_t at);
    // Up to `limit` more bytes of it, appended to `out`; the count given.
    // A stream zlib cannot read is refused, as Python's zlib words it.
    uint64_t inflate(Sink& out, uint64_t limit);

private:
    z_stream z_{};
    size_t at_ = 0;
};

}  // namespace matwalk
