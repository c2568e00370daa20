// Values to msgpack bytes, identical to msgpack's packer (binary type,
// strict types) with the wire's extension types and its _default.
#pragma once

#include "writer.hpp"

#include "vm/module.hpp"

namespace wirecodec {

// Appends the msgpack form of `value` to `out`.
void pack(Writer& out, PyObject* value);

// Publishes encode(value) and frame(message).
void register_encode(vm::Module& m);
// frame(message): one frame (length prefix and body) holding `message`.
vm::Ref frame_of(PyObject* message);

}  // namespace wirecodec
