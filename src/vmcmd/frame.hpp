// What every command shares: the transport, the answer check and the
// conversions of requests, all through the module's globals.
#pragma once

#include "vm/module.hpp"

namespace vmcmd {

using vm::Args;
using vm::Name;
using vm::Ref;

extern Name n_result;

// vmserial.<send_name>, looked up now (before the request is built, as the
// attribute is evaluated first in a Python call).
Ref sender(PyObject* send_name);
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
Ref as_int64(PyObject* value);             // np.int64(value)
Ref load(PyObject* path, bool raise_errors);  // load_mat(path[, error="raise"])

// The checker itself, published as vmReturnChecker.
Ref vmReturnChecker(Args a);

void register_general_res(vm::Module& m);
void register_market(vm::Module& m);
void register_calendar(vm::Module& m);
void register_trading(vm::Module& m);
void register_tasks(vm::Module& m);
void register_factor(vm::Module& m);

}  // namespace vmcmd
