#include "sockio.hpp"

#include "vm/buffer.hpp"
#include "vm/call.hpp"

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

// The socket's time-out `option` (SO_RCVTIMEO, SO_SNDTIMEO) in milliseconds
// for poll(): -1 when it has none.
int timeout_ms(int fd, int option) noexcept {
    timeval limit{};
    socklen_t size = sizeof limit;
    if (getsockopt(fd, SOL_SOCKET, option, &limit, &size) != 0 || !(limit.tv_sec || limit.tv_usec)) return -1;
    return static_cast<int>(std::min<long long>(INT_MAX, limit.tv_sec * 1000LL + (limit.tv_usec + 999) / 1000));
}

// Whether `fd` became ready for `events` within its time-out `option`
// (false with errno EAGAIN when it passed, or with poll's own error).
bool ready(int fd, short events, int option) noexcept {
    pollfd one{fd, events, 0};
    const int n = ::poll(&one, 1, timeout_ms(fd, option));
    if (n == 0) errno = EAGAIN;
    return n > 0;
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
    return ready(fd, POLLIN, SO_RCVTIMEO) ? ::recv(fd, at, room, MSG_DONTWAIT) : -1;
}

[[noreturn]] void raise_errno() {
    PyErr_SetFromErrno(PyExc_OSError);
    vm::raise();
}

// The descriptor of `sock`; a closed socket's (-1) is refused as its own
// methods refuse it, with OSError.
int descriptor(PyObject* sock) {
    const int fd = PyObject_AsFileDescriptor(sock);
    if (fd >= 0) return fd;
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) vm::raise();
    PyErr_Clear();
    errno = EBADF;
    raise_errno();
}

// What is left of `data` from `sent` on, once the socket's buffer is full: a
// socket object sends it with its own sendall (its time-out and signal
// handling as ever), a bare descriptor waits for room with the GIL let go,
// bounded by its send time-out.
void send_rest(PyObject* sock, int fd, PyObject* data, const unsigned char* at, size_t sent, size_t size) {
    if (!PyLong_Check(sock)) {
        vm::Ref view = vm::own(PyMemoryView_FromObject(data));
        vm::Ref rest = vm::own(PySequence_GetSlice(view, static_cast<Py_ssize_t>(sent), PY_SSIZE_T_MAX));
        vm::own(PyObject_CallMethod(sock, "sendall", "O", rest.get()));
        return;
    }
    while (sent < size) {
        bool room;
        Py_BEGIN_ALLOW_THREADS
        room = ready(fd, POLLOUT, SO_SNDTIMEO);
        Py_END_ALLOW_THREADS
        const ssize_t n = room ? ::send(fd, at + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT) : -1;
        if (n >= 0) {
            sent += static_cast<size_t>(n);
        } else if (errno == EINTR) {
            vm::check(PyErr_CheckSignals());
        } else if (!room || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            raise_errno();
        }
    }
}

}  // namespace

// The spin is kept while what is read comes within it: a read that had to
// sleep longer (a slow command, a quiet link) turns it off until a read comes
// quickly again, so a link waiting long burns no processor. Each look that
// finds nothing yields the processor to any thread ready to run (another
// caller, the peer on a busy machine): the spin uses only time nobody wants.
// A signal that comes during the spin is handled when the read returns (at
// the latest at the socket's receive time-out), as one that comes just
// before any blocking read is.
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
// waiting for it would be woken for nothing.
void send_all(PyObject* sock, PyObject* data) {
    const int fd = descriptor(sock);
    const vm::BytesView bytes(data);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            send_rest(sock, fd, data, bytes.data(), sent, bytes.size());
            break;
        } else if (errno == EINTR) {
            vm::check(PyErr_CheckSignals());
        } else {
            raise_errno();
        }
    }
}

vm::Ref send(vm::Params<2> p) {
    auto [sock, data] = p.take<2>();
    send_all(sock, data);
    return vm::none();
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(send, "sock: Union[socket.socket, int], data: bytes -> None",
                "Writes all of `data` to `sock` (a socket or its descriptor); what the socket takes at once with "
                "the GIL held, the rest as the socket's own sendall does (a descriptor: with the GIL let go, "
                "bounded by its send time-out). BlockingIOError when a time-out passes (part of `data` may have "
                "left), OSError when the write fails."),
};

}  // namespace

void register_sockio(vm::Module& m) { m.add(kFunctions); }

}  // namespace wirecodec
