// str.lower() and str.upper() of UTF-8 text: ASCII text is mapped here, other
// text through str's own methods so that the full Unicode rules apply.
#pragma once

#include "vm/ref.hpp"

#include <string>

namespace vm {

Ref lower(std::string text);
Ref upper(std::string text);

}  // namespace vm
