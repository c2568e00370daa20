// Seal: the tags that bind a connection's frames, after its handshake, to the
// session key both ends derived and to their place in the stream.
#pragma once

#include "vm/module.hpp"

#include <cstddef>

namespace wirecodec {

// The bytes a sealed frame carries after its body (inside its length).
constexpr size_t kTagSize = 16;

void register_seal(vm::Module& m);

// Whether `o` is a Seal.
bool is_seal(PyObject* o) noexcept;

// seal.seal(data) of the Seal `seal`: every frame of `data` with its tag.
vm::Ref seal_frames(PyObject* seal, PyObject* data);

// Checks the tag at the end of a sealed frame's `n` bytes (the wire's
// ForgedFrameError when it is not this stream's next frame's); the body is the `n - kTagSize` before it.
void open_frame(PyObject* seal, const unsigned char* content, size_t n);

}  // namespace wirecodec
