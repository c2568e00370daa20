// RealTradeVar: the live run's variables: order books and refresh bookkeeping
// on top of the framework's SystemBaseVar.
#include "runtypes.hpp"

namespace runtypes {
namespace {

vm::Name kAccounts{"g_VelmoroAccounts"};
vm::Name kAppendFreshPosition{"g_VelmoroAppendFreshPosition"};
vm::Name kDayFreqTransEndTime{"g_VelmoroDayFreqTransEndTime"};
vm::Name kDot{"dot"};
vm::Name kFlag{"flag"};
vm::Name kFreqGt1Day{"f_freq_gt_1day"};
vm::Name kHandle{"handle"};
vm::Name kIsFresh{"is_fresh"};
vm::Name kMatrixHasGt1Day{"matrix_has_gt_1day"};
vm::Name kNan{"nan"};
vm::Name kNFreqRealFresh{"g_VelmoroNFreqRealFresh"};
vm::Name kNFreqRealFreshOption{"g_VelmoroNFreqRealFreshOption"};
vm::Name kSaveFreshPosition{"g_VelmoroRealTradeSaveFreshPosition"};
vm::Name kSystemBaseVar{"SystemBaseVar"};
vm::Name kTrades{"g_VMTrades"};
vm::Name kVMOrders{"VMOrders"};
vm::Name kVMStopOrders{"VMStopOrders"};
vm::Name kVMTrades{"VMTrades"};

PyObject* g_trade_var = nullptr;  // the class, kept for the process (as super() keeps __class__)


vm::Ref new_book(const vm::Name& cls) { return vm::call(vm::global(cls).get()); }

vm::Ref RealTradeVar_init(PyObject* self, vm::Params<0>) {
    init_base(g_trade_var, self);
    vm::set_attr(self, kOrders, new_book(kVMOrders));
    vm::set_attr(self, kStopOrders, new_book(kVMStopOrders));
    vm::set_attr(self, kTrades, new_book(kVMTrades));
    vm::set_attr(self, kSaveFreshPosition, vm::integer(0));
    vm::set_attr(self, kAppendFreshPosition, vm::attr(vm::global(kNp).get(), kNan));
    vm::set_attr(self, kNFreqRealFresh, empty_array());

    vm::Ref trans_end = vm::new_dict();
    vm::dict_set(trans_end, kFlag, Py_False);
    vm::dict_set(trans_end, kDot, vm::floating(0.0));
    vm::set_attr(self, kDayFreqTransEndTime, trans_end);

    vm::Ref option = vm::new_dict();
    vm::dict_set(option, kIsFresh, Py_True);
    vm::dict_set(option, kFreqGt1Day, Py_False);
    vm::dict_set(option, kMatrixHasGt1Day, Py_False);
    vm::set_attr(self, kNFreqRealFreshOption, option);
    return vm::none();
}

vm::Ref account_handles(PyObject* self) {
    vm::Ref handles = vm::new_list();
    vm::Ref accounts = vm::attr(self, kAccounts);
    vm::for_each(accounts, [&](PyObject* account) { vm::append(handles, vm::attr(account, kHandle)); });
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
    g_trade_var = derive_class(m, "RealTradeVar", kSystemBaseVar,
                               "Variables of a live run: the base run fields plus order books and refresh "
                               "bookkeeping.\n\nOrder books: g_VMOrders, g_VMStopOrders, g_VMTrades. Refresh "
                               "bookkeeping: g_VelmoroRealTradeSaveFreshPosition, g_VelmoroAppendFreshPosition, "
                               "g_VelmoroNFreqRealFresh, g_VelmoroDayFreqTransEndTime, g_VelmoroNFreqRealFreshOption.",
                               kInit);
    vm::add_properties(g_trade_var, kProperties);
}

}  // namespace runtypes
