// The loop itself: start-up from the saved position, one pass per push, and
// the driver-level decisions of a pass (new refresh positions, end of the
// pushed data, order of the refresh steps).
#include "barcycle.hpp"

namespace barcycle {
namespace {

Name n_synthetic_k_data_rule_map{"synthetic_k_data_rule_map"};
Name n_AdjCalcPos{"AdjCalcPos"};
Name n_LastSynBaseTimeLinePos{"LastSynBaseTimeLinePos"};
Name n_LastSynTimeLinePos{"LastSynTimeLinePos"};
Name n_g_VelmoroLastHeartBeat{"g_VelmoroLastHeartBeat"};
Name n_g_VelmoroRealTradeSaveFreshPosition{"g_VelmoroRealTradeSaveFreshPosition"};
Name n_reset{"reset"};
Name n_RealRunTimeContext{"RealRunTimeContext"};
Name n_target_list_len{"target_list_len"};
Name n_factor_list_len{"factor_list_len"};
Name n_refresh_k_data_idx{"refresh_k_data_idx"};
Name n_FactorList{"FactorList"};
Name n_RefreshKDataIdx{"RefreshKDataIdx"};
Name n_array{"array"};
Name n_unique{"unique"};
Name n_max{"max"};
Name n_vmSendCmdPutLog{"vmSendCmdPutLog"};
Name n_vmSendCmdTransTradeTimeToTradeDate{"vmSendCmdTransTradeTimeToTradeDate"};
Name n_to_int_now_date{"to_int_now_date"};
Name n_now_format{"%Y-%m-%d %H:%M:%S"};
Name n_LOG_BEFORE_REALFRESH_REAL{"LOG_BEFORE_REALFRESH_REAL"};
Name n_LOG_BEFORE_LOOP_K_TIMELINE{"LOG_BEFORE_LOOP_K_TIMELINE"};
Name n_LOG_BEFORE_LOOP_DVF_TIMELINE{"LOG_BEFORE_LOOP_DVF_TIMELINE"};
Name n_LOG_REAL_TRADE_FRESH_POSITION{"LOG_REAL_TRADE_FRESH_POSITION"};
Name n_WARN_ERROR_REAL_TIMELINE{"WARN_ERROR_REAL_TIMELINE"};
Name n_receive_data{"receive_data"};
Name n_check_factor_data{"check_factor_data"};
Name n_check_min_fresh_data{"check_min_fresh_data"};
Name n_check_day_fresh_data{"check_day_fresh_data"};
Name n_combine_pushed_timeline{"combine_pushed_timeline"};
Name n_get_new_time_line_and_day_position{"get_new_time_line_and_day_position"};
Name n_stop_run{"stop_run"};
Name n_factor_data{"factor_data"};
Name n_min_fresh_data{"min_fresh_data"};
Name n_day_fresh_data{"day_fresh_data"};
Name n_write_log{"write_log"};
Name n_empty{""};
Name n_g_VelmoroNFreqRealFresh{"g_VelmoroNFreqRealFresh"};
Name n_g_VelmoroNFreqRealFreshOption{"g_VelmoroNFreqRealFreshOption"};
Name n_f_freq_gt_1day{"f_freq_gt_1day"};
const Kw kw_before_realfresh{"TIMEPOINT", "STRATEGYNAME"};
const Kw kw_level_console{"level", "use_args_for_console"};
const Kw kw_real_timeline{"BARFRESHTIMELINE", "KFRESHTIMELINE", "CURFRESHBARPOS", "FINDPOS"};

Ref kdata_list() { return vm::attr(vr(), n_g_VelmoroKDataList); }

// matrix[row, start:] for a row index and a start column
Ref row_tail(PyObject* matrix, PyObject* row, long long start) {
    Ref tail = vm::own(PySlice_New(vm::integer(start).get(), nullptr, nullptr));
    return vm::item(matrix, vm::new_tuple({row, tail.get()}));
}

// The start-up lines of the system log: the last 50 times of every bar
// matrix and of the refresh time line, then the saved position.
void log_start_timelines() {
    Ref tl = gv(n_KMatrixPos_TimeLine);
    long long i = 0;
    vm::for_each(kdata_list(), [&](PyObject* kdata) {
        Ref values = tolist(row_tail(vm::attr(kdata, n_Matrix), tl, -50));
        syslog(format_args(n_LOG_BEFORE_LOOP_K_TIMELINE, vm::integer(i++), values));
    });
    Ref fresh = tolist(row_tail(vm::attr(vr(), n_g_VelmoroDataValueFresh), tl, -50));
    syslog(format_args(n_LOG_BEFORE_LOOP_DVF_TIMELINE, fresh));
    syslog(format_args(n_LOG_REAL_TRADE_FRESH_POSITION,
                       vm::attr(vr(), n_g_VelmoroRealTradeSaveFreshPosition)));
}

Ref start_context() {
    vm::call_method(vm::attr(vr(), n_g_VelmoroLastHeartBeat), n_reset);
    vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, vm::attr(vr(), n_g_VelmoroRealTradeSaveFreshPosition));
    Ref lpc = vm::call(vm::global(n_RealRunTimeContext));
    vm::set_attr(lpc, n_end_fresh_bar, vm::attr(vr(), n_g_VelmoroSimCurBarFresh));
    Ref info = input_info();
    vm::set_attr(lpc, n_target_list_len, vm::integer(vm::length(vm::attr(info, n_TargetList))));
    vm::set_attr(lpc, n_factor_list_len, vm::integer(vm::length(vm::attr(info, n_FactorList))));
    vm::set_attr(lpc, n_refresh_k_data_idx, vm::attr(info, n_RefreshKDataIdx));

    Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    Ref positions = vm::new_list();
    vm::for_each(kdata_list(), [&](PyObject* kdata) {
        vm::append(positions, vm::item(vm::attr(kdata, n_CurrentBar), current));
    });
    Ref unfilled = vm::call(np(n_array), positions);
    clamp_negative(unfilled);
    vm::set_attr(lpc, n_unfilled_begin_calc_pos, unfilled);
    vm::call_global<_reset_base_adj_matrix_calc_pos>(n__reset_base_adj_matrix_calc_pos,
                                                      vm::attr(lpc, n_unfilled_begin_calc_pos));

    Ref put_log = vm::attr(vm::global(n_vmcmd), n_vmSendCmdPutLog);
    Ref now = vm::call(vm::global(n_to_int_now_date), n_now_format);
    Ref line = format_text(n_LOG_BEFORE_REALFRESH_REAL, kw_before_realfresh, now,
                           vm::attr(input_info(), n_StrategyName));
    vm::call(put_log, vm::attr(vr(), n_g_VelmoroModeTaskId), line);
    log_start_timelines();
    return lpc;
}

// One check of the pushed data, then its system-log line when it brought any.
void check_pushed(PyObject* lpc, const Name& check, PyObject* data, const char* label) {
    if (!ok(lpc)) return;
    vm::call(vm::global(check), data, lpc);
    if (vm::truthy(vm::attr(data, n_size))) {
        syslog(vm::own(PyUnicode_FromFormat("%s%R", label, tolist(data).get())), n_info);
    }
}

// A pass step: run while the status is ok, then log its name.
template <auto F>
void pass_step(PyObject* lpc, const Name& name) {
    if (!ok(lpc)) return;
    vm::call_global<F>(name, lpc);
    syslog(name, n_info);
}

}  // namespace

Ref _reset_base_adj_matrix_calc_pos(Args a) {
    PyObject* unfilled = a[0];
    Ref one = vm::integer(1);
    Ref zero = vm::integer(0);
    vm::for_each(vm::attr(vr(), n_g_VelmoroKDataList_Adj), [&](PyObject* kdata) {
        Ref freq_i = vm::attr(kdata, n_KFrequencyI);
        Ref base_freq = vm::call(vm::global(n_synthetic_k_data_rule_map), freq_i);
        Ref k_data_pos = vm::call_method(kdata_list(), n_find_pos, base_freq, one);
        const bool one_period = vm::equal(vm::attr(kdata, n_KFreqNum), one);
        if (one_period && (vm::equal(freq_i, gv(n_KFreq_Min)) || vm::equal(freq_i, gv(n_KFreq_Day)))) {
            Ref todotmc = vm::global(n_todotmc);
            vm::for_each(vm::attr(input_info(), n_TargetList), [&](PyObject* target) {
                Ref target_dot = vm::call(todotmc, target);
                Ref calc_pos = vm::item(vm::attr(kdata, n_AdjCalcPos), target_dot);
                if (compare(vm::item(calc_pos, zero), zero, Py_GT)) {
                    vm::set_item(calc_pos, zero, vm::item(unfilled, k_data_pos));
                }
            });
        } else {
            vm::set_attr(kdata, n_LastSynBaseTimeLinePos, vm::item(unfilled, k_data_pos));
            Ref own_pos = vm::call_method(kdata_list(), n_find_pos, freq_i, vm::attr(kdata, n_KFreqNum));
            vm::set_attr(kdata, n_LastSynTimeLinePos, vm::item(unfilled, own_pos));
        }
    });
    return vm::none();
}

Ref real_trade_k_fresh_loop(Args) {
    Ref lpc = start_context();
    for (;;) {
        // the loop may wait on quiet pushes for a long time: stay interruptible
        vm::check(PyErr_CheckSignals());
        Ref received = vm::call(vm::global(n_receive_data));
        set_status(lpc, n_op_ok, n_empty);
        if (vm::is_none(received)) continue;
        if (vm::truthy(vm::call_method(received, n_get, n_stop_run, Py_True))) return vm::none();
        Ref factor_data = vm::item(received, n_factor_data);
        Ref min_data = vm::item(received, n_min_fresh_data);
        Ref day_data = vm::item(received, n_day_fresh_data);

        check_pushed(lpc, n_check_factor_data, factor_data, "Received factor_data");
        check_pushed(lpc, n_check_min_fresh_data, min_data, "Received min_fresh_data");
        check_pushed(lpc, n_check_day_fresh_data, day_data, "Received day_fresh_data");
        if (ok(lpc)) {
            vm::call(vm::global(n_combine_pushed_timeline), lpc);
            Ref pushed = vm::attr(lpc, n_pushed_latest_timeline);
            if (vm::truthy(vm::attr(pushed, n_size))) {
                syslog(vm::own(PyUnicode_FromFormat("combine_pushed_timeline%R", tolist(pushed).get())), n_info);
            }
        }
        // without pushed times the pass has nothing to refresh; a break set by
        // a check is still reported
        if (size_of(vm::attr(lpc, n_pushed_latest_timeline)) >= 1) {
            pass_step<expand_by_time_line_wrapper>(lpc, n_expand_by_time_line_wrapper);
            pass_step<update_by_time_line_wrapper>(lpc, n_update_by_time_line_wrapper);
            pass_step<call_on_data_wrapper>(lpc, n_call_on_data_wrapper);
        }
        Ref status = vm::attr(lpc, n_loop_status);
        if (vm::truthy(vm::attr(status, n_op_break))) {
            vm::call(vm::global(n_write_log), kw_level_console, vm::attr(status, n_detail), n_warn, Py_True);
        }
    }
}

Ref expand_by_time_line_wrapper(Args a) {
    PyObject* lpc = a[0];
    Ref pushed = vm::attr(lpc, n_pushed_latest_timeline);
    if (size_of(pushed) < 1) return vm::none();
    Ref temp_pos = flat_indices(vm::own(PyObject_RichCompare(pushed, last_refresh_time(), Py_GT)));
    if (size_of(temp_pos) < 1) return vm::none();

    Ref codes = vm::new_list();
    vm::for_each(kdata_list(), [&](PyObject* kdata) { vm::append(codes, vm::attr(kdata, n_KFrequencyI)); });
    Ref unique_i_freq = vm::call(np(n_unique), codes);

    Ref trans = vm::attr(vm::global(n_vmcmd), n_vmSendCmdTransTradeTimeToTradeDate);
    Ref first_new = vm::item(pushed, vm::item(temp_pos, Py_ssize_t{0}));
    Ref trade_date = vm::own(PyNumber_Long(vm::call(trans, first_new)));
    Ref first_matrix = vm::attr(vm::item(kdata_list(), Py_ssize_t{0}), n_Matrix);
    Ref last_time = vm::item(first_matrix, vm::new_tuple({gv(n_KMatrixPos_TimeLine).get(), vm::integer(-1).get()}));
    Ref array_new_trading_time = vm::call(vm::global(n_get_new_time_line_and_day_position), trade_date,
                                          unique_i_freq, vm::attr(input_info(), n_TargetList), last_time);

    Ref steps = vm::call_global<_extract_expand_time_line_loop>(n__extract_expand_time_line_loop,
                                                                 array_new_trading_time, unique_i_freq);
    vm::for_each(steps, [&](PyObject* step) {
        vm::call_global<expand_time_line_by_one>(n_expand_time_line_by_one, lpc, step, unique_i_freq);
    });
    return vm::none();
}

Ref update_by_time_line_wrapper(Args a) {
    PyObject* lpc = a[0];
    if (ok(lpc)) vm::call_global<_update_end_fresh_bar_pos_wrapper>(n__update_end_fresh_bar_pos_wrapper, lpc);
    if (ok(lpc)) vm::call_global<_update_history_k_data_wrapper>(n__update_history_k_data_wrapper, lpc);
    if (ok(lpc)) vm::call_global<_update_k_data_value_fresh_wrapper>(n__update_k_data_value_fresh_wrapper, lpc);
    if (ok(lpc)) {
        vm::call_global<_update_k_data_value_fresh_adj_wrapper>(n__update_k_data_value_fresh_adj_wrapper, lpc);
    }
    if (ok(lpc)) {
        vm::call_global<_update_factor_data_value_fresh_wrapper>(n__update_factor_data_value_fresh_wrapper, lpc);
    }
    if (ok(lpc)) vm::call_global<_update_user_indices_wrapper>(n__update_user_indices_wrapper, lpc);
    // pushed bars serve one refresh only
    vm::set_attr(lpc, n_min_fresh_data, empty_array());
    vm::set_attr(lpc, n_day_fresh_data, empty_array());
    return vm::none();
}

Ref _update_end_fresh_bar_pos_wrapper(Args a) {
    PyObject* lpc = a[0];
    syslog(n__update_end_fresh_bar_pos_wrapper, n_info);
    Ref pushed = vm::attr(lpc, n_pushed_latest_timeline);
    if (size_of(pushed) < 1) return vm::none();
    Ref variables = vr();
    Ref fresh_bar_tl = vm::item(vm::attr(variables, n_g_VelmoroDataValueFresh), gv(n_KMatrixPos_TimeLine));
    if (vm::truthy(vm::item(vm::attr(variables, n_g_VelmoroNFreqRealFreshOption), n_f_freq_gt_1day))) {
        fresh_bar_tl = vm::attr(variables, n_g_VelmoroNFreqRealFresh);
    }
    Ref newest = vm::call(np(n_max), pushed);
    Ref temp_pos = flat_indices(vm::own(PyObject_RichCompare(fresh_bar_tl, newest, Py_LE)));
    if (size_of(temp_pos) < 1) {
        Ref tail = vm::own(PySlice_New(vm::integer(-100).get(), nullptr, nullptr));
        Ref detail = format_text(n_WARN_ERROR_REAL_TIMELINE, kw_real_timeline,
                                 vm::str(tolist(vm::item(fresh_bar_tl, tail))), vm::str(tolist(pushed)),
                                 vm::attr(vr(), n_g_VelmoroSimCurBarFresh), n_empty);
        set_status(lpc, n_op_continue, detail);
        syslog(vm::attr(vm::attr(lpc, n_loop_status), n_detail), n_warn);
        return vm::none();
    }
    vm::set_attr(lpc, n_end_fresh_bar, vm::item(temp_pos, Py_ssize_t{-1}));
    vm::set_attr(lpc, n_end_fresh_time, vm::item(fresh_bar_tl, vm::attr(lpc, n_end_fresh_bar)));
    return vm::none();
}

}  // namespace barcycle
