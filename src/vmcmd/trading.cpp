// Trading and account commands: orders, executions, accounts, cash, positions.
#include "commands.hpp"

namespace vmcmd {
namespace {

Command kTrading[] = {
    {"vmSendCmdSTTradeOperation", "params", "VelmoroSTTradeOperation_send", "d0", Answer::Checked, "ClientID", kNone,
     "Place an order; returns its client id."},
    {"vmSendCmdSTTradeStopOrder", "params", "VelmoroSTTradeStopOrder_send", "d0", Answer::Checked, "ClientID", kNone,
     "Place a stop order; returns its client id."},
    {"vmSendCmdCancelOrder", "strategyName, handle, orderID", "VelmoroCancelOrder_send", "0 1 2", Answer::Fire,
     nullptr, kNone, "Cancel an order."},
    {"vmSendCmdCancelStopOrder", "strategyName, handle, orderID", "VelmoroCancelStopOrder_send", "0 1 2",
     Answer::Unchecked, "bResult", kNone, "Cancel a stop order; returns whether the terminal cancelled it."},
    {"vmSendCmdCancelFrozen", "Handle", "VelmoroCancelFrozen_send", "0", Answer::Fire, nullptr, kNone,
     "Release the frozen amounts of an account."},
    {"vmSendCmdCloseOperation", "strategy_name, i64Handle", "VelmoroCloseOperation_send", "0 n1", Answer::Fire,
     nullptr, kNone, "Close the strategy's operation on an account."},
    {"vmSendCmdSTOrderInfo", "handles, order_ids", "VelmoroGetOrderInfo_send", "0 1", Answer::Checked, "listOrders",
     kNone, "Orders of the accounts with the given ids."},
    {"vmSendCmdSTUnFinishedOrderInfo", "handles, order_dates", "VelmoroGetUnFinishedOrderInfo_send", "0 1",
     Answer::Checked, "listOrders", kNone, "Unfinished orders of the accounts."},
    {"vmSendCmdSTGetOrderInfoByDate", "handles, order_dates", "VelmoroGetOrderInfoByDate_send", "0 1",
     Answer::Checked, "listOrders", kNone, "Orders of the accounts on the given dates (all of today for none).",
     "vmSendCmdSTDailyOrderInfo"},
    {"vmSendCmdSTGetLastOrderInfo", "handle, targets, order_side, position_effect", "VelmoroGetLastOrderInfo_send",
     "0 1 2 3", Answer::Checked, "listOrders", kNone, "The last orders of an account on the targets."},
    {"vmSendCmdSTGetExecutionInfo", "handles, dates", "VelmoroGetDailyExecution_send", "0 1", Answer::Checked,
     "listExecutions", kNone, "Executions of the accounts on the given dates."},
    {"vmSendCmdSTGetLastExecutionInfo", "handle, target, side, position_effect", "VelmoroGetLastExecution_send",
     "0 1 2 3", Answer::Checked, "listExecutions", kNone, "The last executions of an account on a target."},
    {"vmSendCmdGetStopOrderInfo", "account_handle, stop_order_id_s", "VelmoroGetStopOrderInfo3_1_4_send", "0 1",
     Answer::Checked, "listStopOrderInfo", kNone, "Stop orders of an account."},
    {"vmSendCmdGetTradeAccountHandle", "name", "VelmoroSTTRadeGetAccountHandle_send", "0", Answer::Unchecked,
     "result", kNone, "The handle of the account with this name."},
    {"vmSendCmdSTTradeGetAccountList", "", "VelmoroSTTradeGetAccountList_send", "", Answer::Unchecked, "result",
     kNone, "The trading accounts of the terminal."},
    {"vmSendCmdIsAccountValid", "handle", "VelmoroIsAccountValid_send", "0", Answer::Unchecked, "result", kNone,
     "Whether the handle names a usable account."},
    {"vmSendCmdGetAccountCash", "handles", "VelmoroGetAccountCash_send", "0", Answer::Checked, "listAccountCash",
     kNone, "Cash records of the accounts."},
    {"vmSendCmdGetAccountTargetGrossPosition", "handles, targets", "VelmoroGetAccountTargetGrossPosition_send",
     "0 t1", Answer::Checked, "listGrossPosition", kNone, "Position records of the accounts on the targets."},
    {"vmSendCmdGetAccountConfig", "strategyName, handle", "VelmoroGetAccountConfig_send", "0 1", Answer::Unchecked,
     "result", kNone, "The strategy's configuration of an account."},
    {"vmSendCmdSetAccountConfigTo", "strategyName, handle, target_configs", "VelmoroSetAccountConfigTo_send",
     "0 1 l2", Answer::Fire, nullptr, kNone, "Set the strategy's per-target configuration of an account."},
};

Name n_vmSendCmdGetAccountInfo{"vmSendCmdGetAccountInfo"};
Name n_VelmoroSTGetAccountInfo_send{"VelmoroSTGetAccountInfo_send"};
Name n_Handle64{"Handle64"};
Name n_vmSendCmdSTGetAccountPosition{"vmSendCmdSTGetAccountPosition"};
Name n_VelmoroSTGetAccountPosition_send{"VelmoroSTGetAccountPosition_send"};
Name n_Handle{"Handle"};
Name n_Market{"Market"};
Name n_Code{"Code"};
Name n_LongShort{"LongShort"};
Name n_empty{""};
Name n_sPositionData{"sPositionData"};
Name n_Position{"Position"};
Name n_Frozen{"Frozen"};
Name n_AvgPrice{"AvgPrice"};
Name n_vmSendCmdGetAccountPositionAndCash{"vmSendCmdGetAccountPositionAndCash"};
Name n_VelmoroGetAccountPositionAndCashInfo_send{"VelmoroGetAccountPositionAndCashInfo_send"};
Name n_listAccountCash{"listAccountCash"};
Name n_listGrossPosition{"listGrossPosition"};

// One exchange per handle; each record is stamped with the handle it answers.
Ref vmSendCmdGetAccountInfo(Args a) {
    PyObject* func_name = n_vmSendCmdGetAccountInfo;
    Ref accounts = vm::new_list();
    vm::for_each(a[0], [&](PyObject* handle) {
        vm::call(sender(n_VelmoroSTGetAccountInfo_send), handle);
        Ref info = vm::attr(receive(func_name), n_result);
        vm::set_attr(info, n_Handle64, handle);
        vm::append(accounts, info);
    });
    return accounts;
}

Ref vmSendCmdSTGetAccountPosition(Args a) {
    PyObject* func_name = n_vmSendCmdSTGetAccountPosition;
    PyObject* long_short = vm::is_none(a[3]) ? n_empty.get() : a[3];
    Ref record = vm::new_dict();
    vm::dict_set(record, n_Handle, a[0]);
    vm::dict_set(record, n_Market, a[1]);
    vm::dict_set(record, n_Code, a[2]);
    vm::dict_set(record, n_LongShort, long_short);
    vm::call(sender(n_VelmoroSTGetAccountPosition_send), dot(record));
    Ref position = vm::attr(receive(func_name), n_sPositionData);
    Ref held = vm::attr(position, n_Position);
    Ref frozen = vm::attr(position, n_Frozen);
    Ref price = vm::attr(position, n_AvgPrice);
    return vm::new_tuple({held.get(), frozen.get(), price.get()});
}

Ref vmSendCmdGetAccountPositionAndCash(Args a) {
    PyObject* func_name = n_vmSendCmdGetAccountPositionAndCash;
    Ref send = sender(n_VelmoroGetAccountPositionAndCashInfo_send);
    vm::call(send, a[0], target_list(a[1]));
    Ref res = receive(func_name);
    check_answer(func_name, res);
    Ref cash = vm::attr(res, n_listAccountCash);
    Ref positions = vm::attr(res, n_listGrossPosition);
    return vm::new_tuple({cash.get(), positions.get()});
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetAccountInfo, "handleList",
                "Account records of the handles, each stamped with Handle64, in the order of handleList."),
    VM_FUNCTION(vmSendCmdSTGetAccountPosition, "Handle, Market, Code, LongShort=None",
                "Position of one security in an account, as (Position, Frozen, AvgPrice)."),
    VM_FUNCTION(vmSendCmdGetAccountPositionAndCash, "handles, targets",
                "Cash and position records of the accounts, as (cash records, position records)."),
};

}  // namespace

void register_trading(vm::Module& m) {
    add_commands<kTrading>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
