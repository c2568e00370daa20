// Channel: one connection to the terminal, owning what its callers share:
// the socket, the calls waiting for answers with the keys of the orders among
// them, the frames waiting to be sent and the turn to read. Its state changes
// under the GIL only; a thread lets the GIL go to send, read or sleep.
//
// The threads waiting on the connection read it themselves, one at a time: a
// caller waiting for its answer (or another thread in `wait`) reads while no
// other thread does, and hands every answer to the caller waiting on its
// request id, the rest to `deliver`; then a thread still waiting takes its
// turn. A caller alone thus takes its answer from the socket itself. The
// callers a read handed answers are woken as the reader lets go of the GIL
// for its next read (or as its turn ends): woken earlier, each would find the
// GIL held and sleep again.
#include "channel.hpp"

#include "codec.hpp"
#include "encode.hpp"
#include "reader.hpp"
#include "seal.hpp"
#include "sockio.hpp"
#include "waiter.hpp"

#include "vm/call.hpp"
#include "vm/nativetype.hpp"

#include <cerrno>
#include <cmath>

#include <poll.h>
#include <sched.h>
#include <time.h>

namespace wirecodec {

namespace {

// the wire module's globals the channel reads (at call time)
vm::Name n_NotConnectedError("NotConnectedError"), n_OutcomeUnknownError("OutcomeUnknownError"),
    n_TransportError("TransportError"),
    n_CALL("CALL"), n_REPLY("REPLY"), n_send("send");
// methods of the objects it holds
vm::Name n_shutdown("shutdown"), n_close("close"), n_get("get"), n_join("join");

struct ChannelObject {
    PyObject_HEAD
    vm::Ref sock;      // the connection's socket
    vm::Ref frames;    // its FrameReader
    vm::Ref deliver;   // deliver(messages): what a read brought besides the answers of waiting calls
    vm::Ref lost;      // lost(channel, exc): a read or send failed, the connection is gone
    vm::Ref errors;    // name -> class of the terminal's error answers
    vm::Ref pending;   // request id -> the waiter of its caller
    vm::Ref keys;      // request id -> the idempotency key of an order or cancel among them
    vm::Ref waiting;   // the waiters of the threads in a wait: who may take the turn to read
    vm::Ref outgoing;  // frames waiting for the thread sending
    vm::Ref wakes;     // the waiters the reader handed their answers, to wake
    vm::Ref seal;      // the Seal of the frames sent (empty: they go as they are)
    long long next_id;
    double tick;       // the longest blocking read
    double last_sent, last_recv;
    bool sending, reading, closed, sock_closed;
};

using Lifetime = vm::NativeType<ChannelObject, &ChannelObject::sock, &ChannelObject::frames, &ChannelObject::deliver,
                                &ChannelObject::lost, &ChannelObject::errors, &ChannelObject::pending,
                                &ChannelObject::keys, &ChannelObject::waiting, &ChannelObject::outgoing,
                                &ChannelObject::wakes, &ChannelObject::seal>;

ChannelObject* as_channel(PyObject* self) {
    ChannelObject* c = reinterpret_cast<ChannelObject*>(self);
    if (!c->sock) vm::raise(PyExc_RuntimeError, "the channel was not initialised");
    return c;
}

// time.monotonic()'s clock
double monotonic() noexcept {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

vm::Ref wire_global(const vm::Name& name) { return codec().global(name); }

// `raise o`: an exception, or an exception class made without arguments
[[noreturn]] void raise_object(PyObject* o) {
    if (PyExceptionClass_Check(o)) vm::raise_instance(o);
    if (!PyExceptionInstance_Check(o)) vm::raise(PyExc_TypeError, "exceptions must derive from BaseException");
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(o)), o);
    throw vm::Error{};
}

// `raise OutcomeUnknownError(message, key) from None`
[[noreturn]] void raise_unknown(PyObject* message, PyObject* key) {
    vm::Ref cls = wire_global(n_OutcomeUnknownError);
    vm::Ref exc = vm::call(cls.get(), {message, key});
    PyException_SetCause(exc, nullptr);
    raise_object(exc);
}

// dict.pop(key, None)
vm::Ref pop(PyObject* dict, PyObject* key) {
    vm::Ref value = vm::borrow(PyDict_GetItemWithError(dict, key));
    if (value) {
        vm::check(PyDict_DelItem(dict, key));
        return value;
    }
    if (PyErr_Occurred()) vm::raise();
    return vm::Ref();
}

void remove_waiter(PyObject* list, PyObject* waiter) {
    for (Py_ssize_t i = PyList_GET_SIZE(list) - 1; i >= 0; --i)
        if (PyList_GET_ITEM(list, i) == waiter) {
            vm::check(PyList_SetSlice(list, i, i + 1, nullptr));
            return;
        }
}

void wake_delivered(ChannelObject* c) {
    PyObject* wakes = c->wakes.get();
    while (PyList_GET_SIZE(wakes)) {
        const Py_ssize_t last = PyList_GET_SIZE(wakes) - 1;
        vm::Ref waiter = vm::borrow(PyList_GET_ITEM(wakes, last));
        vm::check(PyList_SetSlice(wakes, last, last + 1, nullptr));
        wake(waiter.get());
    }
}

// When no thread reads, wake one still waiting so that it reads in its turn.
void promote(ChannelObject* c) {
    if (c->reading || c->closed) return;
    PyObject* waiting = c->waiting.get();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(waiting); ++i) {
        PyObject* waiter = PyList_GET_ITEM(waiting, i);
        if (reply_of(waiter) == Py_None) {
            wake(waiter);
            return;
        }
    }
}

// The socket is closed once no thread reads it: a read in progress on its
// descriptor must not find another socket there.
void close_socket_when_free(ChannelObject* c) {
    if (!c->closed || c->reading || c->sock_closed) return;
    c->sock_closed = true;
    vm::Method(c->sock, n_close).call();
}

void shut(ChannelObject* c) {
    try {
        vm::Method(c->sock, n_shutdown).call({vm::integer(2).get()});  // SHUT_RDWR: a reader sees the end
    } catch (const vm::Error&) {
        if (!PyErr_ExceptionMatches(PyExc_OSError)) throw;
        PyErr_Clear();
    }
}

// Answers to their callers; the rest, in order, to deliver.
void deliver_messages(ChannelObject* c, PyObject* messages) {
    const vm::Ref reply_kind = wire_global(n_REPLY);
    vm::Ref others;
    const Py_ssize_t n = PyList_GET_SIZE(messages);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* message = PyList_GET_ITEM(messages, i);
        vm::Ref kind = vm::item(message, Py_ssize_t{0});
        if (vm::equal(kind, reply_kind) && vm::length(message) >= 2) {
            vm::Ref rid = vm::item(message, Py_ssize_t{1});
            vm::Ref waiter = pop(c->pending, rid);
            if (waiter) {
                pop(c->keys, rid);
                set_reply(waiter, message);
                vm::append(c->wakes, waiter);
                continue;
            }
        }
        if (!others) others = vm::new_list();
        vm::append(others, message);  // an answer whose caller gave up among them
    }
    if (others) vm::call(c->deliver.get(), others.get());
}

// One read, its messages delivered; false when none came.
bool read_once(ChannelObject* c, bool block) {
    vm::Ref messages;
    try {
        messages = receive_messages(c->frames, c->sock, block ? Py_True : Py_False, c->wakes);
    } catch (const vm::Error&) {
        if (!PyErr_ExceptionMatches(PyExc_EOFError)) throw;
        PyErr_Clear();
        vm::Ref cls = wire_global(n_NotConnectedError);
        vm::Ref exc = vm::call(cls.get(), vm::text("the terminal closed the connection").get());
        raise_object(exc);
    }
    if (vm::is_none(messages)) return false;
    c->last_recv = monotonic();
    deliver_messages(c, messages);
    return true;
}

// What ends a read turn without ending the wait: the connection is lost.
bool loses_connection(PyObject* exc) {
    if (is_instance(exc, PyExc_OSError) || is_instance(exc, PyExc_ValueError)) return true;
    vm::Ref transport = wire_global(n_TransportError);
    return is_instance(exc, transport);
}

// The connection failed under this thread: whoever holds the channel hears it.
void report_lost(ChannelObject* c, PyObject* exc) {
    if (c->closed) return;
    vm::call(c->lost.get(), {reinterpret_cast<PyObject*>(c), exc});
}

// Whether the socket has something to read within `seconds` (the GIL let go).
bool readable(ChannelObject* c, double seconds) {
    const int fd = PyObject_AsFileDescriptor(c->sock);
    if (fd < 0) vm::raise();
    pollfd one{fd, POLLIN, 0};
    const int ms = static_cast<int>(std::ceil(std::fmin(seconds, 86400.0) * 1000.0));
    int ready;
    Py_BEGIN_ALLOW_THREADS
    ready = poll(&one, 1, ms);
    Py_END_ALLOW_THREADS
    if (ready < 0) {
        if (errno != EINTR) {
            PyErr_SetFromErrno(PyExc_OSError);
            vm::raise();
        }
        vm::check(PyErr_CheckSignals());
        return false;
    }
    return ready > 0;
}

// Takes the turn to read, runs `body`, and lets the turn go: the waiters
// handed answers woken, the socket closed if the channel was meanwhile, a
// waiting thread woken for its turn. A lost connection is reported.
template <class Body>
void read_turn(ChannelObject* c, Body&& body) {
    c->reading = true;
    finally(
        [&] {
            try {
                body();
            } catch (const vm::Error&) {
                vm::Ref exc = take_exception();
                if (!loses_connection(exc)) raise_again(std::move(exc));
                report_lost(c, exc);
            }
            return true;
        },
        [&] {
            c->reading = false;
            wake_delivered(c);
            close_socket_when_free(c);
        });
    promote(c);
}

// Waits until `waiter` has its reply (true), reading in turn; false at the
// deadline or once the channel is closed.
bool wait_reply(ChannelObject* c, PyObject* waiter, double deadline) {
    vm::append(c->waiting, waiter);
    return finally(
        [&] {
            while (reply_of(waiter) == Py_None) {
                double remaining = deadline - monotonic();
                if (remaining <= 0 || c->closed) {
                    promote(c);  // a turn to read may have come to this thread
                    return false;
                }
                if (c->reading) {
                    wait_for(waiter, remaining);
                    continue;
                }
                read_turn(c, [&] {
                    while (reply_of(waiter) == Py_None && !c->closed && remaining > 0) {
                        if (remaining < c->tick && !readable(c, remaining)) break;
                        read_once(c, true);
                        remaining = deadline - monotonic();
                    }
                    // answers to others that came with this one are handed
                    // over now: no turn to read is passed on for them
                    if (reply_of(waiter) != Py_None && PyDict_GET_SIZE(c->pending.get()) && !c->closed)
                        read_once(c, false);
                });
            }
            return true;
        },
        [&] { remove_waiter(c->waiting, waiter); });
}

// Sends whole frames. While one thread sends, the others leave their frames
// to it and go on: it sends them all at once after its own. A failed send
// ends the connection (part of a frame may have left): it is reported, and
// the OSError raised.
void send_frames(ChannelObject* c, PyObject* data) {
    if (c->closed) {
        vm::Ref cls = wire_global(n_NotConnectedError);
        raise_object(vm::call(cls.get(), vm::text("the connection to the terminal is closed").get()));
    }
    // sealed as it joins the frames waiting: their tags count in the order they leave
    vm::append(c->outgoing, c->seal ? seal_frames(c->seal, data) : vm::borrow(data));
    if (c->sending) return;
    vm::Ref send_fn = wire_global(n_send);
    const bool own_send = send_fn.get() == vm::detail::Fn<send>::object;
    PyObject* outgoing = c->outgoing.get();
    c->sending = true;
    finally(
        [&] {
            try {
                while (PyList_GET_SIZE(outgoing)) {
                    const Py_ssize_t count = PyList_GET_SIZE(outgoing);
                    vm::Ref batch;
                    if (count == 1) {
                        batch = vm::borrow(PyList_GET_ITEM(outgoing, 0));
                    } else {
                        vm::Ref empty = vm::own(PyBytes_FromStringAndSize(nullptr, 0));
                        batch = vm::Method(empty, n_join).call({outgoing});
                    }
                    vm::check(PyList_SetSlice(outgoing, 0, count, nullptr));
                    if (own_send)
                        send_all(c->sock, batch);
                    else
                        vm::call(send_fn.get(), {c->sock.get(), batch.get()});
                    c->last_sent = monotonic();
                }
            } catch (const vm::Error&) {
                if (!PyErr_ExceptionMatches(PyExc_OSError)) throw;
                vm::Ref exc = take_exception();
                vm::check(PyList_SetSlice(outgoing, 0, PyList_GET_SIZE(outgoing), nullptr));
                shut(c);
                report_lost(c, exc);
                raise_again(std::move(exc));
            }
            return true;
        },
        [&] { c->sending = false; });
}

// The terminal's failure answer `failure` ([name, text]) raised as the error it names.
[[noreturn]] void raise_answered(ChannelObject* c, PyObject* failure) {
    auto [name, text] = vm::unpack2(failure);
    vm::Ref cls = vm::Method(c->errors, n_get).call({name.get(), PyExc_RuntimeError});
    const int known = PySequence_Contains(c->errors, name);
    vm::check(known);
    vm::Ref message = known ? text : vm::own(PyUnicode_FromFormat("%S: %S", name.get(), text.get()));
    raise_object(vm::call(cls.get(), message.get()));
}

// ---- the methods ----

vm::Ref channel_init(PyObject* self, vm::Params<7> p) {
    auto [sock, frames, tick, deliver, lost, errors, seal] = p.take<7>();
    ChannelObject* c = reinterpret_cast<ChannelObject*>(self);
    if (c->sock) vm::raise(PyExc_RuntimeError, "a channel is initialised once");
    if (!is_frame_reader(frames)) vm::raise(PyExc_TypeError, "frames must be a FrameReader");
    if (!PyCallable_Check(deliver) || !PyCallable_Check(lost)) vm::raise(PyExc_TypeError, "deliver and lost must be callable");
    if (!PyDict_Check(errors)) vm::raise(PyExc_TypeError, "errors must be a dict");
    if (!vm::is_none(seal) && !is_seal(seal)) vm::raise(PyExc_TypeError, "seal must be a Seal or None");
    const double seconds = vm::to_double(tick);
    if (!(seconds > 0)) vm::raise(PyExc_ValueError, "tick must be positive");
    if (PyObject_AsFileDescriptor(sock) < 0) vm::raise();
    c->tick = seconds;
    c->frames = vm::borrow(frames);
    c->deliver = vm::borrow(deliver);
    c->lost = vm::borrow(lost);
    c->errors = vm::borrow(errors);
    if (!vm::is_none(seal)) c->seal = vm::borrow(seal);
    c->pending = vm::new_dict();
    c->keys = vm::new_dict();
    c->waiting = vm::new_list();
    c->outgoing = vm::new_list();
    c->wakes = vm::new_list();
    c->next_id = 1;
    c->last_sent = c->last_recv = monotonic();
    c->sock = vm::borrow(sock);  // last: it marks the channel initialised
    return vm::none();
}

vm::Ref call(PyObject* self, vm::Params<4> p) {
    auto [op, args, key, timeout] = p.take<4>();
    ChannelObject* c = as_channel(self);
    const double seconds = vm::to_double(timeout);
    vm::Ref rid = vm::integer(c->next_id++);
    vm::Ref data;
    {
        vm::Ref kind = wire_global(n_CALL);
        vm::Ref message = vm::new_list({kind.get(), rid.get(), op, args});
        data = frame_of(message);
    }
    vm::Ref waiter = thread_waiter(vm::Params<0>(nullptr));
    // the key is recorded before the frame can leave: a loss of the
    // connection from now on leaves it to be asked about
    vm::dict_set(c->pending, rid, waiter);
    if (!vm::is_none(key)) vm::dict_set(c->keys, rid, key);
    try {
        send_frames(c, data);
    } catch (const vm::Error&) {
        vm::Ref exc = take_exception();
        pop(c->pending, rid);
        pop(c->keys, rid);
        // NotConnectedError (an OSError too): nothing was sent
        if (!is_instance(exc, PyExc_OSError) || is_instance(exc, wire_global(n_NotConnectedError)))
            raise_again(std::move(exc));
        raise_unknown(vm::own(PyUnicode_FromFormat("sending to the terminal failed: %S", exc.get())), key);
    }
    bool answered;
    try {
        answered = wait_reply(c, waiter, monotonic() + seconds);
    } catch (const vm::Error&) {
        // (a signal's handler raised) no later answer may reach this thread's waiter
        vm::Ref exc = take_exception();
        pop(c->pending, rid);
        pop(c->keys, rid);
        set_reply(waiter, Py_None);
        raise_again(std::move(exc));
    }
    if (!answered) {
        if (pop(c->pending, rid)) {
            pop(c->keys, rid);
            raise_unknown(vm::own(PyUnicode_FromFormat("no answer from the terminal within %S s", timeout)), key);
        }
        // the answer came as the wait ended: a reader is handing it over
        while (reply_of(waiter) == Py_None) {
            Py_BEGIN_ALLOW_THREADS
            sched_yield();
            Py_END_ALLOW_THREADS
            vm::check(PyErr_CheckSignals());
        }
    }
    vm::Ref reply = vm::borrow(reply_of(waiter));
    set_reply(waiter, Py_None);  // the thread's waiter holds no answer until its next call
    if (PyList_CheckExact(reply)) {
        if (vm::truthy(vm::item(reply, Py_ssize_t{2}))) return vm::item(reply, Py_ssize_t{3});
        raise_answered(c, vm::item(reply, Py_ssize_t{3}));
    }
    if (is_instance(reply, wire_global(n_OutcomeUnknownError))) raise_unknown(vm::str(reply), key);
    raise_object(reply);
}

vm::Ref send_method(PyObject* self, vm::Params<1> p) {
    auto [data] = p.take<1>();
    if (!PyBytes_Check(data)) vm::raise(PyExc_TypeError, "data must be bytes");
    send_frames(as_channel(self), data);
    return vm::none();
}

vm::Ref wait(PyObject* self, vm::Params<2> p) {
    auto [waiter, deadline] = p.take<2>();
    if (!is_waiter(waiter)) vm::raise(PyExc_TypeError, "waiter must be a Waiter");
    return vm::boolean(wait_reply(as_channel(self), waiter, vm::to_double(deadline)));
}

vm::Ref poll_method(PyObject* self, vm::Params<0>) {
    ChannelObject* c = as_channel(self);
    if (c->reading || c->closed) return vm::boolean(false);
    read_turn(c, [&] {
        while (!c->closed && read_once(c, false)) {
        }
    });
    return vm::boolean(true);
}

vm::Ref close(PyObject* self, vm::Params<1> p) {
    auto [error] = p.take<1>();
    ChannelObject* c = as_channel(self);
    vm::Ref keys = vm::new_list();
    if (c->closed) return keys;
    if (!PyExceptionInstance_Check(error)) vm::raise(PyExc_TypeError, "error must be an exception");
    c->closed = true;
    shut(c);
    vm::Ref values = vm::own(PyDict_Values(c->keys));
    keys = vm::own(PySequence_List(values));
    PyDict_Clear(c->keys);
    vm::Ref waiters = vm::own(PyDict_Values(c->pending));
    PyDict_Clear(c->pending);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(waiters.get()); ++i) {
        set_reply(PyList_GET_ITEM(waiters.get(), i), error);
        wake(PyList_GET_ITEM(waiters.get(), i));
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(c->waiting.get()); ++i) wake(PyList_GET_ITEM(c->waiting.get(), i));
    close_socket_when_free(c);
    return keys;
}

vm::Ref carries(PyObject* self, vm::Params<1> p) {
    auto [key] = p.take<1>();
    ChannelObject* c = as_channel(self);
    vm::Ref values = vm::own(PyDict_Values(c->keys));
    const int found = PySequence_Contains(values, key);
    vm::check(found);
    return vm::boolean(found);
}

vm::Ref get_sock(PyObject* self) { return as_channel(self)->sock; }
vm::Ref get_last_sent(PyObject* self) { return vm::floating(as_channel(self)->last_sent); }
vm::Ref get_last_recv(PyObject* self) { return vm::floating(as_channel(self)->last_recv); }
vm::Ref get_closed(PyObject* self) { return vm::boolean(as_channel(self)->closed); }
vm::Ref get_reading(PyObject* self) { return vm::boolean(as_channel(self)->reading); }
vm::Ref get_in_flight(PyObject* self) {
    return vm::own(PyLong_FromSsize_t(PyDict_GET_SIZE(as_channel(self)->pending.get())));
}
vm::Ref get_queued(PyObject* self) {
    return vm::own(PyLong_FromSsize_t(PyList_GET_SIZE(as_channel(self)->outgoing.get())));
}

PyGetSetDef kProperties[] = {
    {"sock", VM_GETTER(get_sock), nullptr, "The connection's socket.", nullptr},
    {"last_sent", VM_GETTER(get_last_sent), nullptr, "When the last frame was sent (time.monotonic()).", nullptr},
    {"last_recv", VM_GETTER(get_last_recv), nullptr, "When the last bytes came (time.monotonic()).", nullptr},
    {"closed", VM_GETTER(get_closed), nullptr, "Whether the channel was closed.", nullptr},
    {"reading", VM_GETTER(get_reading), nullptr, "Whether a thread holds the turn to read.", nullptr},
    {"in_flight", VM_GETTER(get_in_flight), nullptr, "The calls waiting for their answers.", nullptr},
    {"queued", VM_GETTER(get_queued), nullptr, "The frames waiting for the thread sending.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const vm::FunctionSpec kMethods[] = {
    VM_NAMED_FUNCTION("__init__", channel_init, "sock, frames, tick, deliver, lost, errors, seal=None",
                      "A channel on the connected socket `sock` (its receive time-out at most `tick` seconds, "
                      "the longest blocking read) whose stream `frames` cuts; deliver(messages) takes what a "
                      "read brought besides the answers of waiting calls, lost(channel, exc) hears that the "
                      "connection failed; errors maps the names of the terminal's error answers to classes; every "
                      "frame sent is tagged with `seal` (a Seal, None: sent as it is)."),
    VM_FUNCTION(call, "op, args, key, timeout",
                "Sends request `op` with `args` and returns its answer. `key`, the idempotency key of an order "
                "or cancel (else None), is recorded before the request can leave and returned by close() while "
                "it waits. NotConnectedError when nothing was sent; OutcomeUnknownError(message, key) when it "
                "was sent and no answer came within `timeout` seconds or the connection ended first; the "
                "terminal's error answers as the errors they name."),
    VM_NAMED_FUNCTION("send", send_method, "data",
                      "Sends whole frames; NotConnectedError once closed, OSError when the send fails (the "
                      "connection is then reported lost)."),
    VM_FUNCTION(wait, "waiter, deadline",
                "Waits until `waiter` has its reply (True), reading in turn while no other thread does; False "
                "at `deadline` (a time.monotonic() time) or once the channel is closed."),
    VM_NAMED_FUNCTION("poll", poll_method, "",
                      "Reads what came, without waiting, while no other thread reads; False when one does or "
                      "the channel is closed."),
    VM_FUNCTION(close, "error",
                "Ends the channel: the socket is shut down (closed once no thread reads it), every call waiting "
                "fails with `error`, threads in wait return. The keys of the orders and cancels among those "
                "calls (none when closed already)."),
    VM_FUNCTION(carries, "key", "Whether a call with idempotency key `key` waits for its answer."),
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Channel(sock, frames, tick, deliver, lost, errors, seal=None)\n--\n\n"
                                  "One connection to the terminal, shared by the threads calling it.")},
    {Py_tp_new, reinterpret_cast<void*>(&PyType_GenericNew)},
    {Py_tp_getset, kProperties},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kSpec = {"velmoro.tframe.comm._wirecodec.Channel", sizeof(ChannelObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, kSlots};

}  // namespace

void register_channel(vm::Module& m) {
    vm::Ref type = vm::make_type(m, &kSpec);
    vm::add_methods(type, kMethods);
}

}  // namespace wirecodec
