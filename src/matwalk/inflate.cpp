#include "inflate.hpp"

#include "walk.hpp"

#include <algorithm>
#include <climits>
#include <new>

namespace matwalk {

Inflater::Inflater() {
    if (inflateInit(&z_) != Z_OK) throw std::bad_alloc();
}

Inflater::~Inflater() { inflateEnd(&z_); }

void Inflater::start(const unsigned char* data, size_t count, size_t at) {
    inflateReset(&z_);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(count);  // a tag's byte count: 32 bits
    at_ = at;
}

uint64_t Inflater::inflate(Sink& out, uint64_t limit) {
    uint64_t produced = 0;
    int err = Z_OK;
    // as Python's decompressobj().decompress(data, limit): more room while
    // the output fills, until the limit
    while (produced < limit) {
        const size_t room = std::min<uint64_t>({out.room(limit - produced), limit - produced, UINT_MAX});
        z_.next_out = out.end();
        z_.avail_out = static_cast<uInt>(room);
        err = ::inflate(&z_, Z_SYNC_FLUSH);
        const size_t got = room - z_.avail_out;
        out.grew(got);
        produced += got;
        if (err != Z_OK || z_.avail_out) break;
    }
    if (err == Z_OK || err == Z_BUF_ERROR || err == Z_STREAM_END) return produced;
    if (err == Z_MEM_ERROR) throw std::bad_alloc();
    const char* why = z_.msg;
    if (!why) {
        why = err == Z_STREAM_ERROR ? "inconsistent stream state" : err == Z_DATA_ERROR ? "invalid input data" : nullptr;
    }
    std::string what = "compressed variable at byte " + std::to_string(at_) + ": Error " + std::to_string(err) +
                       " while decompressing data";
    if (why) what += std::string(": ") + std::string(why).substr(0, 200);
    throw Refusal{what};
}

}  // namespace matwalk
