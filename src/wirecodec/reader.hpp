// FrameReader: a byte stream cut into messages, whatever the pieces it comes in.
#pragma once

#include "vm/module.hpp"

namespace wirecodec {

void register_frame_reader(vm::Module& m);

// Whether `o` is a FrameReader.
bool is_frame_reader(PyObject* o) noexcept;

// reader.receive(sock, block, wakes) of the FrameReader `reader`.
vm::Ref receive_messages(PyObject* reader, PyObject* sock, PyObject* block, PyObject* wakes);

}  // namespace wirecodec
