// Trading and account commands: orders, executions, accounts, cash, positions.
#include "commands.hpp"
#include "trading_docs.hpp"

namespace vmcmd {
namespace {

Command kTrading[] = {
    {"vmSendCmdSTTradeOperation", "params", "VelmoroSTTradeOperation_send", {rq::dotted("params")}, Answer::Checked,
     "ClientID", kNone, doc::vmSendCmdSTTradeOperation},
    {"vmSendCmdSTTradeStopOrder", "params", "VelmoroSTTradeStopOrder_send", {rq::dotted("params")}, Answer::Checked,
     "ClientID", kNone, doc::vmSendCmdSTTradeStopOrder},
    {"vmSendCmdCancelOrder", "strategyName, handle, orderID", "VelmoroCancelOrder_send",
     {"strategyName", "handle", "orderID"}, Answer::Fire, nullptr, kNone, doc::vmSendCmdCancelOrder},
    {"vmSendCmdCancelStopOrder", "strategyName, handle, orderID", "VelmoroCancelStopOrder_send",
     {"strategyName", "handle", "orderID"}, Answer::Unchecked, "bResult", kNone,
     doc::vmSendCmdCancelStopOrder},
    {"vmSendCmdCancelFrozen", "Handle", "VelmoroCancelFrozen_send", {"Handle"}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdCancelFrozen},
    {"vmSendCmdCloseOperation", "strategy_name, i64Handle", "VelmoroCloseOperation_send",
     {"strategy_name", rq::int64("i64Handle")}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdCloseOperation},
    {"vmSendCmdSTOrderInfo", "handles, order_ids", "VelmoroGetOrderInfo_send", {"handles", "order_ids"},
     Answer::Checked, "listOrders", kNone, doc::vmSendCmdSTOrderInfo},
    {"vmSendCmdSTUnFinishedOrderInfo", "handles, order_dates", "VelmoroGetUnFinishedOrderInfo_send",
     {"handles", "order_dates"}, Answer::Checked, "listOrders", kNone, doc::vmSendCmdSTUnFinishedOrderInfo},
    {"vmSendCmdSTGetOrderInfoByDate", "handles, order_dates", "VelmoroGetOrderInfoByDate_send",
     {"handles", "order_dates"}, Answer::Checked, "listOrders", kNone,
     doc::vmSendCmdSTGetOrderInfoByDate, "vmSendCmdSTDailyOrderInfo"},
    {"vmSendCmdSTGetLastOrderInfo", "handle, targets, order_side, position_effect", "VelmoroGetLastOrderInfo_send",
     {"handle", "targets", "order_side", "position_effect"}, Answer::Checked, "listOrders", kNone,
     doc::vmSendCmdSTGetLastOrderInfo},
    {"vmSendCmdSTGetExecutionInfo", "handles, dates", "VelmoroGetDailyExecution_send", {"handles", "dates"},
     Answer::Checked, "listExecutions", kNone, doc::vmSendCmdSTGetExecutionInfo},
    {"vmSendCmdSTGetLastExecutionInfo", "handle, target, side, position_effect", "VelmoroGetLastExecution_send",
     {"handle", "target", "side", "position_effect"}, Answer::Checked, "listExecutions", kNone,
     doc::vmSendCmdSTGetLastExecutionInfo},
    {"vmSendCmdGetStopOrderInfo", "account_handle, stop_order_id_s", "VelmoroGetStopOrderInfo3_1_4_send",
     {"account_handle", "stop_order_id_s"}, Answer::Checked, "listStopOrderInfo", kNone,
     doc::vmSendCmdGetStopOrderInfo},
    {"vmSendCmdGetTradeAccountHandle", "name", "VelmoroSTTRadeGetAccountHandle_send", {"name"}, Answer::Unchecked,
     "result", kNone, doc::vmSendCmdGetTradeAccountHandle},
    {"vmSendCmdSTTradeGetAccountList", "", "VelmoroSTTradeGetAccountList_send", {}, Answer::Unchecked, "result",
     kNone, doc::vmSendCmdSTTradeGetAccountList},
    {"vmSendCmdIsAccountValid", "handle", "VelmoroIsAccountValid_send", {"handle"}, Answer::Unchecked, "result",
     kNone, doc::vmSendCmdIsAccountValid},
    {"vmSendCmdGetAccountCash", "handles", "VelmoroGetAccountCash_send", {"handles"}, Answer::Checked,
     "listAccountCash", kNone, doc::vmSendCmdGetAccountCash},
    {"vmSendCmdGetAccountTargetGrossPosition", "handles, targets", "VelmoroGetAccountTargetGrossPosition_send",
     {"handles", rq::targets("targets")}, Answer::Checked, "listGrossPosition", kNone,
     doc::vmSendCmdGetAccountTargetGrossPosition},
    {"vmSendCmdGetAccountConfig", "strategyName, handle", "VelmoroGetAccountConfig_send", {"strategyName", "handle"},
     Answer::Unchecked, "result", kNone, doc::vmSendCmdGetAccountConfig},
    {"vmSendCmdSetAccountConfigTo", "strategyName, handle, target_configs", "VelmoroSetAccountConfigTo_send",
     {"strategyName", "handle", rq::dotted_each("target_configs")}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdSetAccountConfigTo},
};


// One exchange per handle; each record is stamped with the handle it answers.
Ref vmSendCmdGetAccountInfo(Params<1> p) {
    auto [handle_list] = p.take<1>();
    PyObject* func_name = n_vmSendCmdGetAccountInfo;
    Ref accounts = vm::new_list();
    vm::for_each(handle_list, [&](PyObject* handle) {
        vm::global_attr(n_vmserial, n_VelmoroSTGetAccountInfo_send).call({handle});
        Ref info = vm::attr(receive(func_name), n_result);
        vm::set_attr(info, n_Handle64, handle);
        vm::append(accounts, info);
    });
    return accounts;
}

// The record is made (and converted) before vmserial is read.
Ref vmSendCmdSTGetAccountPosition(Params<4> p) {
    auto [handle, market, code, long_short] = p.take<4>();
    PyObject* func_name = n_vmSendCmdSTGetAccountPosition;
    Ref record = vm::new_dict();
    vm::dict_set(record, n_Handle, handle);
    vm::dict_set(record, n_Market, market);
    vm::dict_set(record, n_Code, code);
    vm::dict_set(record, n_LongShort, vm::is_none(long_short) ? n_empty.get() : long_short);
    Ref request = dot(record);
    vm::global_attr(n_vmserial, n_VelmoroSTGetAccountPosition_send).call({request});
    Ref position = vm::attr(receive(func_name), n_sPositionData);
    Ref held = vm::attr(position, n_Position);
    Ref frozen = vm::attr(position, n_Frozen);
    Ref price = vm::attr(position, n_AvgPrice);
    return vm::new_tuple({held.get(), frozen.get(), price.get()});
}

// The target list is made before vmserial is read.
Ref vmSendCmdGetAccountPositionAndCash(Params<2> p) {
    auto [handles, targets] = p.take<2>();
    PyObject* func_name = n_vmSendCmdGetAccountPositionAndCash;
    Ref target_records = target_list(targets);
    vm::global_attr(n_vmserial, n_VelmoroGetAccountPositionAndCashInfo_send).call({handles, target_records});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref cash = vm::attr(res, n_listAccountCash);
    Ref positions = vm::attr(res, n_listGrossPosition);
    return vm::new_tuple({cash.get(), positions.get()});
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetAccountInfo, "handleList",
                doc::vmSendCmdGetAccountInfo),
    VM_FUNCTION(vmSendCmdSTGetAccountPosition, "Handle, Market, Code, LongShort=None",
                doc::vmSendCmdSTGetAccountPosition),
    VM_FUNCTION(vmSendCmdGetAccountPositionAndCash, "handles, targets",
                doc::vmSendCmdGetAccountPositionAndCash),
};

}  // namespace

void register_trading(vm::Module& m) {
    add_commands<kTrading>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
