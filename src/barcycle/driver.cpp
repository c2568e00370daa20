// The loop itself: start-up from the saved position, one pass per push, and
// the driver-level decisions of a pass (new refresh positions, end of the
// pushed data, order of the refresh steps).
#include "barcycle.hpp"

namespace barcycle {
namespace {

vm::Name n_AdjCalcPos{"AdjCalcPos"};
vm::Name n_FactorList{"FactorList"};
vm::Name n_KFreqNum{"KFreqNum"};
vm::Name n_LOG_BEFORE_LOOP_DVF_TIMELINE{"LOG_BEFORE_LOOP_DVF_TIMELINE"};
vm::Name n_LOG_BEFORE_LOOP_K_TIMELINE{"LOG_BEFORE_LOOP_K_TIMELINE"};
vm::Name n_LOG_BEFORE_REALFRESH_REAL{"LOG_BEFORE_REALFRESH_REAL"};
vm::Name n_LOG_REAL_TRADE_FRESH_POSITION{"LOG_REAL_TRADE_FRESH_POSITION"};
vm::Name n_LastSynBaseTimeLinePos{"LastSynBaseTimeLinePos"};
vm::Name n_LastSynTimeLinePos{"LastSynTimeLinePos"};
vm::Name n_RealRunTimeContext{"RealRunTimeContext"};
vm::Name n_RefreshKDataIdx{"RefreshKDataIdx"};
vm::Name n_WARN_ERROR_REAL_TIMELINE{"WARN_ERROR_REAL_TIMELINE"};
vm::Name n__extract_expand_time_line_loop{"_extract_expand_time_line_loop"};
vm::Name n__reset_base_adj_matrix_calc_pos{"_reset_base_adj_matrix_calc_pos"};
vm::Name n__update_end_fresh_bar_pos_wrapper{"_update_end_fresh_bar_pos_wrapper"};
vm::Name n_call_on_data_wrapper{"call_on_data_wrapper"};
vm::Name n_check_day_fresh_data{"check_day_fresh_data"};
vm::Name n_check_factor_data{"check_factor_data"};
vm::Name n_check_min_fresh_data{"check_min_fresh_data"};
vm::Name n_combine_pushed_timeline{"combine_pushed_timeline"};
vm::Name n_detail{"detail"};
vm::Name n_empty{""};
vm::Name n_expand_by_time_line_wrapper{"expand_by_time_line_wrapper"};
vm::Name n_expand_time_line_by_one{"expand_time_line_by_one"};
vm::Name n_f_freq_gt_1day{"f_freq_gt_1day"};
vm::Name n_factor_list_len{"factor_list_len"};
vm::Name n_g_VelmoroLastHeartBeat{"g_VelmoroLastHeartBeat"};
vm::Name n_g_VelmoroNFreqRealFresh{"g_VelmoroNFreqRealFresh"};
vm::Name n_g_VelmoroRealTradeSaveFreshPosition{"g_VelmoroRealTradeSaveFreshPosition"};
vm::Name n_get_new_time_line_and_day_position{"get_new_time_line_and_day_position"};
vm::Name n_max{"max"};
vm::Name n_now_format{"%Y-%m-%d %H:%M:%S"};
vm::Name n_receive_data{"receive_data"};
vm::Name n_reset{"reset"};
vm::Name n_stop_run{"stop_run"};
vm::Name n_target_list_len{"target_list_len"};
vm::Name n_to_int_now_date{"to_int_now_date"};
vm::Name n_unique{"unique"};
vm::Name n_update_by_time_line_wrapper{"update_by_time_line_wrapper"};
vm::Name n_vmSendCmdTransTradeTimeToTradeDate{"vmSendCmdTransTradeTimeToTradeDate"};
vm::Name n_write_log{"write_log"};
vm::Kw kw_before_realfresh{"TIMEPOINT", "STRATEGYNAME"};
vm::Kw kw_level_console{"level", "use_args_for_console"};
vm::Kw kw_real_timeline{"BARFRESHTIMELINE", "KFRESHTIMELINE", "CURFRESHBARPOS", "FINDPOS"};

Ref kdata_list() { return vm::attr(vr(), n_g_VelmoroKDataList); }

// matrix[gv.KMatrixPos_TimeLine, start:]
Ref time_line_tail(PyObject* matrix, long long start) {
    Ref row = gv(n_KMatrixPos_TimeLine);
    Ref tail = vm::own(PySlice_New(vm::integer(start).get(), nullptr, nullptr));
    return vm::item(matrix, vm::new_tuple({row.get(), tail.get()}));
}

// The start-up lines of the system log: the last 50 times of every bar
// matrix and of the refresh time line, then the saved position.
void log_start_timelines() {
    long long i = 0;
    vm::for_each(kdata_list(), [&](PyObject* kdata) {
        Syslog log;
        Ref format = text_format(n_LOG_BEFORE_LOOP_K_TIMELINE);
        Ref index = vm::integer(i++);
        Ref values = tolist(time_line_tail(vm::attr(kdata, n_Matrix), -50));
        log(vm::call(format.get(), index, values));
    });
    {
        Syslog log;
        Ref format = text_format(n_LOG_BEFORE_LOOP_DVF_TIMELINE);
        Ref values = tolist(time_line_tail(vm::attr(vr(), n_g_VelmoroDataValueFresh), -50));
        log(vm::call(format.get(), values));
    }
    Syslog log;
    Ref format = text_format(n_LOG_REAL_TRADE_FRESH_POSITION);
    log(vm::call(format.get(), vm::attr(vr(), n_g_VelmoroRealTradeSaveFreshPosition)));
}

// vmcmd.vmSendCmdPutLog(task id, text.LOG_BEFORE_REALFRESH_REAL.format(...))
void log_start_to_terminal() {
    Ref put_log = vmcmd(n_vmSendCmdPutLog);
    Ref task_id = vm::attr(vr(), n_g_VelmoroModeTaskId);
    Ref format = text_format(n_LOG_BEFORE_REALFRESH_REAL);
    Ref now = vm::call(vm::global(n_to_int_now_date), n_now_format);
    Ref strategy = vm::attr(input_info(), n_StrategyName);
    Ref line = vm::call(format.get(), kw_before_realfresh, now, strategy);
    vm::call(put_log.get(), task_id, line);
}

Ref start_context() {
    vm::call(vm::attr(vm::attr(vr(), n_g_VelmoroLastHeartBeat), n_reset).get());
    Ref saved = vm::attr(vr(), n_g_VelmoroRealTradeSaveFreshPosition);
    vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, saved);
    Ref lpc = vm::call(vm::global(n_RealRunTimeContext));
    vm::set_attr(lpc, n_end_fresh_bar, vm::attr(vr(), n_g_VelmoroSimCurBarFresh));
    vm::set_attr(lpc, n_target_list_len, vm::integer(vm::length(vm::attr(input_info(), n_TargetList))));
    vm::set_attr(lpc, n_factor_list_len, vm::integer(vm::length(vm::attr(input_info(), n_FactorList))));
    vm::set_attr(lpc, n_refresh_k_data_idx, vm::attr(input_info(), n_RefreshKDataIdx));

    // the starting column of every bar record, negative ones as 0
    Ref array = np(n_array);
    Ref positions = vm::new_list();
    vm::for_each(kdata_list(), [&](PyObject* kdata) {
        Ref current_bar = vm::attr(kdata, n_CurrentBar);
        vm::append(positions, vm::item(current_bar, vm::attr(vr(), n_g_VelmoroSimCurBarFresh)));
    });
    Ref unfilled = vm::call(array.get(), positions);
    clamp_negative(unfilled);
    vm::set_attr(lpc, n_unfilled_begin_calc_pos, unfilled);
    Ref reset = vm::global(n__reset_base_adj_matrix_calc_pos);
    vm::call(reset.get(), vm::attr(lpc, n_unfilled_begin_calc_pos));

    log_start_to_terminal();
    log_start_timelines();
    return lpc;
}

// One check of the pushed data, then its system-log line when it brought any.
void check_pushed(PyObject* lpc, const Name& check, PyObject* data, const char* label) {
    if (!ok(lpc)) return;
    vm::call(vm::global(check), data, lpc);
    if (vm::truthy(vm::attr(data, n_size))) {
        Syslog log;
        if (!log.writes(n_info)) return;
        Ref values = tolist(data);
        log(vm::own(PyUnicode_FromFormat("%s%R", label, values.get())), n_info);
    }
}

// A pass step: run while the status is ok, then log its name.
void pass_step(PyObject* lpc, const Name& step) {
    if (!ok(lpc)) return;
    vm::call(vm::global(step), lpc);
    syslog(step, n_info);
}

// kdata.KFreqNum == 1 and (kdata.KFrequencyI == gv.KFreq_Min or kdata.KFrequencyI == gv.KFreq_Day)
bool one_period_base(PyObject* kdata, PyObject* one) {
    if (!vm::equal(vm::attr(kdata, n_KFreqNum), one)) return false;
    for (const Name* code : {&n_KFreq_Min, &n_KFreq_Day}) {
        Ref freq_i = vm::attr(kdata, n_KFrequencyI);
        if (vm::equal(freq_i, gv(*code))) return true;
    }
    return false;
}

Ref _reset_base_adj_matrix_calc_pos(vm::Params<1> p) {
    auto [unfilled] = p.take<1>();
    Ref one = vm::integer(1);
    Ref zero = vm::integer(0);
    vm::for_each(vm::attr(vr(), n_g_VelmoroKDataList_Adj), [&](PyObject* kdata) {
        Ref find_pos = vm::attr(kdata_list(), n_find_pos);
        Ref rule_map = vm::global(n_synthetic_k_data_rule_map);
        Ref base_freq = vm::call(rule_map.get(), vm::attr(kdata, n_KFrequencyI));
        Ref k_data_pos = vm::call(find_pos.get(), base_freq, one);
        if (one_period_base(kdata, one)) {
            vm::for_each(vm::attr(input_info(), n_TargetList), [&](PyObject* target) {
                Ref target_dot = vm::call(vm::global(n_todotmc), target);
                Ref calc_pos = vm::item(vm::attr(kdata, n_AdjCalcPos), target_dot);
                if (!compare(vm::item(calc_pos, zero), zero, Py_GT)) return;
                Ref start = vm::item(unfilled, k_data_pos);
                calc_pos = vm::item(vm::attr(kdata, n_AdjCalcPos), target_dot);
                vm::set_item(calc_pos, zero, start);
            });
        } else {
            vm::set_attr(kdata, n_LastSynBaseTimeLinePos, vm::item(unfilled, k_data_pos));
            Ref own_find_pos = vm::attr(kdata_list(), n_find_pos);
            Ref freq_i = vm::attr(kdata, n_KFrequencyI);
            Ref own_pos = vm::call(own_find_pos.get(), freq_i, vm::attr(kdata, n_KFreqNum));
            vm::set_attr(kdata, n_LastSynTimeLinePos, vm::item(unfilled, own_pos));
        }
    });
    return vm::none();
}

Ref real_trade_k_fresh_loop(vm::Params<0>) {
    Ref lpc = start_context();
    for (;;) {
        // the loop may wait on quiet pushes for a long time: stay interruptible
        vm::check(PyErr_CheckSignals());
        Ref received = vm::call(vm::global(n_receive_data));
        set_status(lpc, n_op_ok, n_empty);
        if (vm::is_none(received)) continue;
        if (vm::truthy(vm::call(vm::attr(received, n_get).get(), n_stop_run, Py_True))) return vm::none();
        Ref factor_data = vm::item(received, n_factor_data);
        Ref min_data = vm::item(received, n_min_fresh_data);
        Ref day_data = vm::item(received, n_day_fresh_data);

        check_pushed(lpc, n_check_factor_data, factor_data, "Received factor_data");
        check_pushed(lpc, n_check_min_fresh_data, min_data, "Received min_fresh_data");
        check_pushed(lpc, n_check_day_fresh_data, day_data, "Received day_fresh_data");
        if (ok(lpc)) {
            vm::call(vm::global(n_combine_pushed_timeline), lpc);
            if (vm::truthy(vm::attr(vm::attr(lpc, n_pushed_latest_timeline), n_size))) {
                Syslog log;
                if (log.writes(n_info)) {
                    Ref values = tolist(vm::attr(lpc, n_pushed_latest_timeline));
                    log(vm::own(PyUnicode_FromFormat("combine_pushed_timeline%R", values.get())), n_info);
                }
            }
        }
        // without pushed times the pass has nothing to refresh; a break set by
        // a check is still reported
        if (size_of(vm::attr(lpc, n_pushed_latest_timeline)) >= 1) {
            pass_step(lpc, n_expand_by_time_line_wrapper);
            pass_step(lpc, n_update_by_time_line_wrapper);
            pass_step(lpc, n_call_on_data_wrapper);
        }
        if (vm::truthy(vm::attr(vm::attr(lpc, n_loop_status), n_op_break))) {
            Ref write_log = vm::global(n_write_log);
            Ref detail = vm::attr(vm::attr(lpc, n_loop_status), n_detail);
            vm::call(write_log.get(), kw_level_console, detail, n_warn, Py_True);
        }
    }
}

Ref expand_by_time_line_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    if (size_of(vm::attr(lpc, n_pushed_latest_timeline)) < 1) return vm::none();
    Ref pushed = vm::attr(lpc, n_pushed_latest_timeline);
    Ref temp_pos = indices_where(pushed, Py_GT, last_refresh_time());
    if (size_of(temp_pos) < 1) return vm::none();

    Ref unique = np(n_unique);
    Ref codes = vm::new_list();
    vm::for_each(kdata_list(), [&](PyObject* kdata) { vm::append(codes, vm::attr(kdata, n_KFrequencyI)); });
    Ref unique_i_freq = vm::call(unique.get(), codes);

    // get_new_time_line_and_day_position(int(<trade date of the first new time>),
    //     unique_i_freq, TargetList, <last time of the first bar record>)
    Ref new_times = vm::global(n_get_new_time_line_and_day_position);
    Ref trans = vmcmd(n_vmSendCmdTransTradeTimeToTradeDate);
    pushed = vm::attr(lpc, n_pushed_latest_timeline);
    Ref first_new = vm::item(pushed, vm::item(temp_pos, Py_ssize_t{0}));
    Ref trade_date = vm::own(PyNumber_Long(vm::call(trans.get(), first_new)));
    Ref targets = vm::attr(input_info(), n_TargetList);
    Ref first_matrix = vm::attr(vm::item(kdata_list(), Py_ssize_t{0}), n_Matrix);
    Ref row = gv(n_KMatrixPos_TimeLine);
    Ref last = vm::integer(-1);
    Ref last_time = vm::item(first_matrix, vm::new_tuple({row.get(), last.get()}));
    Ref array_new_trading_time = vm::call(new_times.get(), trade_date, unique_i_freq, targets, last_time);

    Ref extract = vm::global(n__extract_expand_time_line_loop);
    Ref steps = vm::call(extract.get(), array_new_trading_time, unique_i_freq);
    vm::for_each(steps, [&](PyObject* step) {
        vm::call(vm::global(n_expand_time_line_by_one), lpc, step, unique_i_freq);
    });
    return vm::none();
}

Ref update_by_time_line_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    for (const Name* step : {&n__update_end_fresh_bar_pos_wrapper, &n__update_history_k_data_wrapper,
                             &n__update_k_data_value_fresh_wrapper, &n__update_k_data_value_fresh_adj_wrapper,
                             &n__update_factor_data_value_fresh_wrapper, &n__update_user_indices_wrapper}) {
        if (ok(lpc)) vm::call(vm::global(*step), lpc);
    }
    // pushed bars serve one refresh only
    vm::set_attr(lpc, n_min_fresh_data, empty_array());
    vm::set_attr(lpc, n_day_fresh_data, empty_array());
    return vm::none();
}

// The warning of pushed times that all lie before the time line.
Ref real_timeline_warning(PyObject* lpc, PyObject* fresh_bar_tl) {
    Ref format = text_format(n_WARN_ERROR_REAL_TIMELINE);
    Ref tail = vm::own(PySlice_New(vm::integer(-100).get(), nullptr, nullptr));
    Ref bar_line = vm::str(tolist(vm::item(fresh_bar_tl, tail)));
    Ref pushed_line = vm::str(tolist(vm::attr(lpc, n_pushed_latest_timeline)));
    Ref position = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    return vm::call(format.get(), kw_real_timeline, bar_line, pushed_line, position, n_empty);
}

Ref _update_end_fresh_bar_pos_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    syslog(n__update_end_fresh_bar_pos_wrapper, n_info);
    if (size_of(vm::attr(lpc, n_pushed_latest_timeline)) < 1) return vm::none();
    Ref fresh = vm::attr(vr(), n_g_VelmoroDataValueFresh);
    Ref fresh_bar_tl = vm::item(fresh, gv(n_KMatrixPos_TimeLine));
    Ref option = vm::attr(vr(), n_g_VelmoroNFreqRealFreshOption);
    if (vm::truthy(vm::item(option, n_f_freq_gt_1day))) fresh_bar_tl = vm::attr(vr(), n_g_VelmoroNFreqRealFresh);
    // a push's times against the refresh time line, read in place where numpy's own would read them
    std::optional<npy_intp> last = last_at_or_before(fresh_bar_tl, vm::attr(lpc, n_pushed_latest_timeline));
    if (!last) {
        Ref max = np(n_max);
        Ref newest = vm::call(max.get(), vm::attr(lpc, n_pushed_latest_timeline));
        Ref temp_pos = indices_where(fresh_bar_tl, Py_LE, newest);
        last = size_of(temp_pos) < 1 ? -1 : vm::to_long(vm::own(PyNumber_Index(vm::item(temp_pos, Py_ssize_t{-1}))));
    }
    if (*last < 0) {
        set_status(lpc, n_op_continue, real_timeline_warning(lpc, fresh_bar_tl));
        Syslog log;
        log(vm::attr(vm::attr(lpc, n_loop_status), n_detail), n_warn);
        return vm::none();
    }
    // the last index, as an int
    vm::set_attr(lpc, n_end_fresh_bar, vm::integer(*last));
    vm::set_attr(lpc, n_end_fresh_time, vm::item(fresh_bar_tl, vm::attr(lpc, n_end_fresh_bar)));
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(_reset_base_adj_matrix_calc_pos, "unfilled_begin_calc_pos: _Array -> None",
                "Set the calculation positions of the adjusted bar records to the starting columns of their base "
                "records."),
    VM_FUNCTION(real_trade_k_fresh_loop, "-> None",
                "Run the live refresh loop from the saved refresh position until a push asks the run to stop.\n\n"
                "Returns\n  None, when the stop push came; Ctrl-C and a failure of the strategy or the\n"
                "  terminal pass to the caller."),
    VM_FUNCTION(expand_by_time_line_wrapper, "lpc: RealRunTimeContext -> None",
                "Append the pushed times later than the time line as new refresh positions."
                "\n\nParameters\n  lpc: the loop's context (a LoopContext of velmoro.realtrade.runtypes): its\n      pushed times and its status, which the step sets.\n\nReturns\n  None."),
    VM_FUNCTION(update_by_time_line_wrapper, "lpc: RealRunTimeContext -> None",
                "Run the refresh steps of a pass in order."
                "\n\nParameters\n  lpc: the loop's context (a LoopContext of velmoro.realtrade.runtypes): its\n      pushed times and its status, which the step sets.\n\nReturns\n  None."),
    VM_FUNCTION(_update_end_fresh_bar_pos_wrapper, "lpc: RealRunTimeContext -> None",
                "Find the last refresh position that the pushed data reach."),
};
}  // namespace

void register_driver(vm::Module& m) { m.add(kFunctions); }
}  // namespace barcycle
