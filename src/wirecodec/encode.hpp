// Values to msgpack bytes, identical to msgpack's packer (binary type,
// strict types) with the wire's extension types and its _default.
#pragma once

#include "writer.hpp"

#include "vm/function.hpp"

namespace wirecodec {

// Appends the msgpack form of `value` to `out`.
void pack(Writer& out, PyObject* value);

vm::Ref encode(vm::Params<1> p);
// frame(message): one frame (length prefix and body) holding `message`.
vm::Ref frame_of(PyObject* message);
vm::Ref frame(vm::Params<1> p);

}  // namespace wirecodec
