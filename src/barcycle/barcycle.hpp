// The live refresh loop: names and helpers that every step group shares, and
// the steps themselves, declared in the order the module defines them.
#pragma once

#include "vm/module.hpp"

#include <utility>

namespace barcycle {

using vm::Args;
using vm::Kw;
using vm::Name;
using vm::Ref;

// module globals
extern Name n_np, n_cnt, n_gv, n_smm, n_text, n_vmcmd, n_todotmc, n_DotDict;
// run state and context fields read by more than one step group
extern Name n_vr, n_env, n_g_VelmoroInputInfo, n_g_VelmoroKDataList, n_g_VelmoroKDataList_Adj,
    n_g_VelmoroSimCurBarFresh, n_g_VelmoroDataValueFresh, n_g_VelmoroModeTaskId, n_TargetList, n_StrategyName,
    n_KFrequencyI, n_KFreqNum, n_CurrentBar, n_Matrix, n_find_pos, n_KMatrixPos_TimeLine, n_KFreq_Min, n_KFreq_Day,
    n_unfilled_begin_calc_pos, n_end_fresh_bar, n_end_fresh_time, n_pushed_latest_timeline, n_loop_status,
    n_op_ok, n_op_continue, n_op_break, n_detail, n_size, n_tolist, n_format, n_get, n_info, n_warn;
extern const Kw<1> kw_level;

// Run state, read at call time: cnt.vr, cnt.env, cnt.vr.g_VelmoroInputInfo.
Ref vr();
Ref env();
Ref input_info();
Ref gv(const Name& constant);  // gv.<constant>
Ref np(const Name& function);  // np.<function>

// write_syslog(message) and write_syslog(message, level=level)
void syslog(PyObject* message);
void syslog(PyObject* message, PyObject* level);

// A step that logs `step` ("info") and hands its work to the calc function
// `work` with `args`; the result is ignored.
template <class... A>
Ref delegate(const Name& step, const Name& work, const A&... args) {
    syslog(step, n_info);
    vm::call(vm::global(work), args...);
    return vm::none();
}

// text.<key>.format(...): fields by keyword (named by kw) or by position
template <class... A>
Ref format_text(const Name& key, const vm::Keywords& kw, const A&... fields) {
    Ref tmpl = vm::attr(vm::global(n_text), key);
    return vm::call(vm::attr(tmpl, n_format).get(), kw, fields...);
}
template <class... A>
Ref format_args(const Name& key, const A&... fields) {
    Ref tmpl = vm::attr(vm::global(n_text), key);
    return vm::call(vm::attr(tmpl, n_format).get(), fields...);
}

// The loop status of a context: read when a step starts, set by name.
bool ok(PyObject* lpc);
void set_status(PyObject* lpc, const Name& verdict, PyObject* detail);

bool compare(PyObject* a, PyObject* b, int op);  // truth of `a <op> b`
long long size_of(PyObject* array);              // array.size
Ref tolist(PyObject* array);                     // array.tolist()
Ref flat_indices(PyObject* mask);                // np.flatnonzero(mask)
Ref empty_array();                               // np.array([])
void clamp_negative(PyObject* array);            // array[array < 0] = 0
Ref refresh_time_at(PyObject* column);           // g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine, column]
Ref last_refresh_time();                         // ... at column -1
// `a, b = value`, with the interpreter's own errors for other lengths
std::pair<Ref, Ref> unpack2(PyObject* value);

// driver
Ref _reset_base_adj_matrix_calc_pos(Args a);
Ref real_trade_k_fresh_loop(Args a);
// dispatch, accounts and orders
Ref update_account_position_info(Args a);
Ref update_order_info(Args a);
Ref call_on_data_wrapper(Args a);
// expansion
Ref _extract_expand_time_line_loop(Args a);
Ref expand_by_time_line_wrapper(Args a);
Ref expand_time_line_by_one(Args a);
Ref update_by_time_line_wrapper(Args a);
Ref _update_end_fresh_bar_pos_wrapper(Args a);
// factors and indicators
Ref _expand_user_calc_indices_wrapper(Args a);
Ref _update_user_indices_wrapper(Args a);
// bars
Ref _expand_history_k_data_wrapper(Args a);
Ref _update_history_k_data_wrapper(Args a);
Ref _get_k_matrix_update_begin(Args a);
Ref _update_history_instrument(Args a);
Ref _update_target_main_contract(Args a);
Ref _expand_k_data_value_fresh_wrapper(Args a);
Ref _update_k_data_value_fresh_wrapper(Args a);
Ref _expand_history_k_data_adj_wrapper(Args a);
Ref _update_history_k_data_adj_wrapper(Args a);
Ref _expand_k_data_value_fresh_adj_wrapper(Args a);
Ref _update_k_data_value_fresh_adj_wrapper(Args a);
Ref _expand_factor_data_value_fresh_wrapper(Args a);
Ref _update_factor_data_value_fresh_wrapper(Args a);

// step names: the globals through which steps call each other, also logged
extern Name n__reset_base_adj_matrix_calc_pos, n_update_account_position_info, n_update_order_info,
    n_call_on_data_wrapper, n__extract_expand_time_line_loop, n_expand_by_time_line_wrapper, n_expand_time_line_by_one,
    n_update_by_time_line_wrapper, n__update_end_fresh_bar_pos_wrapper, n__expand_user_calc_indices_wrapper,
    n__update_user_indices_wrapper, n__expand_history_k_data_wrapper, n__update_history_k_data_wrapper,
    n__get_k_matrix_update_begin, n__update_history_instrument, n__update_target_main_contract,
    n__expand_k_data_value_fresh_wrapper, n__update_k_data_value_fresh_wrapper, n__expand_history_k_data_adj_wrapper,
    n__update_history_k_data_adj_wrapper, n__expand_k_data_value_fresh_adj_wrapper,
    n__update_k_data_value_fresh_adj_wrapper, n__expand_factor_data_value_fresh_wrapper,
    n__update_factor_data_value_fresh_wrapper;

}  // namespace barcycle
