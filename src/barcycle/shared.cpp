#include "barcycle.hpp"

namespace barcycle {

Name n_np{"np"};
Name n_cnt{"cnt"};
Name n_gv{"gv"};
Name n_smm{"smm"};
Name n_text{"text"};
Name n_vmcmd{"vmcmd"};
Name n_todotmc{"todotmc"};
Name n_DotDict{"DotDict"};

Name n_vr{"vr"};
Name n_env{"env"};
Name n_g_VelmoroInputInfo{"g_VelmoroInputInfo"};
Name n_g_VelmoroKDataList{"g_VelmoroKDataList"};
Name n_g_VelmoroKDataList_Adj{"g_VelmoroKDataList_Adj"};
Name n_g_VelmoroSimCurBarFresh{"g_VelmoroSimCurBarFresh"};
Name n_g_VelmoroDataValueFresh{"g_VelmoroDataValueFresh"};
Name n_g_VelmoroModeTaskId{"g_VelmoroModeTaskId"};
Name n_TargetList{"TargetList"};
Name n_StrategyName{"StrategyName"};
Name n_KFrequencyI{"KFrequencyI"};
Name n_KFreqNum{"KFreqNum"};
Name n_CurrentBar{"CurrentBar"};
Name n_Matrix{"Matrix"};
Name n_find_pos{"find_pos"};
Name n_KMatrixPos_TimeLine{"KMatrixPos_TimeLine"};
Name n_KFreq_Min{"KFreq_Min"};
Name n_KFreq_Day{"KFreq_Day"};
Name n_unfilled_begin_calc_pos{"unfilled_begin_calc_pos"};
Name n_end_fresh_bar{"end_fresh_bar"};
Name n_end_fresh_time{"end_fresh_time"};
Name n_pushed_latest_timeline{"pushed_latest_timeline"};
Name n_loop_status{"loop_status"};
Name n_op_ok{"op_ok"};
Name n_op_continue{"op_continue"};
Name n_op_break{"op_break"};
Name n_detail{"detail"};
Name n_size{"size"};
Name n_tolist{"tolist"};
Name n_format{"format"};
Name n_get{"get"};
Name n_info{"info"};
Name n_warn{"warn"};
const Kw<1> kw_level{"level"};

Name n__reset_base_adj_matrix_calc_pos{"_reset_base_adj_matrix_calc_pos"};
Name n_update_account_position_info{"update_account_position_info"};
Name n_update_order_info{"update_order_info"};
Name n_call_on_data_wrapper{"call_on_data_wrapper"};
Name n__extract_expand_time_line_loop{"_extract_expand_time_line_loop"};
Name n_expand_by_time_line_wrapper{"expand_by_time_line_wrapper"};
Name n_expand_time_line_by_one{"expand_time_line_by_one"};
Name n_update_by_time_line_wrapper{"update_by_time_line_wrapper"};
Name n__update_end_fresh_bar_pos_wrapper{"_update_end_fresh_bar_pos_wrapper"};
Name n__expand_user_calc_indices_wrapper{"_expand_user_calc_indices_wrapper"};
Name n__update_user_indices_wrapper{"_update_user_indices_wrapper"};
Name n__expand_history_k_data_wrapper{"_expand_history_k_data_wrapper"};
Name n__update_history_k_data_wrapper{"_update_history_k_data_wrapper"};
Name n__get_k_matrix_update_begin{"_get_k_matrix_update_begin"};
Name n__update_history_instrument{"_update_history_instrument"};
Name n__update_target_main_contract{"_update_target_main_contract"};
Name n__expand_k_data_value_fresh_wrapper{"_expand_k_data_value_fresh_wrapper"};
Name n__update_k_data_value_fresh_wrapper{"_update_k_data_value_fresh_wrapper"};
Name n__expand_history_k_data_adj_wrapper{"_expand_history_k_data_adj_wrapper"};
Name n__update_history_k_data_adj_wrapper{"_update_history_k_data_adj_wrapper"};
Name n__expand_k_data_value_fresh_adj_wrapper{"_expand_k_data_value_fresh_adj_wrapper"};
Name n__update_k_data_value_fresh_adj_wrapper{"_update_k_data_value_fresh_adj_wrapper"};
Name n__expand_factor_data_value_fresh_wrapper{"_expand_factor_data_value_fresh_wrapper"};
Name n__update_factor_data_value_fresh_wrapper{"_update_factor_data_value_fresh_wrapper"};

namespace {
Name n_write_syslog{"write_syslog"};
Name n_flatnonzero{"flatnonzero"};
Name n_array{"array"};
}  // namespace

Ref vr() { return vm::attr(vm::global(n_cnt), n_vr); }
Ref env() { return vm::attr(vm::global(n_cnt), n_env); }
Ref input_info() { return vm::attr(vr(), n_g_VelmoroInputInfo); }
Ref gv(const Name& constant) { return vm::attr(vm::global(n_gv), constant); }
Ref np(const Name& function) { return vm::attr(vm::global(n_np), function); }

void syslog(PyObject* message) { vm::call(vm::global(n_write_syslog), message); }
void syslog(PyObject* message, PyObject* level) { vm::call(vm::global(n_write_syslog), kw_level, message, level); }

bool ok(PyObject* lpc) { return vm::truthy(vm::attr(vm::attr(lpc, n_loop_status), n_op_ok)); }

void set_status(PyObject* lpc, const Name& verdict, PyObject* detail) {
    vm::set_attr(vm::attr(lpc, n_loop_status), verdict, detail);
}

bool compare(PyObject* a, PyObject* b, int op) { return vm::truthy(vm::own(PyObject_RichCompare(a, b, op))); }

long long size_of(PyObject* array) { return vm::to_long(vm::attr(array, n_size)); }

Ref tolist(PyObject* array) { return vm::call_method(array, n_tolist); }

Ref flat_indices(PyObject* mask) { return vm::call(np(n_flatnonzero), mask); }

Ref empty_array() { return vm::call(np(n_array), vm::new_list()); }

void clamp_negative(PyObject* array) {
    Ref zero = vm::integer(0);
    Ref negative = vm::own(PyObject_RichCompare(array, zero, Py_LT));
    vm::set_item(array, negative, zero);
}

Ref refresh_time_at(PyObject* column) {
    Ref key = vm::new_tuple({gv(n_KMatrixPos_TimeLine).get(), column});
    return vm::item(vm::attr(vr(), n_g_VelmoroDataValueFresh), key);
}

Ref last_refresh_time() { return refresh_time_at(vm::integer(-1)); }

std::pair<Ref, Ref> unpack2(PyObject* value) {
    Ref it = vm::iter(value);
    Ref first = vm::next(it);
    Ref second = first ? vm::next(it) : Ref();
    if (!second) vm::raise_format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", first ? 1 : 0);
    if (vm::next(it)) vm::raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    return {first, second};
}

}  // namespace barcycle
