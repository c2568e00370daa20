#include "sockio.hpp"

#include "vm/buffer.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

namespace wirecodec {

namespace {

// How long a read busy-reads before it sleeps. An answer or the next request
// of a steady exchange comes within it: taken without sleeping, it saves both
// ends a wake-up (tens of microseconds on a virtual machine, more than the
// work of a small call).
constexpr long long kSpinNs = 50'000;

long long now_ns() noexcept {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// A Unix socket sleeps in poll() for input only, then reads: asleep in recv()
// it would also be woken whenever the peer takes what this side sent (the
// kernel wakes a Unix socket's readers with its writers), a wasted switch of
// both ends per message. The socket's receive time-out bounds the poll as it
// bounds recv().
ssize_t recv_sleeping(int fd, void* at, size_t room) noexcept {
    int domain = 0;
    socklen_t size = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX)
        return ::recv(fd, at, room, 0);
    timeval limit{};
    size = sizeof limit;
    int ms = -1;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, &size) == 0 && (limit.tv_sec || limit.tv_usec))
        ms = static_cast<int>(std::min<long long>(INT_MAX, limit.tv_sec * 1000LL + (limit.tv_usec + 999) / 1000));
    pollfd one{fd, POLLIN, 0};
    const int ready = ::poll(&one, 1, ms);
    if (ready < 0) return -1;
    if (ready == 0) {
        errno = EAGAIN;
        return -1;
    }
    return ::recv(fd, at, room, MSG_DONTWAIT);
}

}  // namespace

// The spin is kept while what is read comes within it: a read that had to
// sleep longer (a slow command, a quiet link) turns it off until a read comes
// quickly again, so a link waiting long burns no processor. Each look that
// finds nothing yields the processor to any thread ready to run (another
// caller, the peer on a busy machine): the spin uses only time nobody wants.
ssize_t recv_blocking(int fd, void* at, size_t room, bool& spin) noexcept {
    const long long started = now_ns();
    if (spin) {
        do {
            const ssize_t n = ::recv(fd, at, room, MSG_DONTWAIT);
            if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return n;
            sched_yield();
        } while (now_ns() - started < kSpinNs);
    }
    const ssize_t n = recv_sleeping(fd, at, room);
    spin = n > 0 && now_ns() - started < kSpinNs;
    return n;
}

// What fits in the socket's buffer is written with the GIL held: handing the
// GIL over and taking it back costs more than the write, and another thread
// waiting for it would be woken for nothing. The rest waits for room with the
// GIL let go, bounded by the socket's send time-out (BlockingIOError).
vm::Ref send(vm::Params<2> p) {
    auto [sock, data] = p.take<2>();
    const int fd = PyObject_AsFileDescriptor(sock);
    if (fd < 0) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) vm::raise();
        // a closed socket's descriptor (-1): what its own sendall raises
        PyErr_Clear();
        errno = EBADF;
        PyErr_SetFromErrno(PyExc_OSError);
        vm::raise();
    }
    const vm::BytesView bytes(data);
    const unsigned char* at = bytes.data();
    size_t left = bytes.size();
    bool block = false;
    while (left) {
        ssize_t n;
        if (block) {
            Py_BEGIN_ALLOW_THREADS
            n = ::send(fd, at, left, MSG_NOSIGNAL);
            Py_END_ALLOW_THREADS
        } else {
            n = ::send(fd, at, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (n >= 0) {
            at += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && !block) {
            block = true;
            continue;
        }
        if (errno != EINTR) {
            PyErr_SetFromErrno(PyExc_OSError);
            vm::raise();
        }
        vm::check(PyErr_CheckSignals());
    }
    return vm::none();
}

}  // namespace wirecodec
