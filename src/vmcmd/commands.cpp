#include "commands.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vmcmd {
namespace {

Name n_todotdict{"todotdict"};

Ref intern(const std::string& s) {
    PyObject* o = PyUnicode_InternFromString(s.c_str());
    if (!o) vm::raise();
    return Ref::steal(o);
}

// A malformed row is a programming error: the module refuses to load.
[[noreturn]] void bad_row(const Command& c, const char* what) {
    vm::raise_format(PyExc_SystemError, "command %s: %s in request \"%s\"", c.name, what, c.request);
}

size_t parameter_count(const char* params) {
    size_t n = 0;
    for (const char* p = params; *p; ++p) {
        if (*p == ',') ++n;
    }
    return *params ? n + 1 : 0;
}

// value := [form] index ['[' Key ']']
const char* parse_value(const Command& c, const char* p, RequestValue& v) {
    if (std::isalpha(static_cast<unsigned char>(*p))) v.form = *p++;
    if (!std::strchr("ptdlifsn", v.form)) bad_row(c, "unknown form");
    char* end = nullptr;
    v.index = std::strtoul(p, &end, 10);
    if (end == p) bad_row(c, "missing parameter index");
    if (v.index >= parameter_count(c.params)) bad_row(c, "parameter index out of range");
    p = end;
    if (*p == '[') {
        const char* close = std::strchr(p, ']');
        if (!close) bad_row(c, "unclosed item key");
        v.item = intern(std::string(p + 1, close)).release();
        p = close + 1;
    }
    return p;
}

// record := '{' Key (':' value | '=' literal) (',' ...)* '}'
const char* parse_record(const Command& c, const char* p, RequestPiece& piece) {
    piece.record = true;
    ++p;
    while (*p != '}') {
        const char* key = p;
        while (*p && *p != ':' && *p != '=') ++p;
        if (!*p) bad_row(c, "unclosed record");
        RequestValue v;
        PyObject* k = intern(std::string(key, p)).release();
        if (*p == ':') {
            p = parse_value(c, p + 1, v);
        } else {
            const char* end = p + 1;
            while (*end && *end != ',' && *end != '}') ++end;
            v.constant = vm::parse_literal(std::string(p + 1, end)).release();
            p = end;
        }
        piece.fields.emplace_back(k, v);
        if (*p == ',') {
            ++p;
        } else if (*p != '}') {
            bad_row(c, "unclosed record");
        }
    }
    return p + 1;
}

Ref convert(char form, PyObject* value) {
    switch (form) {
        case 't': return target_list(value);
        case 'd': return dot(value);
        case 'l': return dot_list(value);
        case 'i': return indexed_targets(value);
        case 'f': return indexed_factors(value);
        case 's': return vm::str(value);
        case 'n': return as_int64(value);
        default: return vm::borrow(value);
    }
}

Ref value_of(const RequestValue& v, Args a) {
    if (v.constant) return vm::borrow(v.constant);
    if (!v.item) return convert(v.form, a[v.index]);
    Ref picked = vm::item(a[v.index], v.item);
    return convert(v.form, picked.get());
}

// todotdict({...}): the function is looked up before the dict is built, as in Python.
Ref piece_of(const RequestPiece& piece, Args a) {
    if (!piece.record) return value_of(piece.value, a);
    Ref todotdict = vm::global(n_todotdict);
    Ref record = vm::new_dict();
    for (const auto& field : piece.fields) vm::dict_set(record, field.first, value_of(field.second, a));
    return vm::call(todotdict.get(), record);
}

}  // namespace

void intern_command(Command& c) {
    c.func_obj = intern(c.func_name ? c.func_name : c.name).release();
    c.send_obj = intern(c.send).release();
    c.payload_obj = c.payload ? intern(c.payload).release() : nullptr;
    if (!c.payload && (c.answer == Answer::Load || c.answer == Answer::Int64)) bad_row(c, "no payload to convert");
    for (const char* p = c.request; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        RequestPiece piece;
        p = *p == '{' ? parse_record(c, p, piece) : parse_value(c, p, piece.value);
        if (*p && *p != ' ') bad_row(c, "unexpected text");
        c.plan.push_back(std::move(piece));
    }
    if (c.plan.size() > vm::kMaxParams) bad_row(c, "too many arguments");
}

Ref run_command(const Command& c, Args a) {
    if ((c.flags & kNanGuard) && nan_task_id(a[0])) return vm::none();
    Ref send = sender(c.send_obj);
    Ref request[vm::kMaxParams];
    PyObject* argv[vm::kMaxParams + 1];
    size_t n = 0;
    for (const RequestPiece& piece : c.plan) {
        request[n] = piece_of(piece, a);
        argv[n + 1] = request[n].get();
        ++n;
    }
    vm::call_array(send.get(), argv + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET);
    if (c.answer == Answer::Fire) return vm::none();
    Ref res = receive(c.func_obj);
    if (c.answer != Answer::Unchecked) check_answer(c.func_obj, res.get());
    if (!c.payload_obj) return vm::none();
    Ref payload = vm::attr(res.get(), c.payload_obj);
    switch (c.answer) {
        case Answer::Load: return load(payload.get(), true);
        case Answer::Int64: return as_int64(payload.get());
        default: return payload;
    }
}

}  // namespace vmcmd
