// Bar matrix updaters: pushed bars into the matrices, the history from the
// earliest pushed time on, the forming bars, the instrument table, and the
// per-matrix expansion steps.
#include "barcycle.hpp"

#include <algorithm>
#include <cmath>

namespace barcycle {
namespace {

vm::Name n_FQ{"FQ"};
vm::Name n__get_k_matrix_update_begin{"_get_k_matrix_update_begin"};
vm::Name n__update_history_instrument{"_update_history_instrument"};
vm::Name n__update_history_k_data_adj_wrapper{"_update_history_k_data_adj_wrapper"};
vm::Name n_beyond_pushed{"g_VelmoroSimCurBarFresh > endFreshBar continue."};
vm::Name n_expand_history_k_data_adj{"expand_history_k_data_adj"};
vm::Name n_expand_history_k_data{"expand_history_k_data"};
vm::Name n_expand_k_data_value_fresh_adj{"expand_k_data_value_fresh_adj"};
vm::Name n_expand_k_data_value_fresh{"expand_k_data_value_fresh"};
vm::Name n_expand_update_k_data_unfilled_index{"expand_update_k_data_unfilled_index"};
vm::Name n_fetch_or_update{"fetch_or_update"};
vm::Name n_fill_pushed_k_data{"fill_pushed_k_data"};
vm::Name n_fq_to_int{"fq_to_int"};
vm::Name n_fresh_bar_timeline{"fresh_bar_timeline"};
vm::Name n_g_VelmoroDataValueFresh_Adj{"g_VelmoroDataValueFresh_Adj"};
vm::Name n_g_VelmoroInstrument{"g_VelmoroInstrument"};
vm::Name n_is_tick_freq{"is_tick_freq"};
vm::Name n_ndim{"ndim"};
vm::Name n_update_base_history_k_data_adj{"update_base_history_k_data_adj"};
vm::Name n_update_history_k_data_adj{"update_history_k_data_adj"};
vm::Name n_update_history_k_data{"update_history_k_data"};
vm::Name n_update_k_data_value_fresh_adj{"update_k_data_value_fresh_adj"};
vm::Name n_update_k_data_value_fresh{"update_k_data_value_fresh"};

// Puts the pushed bars of one frequency into the matrices; returns that
// frequency's minimum time point.
Ref fill_pushed(PyObject* lpc, const Name& freq, const Name& pushed) {
    Ref fill = vm::global(n_fill_pushed_k_data);
    Ref code = gv(freq);
    Ref bars = vm::attr(lpc, pushed);
    Ref minimum_time_point = vm::unpack2(vm::call(fill.get(), lpc, code, bars)).first;

    Ref find_pos = vm::attr(vm::attr(vr(), n_g_VelmoroKDataList_Adj), n_find_pos);
    code = gv(freq);
    Ref adj_pos = vm::call(find_pos.get(), code, vm::integer(1));
    if (compare(adj_pos, vm::integer(-1), Py_GT)) {
        Ref update = vm::global(n_update_base_history_k_data_adj);
        Ref unfilled = vm::attr(lpc, n_unfilled_begin_calc_pos);
        code = gv(freq);
        vm::call(update.get(), unfilled, code);
    }
    return minimum_time_point;
}

// The earlier of two time points, NaN only when both are.
Ref earlier(PyObject* a, PyObject* b) {
    const double x = vm::to_double(a);
    const double y = vm::to_double(b);
    if (std::isnan(x)) return vm::floating(y);
    if (std::isnan(y)) return vm::floating(x);
    return vm::floating(std::min(x, y));
}

Ref _expand_history_k_data_wrapper(vm::Params<3> p) {
    auto [lpc, unique_i_freq, trading_time] = p.take<3>();
    syslog(n__expand_history_k_data_wrapper, n_info);
    Ref expand = vm::global(n_expand_history_k_data);
    Ref is_tick_freq = vm::attr(lpc, n_is_tick_freq);
    Ref idx_fresh_array = vm::attr(lpc, n_idx_fresh_array);
    vm::call(expand.get(), unique_i_freq, trading_time, is_tick_freq, idx_fresh_array);
    return vm::none();
}

Ref _update_history_k_data_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    syslog(n__update_history_k_data_wrapper, n_info);
    Ref nan = vm::floating(NAN);
    Ref minimum_time_point1 = nan;
    Ref minimum_time_point2 = nan;
    if (size_of(vm::attr(lpc, n_min_fresh_data)) > 0) minimum_time_point1 = fill_pushed(lpc, n_KFreq_Min, n_min_fresh_data);
    if (!ok(lpc)) return vm::none();
    if (size_of(vm::attr(lpc, n_day_fresh_data)) > 0) minimum_time_point2 = fill_pushed(lpc, n_KFreq_Day, n_day_fresh_data);
    if (!ok(lpc)) return vm::none();

    Ref minimum_time_point = earlier(minimum_time_point1, minimum_time_point2);
    vm::call(vm::global(n_update_history_k_data), lpc, minimum_time_point);
    vm::call(vm::global(n__update_history_k_data_adj_wrapper), minimum_time_point);
    clamp_negative(vm::attr(lpc, n_unfilled_begin_calc_pos));

    Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    if (compare(current, vm::attr(lpc, n_end_fresh_bar), Py_GT)) {
        set_status(lpc, n_op_continue, n_beyond_pushed);
        syslog(n_beyond_pushed, n_debug);  // every push inside a bar already dispatched: routine
        return vm::none();
    }
    syslog(n_expand_update_k_data_unfilled_index, n_info);
    vm::call(vm::global(n_expand_update_k_data_unfilled_index), lpc);
    syslog(n__update_history_instrument, n_info);
    vm::call(vm::global(n__update_history_instrument), lpc);
    return vm::none();
}

Ref _get_k_matrix_update_begin(vm::Params<0>) {
    Ref find_pos = vm::attr(vm::attr(vr(), n_g_VelmoroKDataList), n_find_pos);
    Ref rule_map = vm::global(n_synthetic_k_data_rule_map);
    Ref base_freq = vm::call(rule_map.get(), vm::attr(input_info(), n_KFrequencyI));
    Ref base_k_data_pos = vm::call(find_pos.get(), base_freq, vm::integer(1));
    Ref base = vm::item(vm::attr(vr(), n_g_VelmoroKDataList), base_k_data_pos);
    Ref current_bar = vm::attr(base, n_CurrentBar);
    return vm::item(current_bar, vm::attr(vr(), n_g_VelmoroSimCurBarFresh));
}

Ref _update_history_instrument(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    Ref unfilled = vm::attr(lpc, n_unfilled_begin_calc_pos);
    Ref pre_pos = vm::item(unfilled, vm::attr(lpc, n_refresh_k_data_idx));
    Ref start_date;
    if (compare(pre_pos, vm::integer(0), Py_LE)) {
        start_date = vm::item(vm::attr(env(), n_fresh_bar_timeline), vm::integer(0));
    } else {
        Ref timeline = vm::attr(env(), n_fresh_bar_timeline);
        start_date = vm::item(timeline, vm::own(PyNumber_Subtract(pre_pos, vm::integer(1))));
    }
    Ref end_date = vm::attr(lpc, n_end_fresh_time);

    // fetch_or_update(get_real_trade_date(start), get_real_trade_date(end), gv.fq_to_int(FQ))
    Ref fetch = vm::attr(vm::attr(vr(), n_g_VelmoroInstrument), n_fetch_or_update);
    Ref first_date = vm::call(vm::global(n_get_real_trade_date), start_date);
    Ref last_date = vm::call(vm::global(n_get_real_trade_date), end_date);
    Ref fq_to_int = gv(n_fq_to_int);
    Ref fq = vm::call(fq_to_int.get(), vm::attr(input_info(), n_FQ));
    vm::call(fetch.get(), first_date, last_date, fq);
    return vm::none();
}

Ref _expand_k_data_value_fresh_wrapper(vm::Params<1> p) {
    auto [expend_fresh_bar_tl] = p.take<1>();
    syslog(n__expand_k_data_value_fresh_wrapper, n_info);
    vm::call(vm::global(n_expand_k_data_value_fresh), expend_fresh_bar_tl);
    return vm::none();
}

Ref _update_k_data_value_fresh_wrapper(vm::Params<1>) {
    syslog(n__update_k_data_value_fresh_wrapper, n_info);
    Ref update = vm::global(n_update_k_data_value_fresh);
    Ref begin = vm::call(vm::global(n__get_k_matrix_update_begin));
    vm::call(update.get(), begin);
    return vm::none();
}

Ref _expand_history_k_data_adj_wrapper(vm::Params<3> p) {
    auto [_lpc, unique_i_freq, trading_time] = p.take<3>();
    syslog(n__expand_history_k_data_adj_wrapper, n_info);
    vm::call(vm::global(n_expand_history_k_data_adj), unique_i_freq, trading_time);
    return vm::none();
}

Ref _update_history_k_data_adj_wrapper(vm::Params<1> p) {
    auto [minimum_time_point] = p.take<1>();
    syslog(n__update_history_k_data_adj_wrapper, n_info);
    vm::call(vm::global(n_update_history_k_data_adj), minimum_time_point);
    return vm::none();
}

Ref _expand_k_data_value_fresh_adj_wrapper(vm::Params<2> p) {
    auto [_lpc, expend_fresh_bar_tl] = p.take<2>();
    syslog(n__expand_k_data_value_fresh_adj_wrapper, n_info);
    Ref adj = vm::attr(vr(), n_g_VelmoroDataValueFresh_Adj);
    // a run without an adjusted refresh matrix has nothing to extend
    if (vm::to_long(vm::attr(adj, n_ndim)) != 2 || size_of(adj) < 1) return vm::none();
    vm::call(vm::global(n_expand_k_data_value_fresh_adj), expend_fresh_bar_tl);
    return vm::none();
}

Ref _update_k_data_value_fresh_adj_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    syslog(n__update_k_data_value_fresh_adj_wrapper, n_info);
    Ref update = vm::global(n_update_k_data_value_fresh_adj);
    Ref unfilled = vm::attr(lpc, n_unfilled_begin_calc_pos);
    Ref begin = vm::call(vm::global(n__get_k_matrix_update_begin));
    vm::call(update.get(), unfilled, begin);
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(_expand_history_k_data_wrapper, "lpc: RealRunTimeContext, unique_i_freq: _Array, "
                                                "trading_time: _NewTimes -> None",
                "Append the new times to the bar matrices."),
    VM_FUNCTION(_update_history_k_data_wrapper, "lpc: RealRunTimeContext -> None",
                "Put the pushed bars into the matrices and bring the history up to date."),
    VM_FUNCTION(_get_k_matrix_update_begin, "-> int",
                "Column of the run's base bar record that is current at the current refresh position."),
    VM_FUNCTION(_update_history_instrument, "lpc: RealRunTimeContext -> None",
                "Make the instrument table cover the trading dates of the refreshed positions."),
    VM_FUNCTION(_expand_k_data_value_fresh_wrapper, "expend_fresh_bar_tl: _Array -> None",
                "Append the new refresh positions to the refresh time-line matrix."),
    VM_FUNCTION(_update_k_data_value_fresh_wrapper, "lpc: RealRunTimeContext -> None",
                "Refresh the values of the forming bars."),
    VM_FUNCTION(_expand_history_k_data_adj_wrapper, "_lpc: RealRunTimeContext, _unique_i_freq: _Array, "
                                                    "_trading_time: _NewTimes -> None",
                "Append the new times to the adjusted bar matrices."),
    VM_FUNCTION(_update_history_k_data_adj_wrapper, "minimum_time_point: float -> None",
                "Bring the adjusted bar matrices up to date from a time on."),
    VM_FUNCTION(_expand_k_data_value_fresh_adj_wrapper, "_lpc: RealRunTimeContext, "
                                                        "expend_fresh_bar_tl: _Array -> None",
                "Append the new refresh positions to the adjusted refresh matrix, when the run keeps one."),
    VM_FUNCTION(_update_k_data_value_fresh_adj_wrapper, "_lpc: RealRunTimeContext -> None",
                "Refresh the adjusted values of the forming bars."),
};
}  // namespace

void register_bars(vm::Module& m) { m.add(kFunctions); }
}  // namespace barcycle
