"""Trading and account commands of the simulated terminal.

Accounts: ACCOUNTS (handle, account id, type, starting cash) are open on every
terminal; `book(term)` is a terminal's trading state. In every query an empty
list of handles means every account. Handles may come as any integer type.

Order requests (STTradeOperation) and stop-order requests (STTradeStopOrder)
are records whose accepted keys, values and meanings are the tables
ORDER_KEYS and STOP_ORDER_KEYS of validation.py; a record with an unknown or
missing key or a value the terminal does not know is refused. A sell stop
triggers when the price falls to StopPrice, a buy stop when it rises to it,
and then places a market order. Cancelling an order the account never placed
is refused.

Fill model: the price is the dataset's close of the last minute bar at or
before the clock (`term.now`). A market order fills at it at once; a limit
order fills at it when the limit allows (buy: price <= limit, sell: price >=
limit), else it waits, its cash or shares frozen, and is matched again on
every later trading command. Commission: COMMISSION_RATE of the amount, at
least COMMISSION_MIN. Shares bought on a trading date can be sold from the
next one. Rejected orders (unknown account or target, no price yet, bad
volume, short of cash or shares) answer at error level.

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
  filled_volume, avg_price, status ("pending", "filled", "cancelled"),
  order_date (YYYYMMDD), order_time (numeric time).
- execution (listExecutions): execution_id, order_id, account_handle,
  strategy_name, market, code, side, position_effect, price, volume, amount,
  commission, exec_date, exec_time.
- stop order (listStopOrderInfo): stop_order_id, account_handle,
  strategy_name, market, code, side, volume, stop_price, status ("waiting",
  "triggered", "rejected", "cancelled"), order_id (None until triggered),
  create_date, create_time.
- position of one security (sPositionData): Position, Frozen, AvgPrice.
"""
import collections
import itertools
import weakref

from velmoro.simterm.calendar import today
from velmoro.simterm.market import last_price, security
from velmoro.simterm.terminal import TerminalError, command, ok
from velmoro.tframe.comm.link import Answer
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["ACCOUNTS", "COMMISSION_RATE", "COMMISSION_MIN", "book", "Book", "cash_records"]

AccountSpec = collections.namedtuple("AccountSpec", "handle account_id account_type cash")
ACCOUNTS = (
    AccountSpec(1001, "stock-main", "stock", 1000000.0),
    AccountSpec(1002, "stock-hedge", "stock", 500000.0),
    AccountSpec(2001, "future-main", "future", 2000000.0),
)
COMMISSION_RATE = 0.0003
COMMISSION_MIN = 5.0
CURRENCY = "CNY"
SIDES = {"buy": "buy", "sell": "sell", 1: "buy", 2: "sell"}

UNKNOWN_ACCOUNT = 301
BAD_ORDER = 302
NO_PRICE = 303
SHORT_OF_CASH = 304
SHORT_OF_SHARES = 305
UNKNOWN_ORDER = 306


def _commission(amount):
    return max(amount * COMMISSION_RATE, COMMISSION_MIN)


class Holding:
    """Shares of one security in one account."""

    def __init__(self):
        self.volume = 0
        self.frozen = 0
        self.cost = 0.0
        self.bought = 0  # volume bought on bought_date, not yet sellable
        self.bought_date = 0

    def available(self, day):
        return self.volume - self.frozen - (self.bought if self.bought_date == day else 0)


class Account:
    def __init__(self, spec):
        self.handle = spec.handle
        self.account_id = spec.account_id
        self.account_type = spec.account_type
        self.cash = spec.cash
        self.frozen = 0.0
        self.holdings = {}  # (market, code) -> Holding
        self.configs = {}  # strategy name -> target configurations


class Book:
    """The trading state of one terminal."""

    def __init__(self):
        self.accounts = {spec.handle: Account(spec) for spec in ACCOUNTS}
        self.orders = []
        self.executions = []
        self.stop_orders = []
        self.reserved = {}  # order id -> cash frozen for it
        self._order_ids = itertools.count(1)
        self._execution_ids = itertools.count(1)
        self._stop_ids = itertools.count(1)

    def account(self, handle):
        try:
            return self.accounts[int(handle)]
        except (KeyError, TypeError, ValueError):
            raise TerminalError(UNKNOWN_ACCOUNT, "unknown account handle {!r}".format(handle)) from None

    def handles(self, handles):
        """The asked handles as integers; every account for an empty list."""
        return [int(h) for h in handles] or list(self.accounts)


_books = weakref.WeakKeyDictionary()


def book(term):
    """The trading state of a terminal, matched against its clock."""
    state = _books.get(term)
    if state is None:
        state = _books[term] = Book()
    _match(term, state)
    return state


def _clock(term):
    if term.now is not None:
        return term.now
    return float(term.data.minute_times(term.data.trading_days[-1])[-1])


def _last(term, market, code):
    return last_price(term, security(term, {"Market": market, "Code": code}))


def _price(term, market, code):
    price = _last(term, market, code)
    if price is None:
        raise TerminalError(NO_PRICE, "no price yet for {}.{}".format(market, code))
    return price


def _execute(term, state, order, price):
    account = state.account(order.account_handle)
    amount = price * order.volume
    commission = _commission(amount)
    holding = account.holdings.setdefault((order.market, order.code), Holding())
    day = today(term)
    if order.side == "buy":
        account.frozen -= state.reserved.pop(order.order_id, 0.0)
        account.cash -= amount + commission
        holding.cost = (holding.cost * holding.volume + amount) / (holding.volume + order.volume)
        holding.volume += order.volume
        holding.bought = (holding.bought if holding.bought_date == day else 0) + order.volume
        holding.bought_date = day
    else:
        account.cash += amount - commission
        holding.volume -= order.volume
        holding.frozen -= order.volume
        if holding.volume == 0:
            del account.holdings[(order.market, order.code)]
    order.update(filled_volume=order.volume, avg_price=price, status="filled")
    state.executions.append(DotDict(
        execution_id=next(state._execution_ids), order_id=order.order_id, account_handle=order.account_handle,
        strategy_name=order.strategy_name, market=order.market, code=order.code, side=order.side,
        position_effect=order.position_effect, price=price, volume=order.volume, amount=amount,
        commission=commission, exec_date=day, exec_time=_clock(term),
    ))


def _limit_allows(order, price):
    if order.order_type == "market":
        return True
    return price <= order.price if order.side == "buy" else price >= order.price


def _release(state, order):
    account = state.account(order.account_handle)
    if order.side == "buy":
        account.frozen -= state.reserved.pop(order.order_id, 0.0)
    else:
        account.holdings[(order.market, order.code)].frozen -= order.volume
    order.status = "cancelled"


def _match(term, state):
    """Fill the waiting orders the clock's prices allow; trigger stop orders."""
    for stop in state.stop_orders:
        if stop.status != "waiting":
            continue
        price = _last(term, stop.market, stop.code)
        if price is not None and (price <= stop.stop_price if stop.side == "sell" else price >= stop.stop_price):
            try:
                order = _place(term, state, stop.account_handle, stop.market, stop.code, stop.side, "market", 0.0,
                               stop.volume, "close" if stop.side == "sell" else "open", stop.strategy_name)
                stop.update(status="triggered", order_id=order.order_id)
            except TerminalError:
                stop.status = "rejected"
    for order in state.orders:
        if order.status == "pending":
            price = _last(term, order.market, order.code)
            if price is not None and _limit_allows(order, price):
                _execute(term, state, order, price)


def _place(term, state, handle, market, code, side, order_type, limit, volume, effect, strategy_name):
    account = state.account(handle)
    sec = security(term, {"Market": market, "Code": code})
    if side not in ("buy", "sell") or order_type not in ("market", "limit"):
        raise TerminalError(BAD_ORDER, "bad side {!r} or order type {!r}".format(side, order_type))
    if volume <= 0:
        raise TerminalError(BAD_ORDER, "bad Volume {!r}: a positive whole number of shares".format(volume))
    if order_type == "limit" and not limit > 0:
        raise TerminalError(BAD_ORDER, "a limit order needs Price, a positive number (got {!r})".format(limit))
    price = _price(term, sec.market, sec.code)
    holding = account.holdings.get((sec.market, sec.code))
    if side == "buy":
        reserve = (limit if order_type == "limit" else price) * volume
        reserve += _commission(reserve)
        if reserve > account.cash - account.frozen:
            raise TerminalError(SHORT_OF_CASH, "not enough cash in account {}".format(account.handle))
    elif holding is None or holding.available(today(term)) < volume:
        raise TerminalError(SHORT_OF_SHARES, "not enough sellable shares of {}".format(sec.key))
    order_id = next(state._order_ids)
    order = DotDict(
        order_id=order_id, client_id=order_id, account_handle=account.handle, strategy_name=strategy_name,
        market=sec.market, code=sec.code, side=side, position_effect=effect, order_type=order_type,
        price=limit if order_type == "limit" else 0.0, volume=volume, filled_volume=0, avg_price=0.0,
        status="pending", order_date=today(term), order_time=_clock(term),
    )
    if side == "buy":
        state.reserved[order_id] = reserve
        account.frozen += reserve
    else:
        holding.frozen += volume
    state.orders.append(order)
    if _limit_allows(order, price):
        _execute(term, state, order, price)
    return order


def _side(value):
    side = SIDES.get(value.lower() if isinstance(value, str) else value)
    if side is None:
        raise TerminalError(BAD_ORDER, "bad side {!r}".format(value))
    return side


@command("STTradeOperation")
def st_trade_operation(term, request):
    state = book(term)
    side = _side(request.get("Side"))
    limit = float(request.get("Price") or 0.0)
    order_type = str(request.get("OrderType") or ("limit" if limit else "market")).lower()
    effect = request.get("PositionEffect") or ("open" if side == "buy" else "close")
    order = _place(term, state, request.get("Handle"), request.get("Market"), request.get("Code"), side,
                   order_type, limit, int(request.get("Volume") or 0), effect, request.get("StrategyName", ""))
    return ok(ClientID=order.order_id)


@command("STTradeStopOrder")
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
        stop_order_id=next(state._stop_ids), account_handle=account.handle,
        strategy_name=request.get("StrategyName", ""), market=sec.market, code=sec.code,
        side=_side(request.get("Side")), volume=volume, stop_price=stop_price, status="waiting", order_id=None,
        create_date=today(term), create_time=_clock(term),
    )
    state.stop_orders.append(stop)
    _match(term, state)
    return ok(ClientID=stop.stop_order_id)


def _pending(state, handle, strategy_name=None):
    return [o for o in state.orders if o.status == "pending" and o.account_handle == int(handle)
            and (strategy_name is None or o.strategy_name == strategy_name)]


@command("CancelOrder")
def cancel_order(term, strategy_name, handle, order_id):
    """Cancel a waiting order; an order the account never placed is refused
    (the command reads no answer: the refusal shows in the terminal's record)."""
    state = book(term)
    for order in _pending(state, handle):
        if order.order_id == order_id:
            _release(state, order)
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
        _release(state, order)


@command("CloseOperation")
def close_operation(term, strategy_name, handle):
    """Cancel the strategy's waiting orders on the account and sell every
    sellable holding at the market; holdings without a price stay."""
    state = book(term)
    for order in _pending(state, handle, strategy_name):
        _release(state, order)
    account = state.account(handle)
    for (market, code), holding in list(account.holdings.items()):
        volume = holding.available(today(term))
        if volume > 0:
            try:
                _place(term, state, handle, market, code, "sell", "market", 0.0, volume, "close", strategy_name)
            except TerminalError:
                pass  # no price yet: nothing to sell against


def _dates(term, dates):
    return {int(d) for d in dates} or {today(term)}


def _ids(value):
    return {value} if isinstance(value, int) else set(value)


@command("GetOrderInfo")
def get_order_info(term, handles, order_ids):
    state = book(term)
    wanted, ids = state.handles(handles), _ids(order_ids)
    return ok(listOrders=[o for o in state.orders if o.account_handle in wanted and (not ids or o.order_id in ids)])


@command("GetUnFinishedOrderInfo")
def get_unfinished_order_info(term, handles, order_dates):
    state = book(term)
    wanted, days = state.handles(handles), {int(d) for d in order_dates}
    return ok(listOrders=[o for o in state.orders if o.status == "pending" and o.account_handle in wanted
                          and (not days or o.order_date in days)])


@command("GetOrderInfoByDate")
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


@command("GetDailyExecution")
def get_daily_execution(term, handles, dates):
    state = book(term)
    wanted, days = state.handles(handles), _dates(term, dates)
    return ok(listExecutions=[e for e in state.executions if e.account_handle in wanted and e.exec_date in days])


@command("GetLastExecution")
def get_last_execution(term, handle, target, side, position_effect):
    state = book(term)
    return ok(listExecutions=[e for e in state.executions if _matches(e, handle, target, side, position_effect)][-1:])


@command("GetStopOrderInfo3_1_4")
def get_stop_order_info(term, account_handle, stop_order_ids):
    state = book(term)
    ids = _ids(stop_order_ids)
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
    price = _last(term, market, code)
    return price if price is not None else holding.cost


def _positions(term, state, handles, targets):
    wanted = {(str(t["Market"]).lower(), str(t["Code"]).upper()) for t in targets}
    day = today(term)
    records = []
    for handle in state.handles(handles):
        for (market, code), h in state.account(handle).holdings.items():
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
