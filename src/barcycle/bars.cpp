// Bar matrix updaters: pushed bars into the matrices, the history from the
// earliest pushed time on, the forming bars, the instrument table, and the
// per-matrix expansion steps.
#include "barcycle.hpp"

#include <algorithm>
#include <cmath>

namespace barcycle {
namespace {

Name n_min_fresh_data{"min_fresh_data"};
Name n_day_fresh_data{"day_fresh_data"};
Name n_fill_pushed_k_data{"fill_pushed_k_data"};
Name n_update_base_history_k_data_adj{"update_base_history_k_data_adj"};
Name n_update_history_k_data{"update_history_k_data"};
Name n_update_history_k_data_adj{"update_history_k_data_adj"};
Name n_expand_update_k_data_unfilled_index{"expand_update_k_data_unfilled_index"};
Name n_update_k_data_value_fresh{"update_k_data_value_fresh"};
Name n_update_k_data_value_fresh_adj{"update_k_data_value_fresh_adj"};
Name n_expand_history_k_data{"expand_history_k_data"};
Name n_expand_history_k_data_adj{"expand_history_k_data_adj"};
Name n_expand_k_data_value_fresh{"expand_k_data_value_fresh"};
Name n_expand_k_data_value_fresh_adj{"expand_k_data_value_fresh_adj"};
Name n_synthetic_k_data_rule_map{"synthetic_k_data_rule_map"};
Name n_get_real_trade_date{"get_real_trade_date"};
Name n_is_tick_freq{"is_tick_freq"};
Name n_idx_fresh_array{"idx_fresh_array"};
Name n_refresh_k_data_idx{"refresh_k_data_idx"};
Name n_fresh_bar_timeline{"fresh_bar_timeline"};
Name n_g_VelmoroInstrument{"g_VelmoroInstrument"};
Name n_g_VelmoroDataValueFresh_Adj{"g_VelmoroDataValueFresh_Adj"};
Name n_fetch_or_update{"fetch_or_update"};
Name n_fq_to_int{"fq_to_int"};
Name n_FQ{"FQ"};
Name n_ndim{"ndim"};
Name n_beyond_pushed{"g_VelmoroSimCurBarFresh > endFreshBar continue."};

// Puts the pushed bars of one frequency into the matrices; returns that
// frequency's minimum time point.
Ref fill_pushed(PyObject* lpc, const Name& freq, PyObject* bars) {
    Ref code = gv(freq);
    Ref filled = vm::call(vm::global(n_fill_pushed_k_data), lpc, code, bars);
    Ref minimum_time_point = unpack2(filled).first;
    Ref adj_pos = vm::call_method(vm::attr(vr(), n_g_VelmoroKDataList_Adj), n_find_pos, gv(freq), vm::integer(1));
    if (compare(adj_pos, vm::integer(-1), Py_GT)) {
        vm::call(vm::global(n_update_base_history_k_data_adj), vm::attr(lpc, n_unfilled_begin_calc_pos), gv(freq));
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

}  // namespace

Ref _expand_history_k_data_wrapper(Args a) {
    PyObject* lpc = a[0];
    return delegate(n__expand_history_k_data_wrapper, n_expand_history_k_data, a[1], a[2],
                    vm::attr(lpc, n_is_tick_freq), vm::attr(lpc, n_idx_fresh_array));
}

Ref _update_history_k_data_wrapper(Args a) {
    PyObject* lpc = a[0];
    syslog(n__update_history_k_data_wrapper, n_info);
    Ref nan = vm::floating(NAN);
    Ref minimum_time_point1 = nan;
    Ref minimum_time_point2 = nan;
    Ref min_data = vm::attr(lpc, n_min_fresh_data);
    if (size_of(min_data) > 0) minimum_time_point1 = fill_pushed(lpc, n_KFreq_Min, min_data);
    if (!ok(lpc)) return vm::none();
    Ref day_data = vm::attr(lpc, n_day_fresh_data);
    if (size_of(day_data) > 0) minimum_time_point2 = fill_pushed(lpc, n_KFreq_Day, day_data);
    if (!ok(lpc)) return vm::none();

    Ref minimum_time_point = earlier(minimum_time_point1, minimum_time_point2);
    vm::call(vm::global(n_update_history_k_data), lpc, minimum_time_point);
    vm::call_global<_update_history_k_data_adj_wrapper>(n__update_history_k_data_adj_wrapper, minimum_time_point);
    clamp_negative(vm::attr(lpc, n_unfilled_begin_calc_pos));

    if (compare(vm::attr(vr(), n_g_VelmoroSimCurBarFresh), vm::attr(lpc, n_end_fresh_bar), Py_GT)) {
        set_status(lpc, n_op_continue, n_beyond_pushed);
        syslog(n_beyond_pushed, n_warn);
        return vm::none();
    }
    syslog(n_expand_update_k_data_unfilled_index, n_info);
    vm::call(vm::global(n_expand_update_k_data_unfilled_index), lpc);
    syslog(n__update_history_instrument, n_info);
    vm::call_global<_update_history_instrument>(n__update_history_instrument, lpc);
    return vm::none();
}

Ref _get_k_matrix_update_begin(Args) {
    Ref kdata_list = vm::attr(vr(), n_g_VelmoroKDataList);
    Ref base_freq = vm::call(vm::global(n_synthetic_k_data_rule_map), vm::attr(input_info(), n_KFrequencyI));
    Ref base_k_data_pos = vm::call_method(kdata_list, n_find_pos, base_freq, vm::integer(1));
    Ref current_bar = vm::attr(vm::item(kdata_list, base_k_data_pos), n_CurrentBar);
    return vm::item(current_bar, vm::attr(vr(), n_g_VelmoroSimCurBarFresh));
}

Ref _update_history_instrument(Args a) {
    PyObject* lpc = a[0];
    Ref pre_pos = vm::item(vm::attr(lpc, n_unfilled_begin_calc_pos), vm::attr(lpc, n_refresh_k_data_idx));
    Ref zero = vm::integer(0);
    Ref start_pos = compare(pre_pos, zero, Py_LE) ? zero : vm::own(PyNumber_Subtract(pre_pos, vm::integer(1)));
    Ref start_date = vm::item(vm::attr(env(), n_fresh_bar_timeline), start_pos);
    Ref end_date = vm::attr(lpc, n_end_fresh_time);
    Ref trade_date = vm::global(n_get_real_trade_date);
    Ref fetch = vm::attr(vm::attr(vr(), n_g_VelmoroInstrument), n_fetch_or_update);
    Ref fq = vm::call_method(vm::global(n_gv), n_fq_to_int, vm::attr(input_info(), n_FQ));
    vm::call(fetch, vm::call(trade_date, start_date), vm::call(trade_date, end_date), fq);
    return vm::none();
}

Ref _expand_k_data_value_fresh_wrapper(Args a) {
    return delegate(n__expand_k_data_value_fresh_wrapper, n_expand_k_data_value_fresh, a[0]);
}

Ref _update_k_data_value_fresh_wrapper(Args) {
    syslog(n__update_k_data_value_fresh_wrapper, n_info);
    Ref begin = vm::call_global<_get_k_matrix_update_begin>(n__get_k_matrix_update_begin);
    vm::call(vm::global(n_update_k_data_value_fresh), begin);
    return vm::none();
}

Ref _expand_history_k_data_adj_wrapper(Args a) {
    return delegate(n__expand_history_k_data_adj_wrapper, n_expand_history_k_data_adj, a[1], a[2]);
}

Ref _update_history_k_data_adj_wrapper(Args a) {
    return delegate(n__update_history_k_data_adj_wrapper, n_update_history_k_data_adj, a[0]);
}

Ref _expand_k_data_value_fresh_adj_wrapper(Args a) {
    syslog(n__expand_k_data_value_fresh_adj_wrapper, n_info);
    Ref adj = vm::attr(vr(), n_g_VelmoroDataValueFresh_Adj);
    // a run without an adjusted refresh matrix has nothing to extend
    if (vm::to_long(vm::attr(adj, n_ndim)) != 2 || size_of(adj) < 1) return vm::none();
    vm::call(vm::global(n_expand_k_data_value_fresh_adj), a[1]);
    return vm::none();
}

Ref _update_k_data_value_fresh_adj_wrapper(Args a) {
    syslog(n__update_k_data_value_fresh_adj_wrapper, n_info);
    Ref unfilled = vm::attr(a[0], n_unfilled_begin_calc_pos);
    Ref begin = vm::call_global<_get_k_matrix_update_begin>(n__get_k_matrix_update_begin);
    vm::call(vm::global(n_update_k_data_value_fresh_adj), unfilled, begin);
    return vm::none();
}

}  // namespace barcycle
