// Trading and account commands: orders, executions, accounts, cash, positions.
#include "commands.hpp"
#include "doc_parts.hpp"

namespace vmcmd {
namespace {

Command kTrading[] = {
    {"vmSendCmdSTTradeOperation", "params: Mapping[str, Any] -> Any",
     "VelmoroSTTradeOperation_send", {rq::dotted("params")}, Answer::Checked,
     "ClientID", kNone,
     "Place an order; returns its client id.\n\n"
     "Parameters\n"
     "  params: the order record, a mapping with these keys:\n"
     DOC_ORDER_KEYS "\n"
     "Returns\n"
     "  The new order's client id (an int): the order_id of its order records. A\n"
     "  rejected order (unknown or missing key, unknown account or target, bad side,\n"
     "  type or volume, no price yet, short of cash or shares) raises VmReturnError\n"
     "  naming the reason."},
    {"vmSendCmdSTTradeStopOrder", "params: Mapping[str, Any] -> Any",
     "VelmoroSTTradeStopOrder_send", {rq::dotted("params")}, Answer::Checked,
     "ClientID", kNone,
     "Place a stop order; returns its client id.\n\n"
     "Parameters\n"
     "  params: the stop-order record, a mapping with these keys:\n"
     DOC_STOP_ORDER_KEYS "\n"
     "Returns\n"
     "  The stop order's id (an int): the stop_order_id of vmSendCmdGetStopOrderInfo's\n"
     "  records. A rejected stop order raises VmReturnError naming the reason."},
    {"vmSendCmdCancelOrder", "strategyName: str, handle: int, orderID: Any -> None", "VelmoroCancelOrder_send",
     {"strategyName", "handle", "orderID"}, Answer::Fire, nullptr, kNone,
     "Cancel an order.\n\n"
     "Parameters\n"
     "  strategyName: the strategy that placed it.\n"
     "  handle: the account handle.\n"
     "  orderID: the order's client id, as placing it returned.\n\n"
     DOC_RETURNS_NOTHING
     "  An order that already filled, or that the terminal does not know, stays as\n"
     "  it is; read its status with vmSendCmdSTOrderInfo."},
    {"vmSendCmdCancelStopOrder", "strategyName: str, handle: int, orderID: Any -> bool", "VelmoroCancelStopOrder_send",
     {"strategyName", "handle", "orderID"}, Answer::Unchecked, "bResult", kNone,
     "Cancel a stop order; returns whether the terminal cancelled it.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  strategyName: the strategy that placed it.\n"
     "  handle: the account handle.\n"
     "  orderID: the stop order's id, as placing it returned.\n\n"
     "Returns\n"
     "  True when a waiting stop order was cancelled; False when there was none with\n"
     "  that id in the account (unknown, triggered or cancelled already)."},
    {"vmSendCmdCancelFrozen", "Handle: int -> None",
     "VelmoroCancelFrozen_send", {"Handle"}, Answer::Fire, nullptr, kNone,
     "Release the frozen amounts of an account.\n\n"
     "Every waiting order of the account is cancelled, which frees the cash or shares\n"
     "it froze.\n\n"
     "Parameters\n"
     "  Handle: the account handle.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdCloseOperation", "strategy_name: str, i64Handle: int -> None", "VelmoroCloseOperation_send",
     {"strategy_name", rq::int64("i64Handle")}, Answer::Fire, nullptr, kNone,
     "Close the strategy's operation on an account.\n\n"
     "The strategy's waiting orders on the account are cancelled and every sellable\n"
     "holding is sold at the market (holdings without a price yet stay).\n\n"
     "Parameters\n"
     "  strategy_name: the strategy's name.\n"
     "  i64Handle: the account handle (sent as numpy int64).\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdSTOrderInfo", "handles: Sequence[int], order_ids: Sequence[Any] -> List[Any]",
     "VelmoroGetOrderInfo_send", {"handles", "order_ids"},
     Answer::Checked, "listOrders", kNone,
     "Orders of the accounts with the given ids.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n"
     "  order_ids: client ids (a list, or one id); an empty list means every order.\n\n"
     "Returns\n"
     "  A list of order records, in the order they were placed.\n"
     DOC_ORDER_FIELDS},
    {"vmSendCmdSTUnFinishedOrderInfo", "handles: Sequence[int], order_dates: Sequence[int] -> List[Any]",
     "VelmoroGetUnFinishedOrderInfo_send",
     {"handles", "order_dates"}, Answer::Checked, "listOrders", kNone,
     "Unfinished orders of the accounts.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n"
     "  order_dates: trading days (YYYYMMDD) the orders were placed on; an empty\n"
     "      list means any day.\n\n"
     "Returns\n"
     "  A list of the orders still pending, in the order they were placed.\n"
     DOC_ORDER_FIELDS},
    {"vmSendCmdSTGetOrderInfoByDate", "handles: Sequence[int], order_dates: Sequence[int] -> List[Any]",
     "VelmoroGetOrderInfoByDate_send",
     {"handles", "order_dates"}, Answer::Checked, "listOrders", kNone,
     "Orders of the accounts on the given dates (all of today for none).\n\n"
     "Errors and warnings name the command vmSendCmdSTDailyOrderInfo.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n"
     "  order_dates: trading days (YYYYMMDD) the orders were placed on; an empty\n"
     "      list means the current trading day.\n\n"
     "Returns\n"
     "  A list of order records, in the order they were placed.\n"
     DOC_ORDER_FIELDS, "vmSendCmdSTDailyOrderInfo"},
    {"vmSendCmdSTGetLastOrderInfo", "handle: int, targets: Any, order_side: Any, position_effect: Any -> List[Any]",
     "VelmoroGetLastOrderInfo_send",
     {"handle", "targets", "order_side", "position_effect"}, Answer::Checked, "listOrders", kNone,
     "The last orders of an account on the targets.\n\n"
     "Parameters\n"
     "  handle: the account handle.\n"
     "  targets: one target record or a list of them.\n"
     DOC_TARGETS
     "  order_side: \"buy\" or \"sell\" (or 1, 2); empty or None means either side.\n"
     "  position_effect: \"open\" or \"close\"; empty or None means either.\n\n"
     "Returns\n"
     "  A list with the last matching order of each target that has one.\n"
     DOC_ORDER_FIELDS},
    {"vmSendCmdSTGetExecutionInfo", "handles: Sequence[int], dates: Sequence[int] -> List[Any]",
     "VelmoroGetDailyExecution_send", {"handles", "dates"},
     Answer::Checked, "listExecutions", kNone,
     "Executions of the accounts on the given dates.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n"
     "  dates: trading days (YYYYMMDD); an empty list means the current trading day.\n\n"
     "Returns\n"
     "  A list of execution records, in the order they happened.\n"
     DOC_EXECUTION_FIELDS},
    {"vmSendCmdSTGetLastExecutionInfo", "handle: int, target: Any, side: Any, position_effect: Any -> List[Any]",
     "VelmoroGetLastExecution_send",
     {"handle", "target", "side", "position_effect"}, Answer::Checked, "listExecutions", kNone,
     "The last executions of an account on a target.\n\n"
     "Parameters\n"
     "  handle: the account handle.\n"
     "  target: one target record.\n"
     DOC_TARGETS
     "  side: \"buy\" or \"sell\" (or 1, 2); empty or None means either side.\n"
     "  position_effect: \"open\" or \"close\"; empty or None means either.\n\n"
     "Returns\n"
     "  A list with the last matching execution, or an empty list.\n"
     DOC_EXECUTION_FIELDS},
    {"vmSendCmdGetStopOrderInfo", "account_handle: int, stop_order_id_s: Any -> List[Any]",
     "VelmoroGetStopOrderInfo3_1_4_send",
     {"account_handle", "stop_order_id_s"}, Answer::Checked, "listStopOrderInfo", kNone,
     "Stop orders of an account.\n\n"
     "Parameters\n"
     "  account_handle: the account handle.\n"
     "  stop_order_id_s: stop-order ids (a list, or one id); an empty list means\n"
     "      every stop order of the account.\n\n"
     "Returns\n"
     "  A list of stop-order records: stop_order_id, account_handle, strategy_name,\n"
     "  market, code, side, volume, stop_price, status (\"waiting\", \"triggered\",\n"
     "  \"rejected\", \"cancelled\"), order_id (of the order it placed; None until\n"
     "  triggered), create_date (YYYYMMDD), create_time (framework numeric time)."},
    {"vmSendCmdGetTradeAccountHandle", "name: str -> int",
     "VelmoroSTTRadeGetAccountHandle_send", {"name"}, Answer::Unchecked,
     "result", kNone,
     "The handle of the account with this name.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  name: the account's id (\"stock-main\" on the embedded terminal).\n\n"
     "Returns\n"
     "  The account's handle (an int); 0 when no account has that id."},
    {"vmSendCmdSTTradeGetAccountList", "-> Any", "VelmoroSTTradeGetAccountList_send", {}, Answer::Unchecked, "result",
     kNone,
     "The trading accounts of the terminal.\n\n"
     "Not status-checked. The command takes no parameters.\n\n"
     "Returns\n"
     "  A list of account records: Handle, AccountID, AccountType (\"stock\",\n"
     "  \"future\")."},
    {"vmSendCmdIsAccountValid", "handle: int -> bool",
     "VelmoroIsAccountValid_send", {"handle"}, Answer::Unchecked, "result",
     kNone,
     "Whether the handle names a usable account.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  handle: the account handle.\n\n"
     "Returns\n"
     "  True or False."},
    {"vmSendCmdGetAccountCash", "handles: Sequence[int] -> List[Any]",
     "VelmoroGetAccountCash_send", {"handles"}, Answer::Checked,
     "listAccountCash", kNone,
     "Cash records of the accounts.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n\n"
     "Returns\n"
     "  A list of cash records.\n"
     DOC_CASH_FIELDS},
    {"vmSendCmdGetAccountTargetGrossPosition", "handles: Sequence[int], targets: _Targets -> List[Any]",
     "VelmoroGetAccountTargetGrossPosition_send",
     {"handles", rq::targets("targets")}, Answer::Checked, "listGrossPosition", kNone,
     "Position records of the accounts on the targets.\n\n"
     "Parameters\n"
     "  handles: " DOC_HANDLES ".\n"
     "  targets: the securities; an empty list means every holding.\n"
     DOC_TARGETS "\n"
     "Returns\n"
     "  A list of position records.\n"
     DOC_POSITION_FIELDS},
    {"vmSendCmdGetAccountConfig", "strategyName: str, handle: int -> Any",
     "VelmoroGetAccountConfig_send", {"strategyName", "handle"},
     Answer::Unchecked, "result", kNone,
     "The strategy's configuration of an account.\n\n"
     "Not status-checked: an unknown handle gives the answer's status record (errLevel,\n"
     "errCode, errInfo) instead of a configuration.\n\n"
     "Parameters\n"
     "  strategyName: the strategy's name.\n"
     "  handle: the account handle.\n\n"
     "Returns\n"
     "  A configuration record: StrategyName, Handle and TargetConfigs (the records\n"
     "  vmSendCmdSetAccountConfigTo stored; empty when none were)."},
    {"vmSendCmdSetAccountConfigTo", "strategyName: str, handle: int, "
     "target_configs: Iterable[Mapping[str, Any]] -> None", "VelmoroSetAccountConfigTo_send",
     {"strategyName", "handle", rq::dotted_each("target_configs")}, Answer::Fire, nullptr, kNone,
     "Set the strategy's per-target configuration of an account.\n\n"
     "Parameters\n"
     "  strategyName: the strategy's name.\n"
     "  handle: the account handle.\n"
     "  target_configs: mappings, one per target, each sent as a record (the terminal\n"
     "      keeps them as given).\n\n"
     DOC_RETURNS_NOTHING},
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
    VM_FUNCTION(vmSendCmdGetAccountInfo, "handleList: Iterable[int] -> List[Any]",
                "Account records of the handles, each stamped with Handle64, in the order of handleList.\n\n"
                "One exchange with the terminal per handle; not status-checked.\n\n"
                "Parameters\n"
                "  handleList: account handles; an empty list sends nothing.\n\n"
                "Returns\n"
                "  A list of account records: Handle, AccountID, AccountType, Currency, Broker,\n"
                "  Status (\"normal\"; \"invalid\" with Handle alone for an unknown handle), and\n"
                "  Handle64, the handle asked with."),
    VM_FUNCTION(vmSendCmdSTGetAccountPosition, "Handle: int, Market: str, Code: str, "
                "LongShort: Any = None -> Tuple[Any, Any, Any]",
                "Position of one security in an account, as (Position, Frozen, AvgPrice).\n\n"
                "Not status-checked: an unknown handle, answered without a position, raises\n"
                "AttributeError.\n\n"
                "Parameters\n"
                "  Handle: the account handle.\n"
                "  Market: lower-case exchange code (\"sse\", \"szse\", ...).\n"
                "  Code: the security's code as text (\"600000\").\n"
                "  LongShort: \"long\" or \"short\"; None (the default) sends \"\" (the long side).\n\n"
                "Returns\n"
                "  A tuple (Position, Frozen, AvgPrice): the volume held, the volume frozen by\n"
                "  waiting sell orders, the average cost; (0, 0, 0.0) when nothing is held (the\n"
                "  embedded terminal holds no short positions)."),
    VM_FUNCTION(vmSendCmdGetAccountPositionAndCash, "handles: Sequence[int], "
                "targets: _Targets -> Tuple[List[Any], List[Any]]",
                "Cash and position records of the accounts, as (cash records, position records).\n\n"
                "Parameters\n"
                "  handles: " DOC_HANDLES ".\n"
                "  targets: the securities whose positions are wanted; an empty list means every\n"
                "      holding.\n"
                DOC_TARGETS "\n"
                "Returns\n"
                "  A tuple (cash records, position records).\n"
                DOC_CASH_FIELDS
                DOC_POSITION_FIELDS),
};

}  // namespace

void register_trading(vm::Module& m) {
    add_commands<kTrading>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
