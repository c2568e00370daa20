// Factor queries: ask the terminal to prepare a factor, fetch its result file
// and reshape it by factor, by code or by day.
#pragma once

#include "names.hpp"

#include "vm/module.hpp"

namespace factors {

using vm::Params;
using vm::Name;
using vm::Ref;

// The published functions (module globals of the same names).
Ref ask_factor_by_targets(Params<5> p);
Ref get_factor_by_factor(Params<5> p);
Ref get_factor_by_code(Params<4> p);
Ref get_factor_by_day(Params<3> p);

void register_ask(vm::Module& m);
void register_queries(vm::Module& m);

}  // namespace factors
