// What every command shares: the transport, the answer check and the
// conversions of requests, all through the module's globals.
#pragma once

#include "names.hpp"

#include "vm/module.hpp"

namespace vmcmd {

using vm::Args;
using vm::Name;
using vm::Params;
using vm::Ref;

// recv_serial(func_name)
Ref receive(PyObject* func_name);
// vmReturnChecker(func_name, answer.result)
void check_answer(PyObject* func_name, PyObject* answer);

Ref dot(PyObject* mapping);                // todotdict(mapping)
Ref target_list(PyObject* targets);        // [todotdict(t) for t in targets]
Ref dot_list(PyObject* items);             // same shape, for non-target records
Ref indexed_targets(PyObject* targets);    // Idx/Market/Code records
Ref indexed_factors(PyObject* factors);    // Idx/FactorName records
bool nan_task_id(PyObject* task_id);       // isnan(task_id)
void keep_math_isnan();                    // at import, once isnan is a global
Ref as_int64(PyObject* value);             // np.int64(value)
Ref load(PyObject* path, bool raise_errors);  // load_mat(path[, error="raise"])
// load_mat(answer.<path_name>[, error="raise"]): the function is read first
Ref load_answer_file(PyObject* answer, PyObject* path_name, bool raise_errors);
// np.int64(answer.<name>): np.int64 is read first
Ref answer_int64(PyObject* answer, PyObject* name);

// The checker itself, published as vmReturnChecker.
Ref vmReturnChecker(Params<2> p);

void register_general_res(vm::Module& m);
void register_checker(vm::Module& m);
void register_market(vm::Module& m);
void register_calendar(vm::Module& m);
void register_trading(vm::Module& m);
void register_tasks(vm::Module& m);
void register_factor(vm::Module& m);

}  // namespace vmcmd
