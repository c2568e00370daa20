// FrameReader: a byte stream cut into messages, whatever the pieces it comes in.
#pragma once

#include "vm/module.hpp"

namespace wirecodec {

void register_frame_reader(vm::Module& m);

}  // namespace wirecodec
