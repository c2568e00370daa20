"""Trading and account commands of the simulated terminal.

Accounts: ACCOUNTS (handle, account id, type, starting cash) are open on every
terminal; `book(term)` is a terminal's trading state (book.py). In every query an empty
list of handles means every account. Handles may come as any integer type.

Order requests (STTradeOperation) and stop-order requests (STTradeStopOrder)
are records whose accepted keys, values and meanings are the tables
ORDER_KEYS and STOP_ORDER_KEYS of validation.py; a record with an unknown or
missing key or a value the terminal does not know is refused. A sell stop
triggers when the price falls to StopPrice, a buy stop when it rises to it,
and then places a market order. Cancelling an order the account never placed
is refused.

How orders fill, and the refusals that name the order and the rule: book.py.

Records (DotDicts, read by attribute or item):

- account information (STGetAccountInfo): Handle, AccountID, AccountType,
  Currency, Broker, Status ("normal", or "invalid" for an unknown handle).
- cash (listAccountCash, one per asked handle, in order): account_handle,
  account_id, currency, balance (cash including frozen), available, frozen,
  market_value, total_asset, position_profit.
- position (listGrossPosition, per account and security held):
  account_handle, market, code, long_short ("long"), position, available,
  frozen, today_position, avg_price, last_price, market_value,
  position_profit.
- order (listOrders): order_id (= the ClientID answered at placement),
  client_id, account_handle, strategy_name, market, code, side,
  position_effect, order_type, price (limit, 0 for market), volume,
  filled_volume, avg_price (of the fills), status ("pending": nothing
  filled yet, "partial": part filled and the rest working, "filled",
  "cancelled": the rest cancelled, filled_volume says how much had filled),
  order_date (YYYYMMDD), order_time (numeric time).
- execution (listExecutions, one per fill): execution_id, order_id,
  account_handle, strategy_name, market, code, side, position_effect, price,
  volume, amount, commission, stamp_duty, transfer_fee, fees (their sum),
  exec_date (the bar's trading date), exec_time (the bar's time).
- stop order (listStopOrderInfo): stop_order_id, account_handle,
  strategy_name, market, code, side, volume, stop_price, status ("waiting",
  "triggered", "rejected", "cancelled"), order_id (None until triggered),
  create_date, create_time.
- position of one security (sPositionData): Position, Frozen, AvgPrice.
"""
from velmoro.protocol import BAD_ORDER, UNKNOWN_ORDER, Answer
from velmoro.simterm.book import ACCOUNTS, book, clock, last, match, place, release
from velmoro.simterm.calendar import today
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.simterm.market import security
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["cash_records"]

CURRENCY = "CNY"
SIDES = {"buy": "buy", "sell": "sell", 1: "buy", 2: "sell"}


def _side(value):
    side = SIDES.get(value.lower() if isinstance(value, str) else value)
    if side is None:
        raise TerminalError(BAD_ORDER, "bad side {!r}".format(value))
    return side


@command("STTradeOperation", checks=[("params", 0, "order_record")])
def st_trade_operation(term, request):
    state = book(term)
    side = _side(request.get("Side"))
    limit = float(request.get("Price") or 0.0)
    order_type = str(request.get("OrderType") or ("limit" if limit else "market")).lower()
    effect = request.get("PositionEffect") or ("open" if side == "buy" else "close")
    order = place(term, state, request.get("Handle"), request.get("Market"), request.get("Code"), side,
                   order_type, limit, int(request.get("Volume") or 0), effect, request.get("StrategyName", ""))
    return ok(ClientID=order.order_id)


@command("STTradeStopOrder", checks=[("params", 0, "stop_order_record")])
def st_trade_stop_order(term, request):
    state = book(term)
    account = state.account(request.get("Handle"))
    sec = security(term, {"Market": request.get("Market"), "Code": request.get("Code")})
    volume, stop_price = int(request.get("Volume") or 0), float(request.get("StopPrice") or 0.0)
    if volume <= 0:
        raise TerminalError(BAD_ORDER, "bad Volume {!r}: a positive whole number of shares".format(volume))
    if stop_price <= 0:
        raise TerminalError(BAD_ORDER, "a stop order needs StopPrice, a positive number (got {!r})".format(stop_price))
    stop = DotDict(
        stop_order_id=next(state.stop_ids), account_handle=account.handle,
        strategy_name=request.get("StrategyName", ""), market=sec.market, code=sec.code,
        side=_side(request.get("Side")), volume=volume, stop_price=stop_price, status="waiting", order_id=None,
        create_date=today(term), create_time=clock(term),
    )
    state.stop_orders.append(stop)
    match(term, state)
    return ok(ClientID=stop.stop_order_id)


def _pending(state, handle, strategy_name=None):
    return [o for o in state.orders if o.order_id in state.working and o.account_handle == int(handle)
            and (strategy_name is None or o.strategy_name == strategy_name)]


@command("CancelOrder")
def cancel_order(term, strategy_name, handle, order_id):
    """Cancel a waiting order; an order the account never placed is refused
    (the command reads no answer: the refusal shows in the terminal's record)."""
    state = book(term)
    for order in _pending(state, handle):
        if order.order_id == order_id:
            release(state, order)
    if not any(o.order_id == order_id and o.account_handle == int(handle) for o in state.orders):
        return ok(1, UNKNOWN_ORDER, "CancelOrder: account {} has no order {!r}".format(handle, order_id))
    return None


@command("CancelStopOrder")
def cancel_stop_order(term, strategy_name, handle, stop_order_id):
    state = book(term)
    for stop in state.stop_orders:
        if stop.stop_order_id == stop_order_id and stop.account_handle == int(handle) and stop.status == "waiting":
            stop.status = "cancelled"
            return ok(bResult=True)
    if not any(s.stop_order_id == stop_order_id and s.account_handle == int(handle) for s in state.stop_orders):
        return ok(1, UNKNOWN_ORDER, "CancelStopOrder: account {} has no stop order {!r}".format(handle, stop_order_id),
                  bResult=False)
    return ok(bResult=False)


@command("CancelFrozen")
def cancel_frozen(term, handle):
    """Cancel every waiting order of the account, releasing what it froze."""
    state = book(term)
    for order in _pending(state, handle):
        release(state, order)


def _run_sellable(holding, start, day):
    """What of a holding a run that began with `start` (volume, bought,
    bought_date; None for nothing held) added and can sell on `day`: its
    own shares bought that day wait for the next."""
    volume, bought, bought_date = start or (0, 0, 0)
    bought_today = holding.bought if holding.bought_date == day else 0
    if bought_date == holding.bought_date == day:
        bought_today -= bought
    return min(holding.available(day), holding.volume - volume - bought_today)


@command("CloseOperation")
def close_operation(term, strategy_name, handle):
    """Cancel the strategy's waiting orders on the account and sell at the
    market what its latest run added to each holding (every sellable share
    when it has no run here): the book the run began with stays. A holding
    the market cannot take now (no price or bar, locked at its lower limit)
    stays."""
    state = book(term)
    for order in _pending(state, handle, strategy_name):
        release(state, order)
    account = state.account(handle)
    starting = state.starting.get((strategy_name, account.handle), {})
    for (market, code), holding in list(account.holdings.items()):
        volume = _run_sellable(holding, starting.get((market, code)), today(term))
        if volume > 0:
            try:
                place(term, state, handle, market, code, "sell", "market", 0.0, volume, "close", strategy_name)
            except TerminalError:
                pass  # nothing to sell against now: the holding stays, as the docstring says


def _dates(term, dates):
    return {int(d) for d in dates} or {today(term)}


def _ids(value):
    return {value} if isinstance(value, int) else set(value)


@command("GetOrderInfo")
def get_order_info(term, handles, order_ids):
    state = book(term)
    wanted, ids = state.handles(handles), _ids(order_ids)
    return ok(listOrders=[o for o in state.orders if o.account_handle in wanted and (not ids or o.order_id in ids)])


@command("GetUnFinishedOrderInfo", checks=[("order_dates", 1, "date_list")])
def get_unfinished_order_info(term, handles, order_dates):
    state = book(term)
    wanted, days = state.handles(handles), {int(d) for d in order_dates}
    return ok(listOrders=[o for o in state.orders if o.order_id in state.working and o.account_handle in wanted
                          and (not days or o.order_date in days)])


@command("GetOrderInfoByDate", checks=[("order_dates", 1, "date_list")])
def get_order_info_by_date(term, handles, order_dates):
    """Orders of the dates (of today for none)."""
    state = book(term)
    wanted, days = state.handles(handles), _dates(term, order_dates)
    return ok(listOrders=[o for o in state.orders if o.account_handle in wanted and o.order_date in days])


def _targets(targets):
    return [targets] if hasattr(targets, "keys") else list(targets)


def _matches(record, handle, target, side, effect):
    return (record.account_handle == int(handle) and record.market == str(target["Market"]).lower()
            and record.code == str(target["Code"]).upper() and (not side or record.side == _side(side))
            and (not effect or record.position_effect == effect))


@command("GetLastOrderInfo")
def get_last_order_info(term, handle, targets, order_side, position_effect):
    """The last order of the account on each target (any side or effect for a falsy one)."""
    state = book(term)
    found = []
    for target in _targets(targets):
        last = [o for o in state.orders if _matches(o, handle, target, order_side, position_effect)][-1:]
        found.extend(last)
    return ok(listOrders=found)


@command("GetDailyExecution", checks=[("dates", 1, "date_list")])
def get_daily_execution(term, handles, dates):
    state = book(term)
    wanted, days = state.handles(handles), _dates(term, dates)
    return ok(listExecutions=[e for e in state.executions if e.account_handle in wanted and e.exec_date in days])


@command("GetLastExecution")
def get_last_execution(term, handle, target, side, position_effect):
    state = book(term)
    return ok(listExecutions=[e for e in state.executions if _matches(e, handle, target, side, position_effect)][-1:])


@command("GetStopOrderInfo3_1_4")
def get_stop_order_info(term, account_handle, stoporder_ids):
    state = book(term)
    ids = _ids(stoporder_ids)
    return ok(listStopOrderInfo=[s for s in state.stop_orders if s.account_handle == int(account_handle)
                                 and (not ids or s.stop_order_id in ids)])


@command("STTRadeGetAccountHandle")
def get_account_handle(term, name):
    """The handle of the account with this id; 0 for an unknown one."""
    return Answer(result=next((spec.handle for spec in ACCOUNTS if spec.account_id == name), 0))


@command("STGetAccountInfo")
def get_account_info(term, handle):
    state = book(term)
    account = state.accounts.get(int(handle))
    if account is None:
        return Answer(result=DotDict(Handle=handle, Status="invalid"))
    return Answer(result=DotDict(Handle=account.handle, AccountID=account.account_id, AccountType=account.account_type,
                                 Currency=CURRENCY, Broker="simulated", Status="normal"))


@command("STTradeGetAccountList")
def get_account_list(term):
    return Answer(result=[
        DotDict(Handle=s.handle, AccountID=s.account_id, AccountType=s.account_type) for s in ACCOUNTS
    ])


@command("IsAccountValid")
def is_account_valid(term, handle):
    return Answer(result=int(handle) in book(term).accounts)


def _value(term, market, code, holding):
    price = last(term, market, code)
    return price if price is not None else holding.cost


def _positions(term, state, handles, targets):
    wanted = {(str(t["Market"]).lower(), str(t["Code"]).upper()) for t in targets}
    held = [(handle, state.account(handle).holdings) for handle in state.handles(handles)]
    if not any(holdings for _, holdings in held):
        return []  # asked at every bar, mostly of accounts that hold nothing
    day = today(term)
    records = []
    for handle, holdings in held:
        for (market, code), h in holdings.items():
            if wanted and (market, code) not in wanted:
                continue
            price = _value(term, market, code, h)
            records.append(DotDict(
                account_handle=handle, market=market, code=code, long_short="long", position=h.volume,
                available=h.available(day), frozen=h.frozen, today_position=h.bought if h.bought_date == day else 0,
                avg_price=h.cost, last_price=price, market_value=price * h.volume,
                position_profit=(price - h.cost) * h.volume,
            ))
    return records


def cash_records(term, state, handles):
    """Cash records of the handles (every account for none)."""
    records = []
    for handle in state.handles(handles):
        account = state.account(handle)
        positions = _positions(term, state, [handle], [])
        market_value = sum(p.market_value for p in positions)
        records.append(DotDict(
            account_handle=handle, account_id=account.account_id, currency=CURRENCY, balance=account.cash,
            available=account.cash - account.frozen, frozen=account.frozen, market_value=market_value,
            total_asset=account.cash + market_value, position_profit=sum(p.position_profit for p in positions),
        ))
    return records


@command("STGetAccountPosition")
def get_account_position(term, request):
    """Long holdings only: a "short" request answers zeros."""
    state = book(term)
    holding = state.account(request.Handle).holdings.get((str(request.Market).lower(), str(request.Code).upper()))
    if holding is None or str(request.LongShort).lower() == "short":
        return ok(sPositionData=DotDict(Position=0, Frozen=0, AvgPrice=0.0))
    return ok(sPositionData=DotDict(Position=holding.volume, Frozen=holding.frozen, AvgPrice=holding.cost))


@command("GetAccountCash")
def get_account_cash(term, handles):
    return ok(listAccountCash=cash_records(term, book(term), handles))


@command("GetAccountTargetGrossPosition")
def get_account_target_gross_position(term, handles, targets):
    return ok(listGrossPosition=_positions(term, book(term), handles, targets))


@command("GetAccountPositionAndCashInfo")
def get_account_position_and_cash(term, handles, targets):
    state = book(term)
    return ok(
        listAccountCash=cash_records(term, state, handles), listGrossPosition=_positions(term, state, handles, targets)
    )


@command("GetAccountConfig")
def get_account_config(term, strategy_name, handle):
    account = book(term).account(handle)
    return Answer(result=DotDict(StrategyName=strategy_name, Handle=account.handle,
                                 TargetConfigs=list(account.configs.get(strategy_name, []))))


@command("SetAccountConfigTo")
def set_account_config_to(term, strategy_name, handle, target_configs):
    book(term).account(handle).configs[strategy_name] = list(target_configs)
