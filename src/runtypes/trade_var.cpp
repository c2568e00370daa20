// RealTradeVar: the live run's variables: order books and refresh bookkeeping
// on top of the framework's SystemBaseVar.
#include "runtypes.hpp"

namespace runtypes {
namespace {

vm::Name n_g_VelmoroAccounts{"g_VelmoroAccounts"};
vm::Name n_g_VelmoroAppendFreshPosition{"g_VelmoroAppendFreshPosition"};
vm::Name n_g_VelmoroDayFreqTransEndTime{"g_VelmoroDayFreqTransEndTime"};
vm::Name n_dot{"dot"};
vm::Name n_flag{"flag"};
vm::Name n_f_freq_gt_1day{"f_freq_gt_1day"};
vm::Name n_handle{"handle"};
vm::Name n_is_fresh{"is_fresh"};
vm::Name n_matrix_has_gt_1day{"matrix_has_gt_1day"};
vm::Name n_nan{"nan"};
vm::Name n_g_VelmoroNFreqRealFresh{"g_VelmoroNFreqRealFresh"};
vm::Name n_g_VelmoroNFreqRealFreshOption{"g_VelmoroNFreqRealFreshOption"};
vm::Name n_g_VelmoroRealTradeSaveFreshPosition{"g_VelmoroRealTradeSaveFreshPosition"};
vm::Name n_SystemBaseVar{"SystemBaseVar"};
vm::Name n_g_VMTrades{"g_VMTrades"};
vm::Name n_VMOrders{"VMOrders"};
vm::Name n_VMStopOrders{"VMStopOrders"};
vm::Name n_VMTrades{"VMTrades"};

PyObject* g_trade_var = nullptr;  // the class, kept for the process (as super() keeps __class__)


vm::Ref new_book(const vm::Name& cls) { return vm::call(vm::global(cls).get()); }

vm::Ref RealTradeVar_init(PyObject* self, vm::Params<0>) {
    init_base(g_trade_var, self);
    vm::set_attr(self, n_g_VMOrders, new_book(n_VMOrders));
    vm::set_attr(self, n_g_VMStopOrders, new_book(n_VMStopOrders));
    vm::set_attr(self, n_g_VMTrades, new_book(n_VMTrades));
    vm::set_attr(self, n_g_VelmoroRealTradeSaveFreshPosition, vm::integer(0));
    vm::set_attr(self, n_g_VelmoroAppendFreshPosition, vm::attr(vm::global(n_np).get(), n_nan));
    vm::set_attr(self, n_g_VelmoroNFreqRealFresh, empty_array());

    vm::Ref trans_end = vm::new_dict();
    vm::dict_set(trans_end, n_flag, Py_False);
    vm::dict_set(trans_end, n_dot, vm::floating(0.0));
    vm::set_attr(self, n_g_VelmoroDayFreqTransEndTime, trans_end);

    vm::Ref option = vm::new_dict();
    vm::dict_set(option, n_is_fresh, Py_True);
    vm::dict_set(option, n_f_freq_gt_1day, Py_False);
    vm::dict_set(option, n_matrix_has_gt_1day, Py_False);
    vm::set_attr(self, n_g_VelmoroNFreqRealFreshOption, option);
    return vm::none();
}

vm::Ref account_handles(PyObject* self) {
    vm::Ref handles = vm::new_list();
    vm::Ref accounts = vm::attr(self, n_g_VelmoroAccounts);
    vm::for_each(accounts, [&](PyObject* account) { vm::append(handles, vm::attr(account, n_handle)); });
    return handles;
}

const vm::FunctionSpec kInit = VM_NAMED_FUNCTION(
    "__init__", RealTradeVar_init, "", "Run the base constructor, then set up fresh order books and the refresh bookkeeping.");

const vm::PropertySpec kProperties[] = {
    {"account_handles", VM_GETTER(account_handles), nullptr,
     "A new list of the handles of the run's accounts, in order."},
};

}  // namespace

void register_trade_var(vm::Module& m) {
    g_trade_var = derive_class(m, "RealTradeVar", n_SystemBaseVar,
                               "Variables of a live run: the base run fields plus order books and refresh "
                               "bookkeeping.\n\nOrder books: g_VMOrders, g_VMStopOrders, g_VMTrades. Refresh "
                               "bookkeeping: g_VelmoroRealTradeSaveFreshPosition, g_VelmoroAppendFreshPosition, "
                               "g_VelmoroNFreqRealFresh, g_VelmoroDayFreqTransEndTime, g_VelmoroNFreqRealFreshOption.",
                               kInit);
    vm::add_properties(g_trade_var, kProperties);
}

}  // namespace runtypes
