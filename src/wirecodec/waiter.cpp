#include "waiter.hpp"

#include "vm/nativetype.hpp"

#include <structmember.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace wirecodec {

namespace {

// A wake given while no one sleeps is kept until the next wait takes it.
enum State : int { kIdle = 0, kWoken = 1, kSleeping = 2 };

struct WaiterObject {
    PyObject_HEAD
    vm::Ref reply;            // what the waiting thread was handed
    std::atomic<int> state;   // a State; zero-filled: idle
};

using Lifetime = vm::NativeType<WaiterObject, &WaiterObject::reply>;

PyTypeObject* waiter_type = nullptr;  // kept alive by the module

WaiterObject* as_waiter(PyObject* self) { return reinterpret_cast<WaiterObject*>(self); }

int* word(WaiterObject* w) { return reinterpret_cast<int*>(&w->state); }

// Takes a wake that was given; false when there is none.
bool take(WaiterObject* w) noexcept {
    int expected = kWoken;
    return w->state.compare_exchange_strong(expected, kIdle);
}

enum class Slept { kWoken, kTimedOut, kInterrupted };

// Sleeps (without the GIL) until woken or `deadline`.
Slept sleep_until(WaiterObject* w, std::chrono::steady_clock::time_point deadline) noexcept {
    for (;;) {
        int expected = kIdle;
        if (!w->state.compare_exchange_strong(expected, kSleeping) && expected == kWoken) {
            if (take(w)) return Slept::kWoken;
            continue;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            expected = kSleeping;
            if (w->state.compare_exchange_strong(expected, kIdle)) return Slept::kTimedOut;
            continue;  // woken meanwhile
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        if (syscall(SYS_futex, word(w), FUTEX_WAIT_PRIVATE, kSleeping, &ts, nullptr, 0) < 0 && errno == EINTR) {
            expected = kSleeping;
            w->state.compare_exchange_strong(expected, kIdle);
            return Slept::kInterrupted;
        }
    }
}

vm::Ref wait(PyObject* self, vm::Params<1> p) {
    auto [timeout] = p.take<1>();
    const double seconds = PyFloat_AsDouble(timeout);
    if (seconds == -1.0 && PyErr_Occurred()) vm::raise();
    return vm::boolean(wait_for(self, seconds));
}

vm::Ref wake_method(PyObject* self, vm::Params<0>) {
    wake(self);
    return vm::none();
}

PyMemberDef kMembers[] = {
    {const_cast<char*>("reply"), T_OBJECT, offsetof(WaiterObject, reply), 0,
     const_cast<char*>("What the waiting thread was handed (None until then).")},
    {nullptr, 0, 0, 0, nullptr},
};

const vm::FunctionSpec kMethods[] = {
    VM_FUNCTION(wait, "timeout",
                "Sleeps until woken or `timeout` seconds passed; True when woken. A wake given before the wait "
                "(or left from one that ended) is taken at once; a signal's handler runs meanwhile."),
    VM_NAMED_FUNCTION("wake", wake_method, "", "Wakes the thread waiting, or the next wait."),
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Waiter()\n--\n\n"
                                  "Where a thread waiting on the link sleeps until it is woken.")},
    {Py_tp_new, reinterpret_cast<void*>(&PyType_GenericNew)},
    {Py_tp_members, kMembers},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kSpec = {"velmoro.tframe.comm._wirecodec.Waiter", sizeof(WaiterObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, kSlots};

// Where a thread keeps its waiter: its thread state's dict, gone with the thread.
vm::Name n_thread_key("velmoro.link.waiter");

}  // namespace

bool wait_for(PyObject* self, double seconds) {
    WaiterObject* w = as_waiter(self);
    if (take(w)) return true;
    if (!(seconds > 0)) return false;
    // a day at most: time-outs beyond it are as good as none, and stay in range
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::fmin(seconds, 86400.0)));
    for (;;) {
        Slept slept;
        Py_BEGIN_ALLOW_THREADS
        slept = sleep_until(w, deadline);
        Py_END_ALLOW_THREADS
        if (slept != Slept::kInterrupted) return slept == Slept::kWoken;
        vm::check(PyErr_CheckSignals());  // a signal's handler runs, and may raise, as for a lock
    }
}

bool is_waiter(PyObject* o) noexcept { return Py_TYPE(o) == waiter_type; }

void wake(PyObject* o) noexcept {
    WaiterObject* w = as_waiter(o);
    if (w->state.exchange(kWoken) == kSleeping) syscall(SYS_futex, word(w), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

PyObject* reply_of(PyObject* o) noexcept {
    PyObject* reply = as_waiter(o)->reply.get();
    return reply ? reply : Py_None;
}

void set_reply(PyObject* o, PyObject* reply) { as_waiter(o)->reply = vm::borrow(reply); }

vm::Ref thread_waiter(vm::Params<0>) {
    PyObject* slots = PyThreadState_GetDict();
    if (!slots) vm::raise(PyExc_RuntimeError, "this thread keeps no state");
    vm::Ref waiter = vm::borrow(PyDict_GetItemWithError(slots, n_thread_key));
    if (!waiter) {
        if (PyErr_Occurred()) vm::raise();
        waiter = vm::own(PyType_GenericNew(waiter_type, nullptr, nullptr));
        vm::dict_set(slots, n_thread_key, waiter);
    }
    set_reply(waiter, Py_None);
    return waiter;
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(thread_waiter, "-> Waiter",
                "This thread's Waiter, its reply cleared. A thread waiting on the link sleeps on it until woken, "
                "for what it waits for (set as its reply) or for its turn to read. Each thread keeps one, reset "
                "for every wait: a wake given before it sleeps, or left from a wait that ended, is kept, and a "
                "sleeper woken for nothing only looks again."),
};

void register_waiter(vm::Module& m) {
    m.add(kFunctions);
    vm::Ref type = vm::make_type(m, &kSpec);
    vm::add_methods(type, kMethods);
    waiter_type = reinterpret_cast<PyTypeObject*>(type.get());
}

}  // namespace wirecodec
