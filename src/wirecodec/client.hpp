// The client's side of a call on the terminal link, as native methods of the
// link module's terminal class: sending, waiting with its turns to read, and
// handing what a read brought to where it belongs.
#pragma once

#include "vm/function.hpp"

namespace wirecodec {

// configure_link(namespace, cls): the link module's globals (read at call
// time) and the class given the call path's methods.
vm::Ref configure_link(vm::Params<2> p);

}  // namespace wirecodec
