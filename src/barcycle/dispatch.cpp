// The data dispatch: the strategy's handler once per new refresh position,
// with the daily stop, and the account and order refreshes before each call.
#include "barcycle.hpp"
#include "vm/numpy.hpp"
#include "vm/shortcut.hpp"

#include <optional>


namespace barcycle {
namespace {

vm::Name n_Code{"Code"};
vm::Name n_ERROR_IN_FRESHBAR{"ERROR_IN_FRESHBAR"};
vm::Name n_KMatrixPos_DayPos{"KMatrixPos_DayPos"};
vm::Name n_LOG_REALFRESH_BAR{"LOG_REALFRESH_BAR"};
vm::Name n_Market{"Market"};
vm::Name n_RUMMODE_PHASE_ONDATA{"RUMMODE_PHASE_ONDATA"};
vm::Name n_VMRealOrder{"VMRealOrder"};
vm::Name n__internal_bar_num{"_internal_bar_num"};
vm::Name n_account_handles{"account_handles"};
vm::Name n_account_handle{"account_handle"};
vm::Name n_append{"append"};
vm::Name n_before_new_fresh_bar{"before_new_fresh_bar"};
vm::Name n_code{"code"};
vm::Name n_day_begin{"day_begin"};
vm::Name n_enter_phase{"enter_phase"};
vm::Name n_exist_daily_close_time_setting{"exist_daily_close_time_setting"};
vm::Name n_g_VMOrders{"g_VMOrders"};
vm::Name n_g_VelmoroAccounts{"g_VelmoroAccounts"};
vm::Name n_g_VelmoroDailyCloseTime{"g_VelmoroDailyCloseTime"};
vm::Name n_g_VelmoroUserContext{"g_VelmoroUserContext"};
vm::Name n_get_handle_account_map{"get_handle_account_map"};
vm::Name n_handle_idx{"handle_idx"};
vm::Name n_in_fresh_bar{"in_fresh_bar"};
vm::Name n_is_first_time_do_fresh_loop{"is_first_time_do_fresh_loop"};
vm::Name n_isin{"isin"};
vm::Name n_keys{"keys"};
vm::Name n_last_log{"last_log"};
vm::Name n_market{"market"};
vm::Name n_mft_to_datetime{"mft_to_datetime"};
vm::Name n_now{"now"};
vm::Name n_on_data_func{"on_data_func"};
vm::Name n_order_id{"order_id"};
vm::Name n_smm{"smm"};
vm::Name n_snap_create_add{"snap_create_add"};
vm::Name n_update_account_position_info{"update_account_position_info"};
vm::Name n_update_info{"update_info"};
vm::Name n_update_order_info{"update_order_info"};
vm::Name n_vmSendCmdCloseOperation{"vmSendCmdCloseOperation"};
vm::Name n_vmSendCmdGetAccountPositionAndCash{"vmSendCmdGetAccountPositionAndCash"};
vm::Name n_vmSendCmdSTGetOrderInfoByDate{"vmSendCmdSTGetOrderInfoByDate"};
vm::Kw kw_new_order{"order_idx", "order_id", "handle_idx", "target_idx"};
vm::Kw kw_realfresh_bar{"FreshNum", "Pos"};

// Past this fraction of a day (just before 15:15) the daily stop is lifted.
constexpr double kConstDayEnd = 0.635416;


// bar_time % 1: the bar's fraction of its day
Ref day_fraction(PyObject* bar_time) { return vm::own(PyNumber_Remainder(bar_time, vm::integer(1))); }

// bar_time % 1 >= cnt.vr.g_VelmoroDailyCloseTime
bool past_daily_close(PyObject* bar_time) {
    Ref fraction = day_fraction(bar_time);
    return compare(fraction, vm::attr(vr(), n_g_VelmoroDailyCloseTime), Py_GE);
}

// np.any(matrix[row, columns] == 1) read from the matrix's own memory, for a
// plain array of real numbers and a row in range; empty where numpy has to
// judge (another type, element kind or row).
std::optional<bool> any_day_start(PyObject* matrix, PyObject* row, Py_ssize_t start, Py_ssize_t stop) {
    PyArrayObject* a = vm::numpy::numbers(matrix, 2);
    const std::optional<npy_intp> r = a ? vm::numpy::position(a, 0, row) : std::nullopt;
    if (!r) return std::nullopt;
    PySlice_AdjustIndices(PyArray_DIM(a, 1), &start, &stop, 1);
    for (Py_ssize_t c = start; c < stop; ++c) {
        const std::optional<double> v = vm::numpy::real(a, static_cast<const char*>(PyArray_GETPTR2(a, *r, c)));
        if (!v) return std::nullopt;
        if (*v == 1) return true;
    }
    return false;
}

// int(bars[i]), read from the array's memory for a plain array of integers
// and an index in range
long long bar_at(PyObject* bars, long long i) {
    if (PyArrayObject* a = vm::numpy::numbers(bars, 1)) {
        if (const std::optional<npy_intp> at = vm::numpy::position(a, 0, i)) {
            if (const std::optional<long long> v = vm::numpy::integer(a, static_cast<const char*>(PyArray_GETPTR1(a, *at))))
                return *v;
        }
    }
    return vm::to_long(vm::item(bars, i));
}

// Whether any bar of record 0 that became current since the previous
// refresh position opens a trading day.
bool day_begins(PyObject* kdata, PyObject* current) {
    Ref current_bar = vm::attr(kdata, n_CurrentBar);
    const long long pre_bar = vm::truthy(current) ? bar_at(current_bar, vm::to_long(current) - 1) : -1;
    const long long cur_bar = bar_at(current_bar, vm::to_long(current));
    Ref any = np(n_any);
    Ref matrix = vm::attr(kdata, n_Matrix);
    Ref row = gv(n_KMatrixPos_DayPos);
    if (any.get() == numpy_any()) {
        const std::optional<bool> found = any_day_start(matrix, row, pre_bar + 1, cur_bar + 1);
        if (found) return *found;
    }
    Ref columns = vm::own(PySlice_New(vm::integer(pre_bar + 1).get(), vm::integer(cur_bar + 1).get(), nullptr));
    Ref day_pos = vm::item(matrix, vm::new_tuple({row.get(), columns.get()}));
    Ref firsts = vm::own(PyObject_RichCompare(day_pos, vm::integer(1), Py_EQ));
    return vm::truthy(vm::call(any.get(), firsts));
}

// cnt.env.vr.g_VMOrders and its .<name>
Ref order_book() { return vm::attr(vm::attr(env(), n_vr), n_g_VMOrders); }
Ref order_book_attr(const Name& name) { return vm::attr(order_book(), name); }

void append_new_order(PyObject* order) {
    Ref get_handle_account_map = vm::attr(env(), n_get_handle_account_map);
    Ref handles = vm::new_list();
    vm::append(handles, vm::attr(order, n_account_handle));
    Ref account_map = vm::call(get_handle_account_map.get(), handles);
    Ref get_account = vm::attr(account_map, n_get);
    Ref acc = vm::call(get_account.get(), vm::attr(order, n_account_handle));
    // an order of an account outside the run must not end the live loop:
    // leave it out, so that a later refresh finds it again
    if (vm::is_none(acc)) {
        Syslog log;
        Ref order_id = vm::attr(order, n_order_id);
        Ref handle = vm::attr(order, n_account_handle);
        log(vm::own(PyUnicode_FromFormat("order %R skipped: no account of the run has handle %R", order_id.get(),
                                         handle.get())),
            n_warn);
        return;
    }
    // VMRealOrder(order_idx=..., order_id=..., handle_idx=..., target_idx=...), keywords left to right
    Ref vm_real_order = vm::global(n_VMRealOrder);
    Ref order_idx = order_book_attr(n_size);
    Ref order_id = vm::attr(order, n_order_id);
    Ref handle_idx = vm::attr(acc, n_handle_idx);
    Ref get_target = vm::attr(vm::attr(input_info(), n_MainContractsTargets), n_get);
    Ref todotmc = vm::global(n_todotmc);
    Ref target = vm::new_dict();
    vm::dict_set(target, n_Market, vm::item(order, n_market));
    vm::dict_set(target, n_Code, vm::item(order, n_code));
    Ref target_idx = vm::call(get_target.get(), vm::call(todotmc.get(), target));
    Ref new_order = vm::call(vm_real_order.get(), kw_new_order, order_idx, order_id, handle_idx, target_idx);

    Ref append = order_book_attr(n_append);
    vm::call(append.get(), vm::attr(new_order, n_order_id), new_order);
    Ref snap_create_add = order_book_attr(n_snap_create_add);
    handle_idx = vm::attr(acc, n_handle_idx);
    Ref ids = vm::new_list();
    vm::append(ids, vm::attr(new_order, n_order_id));
    vm::call(snap_create_add.get(), handle_idx, ids);
}

Ref update_account_position_info(vm::Params<0>) {
    Ref fetch = vmcmd(n_vmSendCmdGetAccountPositionAndCash);
    Ref handles = vm::attr(vr(), n_account_handles);
    auto [cash_info_list, position_info_list] = vm::unpack2(vm::call(fetch.get(), handles, vm::new_list()));
    Ref accounts = vm::attr(vr(), n_g_VelmoroAccounts);
    auto update = [&](PyObject* account, PyObject* cash_info) {
        vm::Method(account, n_update_info).call({cash_info, position_info_list});
    };
    // zip(): stops at the shorter, asking the second only when the first has more
    if (PyList_CheckExact(accounts.get()) && PyList_CheckExact(cash_info_list.get())) {
        // two lists walked by index, as their iterators walk them: each length
        // is read again before its item, so updates that change a list are seen
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(accounts.get()) && i < PyList_GET_SIZE(cash_info_list.get()); ++i) {
            Ref account = vm::borrow(PyList_GET_ITEM(accounts.get(), i));
            Ref cash_info = vm::borrow(PyList_GET_ITEM(cash_info_list.get(), i));
            update(account, cash_info);
        }
        return vm::none();
    }
    Ref account_it = vm::iter(accounts);
    Ref cash = vm::iter(cash_info_list);
    while (Ref account = vm::next(account_it)) {
        Ref cash_info = vm::next(cash);
        if (!cash_info) break;
        update(account, cash_info);
    }
    return vm::none();
}

Ref update_order_info(vm::Params<0>) {
    Ref array = np(n_array);
    Ref keys = order_book().method(n_keys).call();
    Ref key_list = vm::own(PySequence_List(keys));
    // np.array(key_list), made when the first order is looked up: numpy's
    // conversion of the ids is no step of the run, and most passes get no order
    Ref local_order_ids;
    Ref fetch = vmcmd(n_vmSendCmdSTGetOrderInfoByDate);
    Ref orders = vm::call(fetch.get(), vm::attr(vr(), n_account_handles), vm::new_list());
    vm::for_each(orders, [&](PyObject* order) {
        Ref isin = np(n_isin);
        if (!local_order_ids) local_order_ids = vm::call(array.get(), key_list);
        if (!vm::truthy(vm::call(isin.get(), vm::attr(order, n_order_id), local_order_ids))) append_new_order(order);
    });
    return vm::none();
}

Ref call_on_data_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    int daily_stop_fresh = 0;
    Ref const_day_end = vm::floating(kConstDayEnd);
    Ref utx = vm::attr(vr(), n_g_VelmoroUserContext);
    Ref tl_line = gv(n_KMatrixPos_TimeLine);
    Ref enter_phase = vm::global_attr(n_smm, n_enter_phase);
    Ref wrapper = vm::call(enter_phase.get(), gv(n_RUMMODE_PHASE_ONDATA));
    Ref callback_wrapper = vm::call(wrapper.get(), vm::attr(input_info(), n_on_data_func));
    if (!vm::truthy(env().method(n_in_fresh_bar).call())) {
        set_status(lpc, n_op_continue, vm::global_attr(n_text, n_ERROR_IN_FRESHBAR));
        return vm::none();
    }
    if (vm::truthy(vm::attr(lpc, n_is_first_time_do_fresh_loop))) {
        // the first dispatch of a run starts at the end of the first push, once
        // that end is past the history: a push inside a day bar still ends at
        // the history's last bar, which the strategy never gets
        Ref end = vm::attr(lpc, n_end_fresh_bar);
        if (!compare(end, vm::attr(vr(), n_g_VelmoroSimCurBarFresh), Py_GT)) return vm::none();
        vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, end);
        vm::set_attr(lpc, n_is_first_time_do_fresh_loop, Py_False);
    }
    // range(current position, lpc.end_fresh_bar + 1), fixed when the walk begins
    Ref first = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    Ref stop = vm::own(PyNumber_Add(vm::attr(lpc, n_end_fresh_bar), vm::integer(1)));
    Ref positions = vm::call(reinterpret_cast<PyObject*>(&PyRange_Type), first, stop);
    vm::for_each(positions, [&](PyObject* fresh_num) {
        Ref fresh = vm::attr(vr(), n_g_VelmoroDataValueFresh);
        Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
        Ref bar_time = vm::numpy::item(fresh, tl_line, current);
        vm::set_attr(utx, n__internal_bar_num, fresh_num);
        Ref mft_to_datetime = vm::global(n_mft_to_datetime);
        Ref times = vm::new_list({bar_time});
        vm::set_attr(utx, n_now, vm::item(vm::call(mft_to_datetime.get(), times), Py_ssize_t{0}));
        env().method(n_before_new_fresh_bar).call();
        Ref kdata = vm::item(vm::attr(vr(), n_g_VelmoroKDataList), Py_ssize_t{0});

        // the fraction of the day is taken only where a test needs it
        if (daily_stop_fresh == 1 && compare(day_fraction(bar_time), const_day_end, Py_GT)) daily_stop_fresh = 0;
        if (daily_stop_fresh == 0 && vm::truthy(env().method(n_exist_daily_close_time_setting).call()) &&
            past_daily_close(bar_time)) {
            daily_stop_fresh = 1;
            vm::for_each(vm::attr(env(), n_account_handles), [&](PyObject* handle) {
                Ref close = vmcmd(n_vmSendCmdCloseOperation);
                vm::call(close.get(), vm::attr(input_info(), n_StrategyName), handle);
            });
        }

        // text.LOG_REALFRESH_BAR.format, read before the fields are made, called
        // without a bound method
        vm::Method format(vm::global_attr(n_text, n_LOG_REALFRESH_BAR), n_format);
        Ref pos = vm::call(vm::global(n_mft_to_str_format), bar_time);
        Ref log_str = format.call(kw_realfresh_bar, {fresh_num, pos});
        if (vm::not_equal(log_str, vm::attr(lpc, n_last_log))) {
            Ref put_log = vmcmd(n_vmSendCmdPutLog);
            vm::call(put_log.get(), vm::attr(vr(), n_g_VelmoroModeTaskId), log_str);
            vm::set_attr(lpc, n_last_log, log_str);
        }

        vm::set_attr(utx, n_day_begin, vm::boolean(day_begins(kdata, vm::attr(vr(), n_g_VelmoroSimCurBarFresh))));
        vm::global<update_account_position_info>(n_update_account_position_info).call();
        syslog(n_update_account_position_info, n_info);
        vm::global<update_order_info>(n_update_order_info).call();
        syslog(n_update_order_info, n_info);
        if (daily_stop_fresh == 0) vm::call(callback_wrapper.get(), vm::attr(vr(), n_g_VelmoroUserContext));
        Ref next = vm::own(PyNumber_Add(vm::attr(vr(), n_g_VelmoroSimCurBarFresh), vm::integer(1)));
        vm::set_attr(vr(), n_g_VelmoroSimCurBarFresh, next);
    });
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(update_account_position_info, "-> None",
                "Refresh the cash and positions of the run's accounts from the terminal.\n\n"
                "Returns\n  None; the accounts of the run's variables hold the new records."),
    VM_FUNCTION(update_order_info, "-> None",
                "Register the terminal's orders of the day that the run's order book lacks.\n\n"
                "Returns\n  None; the run's order book (g_VMOrders) holds them."),
    VM_FUNCTION(call_on_data_wrapper, "lpc: RealRunTimeContext -> None",
                "Call the strategy's data handler once for every refresh position up to the end of the pushed data."
                "\n\nParameters\n  lpc: the loop's context (a LoopContext of velmoro.realtrade.runtypes): its\n      pushed times and its status, which the step sets.\n\nReturns\n  None."),
};
}  // namespace

void register_dispatch(vm::Module& m) { m.add(kFunctions); }
}  // namespace barcycle
