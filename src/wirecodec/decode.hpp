// msgpack bytes to values, as msgpack's unpacker gives them (str as text,
// any map key, str keys interned) with the wire's extension types; every
// fault of the bytes is the wire's FrameError.
#pragma once

#include "vm/module.hpp"

namespace wirecodec {

// The one value `n` bytes at `p` hold. Errors of the Python code run on the
// way (decoders, classes) become FrameError("malformed frame: ...") as well,
// except FrameError itself and exceptions that are not Exceptions.
vm::Ref decode_body(const unsigned char* p, size_t n);

// Publishes decode(body).
void register_decode(vm::Module& m);

}  // namespace wirecodec
