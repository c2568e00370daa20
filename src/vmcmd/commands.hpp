// Commands of the channel's plain shapes, declared as one table row each:
//   {name, parameters, send function, request arguments, answer, payload, flags, doc[, func_name]}
// Request arguments name the parameters in send order, each with its form:
//   "2"  the parameter as given        "t0" target list (todotdict each)
//   "d0" todotdict(parameter)          "l0" list of todotdict'd elements
//   "i0" indexed target records        "f0" indexed factor records
//   "s1" str(parameter)                "n1" np.int64(parameter)
//   "0[Key]" the item Key of the parameter, then the form
//   "{Key:1,Other:t0,Flag=False}" a request record: a dict built in this key
//       order from parameters (":") or literals ("="), sent through todotdict
// func_name, when given, is the name passed to recv_serial and the checker
// instead of the command's own.
#pragma once

#include "frame.hpp"

#include <array>
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

// One request value: a parameter (optionally one of its items) in a form, or a constant.
struct RequestValue {
    char form = 'p';
    size_t index = 0;
    PyObject* item = nullptr;
    PyObject* constant = nullptr;
};

// One argument of the send function: a value, or a record of keyed values.
struct RequestPiece {
    RequestValue value;
    bool record = false;
    std::vector<std::pair<PyObject*, RequestValue>> fields;
};

struct Command {
    const char* name;
    const char* params;
    const char* send;
    const char* request;
    Answer answer;
    const char* payload;  // nullptr: the command returns None
    unsigned flags;
    const char* doc;
    const char* func_name = nullptr;  // nullptr: the command's own name
    // built at module initialisation
    PyObject* func_obj = nullptr;
    PyObject* send_obj = nullptr;
    PyObject* payload_obj = nullptr;
    std::vector<RequestPiece> plan;
};

Ref run_command(const Command& c, Args a);
void intern_command(Command& c);

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
    for (Command& c : Rows) intern_command(c);
    static const auto table = detail::specs<Rows>(std::make_index_sequence<n>{});
    vm::add_functions(m.object(), table.data(), n);
}

}  // namespace vmcmd
