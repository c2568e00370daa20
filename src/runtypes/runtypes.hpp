// Run-time types of a live run: loop status and context of the refresh loop,
// the run's variables and environment.
#pragma once

#include "names.hpp"
#include "vm/module.hpp"

namespace runtypes {


// A new empty float64 array, built as np.array([]) through the module's `np`.
vm::Ref empty_array();

// cls(), shortcut while `cls` is the module's own LoopStatus class.
vm::Ref new_loop_status(PyObject* cls);

// super(cls, self).__init__(), as a constructor of `cls` starts.
void init_base(PyObject* cls, PyObject* self);

// `class name(<module global base>)` with its constructor, which runs the
// base constructor first (`init` gives the rest); kept for the process.
PyObject* derive_class(vm::Module& m, const char* name, const vm::Name& base, const char* doc,
                       const vm::FunctionSpec& init);

// tp_init of a native class whose constructor takes no arguments: false with
// TypeError set when some were given.
bool no_arguments(const char* cls, PyObject* args, PyObject* kwargs);

void register_loop_status(vm::Module& m);
void register_context(vm::Module& m);
void register_trade_var(vm::Module& m);
void register_trade_env(vm::Module& m);

// Method groups of RealTradeEnv.
void add_daily_close_methods(PyObject* cls);
void add_trading_time_methods(PyObject* cls);
void add_contract_methods(PyObject* cls);

}  // namespace runtypes
