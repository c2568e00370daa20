#include "commands.hpp"

#include <cstdlib>

namespace vmcmd {
namespace {

Ref intern(const char* s) {
    PyObject* o = PyUnicode_InternFromString(s);
    if (!o) vm::raise();
    return Ref::steal(o);
}

Ref request_argument(char form, PyObject* value) {
    switch (form) {
        case 't': return target_list(value);
        case 'd': return dot(value);
        case 'l': return dot_list(value);
        case 'i': return indexed_targets(value);
        case 'f': return indexed_factors(value);
        case 's': return vm::str(value);
        default: return vm::borrow(value);
    }
}

}  // namespace

void intern_command(Command& c) {
    c.name_obj = intern(c.name).release();
    c.send_obj = intern(c.send).release();
    c.payload_obj = c.payload ? intern(c.payload).release() : nullptr;
}

Ref run_command(const Command& c, Args a) {
    if ((c.flags & kNanGuard) && nan_task_id(a[0])) return vm::none();
    Ref send = sender(c.send_obj);
    Ref request[vm::kMaxParams];
    PyObject* argv[vm::kMaxParams + 1];
    size_t n = 0;
    for (const char* p = c.request; *p;) {
        while (*p == ' ') ++p;
        if (!*p) break;
        char form = (*p >= '0' && *p <= '9') ? 'p' : *p++;
        char* end = nullptr;
        long index = std::strtol(p, &end, 10);
        p = end;
        request[n] = request_argument(form, a[static_cast<size_t>(index)]);
        argv[n + 1] = request[n].get();
        ++n;
    }
    vm::call_array(send.get(), argv + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET);
    if (c.answer == Answer::Fire) return vm::none();
    Ref res = receive(c.name_obj);
    if (c.answer != Answer::Unchecked) check_answer(c.name_obj, res.get());
    if (!c.payload_obj) return vm::none();
    Ref payload = vm::attr(res.get(), c.payload_obj);
    switch (c.answer) {
        case Answer::Load: return load(payload.get(), true);
        case Answer::Int64: return as_int64(payload.get());
        default: return payload;
    }
}

}  // namespace vmcmd
