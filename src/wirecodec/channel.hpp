// Channel: one connection to the terminal as its callers share it.
#pragma once

#include "vm/module.hpp"

namespace wirecodec {

void register_channel(vm::Module& m);

}  // namespace wirecodec
