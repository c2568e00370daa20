// The link's reads and writes of a socket, at system-call level.
#pragma once

#include "vm/module.hpp"

#include <sys/types.h>

namespace wirecodec {

// One blocking read of `fd` into `at`, as recv() gives it (-1 and EAGAIN when
// the socket's receive time-out passed); called without the GIL. With `spin`
// it reads without sleeping for a few tens of microseconds first; `spin` is
// left telling whether the next read should.
ssize_t recv_blocking(int fd, void* at, size_t room, bool& spin) noexcept;

// send(sock, data): every byte of `data` written to the socket `sock` (or the
// descriptor `sock`).
void send_all(PyObject* sock, PyObject* data);
vm::Ref send(vm::Params<2> p);
// Publishes send(sock, data).
void register_sockio(vm::Module& m);

}  // namespace wirecodec
