// Waiter: where a thread waiting on the link sleeps until it is woken.
#pragma once

#include "vm/function.hpp"
#include "vm/module.hpp"

namespace wirecodec {

void register_waiter(vm::Module& m);

// Whether `o` is a Waiter.
bool is_waiter(PyObject* o) noexcept;

// Wakes the Waiter `o` (kept alive by the caller); needs no GIL.
void wake(PyObject* o) noexcept;

// The reply of the Waiter `o` (borrowed), and setting it.
PyObject* reply_of(PyObject* o) noexcept;
void set_reply(PyObject* o, PyObject* reply);

// waiter.wait(seconds) of the Waiter `o`: whether it was woken.
bool wait_for(PyObject* o, double seconds);

// This thread's Waiter, its reply cleared (see thread_waiter's doc).
vm::Ref thread_waiter(vm::Params<0>);

}  // namespace wirecodec
