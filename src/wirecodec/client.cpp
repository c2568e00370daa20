#include "client.hpp"

#include "codec.hpp"
#include "encode.hpp"
#include "reader.hpp"
#include "sockio.hpp"
#include "waiter.hpp"

#include "vm/call.hpp"

#include <sched.h>

#include <utility>

namespace wirecodec {

namespace {

// the terminal's attributes the call path reads and writes
vm::Name kSock("_sock"), kFailed("_failed"), kAddress("address"), kOutgoing("_outgoing"), kSendLock("_send_lock"),
    kLastSent("_last_sent"), kLastRecv("_last_recv"), kReadLock("_read_lock"), kTick("_tick"), kClosed("_closed"),
    kPending("_pending"), kConsumers("_consumers"), kFrames("_frames"), kWakes("_wakes"), kIds("_ids"),
    kTimeout("timeout"), kFetching("fetching");
// ... the methods it calls that stay in Python, and those of the objects it holds
vm::Name kLost("_lost"), kQueuePushes("_queue_pushes"), kDispatch("_dispatch"), kSending("_sending"),
    kSettled("_settled"),
    kLocalise("_localise"), kNewKey("new_key"), kAcquire("acquire"), kRelease("release"), kLocked("locked"),
    kWarning("warning"), kSelectFn("select"), kWait("wait"), kWake("wake"), kReply("reply"), kPop("pop"),
    kValues("values"), kJoin("join"), kGet("get"), kReceive("receive"), kAppend("append");
// the link module's globals
vm::Name kMonotonic("_monotonic"), kNotConnected("NotConnectedError"), kOutcomeUnknown("OutcomeUnknownError"),
    kTransportError("TransportError"), kErrors("_ERRORS"), kLog("_log"), kKeyed("KEYED_COMMANDS"),
    kSelectModule("select"), kShut("_shut");
// the wire's message kinds, and the request of a command
vm::Name kCmd("cmd"), kCallKind("CALL"), kReplyKind("REPLY"), kPushKind("PUSH"), kSendFn("send");

// The link module's globals, kept for the process as the codec's are.
const vm::Ref* g_link = nullptr;

vm::Ref link_global(const vm::Name& name) {
    if (!g_link) vm::raise(PyExc_RuntimeError, "the link's call path is not configured");
    return vm::item(*g_link, name.get());
}

// _monotonic()
vm::Ref stamp() {
    vm::Ref clock = link_global(kMonotonic);
    return vm::call(clock.get());
}

double monotonic() { return vm::to_double(stamp()); }

bool reply_is_none(PyObject* waiter) {
    if (is_waiter(waiter)) return reply_of(waiter) == Py_None;
    return vm::is_none(vm::attr(waiter, kReply));
}

void hand(PyObject* waiter, PyObject* reply) {
    if (is_waiter(waiter))
        set_reply(waiter, reply);
    else
        vm::set_attr(waiter, kReply, reply);
}

void wake_one(PyObject* waiter) {
    if (is_waiter(waiter))
        wake(waiter);
    else
        vm::Method(waiter, kWake).call();
}

// `raise o`: an exception, or an exception class made without arguments
[[noreturn]] void raise_object(PyObject* o) {
    if (PyExceptionClass_Check(o)) vm::raise_instance(o);
    if (!PyExceptionInstance_Check(o)) vm::raise(PyExc_TypeError, "exceptions must derive from BaseException");
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(o)), o);
    throw vm::Error{};
}

// `raise cls(message) from None`
[[noreturn]] void raise_from_none(const vm::Name& cls_name, PyObject* message, PyObject* key = nullptr) {
    vm::Ref cls = link_global(cls_name);
    vm::Ref exc = key ? vm::call(cls.get(), {message, key}) : vm::call(cls.get(), message);
    PyException_SetCause(exc, nullptr);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc);
    throw vm::Error{};
}

// seq.append(v)
void append_to(PyObject* seq, PyObject* v) {
    if (PyList_CheckExact(seq))
        vm::append(seq, v);
    else
        vm::Method(seq, kAppend).call({v});
}

// pending.pop(rid, None) is not None; the value popped into `popped`
bool pop_pending(PyObject* pending, PyObject* rid, vm::Ref* popped = nullptr) {
    vm::Ref value;
    if (PyDict_CheckExact(pending)) {
        value = vm::borrow(PyDict_GetItemWithError(pending, rid));
        if (value)
            vm::check(PyDict_DelItem(pending, rid));
        else if (PyErr_Occurred())
            vm::raise();
        else
            value = vm::none();
    } else {
        value = vm::Method(pending, kPop).call({rid, Py_None});
    }
    const bool found = !vm::is_none(value);
    if (popped) *popped = std::move(value);
    return found;
}

// ---- the methods ----

vm::Ref wake_delivered(PyObject* self) {
    vm::Ref wakes = vm::attr(self, kWakes);
    while (vm::truthy(wakes)) {
        vm::Ref waiter;
        if (PyList_CheckExact(wakes)) {
            const Py_ssize_t last = PyList_GET_SIZE(wakes.get()) - 1;
            waiter = vm::borrow(PyList_GET_ITEM(wakes.get(), last));
            vm::check(PyList_SetSlice(wakes, last, last + 1, nullptr));
        } else {
            waiter = vm::Method(wakes, kPop).call();
        }
        wake_one(waiter);
    }
    return vm::none();
}

vm::Ref promote(PyObject* self) {
    {
        vm::Ref pending = vm::attr(self, kPending);
        if (!vm::truthy(pending)) {
            vm::Ref consumers = vm::attr(self, kConsumers);
            if (!vm::truthy(consumers)) return vm::none();
        }
    }
    {
        vm::Ref read_lock = vm::attr(self, kReadLock);
        if (vm::truthy(vm::Method(read_lock, kLocked).call())) return vm::none();
    }
    if (vm::is_none(vm::attr(self, kSock))) return vm::none();
    vm::Ref waiters;
    {
        vm::Ref pending = vm::attr(self, kPending);
        vm::Ref values = vm::Method(pending, kValues).call();
        waiters = vm::own(PySequence_List(values));
    }
    {
        vm::Ref consumers = vm::attr(self, kConsumers);
        vm::Ref listed = vm::own(PySequence_List(consumers));
        vm::check(PyList_SetSlice(waiters, PyList_GET_SIZE(waiters.get()), PyList_GET_SIZE(waiters.get()), listed));
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(waiters.get()); ++i) {
        PyObject* waiter = PyList_GET_ITEM(waiters.get(), i);
        if (reply_is_none(waiter)) {
            wake_one(waiter);
            break;
        }
    }
    return vm::none();
}

vm::Ref deliver(PyObject* self, PyObject* messages) {
    vm::Ref pending = vm::attr(self, kPending);
    vm::Ref wakes = vm::attr(self, kWakes);
    vm::Ref pushes;
    const vm::Ref reply_kind = codec().global(kReplyKind);
    const vm::Ref push_kind = codec().global(kPushKind);
    vm::for_each(messages, [&](PyObject* message) {
        vm::Ref kind = vm::item(message, Py_ssize_t{0});
        if (vm::equal(kind, reply_kind)) {
            vm::Ref rid = vm::item(message, Py_ssize_t{1});
            vm::Ref waiter;
            if (!pop_pending(pending, rid, &waiter)) {
                vm::Ref log = link_global(kLog);
                vm::Method warning(log, kWarning);
                vm::Ref text = vm::text("answer to request %s came after its caller gave up: dropped");
                vm::Ref again = vm::item(message, Py_ssize_t{1});
                warning.call({text, again});
                return;
            }
            hand(waiter, message);
            append_to(wakes, waiter);
        } else if (vm::equal(kind, push_kind)) {
            if (!pushes) pushes = vm::new_list();
            vm::append(pushes, message);
        } else {
            if (pushes) {
                vm::Method(self, kQueuePushes).call({pushes});
                pushes = vm::Ref();
            }
            vm::Method(self, kDispatch).call({message});
        }
    });
    if (pushes) vm::Method(self, kQueuePushes).call({pushes});
    return vm::none();
}

bool read(PyObject* self, PyObject* sock, PyObject* block) {
    vm::Ref messages;
    {
        vm::Ref frames = vm::attr(self, kFrames);
        try {
            if (is_frame_reader(frames)) {
                vm::Ref wakes = vm::attr(self, kWakes);
                messages = receive_messages(frames, sock, block, wakes);
            } else {
                vm::Method receive(frames, kReceive);
                messages = receive.call({sock, block, vm::attr(self, kWakes)});
            }
        } catch (const vm::Error&) {
            if (!PyErr_ExceptionMatches(PyExc_EOFError)) throw;
            PyErr_Clear();
            raise_from_none(kNotConnected, vm::text("the terminal closed the connection"));
        }
    }
    if (vm::is_none(messages)) return false;
    vm::set_attr(self, kLastRecv, stamp());
    deliver(self, messages);
    return true;
}

// `route`: the connection's (sock, frames) an order's key was recorded with;
// nothing is sent when another connection has taken its place
vm::Ref write(PyObject* self, PyObject* data, PyObject* route = nullptr) {
    if (vm::is_none(vm::attr(self, kSock)) || (route && vm::attr(self, kOutgoing).get() != route)) {
        vm::Ref failed = vm::attr(self, kFailed);
        if (vm::truthy(failed)) raise_object(failed);
        vm::Ref cls = link_global(kNotConnected);
        vm::Ref address = vm::attr(self, kAddress);
        vm::Ref message = vm::own(PyUnicode_FromFormat("the link to the terminal at %S is down", address.get()));
        raise_object(vm::call(cls.get(), message));
    }
    auto [sock, outgoing] = vm::unpack2(vm::attr(self, kOutgoing));
    append_to(outgoing, data);
    vm::Ref send_lock = vm::attr(self, kSendLock);
    vm::Ref send_fn = codec().global(kSendFn);
    const bool own_send = send_fn.get() == vm::detail::Fn<send>::object;
    // frames are taken off the front by the lock's holder only: one left as
    // the holder lets go is seen by this loop, of whichever thread
    while (vm::truthy(outgoing) && vm::truthy(vm::Method(send_lock, kAcquire).call({Py_False}))) {
        finally(
            [&] {
                try {
                    while (vm::truthy(outgoing)) {
                        const Py_ssize_t count = vm::length(outgoing);
                        vm::Ref batch;
                        if (count == 1) {
                            batch = vm::item(outgoing, Py_ssize_t{0});
                        } else {
                            vm::Ref head = vm::own(PySequence_GetSlice(outgoing, 0, count));
                            vm::Ref empty = vm::own(PyBytes_FromStringAndSize(nullptr, 0));
                            batch = vm::Method(empty, kJoin).call({head});
                        }
                        vm::check(PySequence_DelSlice(outgoing, 0, count));
                        if (own_send)
                            send_all(sock, batch);
                        else
                            vm::call(send_fn.get(), {sock, batch});
                        vm::set_attr(self, kLastSent, stamp());
                    }
                } catch (const vm::Error&) {
                    if (!PyErr_ExceptionMatches(PyExc_OSError)) throw;
                    vm::Ref exc = take_exception();
                    vm::Ref shut = link_global(kShut);
                    vm::call(shut.get(), sock);
                    raise_again(std::move(exc));
                }
                return true;
            },
            [&] { vm::Method(send_lock, kRelease).call(); });
    }
    return vm::none();
}

bool selected(PyObject* sock, double seconds) {
    vm::Ref module = link_global(kSelectModule);
    vm::Ref select = vm::attr(module, kSelectFn);
    vm::Ref ready = vm::call(select.get(), {vm::new_list({sock}), vm::new_list(), vm::new_list(),
                                            vm::floating(seconds)});
    return vm::truthy(vm::item(ready, Py_ssize_t{0}));
}

bool sleep_on(PyObject* waiter, double seconds) {
    if (is_waiter(waiter)) return wait_for(waiter, seconds);
    return vm::truthy(vm::Method(waiter, kWait).call({vm::floating(seconds)}));
}

bool is_current(PyObject* self, PyObject* sock) { return vm::attr(self, kSock).get() == sock; }

// What ends a read turn without ending the wait: the connection is lost.
bool loses_connection(PyObject* exc) {
    if (is_instance(exc, PyExc_OSError) || is_instance(exc, PyExc_ValueError)) return true;
    vm::Ref transport = link_global(kTransportError);
    return is_instance(exc, transport);
}

bool wait_reply(PyObject* self, PyObject* waiter, double deadline) {
    vm::Ref read_lock = vm::attr(self, kReadLock);
    const double tick = vm::to_double(vm::attr(self, kTick));
    while (reply_is_none(waiter)) {
        double remaining = deadline - monotonic();
        if (remaining <= 0) {
            promote(self);  // a turn to read may have come to this thread
            return false;
        }
        vm::Ref sock = vm::attr(self, kSock);
        if (vm::is_none(sock) || !vm::truthy(vm::Method(read_lock, kAcquire).call({Py_False}))) {
            sleep_on(waiter, remaining);
            continue;
        }
        finally(
            [&] {
                try {
                    while (reply_is_none(waiter) && is_current(self, sock) && remaining > 0) {
                        if (remaining < tick && !selected(sock, remaining)) break;
                        read(self, sock, Py_True);
                        remaining = deadline - monotonic();
                    }
                    if (!reply_is_none(waiter) && vm::truthy(vm::attr(self, kPending)) && is_current(self, sock)) {
                        // answers to others that came with this one are handed
                        // over now: no turn to read is passed on for them
                        read(self, sock, Py_False);
                    }
                } catch (const vm::Error&) {
                    vm::Ref exc = take_exception();
                    if (!loses_connection(exc)) raise_again(std::move(exc));
                    if (!vm::truthy(vm::attr(self, kClosed))) vm::Method(self, kLost).call({sock, exc});
                }
                return true;
            },
            [&] {
                wake_delivered(self);
                vm::Method(read_lock, kRelease).call();
            });
        if (vm::truthy(vm::attr(self, kPending)) || vm::truthy(vm::attr(self, kConsumers))) promote(self);
    }
    return true;
}

// The terminal's failure answer `failure` ([name, text]) raised as the error it names.
[[noreturn]] void raise_answered(PyObject* failure) {
    auto [name, text] = vm::unpack2(failure);
    vm::Ref cls;
    {
        vm::Ref errors = link_global(kErrors);
        cls = vm::Method(errors, kGet).call({name, PyExc_RuntimeError});
    }
    vm::Ref errors = link_global(kErrors);
    const int known = PySequence_Contains(errors, name);
    vm::check(known);
    vm::Ref message = known ? text : vm::own(PyUnicode_FromFormat("%S: %S", name.get(), text.get()));
    raise_object(vm::call(cls.get(), message));
}

// raise OutcomeUnknownError(message(), key): the class is read first
template <class Message>
[[noreturn]] void raise_unknown(PyObject* key, Message&& message) {
    vm::Ref cls = link_global(kOutcomeUnknown);
    raise_object(vm::call(cls.get(), {message(), key}));
}

// One call; `answered` tells whether an answer came (raised or not), `sent`
// whether its frame was handed to the socket.
vm::Ref call_once(PyObject* self, PyObject* op, PyObject* args, PyObject* key, PyObject* route, bool& answered,
                  bool& sent) {
    vm::Ref rid;
    {
        vm::Ref ids = vm::attr(self, kIds);
        rid = vm::next(ids);
        if (!rid) vm::raise(PyExc_StopIteration, "request ids ran out");
    }
    vm::Ref data;
    {
        vm::Ref kind = codec().global(kCallKind);
        vm::Ref message = vm::new_list({kind, rid, op, args});
        data = frame_of(message);
    }
    vm::Ref waiter = thread_waiter(vm::Params<0>(nullptr));
    vm::set_item(vm::attr(self, kPending), rid, waiter);
    try {
        sent = true;
        write(self, data, route);
    } catch (const vm::Error&) {
        vm::Ref exc = take_exception();
        vm::Ref not_connected = link_global(kNotConnected);
        if (is_instance(exc, not_connected)) {
            sent = false;
            pop_pending(vm::attr(self, kPending), rid);
            raise_again(std::move(exc));
        }
        if (!is_instance(exc, PyExc_OSError)) raise_again(std::move(exc));
        pop_pending(vm::attr(self, kPending), rid);
        vm::Ref message = vm::own(PyUnicode_FromFormat("sending to the terminal failed: %S", exc.get()));
        raise_from_none(kOutcomeUnknown, message, key);
    }
    double deadline = monotonic();
    deadline += vm::to_double(vm::attr(self, kTimeout));
    if (!wait_reply(self, waiter, deadline)) {
        if (pop_pending(vm::attr(self, kPending), rid)) {
            raise_unknown(key, [self] {
                vm::Ref timeout = vm::attr(self, kTimeout);
                return vm::own(PyUnicode_FromFormat("no answer from the terminal within %S s", timeout.get()));
            });
        }
        // the answer came as the wait ended: a reader is handing it over
        while (reply_is_none(waiter)) {
            Py_BEGIN_ALLOW_THREADS
            sched_yield();
            Py_END_ALLOW_THREADS
            vm::check(PyErr_CheckSignals());
        }
    }
    vm::Ref reply = vm::borrow(reply_of(waiter));
    set_reply(waiter, Py_None);  // the thread's waiter holds no answer until its next call
    if (PyList_CheckExact(reply)) {
        answered = true;
        if (vm::truthy(vm::item(reply, Py_ssize_t{2}))) return vm::item(reply, Py_ssize_t{3});
        raise_answered(vm::item(reply, Py_ssize_t{3}));
    }
    if (is_instance(reply, link_global(kOutcomeUnknown))) raise_unknown(key, [&reply] { return vm::str(reply); });
    raise_object(reply);
}

// A call; an order's or cancel's key is recorded with its connection before
// it is sent and settled after (answered, lost, or never sent).
vm::Ref call_terminal(PyObject* self, PyObject* op, PyObject* args, PyObject* key) {
    bool answered = false, sent = false;
    if (vm::is_none(key)) return call_once(self, op, args, key, nullptr, answered, sent);
    vm::Ref route = vm::Method(self, kSending).call({key, args});
    vm::Ref answer;
    try {
        answer = call_once(self, op, args, key, route, answered, sent);
    } catch (const vm::Error&) {
        vm::Ref exc = take_exception();
        vm::Method(self, kSettled).call({key, answered ? Py_True : Py_False, !answered && sent ? Py_True : Py_False});
        raise_again(std::move(exc));
    }
    vm::Method(self, kSettled).call({key, Py_True, Py_False});
    return answer;
}

// ---- the published methods ----

vm::Ref handle(PyObject* self, vm::Params<3> p) {
    auto [command, args, given_key] = p.take<3>();
    vm::Ref key = vm::borrow(given_key);
    if (vm::is_none(key)) {
        vm::Ref keyed = link_global(kKeyed);
        const int is_keyed = PySequence_Contains(keyed, command);
        vm::check(is_keyed);
        if (is_keyed) key = vm::Method(self, kNewKey).call();
    }
    vm::Ref arguments;
    {
        vm::Ref listed = vm::own(PySequence_List(args));
        arguments = vm::new_list({command, listed, key});
    }
    vm::Ref answer = call_terminal(self, kCmd, arguments, key);
    if (vm::truthy(vm::attr(self, kFetching)) && !vm::is_none(answer)) vm::Method(self, kLocalise).call({answer});
    return answer;
}

vm::Ref call_method(PyObject* self, vm::Params<3> p) {
    auto [op, args, key] = p.take<3>();
    return call_terminal(self, op, args, key);
}

vm::Ref write_method(PyObject* self, vm::Params<1> p) {
    auto [data] = p.take<1>();
    return write(self, data);
}

vm::Ref wait_method(PyObject* self, vm::Params<2> p) {
    auto [waiter, deadline] = p.take<2>();
    return vm::boolean(wait_reply(self, waiter, vm::to_double(deadline)));
}

vm::Ref read_method(PyObject* self, vm::Params<2> p) {
    auto [sock, block] = p.take<2>();
    return vm::boolean(read(self, sock, block));
}

vm::Ref deliver_method(PyObject* self, vm::Params<1> p) {
    auto [messages] = p.take<1>();
    return deliver(self, messages);
}

vm::Ref wake_delivered_method(PyObject* self, vm::Params<0>) { return wake_delivered(self); }

vm::Ref promote_method(PyObject* self, vm::Params<0>) { return promote(self); }

const vm::FunctionSpec kMethods[] = {
    VM_NAMED_FUNCTION("handle", handle, "command, args, key=None",
                      "Send one command and return its answer (an order or cancel with `key`, or a fresh one: "
                      "sending it again with that key answers the first outcome)."),
    VM_NAMED_FUNCTION("_call", call_method, "op, args, key",
                      "One request to the terminal server and its answer: OutcomeUnknownError when it was sent and "
                      "no answer came within `timeout`, or the connection died first (an order's key noted); "
                      "NotConnectedError when nothing was sent; the terminal's own error answers as themselves."),
    VM_NAMED_FUNCTION("_write", write_method, "data",
                      "Send whole frames; NotConnectedError when nothing could be sent. While one thread sends, "
                      "the others leave their frames to it and go on: it sends them all at once after its own, "
                      "so no thread waits on another's send. A failed send ends the connection (part of a frame "
                      "may have left): the calls whose frames it held hear of it as every call in flight does."),
    VM_NAMED_FUNCTION("_wait", wait_method, "waiter, deadline",
                      "Wait until `waiter` has its reply, reading the socket (holding the read lock) while no "
                      "other thread does; False at the deadline (a monotonic time)."),
    VM_NAMED_FUNCTION("_read", read_method, "sock, block=True",
                      "One read of the socket, its messages delivered; False when none came (a non-blocking "
                      "read, or a blocking one quiet for a tick)."),
    VM_NAMED_FUNCTION("_deliver", deliver_method, "messages",
                      "Hand each message to where it belongs: an answer to its caller (one that gave up is logged "
                      "and dropped; the caller is woken with the next read or by `_wake_delivered`), pushes to the "
                      "queue in order, the rest to `_dispatch`."),
    VM_NAMED_FUNCTION("_wake_delivered", wake_delivered_method, "",
                      "(The reader, as its turn ends) wake the callers it handed answers."),
    VM_NAMED_FUNCTION("_promote", promote_method, "",
                      "When no thread reads, wake one still waiting to read in its turn."),
};

}  // namespace

vm::Ref configure_link(vm::Params<2> p) {
    auto [ns, cls] = p.take<2>();
    if (!PyDict_Check(ns)) vm::raise(PyExc_TypeError, "the link module's namespace is a dict");
    if (!PyType_Check(cls)) vm::raise(PyExc_TypeError, "the link's terminal is a class");
    vm::add_methods(cls, kMethods);
    g_link = new vm::Ref(vm::borrow(ns));  // kept for the process, as the class keeps the methods
    return vm::none();
}

}  // namespace wirecodec
