// velmoro.realtrade.runtypes: state types of the live refresh loop and the
// live run's variables and environment.
#include "runtypes.hpp"
#include "vm/numpy.hpp"

namespace runtypes {
namespace {

void exec(vm::Module& m) {
    m.import_as("numpy", "np");
    vm::numpy::import();
    m.from_import("datetime", {"datetime"});
    m.from_import("velmoro.tframe.language.chinese", {"text"});
    m.from_import("velmoro.tframe.utils.exceptions", {"InvalidParamError"});
    m.from_import("velmoro.tframe.utils.logger", {"user_warning"});
    m.from_import("velmoro.tframe.utils.datetimefunc", {"mft_to_datetime", "datetime_to_mft", "datetime_to_int",
                                                         "to_int_now_date", "next_n_day", "get_specific_year_end"});
    m.from_import("velmoro.tframe.ufuncs", {"todotmc"});
    m.from_import("velmoro.api.history._history", {"get_trading_time"});
    m.from_import("velmoro.tframe.runtypesbase", {"SystemBaseVar", "SystemBaseEnv", "gv"});
    m.from_import("velmoro.realtrade.model.orders", {"VMOrders", "VMStopOrders", "VMTrades"});

    register_loop_status(m);
    register_context(m);
    register_trade_var(m);
    register_trade_env(m);
}

}  // namespace
}  // namespace runtypes

VM_MODULE(runtypes, "State types of the live refresh loop and the live run's variables and environment.",
          runtypes::exec)
