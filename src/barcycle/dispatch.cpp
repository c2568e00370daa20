// The data dispatch: the strategy's handler once per new refresh position,
// with the daily stop, and the account and order refreshes before each call.
#include "barcycle.hpp"

#include <cmath>

namespace barcycle {
namespace {

Name n_g_VelmoroUserContext{"g_VelmoroUserContext"};
Name n_g_VelmoroDailyCloseTime{"g_VelmoroDailyCloseTime"};
Name n_g_VelmoroAccounts{"g_VelmoroAccounts"};
Name n_g_VMOrders{"g_VMOrders"};
Name n_MainContractsTargets{"MainContractsTargets"};
Name n_on_data_func{"on_data_func"};
Name n_enter_phase{"enter_phase"};
Name n_RUMMODE_PHASE_ONDATA{"RUMMODE_PHASE_ONDATA"};
Name n_KMatrixPos_DayPos{"KMatrixPos_DayPos"};
Name n_in_fresh_bar{"in_fresh_bar"};
Name n_before_new_fresh_bar{"before_new_fresh_bar"};
Name n_exist_daily_close_time_setting{"exist_daily_close_time_setting"};
Name n_account_handles{"account_handles"};
Name n_get_handle_account_map{"get_handle_account_map"};
Name n_is_first_time_do_fresh_loop{"is_first_time_do_fresh_loop"};
Name n_last_log{"last_log"};
Name n__internal_bar_num{"_internal_bar_num"};
Name n_now{"now"};
Name n_day_begin{"day_begin"};
Name n_mft_to_datetime{"mft_to_datetime"};
Name n_mft_to_str_format{"mft_to_str_format"};
Name n_vmSendCmdCloseOperation{"vmSendCmdCloseOperation"};
Name n_vmSendCmdPutLog{"vmSendCmdPutLog"};
Name n_vmSendCmdGetAccountPositionAndCash{"vmSendCmdGetAccountPositionAndCash"};
Name n_vmSendCmdSTGetOrderInfoByDate{"vmSendCmdSTGetOrderInfoByDate"};
Name n_update_info{"update_info"};
Name n_keys{"keys"};
Name n_array{"array"};
Name n_isin{"isin"};
Name n_any{"any"};
Name n_order_id{"order_id"};
Name n_account_handle{"account_handle"};
Name n_handle_idx{"handle_idx"};
Name n_append{"append"};
Name n_snap_create_add{"snap_create_add"};
Name n_VMRealOrder{"VMRealOrder"};
Name n_Market{"Market"};
Name n_Code{"Code"};
Name n_market{"market"};
Name n_code{"code"};
Name n_write_syslog{"write_syslog"};
Name n_ERROR_IN_FRESHBAR{"ERROR_IN_FRESHBAR"};
Name n_LOG_REALFRESH_BAR{"LOG_REALFRESH_BAR"};
const Kw kw_realfresh_bar{"FreshNum", "Pos"};
const Kw kw_new_order{"order_idx", "order_id", "handle_idx", "target_idx"};

// Past this fraction of a day (just before 15:15) the daily stop is lifted.
constexpr double kConstDayEnd = 0.635416;

// bar_time % 1, as Python's float modulo gives it
double day_fraction(PyObject* bar_time) {
    double r = std::fmod(vm::to_double(bar_time), 1.0);
    if (r < 0) r += 1.0;
    return r;
}

// Whether any bar of record 0 that became current since the previous
// refresh position opens a trading day.
bool day_begins(PyObject* kdata, PyObject* current) {
    Ref current_bar = vm::attr(kdata, n_CurrentBar);
    const long long pre_bar =
        vm::truthy(current) ? vm::to_long(vm::item(current_bar, vm::to_long(current) - 1)) : -1;
    const long long cur_bar = vm::to_long(vm::item(current_bar, current));
    Ref columns = vm::own(PySlice_New(vm::integer(pre_bar + 1).get(), vm::integer(cur_bar + 1).get(), nullptr));
    Ref day_pos = vm::item(vm::attr(kdata, n_Matrix), vm::new_tuple({gv(n_KMatrixPos_DayPos).get(), columns.get()}));
    Ref firsts = vm::own(PyObject_RichCompare(day_pos, vm::integer(1), Py_EQ));
    return vm::truthy(vm::call(np(n_any), firsts));
}

void append_new_order(PyObject* order) {
    Ref environment = env();
    Ref handle = vm::attr(order, n_account_handle);
    Ref handles = vm::new_list();
    vm::append(handles, handle);
    Ref account_map = vm::call_method(environment, n_get_handle_account_map, handles);
    Ref acc = vm::call_method(account_map, n_get, handle);
    // an order of an account outside the run must not end the live loop:
    // leave it out, so that a later refresh finds it again
    if (vm::is_none(acc)) {
        Ref message = vm::own(PyUnicode_FromFormat("order %R skipped: no account of the run has handle %R",
                                                   vm::attr(order, n_order_id).get(), handle.get()));
        vm::call(vm::global(n_write_syslog), kw_level, message, n_warn);
        return;
    }
    Ref book = vm::attr(vm::attr(environment, n_vr), n_g_VMOrders);
    Ref target = vm::new_dict();
    vm::dict_set(target, n_Market, vm::item(order, n_market));
    vm::dict_set(target, n_Code, vm::item(order, n_code));
    Ref target_key = vm::call(vm::global(n_todotmc), target);
    Ref target_idx = vm::call_method(vm::attr(input_info(), n_MainContractsTargets), n_get, target_key);
    Ref new_order = vm::call(vm::global(n_VMRealOrder), kw_new_order, vm::attr(book, n_size),
                             vm::attr(order, n_order_id), vm::attr(acc, n_handle_idx), target_idx);
    Ref order_id = vm::attr(new_order, n_order_id);
    vm::call_method(book, n_append, order_id, new_order);
    Ref ids = vm::new_list();
    vm::append(ids, vm::attr(new_order, n_order_id));
    vm::call_method(book, n_snap_create_add, vm::attr(acc, n_handle_idx), ids);
}

}  // namespace

Ref update_account_position_info(Args) {
    Ref fetch = vm::attr(vm::global(n_vmcmd), n_vmSendCmdGetAccountPositionAndCash);
    auto [cash_info_list, position_info_list] = unpack2(vm::call(fetch, vm::attr(vr(), n_account_handles), vm::new_list()));
    Ref accounts = vm::iter(vm::attr(vr(), n_g_VelmoroAccounts));
    Ref cash = vm::iter(cash_info_list);
    // zip(): stops at the shorter, asking the second only when the first has more
    while (Ref account = vm::next(accounts)) {
        Ref cash_info = vm::next(cash);
        if (!cash_info) break;
        vm::call_method(account, n_update_info, cash_info, position_info_list);
    }
    return vm::none();
}

Ref update_order_info(Args) {
    Ref book = vm::attr(vm::attr(env(), n_vr), n_g_VMOrders);
    Ref local_order_ids = vm::call(np(n_array), vm::own(PySequence_List(vm::call_method(book, n_keys))));
    Ref fetch = vm::attr(vm::global(n_vmcmd), n_vmSendCmdSTGetOrderInfoByDate);
    Ref orders = vm::call(fetch, vm::attr(vr(), n_account_handles), vm::new_list());
    vm::for_each(orders, [&](PyObject* order) {
        if (!vm::truthy(vm::call(np(n_isin), vm::attr(order, n_order_id), local_order_ids))) append_new_order(order);
    });
    return vm::none();
}

Ref call_on_data_wrapper(Args a) {
    PyObject* lpc = a[0];
    int daily_stop_fresh = 0;
    Ref utx = vm::attr(vr(), n_g_VelmoroUserContext);
    Ref tl_line = gv(n_KMatrixPos_TimeLine);
    Ref wrapper = vm::call_method(vm::global(n_smm), n_enter_phase, gv(n_RUMMODE_PHASE_ONDATA));
    Ref callback_wrapper = vm::call(wrapper, vm::attr(input_info(), n_on_data_func));
    if (!vm::truthy(vm::call_method(env(), n_in_fresh_bar))) {
        set_status(lpc, n_op_continue, vm::attr(vm::global(n_text), n_ERROR_IN_FRESHBAR));
        return vm::none();
    }
    if (vm::truthy(vm::attr(lpc, n_is_first_time_do_fresh_loop))) {
        // the first dispatch of a run starts at the end of the first push
        vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, vm::attr(lpc, n_end_fresh_bar));
        vm::set_attr(lpc, n_is_first_time_do_fresh_loop, Py_False);
    }
    const long long first = vm::to_long(vm::attr(vr(), n_g_VelmoroSimCurBarFresh));
    const long long last = vm::to_long(vm::attr(lpc, n_end_fresh_bar));
    for (long long n = first; n <= last; ++n) {
        Ref fresh_num = vm::integer(n);
        Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
        Ref bar_time = vm::item(vm::attr(vr(), n_g_VelmoroDataValueFresh), vm::new_tuple({tl_line.get(), current.get()}));
        vm::set_attr(utx, n__internal_bar_num, fresh_num);
        Ref times = vm::new_list();
        vm::append(times, bar_time);
        vm::set_attr(utx, n_now, vm::item(vm::call(vm::global(n_mft_to_datetime), times), Py_ssize_t{0}));
        vm::call_method(env(), n_before_new_fresh_bar);
        Ref kdata = vm::item(vm::attr(vr(), n_g_VelmoroKDataList), Py_ssize_t{0});

        const double fraction = day_fraction(bar_time);
        if (daily_stop_fresh == 1 && fraction > kConstDayEnd) daily_stop_fresh = 0;
        if (daily_stop_fresh == 0 && vm::truthy(vm::call_method(env(), n_exist_daily_close_time_setting)) &&
            fraction >= vm::to_double(vm::attr(vr(), n_g_VelmoroDailyCloseTime))) {
            daily_stop_fresh = 1;
            vm::for_each(vm::attr(env(), n_account_handles), [&](PyObject* handle) {
                Ref close = vm::attr(vm::global(n_vmcmd), n_vmSendCmdCloseOperation);
                vm::call(close, vm::attr(input_info(), n_StrategyName), handle);
            });
        }

        Ref log_str = format_text(n_LOG_REALFRESH_BAR, kw_realfresh_bar, fresh_num,
                                  vm::call(vm::global(n_mft_to_str_format), bar_time));
        if (vm::not_equal(log_str, vm::attr(lpc, n_last_log))) {
            Ref put_log = vm::attr(vm::global(n_vmcmd), n_vmSendCmdPutLog);
            vm::call(put_log, vm::attr(vr(), n_g_VelmoroModeTaskId), log_str);
            vm::set_attr(lpc, n_last_log, log_str);
        }

        vm::set_attr(utx, n_day_begin, vm::boolean(day_begins(kdata, vm::attr(vr(), n_g_VelmoroSimCurBarFresh))));
        vm::call_global<update_account_position_info>(n_update_account_position_info);
        syslog(n_update_account_position_info, n_info);
        vm::call_global<update_order_info>(n_update_order_info);
        syslog(n_update_order_info, n_info);
        if (daily_stop_fresh == 0) vm::call(callback_wrapper, vm::attr(vr(), n_g_VelmoroUserContext));
        Ref next = vm::own(PyNumber_Add(vm::attr(vr(), n_g_VelmoroSimCurBarFresh), vm::integer(1)));
        vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, next);
    }
    return vm::none();
}

}  // namespace barcycle
