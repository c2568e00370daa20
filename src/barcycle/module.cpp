// The live refresh loop of a real-trade run: its imports, then the functions
// of the step files in the order the module defines them.
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
    add_steps(m, {"_reset_base_adj_matrix_calc_pos", "real_trade_k_fresh_loop", "update_account_position_info",
                  "update_order_info", "call_on_data_wrapper", "_extract_expand_time_line_loop",
                  "expand_by_time_line_wrapper", "expand_time_line_by_one", "update_by_time_line_wrapper",
                  "_update_end_fresh_bar_pos_wrapper", "_expand_user_calc_indices_wrapper",
                  "_update_user_indices_wrapper", "_expand_history_k_data_wrapper", "_update_history_k_data_wrapper",
                  "_get_k_matrix_update_begin", "_update_history_instrument", "_update_target_main_contract",
                  "_expand_k_data_value_fresh_wrapper", "_update_k_data_value_fresh_wrapper",
                  "_expand_history_k_data_adj_wrapper", "_update_history_k_data_adj_wrapper",
                  "_expand_k_data_value_fresh_adj_wrapper", "_update_k_data_value_fresh_adj_wrapper",
                  "_expand_factor_data_value_fresh_wrapper", "_update_factor_data_value_fresh_wrapper"});
}

}  // namespace
}  // namespace barcycle

VM_MODULE(barcycle, "The live refresh loop: from the terminal's push to the strategy's data handler.", barcycle::exec)
