// The live refresh loop of a real-trade run: imports and the steps, in the
// order the module defines them.
#include "barcycle.hpp"

namespace barcycle {
namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(_reset_base_adj_matrix_calc_pos, "unfilled_begin_calc_pos",
                "Set the calculation positions of the adjusted bar records to the starting columns of their base "
                "records."),
    VM_FUNCTION(real_trade_k_fresh_loop, "",
                "Run the live refresh loop from the saved refresh position until a push asks the run to stop."),
    VM_FUNCTION(update_account_position_info, "",
                "Refresh the cash and positions of the run's accounts from the terminal."),
    VM_FUNCTION(update_order_info, "", "Register the terminal's orders of the day that the run's order book lacks."),
    VM_FUNCTION(call_on_data_wrapper, "lpc",
                "Call the strategy's data handler once for every refresh position up to the end of the pushed data."),
    VM_FUNCTION(_extract_expand_time_line_loop, "array_new_trading_time, unique_i_freq",
                "Split the new times of every frequency into one expansion step per new trading day."),
    VM_FUNCTION(expand_by_time_line_wrapper, "lpc",
                "Append the pushed times later than the time line as new refresh positions."),
    VM_FUNCTION(expand_time_line_by_one, "lpc, new_trading_time, unique_i_freq",
                "Apply one expansion step to the refresh time line and every matrix."),
    VM_FUNCTION(update_by_time_line_wrapper, "lpc", "Run the refresh steps of a pass in order."),
    VM_FUNCTION(_update_end_fresh_bar_pos_wrapper, "lpc",
                "Find the last refresh position that the pushed data reach."),
    VM_FUNCTION(_expand_user_calc_indices_wrapper, "_lpc, expend_fresh_bar_tl",
                "Extend the user's indicators by the new refresh positions."),
    VM_FUNCTION(_update_user_indices_wrapper, "lpc",
                "Recalculate the user's indicators from the current refresh position to the end of the pushed data."),
    VM_FUNCTION(_expand_history_k_data_wrapper, "lpc, unique_i_freq, trading_time",
                "Append the new times to the bar matrices."),
    VM_FUNCTION(_update_history_k_data_wrapper, "lpc",
                "Put the pushed bars into the matrices and bring the history up to date."),
    VM_FUNCTION(_get_k_matrix_update_begin, "",
                "Column of the run's base bar record that is current at the current refresh position."),
    VM_FUNCTION(_update_history_instrument, "lpc",
                "Make the instrument table cover the trading dates of the refreshed positions."),
    VM_FUNCTION(_update_target_main_contract, "update_date", "Resolve the run's main contracts of a trading date."),
    VM_FUNCTION(_expand_k_data_value_fresh_wrapper, "expend_fresh_bar_tl",
                "Append the new refresh positions to the refresh time-line matrix."),
    VM_FUNCTION(_update_k_data_value_fresh_wrapper, "lpc", "Refresh the values of the forming bars."),
    VM_FUNCTION(_expand_history_k_data_adj_wrapper, "_lpc, _unique_i_freq, _trading_time",
                "Append the new times to the adjusted bar matrices."),
    VM_FUNCTION(_update_history_k_data_adj_wrapper, "minimum_time_point",
                "Bring the adjusted bar matrices up to date from a time on."),
    VM_FUNCTION(_expand_k_data_value_fresh_adj_wrapper, "_lpc, expend_fresh_bar_tl",
                "Append the new refresh positions to the adjusted refresh matrix, when the run keeps one."),
    VM_FUNCTION(_update_k_data_value_fresh_adj_wrapper, "_lpc", "Refresh the adjusted values of the forming bars."),
    VM_FUNCTION(_expand_factor_data_value_fresh_wrapper, "_lpc, sum_idx_fresh_array",
                "Append new refresh positions to the factor matrices."),
    VM_FUNCTION(_update_factor_data_value_fresh_wrapper, "lpc",
                "Write every received factor push into the factor matrices, then forget them."),
};

void exec(vm::Module& m) {
    m.import_as("numpy", "np");
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
    m.add(kFunctions);
}

}  // namespace
}  // namespace barcycle

VM_MODULE(barcycle, "The live refresh loop: from the terminal's push to the strategy's data handler.", barcycle::exec)
