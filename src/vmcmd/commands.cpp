#include "commands.hpp"

namespace vmcmd {
namespace {

using rq::Form;

Ref intern(const char* s) {
    PyObject* o = PyUnicode_InternFromString(s);
    if (!o) vm::raise();
    return Ref::steal(o);
}

// A malformed row is a programming error: the module refuses to load.
[[noreturn]] void bad_row(const Command& c, const char* what) {
    vm::raise_format(PyExc_SystemError, "command %s: %s", c.name, what);
}

Resolved resolve(const Command& c, const rq::Value& v) {
    Resolved r;
    r.form = v.form;
    if (v.form == Form::Record) bad_row(c, "a record inside a record");
    if (v.form == Form::Literal) {
        r.constant = vm::parse_literal(v.text).release();
        return r;
    }
    r.slot = vm::slot_of(c.params, v.text);
    if (v.item_key) r.item_key = intern(v.item_key).release();
    return r;
}

// Records and lists are statements of their own, made before the send
// function is read; the other values are made inside the call.
bool made_first(Form form) {
    switch (form) {
        case Form::Targets:
        case Form::DottedEach:
        case Form::IndexedTargets:
        case Form::IndexedFactors:
        case Form::Record: return true;
        default: return false;
    }
}

Ref convert(Form form, PyObject* value) {
    switch (form) {
        case Form::Targets: return target_list(value);
        case Form::Dotted: return dot(value);
        case Form::DottedEach: return dot_list(value);
        case Form::IndexedTargets: return indexed_targets(value);
        case Form::IndexedFactors: return indexed_factors(value);
        case Form::Str: return vm::str(value);
        case Form::Int64: return as_int64(value);
        default: return vm::borrow(value);
    }
}

Ref value_of(const Resolved& v, Args a) {
    if (v.constant) return vm::borrow(v.constant);
    if (!v.item_key) return convert(v.form, a[v.slot]);
    return convert(v.form, vm::item(a[v.slot], v.item_key));
}

// todotdict({...}): the function is looked up before the dict is built, as in Python.
Ref piece_of(const Piece& piece, Args a) {
    if (piece.value.form != Form::Record) return value_of(piece.value, a);
    Ref todotdict = vm::global(n_todotdict);
    Ref record = vm::new_dict(static_cast<Py_ssize_t>(piece.fields.size()));
    for (const auto& field : piece.fields) vm::dict_set(record, field.first, value_of(field.second, a));
    return todotdict.call({record});
}

}  // namespace

void resolve_command(Command& c) {
    c.func_obj = intern(c.func_name ? c.func_name : c.name).release();
    c.send_obj = intern(c.send).release();
    c.payload_obj = c.payload ? intern(c.payload).release() : nullptr;
    if (!c.payload && (c.answer == Answer::Load || c.answer == Answer::Int64)) bad_row(c, "no payload to convert");
    if (c.request.size() > vm::kMaxParams) bad_row(c, "too many arguments");
    c.plan.clear();
    for (const rq::Value& v : c.request) {
        Piece piece;
        if (v.form == Form::Record) {
            piece.value.form = Form::Record;
            for (size_t i = 0; i < v.field_count; ++i)
                piece.fields.emplace_back(intern(v.fields[i].key).release(), resolve(c, v.fields[i].value));
        } else {
            piece.value = resolve(c, v);
        }
        c.plan.push_back(std::move(piece));
    }
}

Ref run_command(const Command& c, Args a) {
    // the guarded commands take the task id first
    if ((c.flags & kNanGuard) && nan_task_id(*a.begin())) return vm::none();
    Ref request[vm::kMaxParams];
    const size_t n = c.plan.size();
    for (size_t i = 0; i < n; ++i) {
        if (made_first(c.plan[i].value.form)) request[i] = piece_of(c.plan[i], a);
    }
    Ref send = vm::global_attr(n_vmserial, c.send_obj, c.send_seen);
    PyObject* argv[vm::kMaxParams + 1];
    for (size_t i = 0; i < n; ++i) {
        if (!request[i]) request[i] = piece_of(c.plan[i], a);
        argv[i + 1] = request[i].get();
    }
    vm::call_array(send, argv + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET);
    if (c.answer == Answer::Fire) return vm::none();
    Ref res = receive(c.func_obj);
    if (c.answer != Answer::Unchecked) check_answer(c.func_obj, res);
    if (!c.payload_obj) return vm::none();
    switch (c.answer) {
        case Answer::Load: return load_answer_file(res, c.payload_obj, true);
        case Answer::Int64: return answer_int64(res, c.payload_obj);
        default: return vm::attr(res, c.payload_obj);
    }
}

}  // namespace vmcmd
