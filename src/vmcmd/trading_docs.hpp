// Docstrings of the trading and account commands.
#pragma once

#include "doc_parts.hpp"

namespace vmcmd::doc {

constexpr char vmSendCmdSTTradeOperation[] =
    "Place an order; returns its client id.\n\n"
    "Parameters\n"
    "  params: the order record, a mapping with these keys:\n"
    DOC_ORDER_KEYS "\n"
    "Returns\n"
    "  The new order's client id (an int): the order_id of its order records. A\n"
    "  rejected order (unknown or missing key, unknown account or target, bad side,\n"
    "  type or volume, no price yet, short of cash or shares) raises VmReturnError\n"
    "  naming the reason.";

constexpr char vmSendCmdSTTradeStopOrder[] =
    "Place a stop order; returns its client id.\n\n"
    "Parameters\n"
    "  params: the stop-order record, a mapping with these keys:\n"
    DOC_STOP_ORDER_KEYS "\n"
    "Returns\n"
    "  The stop order's id (an int): the stop_order_id of vmSendCmdGetStopOrderInfo's\n"
    "  records. A rejected stop order raises VmReturnError naming the reason.";

constexpr char vmSendCmdCancelOrder[] =
    "Cancel an order.\n\n"
    "Parameters\n"
    "  strategyName: the strategy that placed it.\n"
    "  handle: the account handle.\n"
    "  orderID: the order's client id, as placing it returned.\n\n"
    DOC_RETURNS_NOTHING
    "  An order that already filled, or that the terminal does not know, stays as\n"
    "  it is; read its status with vmSendCmdSTOrderInfo.";

constexpr char vmSendCmdCancelStopOrder[] =
    "Cancel a stop order; returns whether the terminal cancelled it.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  strategyName: the strategy that placed it.\n"
    "  handle: the account handle.\n"
    "  orderID: the stop order's id, as placing it returned.\n\n"
    "Returns\n"
    "  True when a waiting stop order was cancelled; False when there was none with\n"
    "  that id in the account (unknown, triggered or cancelled already).";

constexpr char vmSendCmdCancelFrozen[] =
    "Release the frozen amounts of an account.\n\n"
    "Every waiting order of the account is cancelled, which frees the cash or shares\n"
    "it froze.\n\n"
    "Parameters\n"
    "  Handle: the account handle.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdCloseOperation[] =
    "Close the strategy's operation on an account.\n\n"
    "The strategy's waiting orders on the account are cancelled and every sellable\n"
    "holding is sold at the market (holdings without a price yet stay).\n\n"
    "Parameters\n"
    "  strategy_name: the strategy's name.\n"
    "  i64Handle: the account handle (sent as numpy int64).\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdSTOrderInfo[] =
    "Orders of the accounts with the given ids.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  order_ids: client ids (a list, or one id); an empty list means every order.\n\n"
    "Returns\n"
    "  A list of order records, in the order they were placed.\n"
    DOC_ORDER_FIELDS;

constexpr char vmSendCmdSTUnFinishedOrderInfo[] =
    "Unfinished orders of the accounts.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  order_dates: trading days (YYYYMMDD) the orders were placed on; an empty\n"
    "      list means any day.\n\n"
    "Returns\n"
    "  A list of the orders still pending, in the order they were placed.\n"
    DOC_ORDER_FIELDS;

constexpr char vmSendCmdSTGetOrderInfoByDate[] =
    "Orders of the accounts on the given dates (all of today for none).\n\n"
    "Errors and warnings name the command vmSendCmdSTDailyOrderInfo.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  order_dates: trading days (YYYYMMDD) the orders were placed on; an empty\n"
    "      list means the current trading day.\n\n"
    "Returns\n"
    "  A list of order records, in the order they were placed.\n"
    DOC_ORDER_FIELDS;

constexpr char vmSendCmdSTGetLastOrderInfo[] =
    "The last orders of an account on the targets.\n\n"
    "Parameters\n"
    "  handle: the account handle.\n"
    "  targets: one target record or a list of them.\n"
    DOC_TARGETS
    "  order_side: \"buy\" or \"sell\" (or 1, 2); empty or None means either side.\n"
    "  position_effect: \"open\" or \"close\"; empty or None means either.\n\n"
    "Returns\n"
    "  A list with the last matching order of each target that has one.\n"
    DOC_ORDER_FIELDS;

constexpr char vmSendCmdSTGetExecutionInfo[] =
    "Executions of the accounts on the given dates.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  dates: trading days (YYYYMMDD); an empty list means the current trading day.\n\n"
    "Returns\n"
    "  A list of execution records, in the order they happened.\n"
    DOC_EXECUTION_FIELDS;

constexpr char vmSendCmdSTGetLastExecutionInfo[] =
    "The last executions of an account on a target.\n\n"
    "Parameters\n"
    "  handle: the account handle.\n"
    "  target: one target record.\n"
    DOC_TARGETS
    "  side: \"buy\" or \"sell\" (or 1, 2); empty or None means either side.\n"
    "  position_effect: \"open\" or \"close\"; empty or None means either.\n\n"
    "Returns\n"
    "  A list with the last matching execution, or an empty list.\n"
    DOC_EXECUTION_FIELDS;

constexpr char vmSendCmdGetStopOrderInfo[] =
    "Stop orders of an account.\n\n"
    "Parameters\n"
    "  account_handle: the account handle.\n"
    "  stop_order_id_s: stop-order ids (a list, or one id); an empty list means\n"
    "      every stop order of the account.\n\n"
    "Returns\n"
    "  A list of stop-order records: stop_order_id, account_handle, strategy_name,\n"
    "  market, code, side, volume, stop_price, status (\"waiting\", \"triggered\",\n"
    "  \"rejected\", \"cancelled\"), order_id (of the order it placed; None until\n"
    "  triggered), create_date (YYYYMMDD), create_time (framework numeric time).";

constexpr char vmSendCmdGetTradeAccountHandle[] =
    "The handle of the account with this name.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  name: the account's id (\"stock-main\" on the embedded terminal).\n\n"
    "Returns\n"
    "  The account's handle (an int); 0 when no account has that id.";

constexpr char vmSendCmdSTTradeGetAccountList[] =
    "The trading accounts of the terminal.\n\n"
    "Not status-checked. The command takes no parameters.\n\n"
    "Returns\n"
    "  A list of account records: Handle, AccountID, AccountType (\"stock\",\n"
    "  \"future\").";

constexpr char vmSendCmdIsAccountValid[] =
    "Whether the handle names a usable account.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  handle: the account handle.\n\n"
    "Returns\n"
    "  True or False.";

constexpr char vmSendCmdGetAccountCash[] =
    "Cash records of the accounts.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n\n"
    "Returns\n"
    "  A list of cash records.\n"
    DOC_CASH_FIELDS;

constexpr char vmSendCmdGetAccountTargetGrossPosition[] =
    "Position records of the accounts on the targets.\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  targets: the securities; an empty list means every holding.\n"
    DOC_TARGETS "\n"
    "Returns\n"
    "  A list of position records.\n"
    DOC_POSITION_FIELDS;

constexpr char vmSendCmdGetAccountConfig[] =
    "The strategy's configuration of an account.\n\n"
    "Not status-checked: an unknown handle gives the answer's status record (errLevel,\n"
    "errCode, errInfo) instead of a configuration.\n\n"
    "Parameters\n"
    "  strategyName: the strategy's name.\n"
    "  handle: the account handle.\n\n"
    "Returns\n"
    "  A configuration record: StrategyName, Handle and TargetConfigs (the records\n"
    "  vmSendCmdSetAccountConfigTo stored; empty when none were).";

constexpr char vmSendCmdSetAccountConfigTo[] =
    "Set the strategy's per-target configuration of an account.\n\n"
    "Parameters\n"
    "  strategyName: the strategy's name.\n"
    "  handle: the account handle.\n"
    "  target_configs: mappings, one per target, each sent as a record (the terminal\n"
    "      keeps them as given).\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdGetAccountInfo[] =
    "Account records of the handles, each stamped with Handle64, in the order of handleList.\n\n"
    "One exchange with the terminal per handle; not status-checked.\n\n"
    "Parameters\n"
    "  handleList: account handles; an empty list sends nothing.\n\n"
    "Returns\n"
    "  A list of account records: Handle, AccountID, AccountType, Currency, Broker,\n"
    "  Status (\"normal\"; \"invalid\" with Handle alone for an unknown handle), and\n"
    "  Handle64, the handle asked with.";

constexpr char vmSendCmdSTGetAccountPosition[] =
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
    "  embedded terminal holds no short positions).";

constexpr char vmSendCmdGetAccountPositionAndCash[] =
    "Cash and position records of the accounts, as (cash records, position records).\n\n"
    "Parameters\n"
    "  handles: " DOC_HANDLES ".\n"
    "  targets: the securities whose positions are wanted; an empty list means every\n"
    "      holding.\n"
    DOC_TARGETS "\n"
    "Returns\n"
    "  A tuple (cash records, position records).\n"
    DOC_CASH_FIELDS
    DOC_POSITION_FIELDS;

}  // namespace vmcmd::doc
