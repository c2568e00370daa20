// Waiter: where a thread waiting on the link sleeps until it is woken.
#pragma once

#include "vm/module.hpp"

namespace wirecodec {

void register_waiter(vm::Module& m);

// Whether `o` is a Waiter.
bool is_waiter(PyObject* o) noexcept;

// Wakes the Waiter `o` (kept alive by the caller); needs no GIL.
void wake(PyObject* o) noexcept;

}  // namespace wirecodec
