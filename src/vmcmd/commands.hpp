// Commands of the channel's plain shapes, declared as one table row each:
//   {name, parameters, send function, request, answer, payload, flags, doc[, func_name]}
// The parameters are the command's typed Python signature
// ("targetList: _Targets, kFreq: str = 'day' -> str"): the binder reads the
// names and defaults, tools/stubgen writes the stub from the whole of it and
// from the doc's first line.
// The request lists the send function's arguments in order. Each names a
// parameter of the row, as given ("kFreq") or in a form (rq::targets("targets")),
// or is a record declared beside the table:
//   constexpr rq::Field kKDataRecord[] = {{"MarketCode", rq::targets("targets")}, {"KFrequency", "kFreq"}, ...};
// Parameter names are resolved against the row's parameters when the module
// initialises: a name the row does not declare fails the import.
// Records and lists are built first, each as a statement of its own in request
// order; then vmserial.<send> is read and the remaining values are made in
// argument order, as the Python of these commands does.
// func_name, when given, is the name passed to recv_serial and the checker
// instead of the command's own.
#pragma once

#include "frame.hpp"

#include <array>
#include <initializer_list>
#include <utility>
#include <vector>

namespace vmcmd {

enum class Answer {
    Fire,       // no answer is read; returns None
    Unchecked,  // returns the payload attribute, whatever the status
    Checked,    // checks the status, then returns the payload (or None)
    Load,       // checks, then load_mat(payload path, error="raise")
    Int64,      // checks, then np.int64(payload)
};

enum Flags : unsigned { kNone = 0, kNanGuard = 1 };  // kNanGuard: NaN task id sends nothing

// The request declarations.
namespace rq {

enum class Form {
    Given,           // the parameter as given
    Dotted,          // todotdict(parameter)
    Str,             // str(parameter)
    Int64,           // np.int64(parameter)
    Targets,         // [todotdict(t) for t in parameter]
    DottedEach,      // the same, for records that are not targets
    IndexedTargets,  // [todotdict({"Idx": i, "Market": t["Market"], "Code": t["Code"]}) ...]
    IndexedFactors,  // [todotdict({"Idx": i, "FactorName": f}) ...]
    Record,          // todotdict({key: value, ...}) of a declared record
    Literal,         // a constant: None, True, False, numbers, quoted strings
};

struct Field;

// One request value. A plain string names a parameter passed as given.
struct Value {
    constexpr Value(const char* parameter) : Value(Form::Given, parameter) {}
    constexpr Value(Form f, const char* text, const char* item_key = nullptr, const Field* record = nullptr,
                    size_t record_size = 0)
        : form(f), text(text), item_key(item_key), fields(record), field_count(record_size) {}

    Form form;
    const char* text;      // the parameter's name, or the literal's source
    const char* item_key;  // parameter[item_key] is taken before the form applies
    const Field* fields;
    size_t field_count;
};

struct Field {
    const char* key;
    Value value;
};

constexpr Value dotted(const char* p) { return Value(Form::Dotted, p); }
constexpr Value str(const char* p) { return Value(Form::Str, p); }
constexpr Value int64(const char* p) { return Value(Form::Int64, p); }
constexpr Value targets(const char* p) { return Value(Form::Targets, p); }
constexpr Value dotted_each(const char* p) { return Value(Form::DottedEach, p); }
constexpr Value indexed_targets(const char* p) { return Value(Form::IndexedTargets, p); }
constexpr Value indexed_factors(const char* p) { return Value(Form::IndexedFactors, p); }
constexpr Value item(const char* p, const char* key) { return Value(Form::Given, p, key); }
constexpr Value literal(const char* source) { return Value(Form::Literal, source); }
template <size_t N>
constexpr Value record(const Field (&fields)[N]) {
    return Value(Form::Record, nullptr, nullptr, fields, N);
}

}  // namespace rq

// A request value resolved against the row's parameters.
struct Resolved {
    rq::Form form = rq::Form::Given;
    vm::Slot slot{0};
    PyObject* item_key = nullptr;  // interned
    PyObject* constant = nullptr;  // a literal
};

// One argument of the send function: a value, or a record of keyed values.
struct Piece {
    Resolved value;
    std::vector<std::pair<PyObject*, Resolved>> fields;  // interned keys, for a record
};

struct Command {
    const char* name;
    const char* params;
    const char* send;
    std::initializer_list<rq::Value> request;
    Answer answer;
    const char* payload;  // nullptr: the command returns None
    unsigned flags;
    const char* doc;
    const char* func_name = nullptr;  // nullptr: the command's own name
    // built at module initialisation
    PyObject* func_obj = nullptr;
    PyObject* send_obj = nullptr;
    mutable vm::Seen send_seen;  // vmserial.<send> as last read
    PyObject* payload_obj = nullptr;
    std::vector<Piece> plan;
};

Ref run_command(const Command& c, Args a);
void resolve_command(Command& c);

namespace detail {
template <auto& Rows, size_t I>
Ref run_row(Args a) {
    return run_command(Rows[I], a);
}
template <auto& Rows, size_t... I>
std::array<vm::FunctionSpec, sizeof...(I)> specs(std::index_sequence<I...>) {
    return {VM_NAMED_FUNCTION(Rows[I].name, (run_row<Rows, I>), Rows[I].params, Rows[I].doc)...};
}
}  // namespace detail

// Publishes every row of a family table as a module function.
template <auto& Rows>
void add_commands(vm::Module& m) {
    constexpr size_t n = std::extent_v<std::remove_reference_t<decltype(Rows)>>;
    for (Command& c : Rows) resolve_command(c);
    static const auto table = detail::specs<Rows>(std::make_index_sequence<n>{});
    vm::add_functions(m.object(), table.data(), n);
}

}  // namespace vmcmd
