// Numeric arrays packed and built here, one copy of their data each way, for
// as long as the wire module's own array coders are in place: the bytes and
// the arrays are those its _array and _decode_array make.
#pragma once

#include "writer.hpp"

#include "vm/ref.hpp"

namespace wirecodec {

struct Codec;

// Packs `o` as the wire's _default packs an array, when `o` is an exact
// ndarray of numbers in C order and _default and _array are the wire's own;
// false (nothing written) otherwise.
bool pack_array(Writer& out, const Codec& codec, PyObject* o);

// The array of an array extension's `n` content bytes at `p`, as the wire's
// _decode_array builds it, when `decoder` is that function and the content
// is in the form pack_array writes; empty otherwise (the content is then
// decoded and handed to `decoder` as any other).
vm::Ref unpack_array(const Codec& codec, PyObject* decoder, const unsigned char* p, size_t n);

}  // namespace wirecodec
