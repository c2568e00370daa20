// RealTradeEnv: the live run's environment on top of the framework's
// SystemBaseEnv; the class, its constructor, margin rates and the mappings
// between order ids and accounts.
#include "runtypes.hpp"

namespace runtypes {
namespace {

vm::Name n_handle_idx{"handle_idx"};
vm::Name n_account_handle_to_idx{"account_handle_to_idx"};
vm::Name n_account_idx_to_handle{"account_idx_to_handle"};
vm::Name n_LongMargin{"LongMargin"};
vm::Name n_MarginRate{"MarginRate"};
vm::Name n_order_id{"order_id"};
vm::Name n_ShortMargin{"ShortMargin"};
vm::Name n_SystemBaseEnv{"SystemBaseEnv"};
vm::Name n_TargetListDot{"TargetListDot"};
vm::Name n_g_VelmoroTargetsInfo{"g_VelmoroTargetsInfo"};

PyObject* g_trade_env = nullptr;  // the class, kept for the process (as super() keeps __class__)


vm::Ref RealTradeEnv_init(PyObject* self, vm::Params<0>) {
    init_base(g_trade_env, self);
    return vm::none();
}

vm::Ref get_margin_rate(PyObject* self, vm::Params<2> p) {
    auto [target_idx, side] = p.take<2>();
    vm::Ref info = vm::attr(vm::attr(self, n_vr), n_g_VelmoroInputInfo);
    vm::Ref code = vm::item(vm::attr(info, n_TargetListDot), target_idx);
    vm::Ref target_info = vm::item(vm::attr(vm::attr(self, n_vr), n_g_VelmoroTargetsInfo), code);
    // side 0 is the short side; any other side is long
    const vm::Name& which = vm::equal(side, vm::integer(0)) ? n_ShortMargin : n_LongMargin;
    vm::Ref margin = vm::call(vm::attr(target_info, n_get).get(), which);
    vm::Ref rate = vm::attr(vm::attr(vm::attr(self, n_vr), n_g_VelmoroSettingInfo), n_MarginRate);
    return vm::own(PyNumber_Multiply(margin, rate));
}

// The records of one order book for the one-element id list [id].
vm::Ref records_of(PyObject* self, const vm::Name& book, PyObject* id) {
    vm::Ref ids = vm::new_list();
    vm::append(ids, id);
    return vm::call(vm::attr(vm::attr(self, n_vr), book).get(), ids);
}

// Handle of the account owning the one record with that id; None for zero or several.
vm::Ref owner_handle(PyObject* self, const vm::Name& book, PyObject* id) {
    vm::Ref records = records_of(self, book, id);
    if (vm::length(records) != 1) return vm::none();
    vm::Ref idx_to_handle = vm::attr(self, n_account_idx_to_handle);
    return vm::call(idx_to_handle.get(), vm::attr(vm::item(records, Py_ssize_t{0}), n_handle_idx));
}

vm::Ref order_id_relevant_account_handle(PyObject* self, vm::Params<1> p) {
    auto [order_id] = p.take<1>();
    return owner_handle(self, n_g_VMOrders, order_id);
}

vm::Ref stop_order_id_relevant_account_handle(PyObject* self, vm::Params<1> p) {
    auto [stop_order_id] = p.take<1>();
    return owner_handle(self, n_g_VMStopOrders, stop_order_id);
}

vm::Ref get_order_by_order_id(PyObject* self, vm::Params<1> p) {
    auto [order_id] = p.take<1>();
    vm::Ref records = records_of(self, n_g_VMOrders, order_id);
    return vm::length(records) > 0 ? vm::item(records, Py_ssize_t{0}) : vm::none();
}

vm::Ref account_handle_relevant_all_order_id(PyObject* self, vm::Params<1> p) {
    auto [handle] = p.take<1>();
    vm::Ref ids = vm::new_list();
    vm::Ref idx = vm::call(vm::attr(self, n_account_handle_to_idx).get(), handle);
    if (vm::is_none(idx)) return ids;
    vm::Ref all = vm::call(vm::attr(vm::attr(self, n_vr), n_g_VMOrders).get());
    vm::for_each(all, [&](PyObject* record) {
        if (vm::equal(vm::attr(record, n_handle_idx), idx)) vm::append(ids, vm::attr(record, n_order_id));
    });
    return ids;
}

const vm::FunctionSpec kInit =
    VM_NAMED_FUNCTION("__init__", RealTradeEnv_init, "", "Run the base constructor; nothing else is added.");

const vm::FunctionSpec kMethods[] = {
    VM_FUNCTION(get_margin_rate, "target_idx, side=0",
                "Margin rate of the target with that index, times the run's MarginRate.\n\nSide 0 takes the "
                "target's short margin, any other side its long margin."),
    VM_FUNCTION(order_id_relevant_account_handle, "order_id",
                "Handle of the account owning the ordinary order, or None when not exactly one order has that id."),
    VM_FUNCTION(stop_order_id_relevant_account_handle, "stop_order_id",
                "Handle of the account owning the stop order, or None when not exactly one stop order has that id."),
    VM_FUNCTION(get_order_by_order_id, "order_id", "The first ordinary order with that id, or None."),
    VM_FUNCTION(account_handle_relevant_all_order_id, "handle",
                "Ids of all ordinary orders of the account with that handle (empty for no such account)."),
};

}  // namespace

void register_trade_env(vm::Module& m) {
    g_trade_env = derive_class(m, "RealTradeEnv", n_SystemBaseEnv,
                               "Environment of a live run, working on the run's variables `vr`.\n\nMargin rates, "
                               "the daily close time, order-to-account mappings, the trading-time cache and main "
                               "contracts.",
                               kInit);
    vm::add_methods(g_trade_env, kMethods);
    add_daily_close_methods(g_trade_env);
    add_trading_time_methods(g_trade_env);
    add_contract_methods(g_trade_env);
}

}  // namespace runtypes
