// The live refresh loop of a real-trade run: its imports, then the functions
// of the step files.
#include "barcycle.hpp"
#include "vm/numpy.hpp"

namespace barcycle {
namespace {

void exec(vm::Module& m) {
    keep_numpy(m.import_as("numpy", "np"));
    vm::numpy::import();
    m.from_import_all("velmoro.realtrade.calc");
    m.from_import("velmoro.realtrade.runtypes", {"RealRunTimeContext"});
    m.from_import("velmoro.tframe.runtypesbase", {"smm", "gv"});
    m.import_as("velmoro.tframe.runtypesbase", "cnt");
    m.from_import("velmoro.tframe", {"ualgo"});
    m.from_import("velmoro.tframe.language", {"text"});
    m.from_import("velmoro.tframe.comm", {"vmcmd"});
    m.from_import("velmoro.realtrade.model.orders", {"VMRealOrder"});
    m.from_import("velmoro.tframe.utils.logger", {"write_syslog"});
    m.from_import("velmoro.tframe.ufuncs", {"get_real_trade_date"});
    m.from_import("velmoro.tframe.utils.datetimefunc",
                  {"mft_to_str_format", "mft_to_datetime", "mft_to_int_format", "to_int_now_date"});
    register_driver(m);
    register_dispatch(m);
    register_expansion(m);
    register_indicators(m);
    register_bars(m);
}

}  // namespace
}  // namespace barcycle

VM_MODULE(barcycle, "The live refresh loop: from the terminal's push to the strategy's data handler.", barcycle::exec)
