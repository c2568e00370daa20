// Time-line expansion: new times split into one step per new trading day,
// each step appended to the refresh time line and every matrix.
#include "barcycle.hpp"

#include <vector>

namespace barcycle {
namespace {

vm::Name n_DotDict{"DotDict"};
vm::Name n_KFreNum{"KFreNum"};
vm::Name n_KFrequency{"KFrequency"};
vm::Name n_LOG_FATAL_TIMELINE{"LOG_FATAL_TIMELINE"};
vm::Name n_LOG_MORE_TIMELINE{"LOG_MORE_TIMELINE"};
vm::Name n_RealTargetList{"RealTargetList"};
vm::Name n__expand_user_calc_indices_wrapper{"_expand_user_calc_indices_wrapper"};
vm::Name n__update_target_main_contract{"_update_target_main_contract"};
vm::Name n_arange{"arange"};
vm::Name n_astype{"astype"};
vm::Name n_collect_contracts{"collect_contracts"};
vm::Name n_count_nonzero{"count_nonzero"};
vm::Name n_frequency_to_int{"frequency_to_int"};
vm::Name n_int64{"int64"};
vm::Name n_intp{"intp"};
vm::Name n_matrix_has_gt_1day{"matrix_has_gt_1day"};
vm::Name n_mod{"mod"};
vm::Name n_more_day_pos{"more_day_pos"};
vm::Name n_more_time{"more_time"};
vm::Name n_ones{"ones"};
vm::Kw kw_contract_dates{"begin_date", "end_date"};
vm::Kw kw_dtype{"dtype"};
vm::Kw kw_fatal_timeline{"Strategy", "Time", "KTime"};
vm::Kw kw_more_timeline{"BASE0TIMELINE", "FRESHTIMELINE", "MORETIME", "MOREDAYPOS"};

// First index k with codes[k] == code, or -1.
Py_ssize_t position_of(PyObject* codes, PyObject* code) {
    Py_ssize_t k = 0;
    Py_ssize_t found = -1;
    Ref it = vm::iter(codes);
    while (Ref c = vm::next(it)) {
        if (vm::equal(c, code)) {
            found = k;
            break;
        }
        ++k;
    }
    return found;
}

// First index of times at or after bound, or -1 when every time is earlier.
long long first_at_or_after(PyObject* times, PyObject* bound) {
    Ref found = indices_where(times, Py_GE, bound);
    return size_of(found) > 0 ? vm::to_long(vm::item(found, Py_ssize_t{0})) : -1;
}

Ref new_times_record(PyObject* record, PyObject* selection) {
    Ref data = vm::new_dict();
    vm::dict_set(data, n_more_time, vm::item(vm::attr(record, n_more_time), selection));
    vm::dict_set(data, n_more_day_pos, vm::item(vm::attr(record, n_more_day_pos), selection));
    vm::dict_set(data, n_KFrequency, vm::attr(record, n_KFrequency));
    return vm::call(vm::global(n_DotDict), data);
}

// Mask of the new times that become refresh positions: every KFreNum-th one
// and always the last.
Ref refresh_mask(PyObject* more_time, PyObject* more_day_pos) {
    if (vm::equal(vm::attr(input_info(), n_KFreNum), vm::integer(1))) {
        Ref ones = np(n_ones);
        Ref size = vm::attr(more_time, n_size);
        Ref int64 = np(n_int64);
        return vm::call(ones.get(), kw_dtype, size, int64);
    }
    Ref mod = np(n_mod);
    Ref arange = np(n_arange);
    const long long n = size_of(more_day_pos);
    Ref counts = vm::call(arange.get(), vm::integer(1), vm::integer(n + 1), vm::integer(1));
    Ref remainders = vm::call(mod.get(), counts, vm::attr(input_info(), n_KFreNum));
    Ref mask = vm::own(PyObject_RichCompare(remainders, vm::integer(0), Py_EQ));
    // a step without new times of the run's frequency has no last one
    if (n > 0) vm::set_item(mask, vm::integer(-1), Py_True);
    return mask;
}

// text.LOG_FATAL_TIMELINE: the pushed times still beyond the time line.
Ref fatal_timeline(PyObject* last, PyObject* pushed) {
    Ref format = text_format(n_LOG_FATAL_TIMELINE);
    Ref strategy = vm::attr(input_info(), n_StrategyName);
    Ref time = vm::call(vm::global(n_mft_to_str_format), last);
    Ref k_time = vm::call(vm::global(n_mft_to_str_format), pushed);
    return vm::call(format.get(), kw_fatal_timeline, strategy, time, k_time);
}

Ref _extract_expand_time_line_loop(vm::Params<2> p) {
    auto [array_new_trading_time, unique_i_freq] = p.take<2>();
    Ref expand_times = vm::new_list();
    Ref option = vm::attr(vr(), n_g_VelmoroNFreqRealFreshOption);
    Ref get = vm::attr(option, n_get);
    const Py_ssize_t base_day_pos =
        vm::truthy(vm::call(get.get(), n_matrix_has_gt_1day)) ? position_of(unique_i_freq, gv(n_KFreq_Day)) : -1;
    // without day bars to split by, everything is one step
    if (base_day_pos < 0) {
        vm::append(expand_times, array_new_trading_time);
        return expand_times;
    }
    Ref base_day_mt = vm::attr(vm::item(array_new_trading_time, base_day_pos), n_more_time);
    const long long base_day_mt_len = size_of(base_day_mt);
    if (base_day_mt_len <= 1) {
        vm::append(expand_times, array_new_trading_time);
        return expand_times;
    }

    const Py_ssize_t n_freq = vm::length(array_new_trading_time);
    Ref to_int = gv(n_frequency_to_int);
    Ref day_code = gv(n_KFreq_Day);
    // each intraday frequency walks its own bars
    std::vector<long long> begin_pos(static_cast<size_t>(n_freq), 0);
    for (long long i = 0; i < base_day_mt_len; ++i) {
        Ref one_step = vm::new_list();
        for (Py_ssize_t j = 0; j < n_freq; ++j) {
            Ref record = vm::item(array_new_trading_time, j);
            Ref more_time = vm::attr(record, n_more_time);
            Ref code = vm::call(to_int.get(), vm::attr(record, n_KFrequency));
            const bool intraday = compare(code, day_code, Py_LT);
            long long end_pos = first_at_or_after(more_time, vm::item(base_day_mt, i));
            Ref selection;
            if (intraday) {
                // the day's intraday bars run up to the first one at or after its day bar,
                // or to the last one when none is
                if (end_pos < 0) end_pos = size_of(more_time) - 1;
                long long& begin = begin_pos[static_cast<size_t>(j)];
                selection = vm::own(PySlice_New(vm::integer(begin).get(), vm::integer(end_pos + 1).get(), nullptr));
                begin = end_pos + 1;
            } else {
                Ref index = vm::new_list();
                if (end_pos >= 0) vm::append(index, vm::integer(end_pos));
                Ref array = np(n_array);
                Ref intp = np(n_intp);
                selection = vm::call(array.get(), kw_dtype, index, intp);
            }
            vm::append(one_step, new_times_record(record, selection));
        }
        vm::append(expand_times, one_step);
    }
    return expand_times;
}

Ref expand_time_line_by_one(vm::Params<3> p) {
    auto [lpc, new_trading_time, unique_i_freq] = p.take<3>();
    Ref run_freq = vm::attr(input_info(), n_KFrequencyI);
    const Py_ssize_t freq_pos = position_of(unique_i_freq, run_freq);
    if (freq_pos < 0) {
        vm::raise(PyExc_IndexError, vm::own(PyUnicode_FromFormat(
                                        "the run's frequency %R has no bar data among %R", run_freq.get(), unique_i_freq)));
    }
    Ref more_time = vm::attr(vm::item(new_trading_time, freq_pos), n_more_time);
    Ref more_day_pos = vm::attr(vm::item(new_trading_time, freq_pos), n_more_day_pos);

    // the text of whole time lines (thousands of floats a day) is made only for a log that keeps it
    Syslog log;
    if (log.writes(n_info)) {
        Ref format = text_format(n_LOG_MORE_TIMELINE);
        Ref first_matrix = vm::attr(vm::item(vm::attr(vr(), n_g_VelmoroKDataList), Py_ssize_t{0}), n_Matrix);
        Ref base0 = tolist(vm::item(first_matrix, Py_ssize_t{0}));
        Ref fresh = tolist(vm::item(vm::attr(vr(), n_g_VelmoroDataValueFresh), Py_ssize_t{0}));
        Ref more_time_list = tolist(more_time);
        Ref more_day_pos_list = tolist(more_day_pos);
        log(vm::call(format.get(), kw_more_timeline, base0, fresh, more_time_list, more_day_pos_list), n_info);
    }

    Ref idx_fresh_array = refresh_mask(more_time, more_day_pos);
    vm::set_attr(lpc, n_idx_fresh_array, idx_fresh_array);
    Ref count_nonzero = np(n_count_nonzero);
    Ref sum_idx_fresh_array = vm::call(count_nonzero.get(), idx_fresh_array);
    Ref astype = vm::attr(idx_fresh_array, n_astype);
    Ref as_bool = vm::call(astype.get(), reinterpret_cast<PyObject*>(&PyBool_Type));
    Ref expend_fresh_bar_tl = vm::item(more_time, as_bool);

    // a step that brings no time of the run's own frequency has no trading date of its own
    if (size_of(expend_fresh_bar_tl) > 0) {
        Ref update_contract = vm::global(n__update_target_main_contract);
        Ref trade_date = vm::global(n_get_real_trade_date);
        Ref date = vm::call(trade_date.get(), vm::item(expend_fresh_bar_tl, Py_ssize_t{0}));
        vm::call(update_contract.get(), date);
    }
    // the expansion steps run whatever the status
    vm::call(vm::global(n__expand_k_data_value_fresh_wrapper), expend_fresh_bar_tl);
    vm::call(vm::global(n__expand_history_k_data_wrapper), lpc, unique_i_freq, new_trading_time);
    vm::call(vm::global(n__expand_k_data_value_fresh_adj_wrapper), lpc, expend_fresh_bar_tl);
    vm::call(vm::global(n__expand_history_k_data_adj_wrapper), lpc, unique_i_freq, new_trading_time);
    vm::call(vm::global(n__expand_factor_data_value_fresh_wrapper), lpc, sum_idx_fresh_array);
    vm::call(vm::global(n__expand_user_calc_indices_wrapper), lpc, expend_fresh_bar_tl);

    // pushed times still beyond the time line cannot be refreshed
    Ref pushed = vm::attr(lpc, n_pushed_latest_timeline);
    Ref last = last_refresh_time();
    Ref temp_pos = indices_where(pushed, Py_GT, last);
    if (size_of(temp_pos) > 0) set_status(lpc, n_op_break, fatal_timeline(last, pushed));
    return vm::none();
}

Ref _update_target_main_contract(vm::Params<1> p) {
    auto [update_date] = p.take<1>();
    Ref targets = vm::attr(input_info(), n_TargetList);
    Ref collect = vm::attr(env(), n_collect_contracts);
    auto [real_targets, contract_targets] =
        vm::unpack2(vm::call(collect.get(), kw_contract_dates, targets, update_date, update_date));
    vm::set_attr(input_info(), n_RealTargetList, real_targets);
    vm::set_attr(input_info(), n_MainContractsTargets, contract_targets);
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(_extract_expand_time_line_loop, "array_new_trading_time: _NewTimes, "
                                                "unique_i_freq: _Array -> List[_NewTimes]",
                "Split the new times of every frequency into one expansion step per new trading day."),
    VM_FUNCTION(expand_time_line_by_one, "lpc: RealRunTimeContext, new_trading_time: _NewTimes, "
                                         "unique_i_freq: _Array -> None",
                "Apply one expansion step to the refresh time line and every matrix.\n\n"
                "Parameters\n  lpc: the loop's context (a LoopContext).\n"
                "  new_trading_time: one step of _extract_expand_time_line_loop: the new times\n"
                "      of each frequency for one trading day.\n"
                "  unique_i_freq: the frequencies (as ints) of the run's bar records.\n\n"
                "Returns\n  None."),
    VM_FUNCTION(_update_target_main_contract, "update_date: int -> None",
                "Resolve the run's main contracts of a trading date."),
};
}  // namespace

void register_expansion(vm::Module& m) { m.add(kFunctions); }
}  // namespace barcycle
