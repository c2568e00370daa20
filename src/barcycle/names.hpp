// The interned names that several files of the refresh-loop module use, each
// declared once here; a name that one file alone uses is declared in that file.
#pragma once

#include "vm/names.hpp"

namespace barcycle {

inline vm::Name n_CurrentBar{"CurrentBar"};
inline vm::Name n_KFreq_Day{"KFreq_Day"};
inline vm::Name n_KFreq_Min{"KFreq_Min"};
inline vm::Name n_KFrequencyI{"KFrequencyI"};
inline vm::Name n_KMatrixPos_TimeLine{"KMatrixPos_TimeLine"};
inline vm::Name n_MainContractsTargets{"MainContractsTargets"};
inline vm::Name n_Matrix{"Matrix"};
inline vm::Name n_StrategyName{"StrategyName"};
inline vm::Name n_TargetList{"TargetList"};
inline vm::Name n__expand_factor_data_value_fresh_wrapper{"_expand_factor_data_value_fresh_wrapper"};
inline vm::Name n__expand_history_k_data_adj_wrapper{"_expand_history_k_data_adj_wrapper"};
inline vm::Name n__expand_history_k_data_wrapper{"_expand_history_k_data_wrapper"};
inline vm::Name n__expand_k_data_value_fresh_adj_wrapper{"_expand_k_data_value_fresh_adj_wrapper"};
inline vm::Name n__expand_k_data_value_fresh_wrapper{"_expand_k_data_value_fresh_wrapper"};
inline vm::Name n__update_factor_data_value_fresh_wrapper{"_update_factor_data_value_fresh_wrapper"};
inline vm::Name n__update_history_k_data_wrapper{"_update_history_k_data_wrapper"};
inline vm::Name n__update_k_data_value_fresh_adj_wrapper{"_update_k_data_value_fresh_adj_wrapper"};
inline vm::Name n__update_k_data_value_fresh_wrapper{"_update_k_data_value_fresh_wrapper"};
inline vm::Name n__update_user_indices_wrapper{"_update_user_indices_wrapper"};
inline vm::Name n_any{"any"};
inline vm::Name n_array{"array"};
inline vm::Name n_day_fresh_data{"day_fresh_data"};
inline vm::Name n_debug{"debug"};
inline vm::Name n_end_fresh_bar{"end_fresh_bar"};
inline vm::Name n_end_fresh_time{"end_fresh_time"};
inline vm::Name n_factor_data{"factor_data"};
inline vm::Name n_find_pos{"find_pos"};
inline vm::Name n_format{"format"};
inline vm::Name n_g_VelmoroDataValueFresh{"g_VelmoroDataValueFresh"};
inline vm::Name n_g_VelmoroKDataList_Adj{"g_VelmoroKDataList_Adj"};
inline vm::Name n_g_VelmoroKDataList{"g_VelmoroKDataList"};
inline vm::Name n_g_VelmoroModeTaskId{"g_VelmoroModeTaskId"};
inline vm::Name n_g_VelmoroNFreqRealFreshOption{"g_VelmoroNFreqRealFreshOption"};
inline vm::Name n_g_VelmoroSimCurBarFresh{"g_VelmoroSimCurBarFresh"};
inline vm::Name n_get_real_trade_date{"get_real_trade_date"};
inline vm::Name n_get{"get"};
inline vm::Name n_idx_fresh_array{"idx_fresh_array"};
inline vm::Name n_info{"info"};
inline vm::Name n_loop_status{"loop_status"};
inline vm::Name n_mft_to_str_format{"mft_to_str_format"};
inline vm::Name n_min_fresh_data{"min_fresh_data"};
inline vm::Name n_op_break{"op_break"};
inline vm::Name n_op_continue{"op_continue"};
inline vm::Name n_op_ok{"op_ok"};
inline vm::Name n_pushed_latest_timeline{"pushed_latest_timeline"};
inline vm::Name n_refresh_k_data_idx{"refresh_k_data_idx"};
inline vm::Name n_size{"size"};
inline vm::Name n_synthetic_k_data_rule_map{"synthetic_k_data_rule_map"};
inline vm::Name n_text{"text"};
inline vm::Name n_todotmc{"todotmc"};
inline vm::Name n_unfilled_begin_calc_pos{"unfilled_begin_calc_pos"};
inline vm::Name n_vmSendCmdPutLog{"vmSendCmdPutLog"};
inline vm::Name n_vmcmd{"vmcmd"};
inline vm::Name n_vr{"vr"};
inline vm::Name n_warn{"warn"};

}  // namespace barcycle
