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

Fill model (the terminal's `rules`, rules.py; the bars, matching.py): an
order fills at the closes of the minute bars from the clock's minute on,
each bar for at most a share of its volume, so a large order fills in parts
over several bars. A market order takes what the clock's minute bar gives
and the rest is cancelled; a market order that bar cannot fill at all (no
bar: the security is halted or the session has not begun; a bar locked at
the limit against it; no volume left) is refused. A limit order fills on
each bar its limit allows and waits, its cash or shares frozen, for the
bars of later trading commands (of later days too) until filled or
cancelled. Each fill pays commission (minimum per order), stamp duty (sells)
and transfer fee, and cash moves by exactly the amount plus or minus them.
Shares bought on a trading date can be sold from the next one. Refused
orders (unknown account or target, no price yet, a volume off the lot, a
limit price outside the day's price limits, nothing to fill, short of cash
or shares) answer at error level, the text naming the order and the rule:
"a buy of 150 shares of sse.600000: volume must be a multiple of 100".

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
import bisect
import collections
import decimal
import itertools
import weakref

import numpy as np

from velmoro.simterm.calendar import today, weekdays
from velmoro.simterm.market import last_price, security
from velmoro.simterm.matching import BarUse, fills, locked
from velmoro.simterm.instruments import board
from velmoro.simterm.rules import cents, fees, lot_problem, price_band
from velmoro.simterm.terminal import TerminalError, command, ok
from velmoro.tframe.comm.link import Answer
from velmoro.tframe.utils.datetimefunc import mft_to_datetime
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["ACCOUNTS", "book", "Book", "cash_records"]

AccountSpec = collections.namedtuple("AccountSpec", "handle account_id account_type cash")
ACCOUNTS = (
    AccountSpec(1001, "stock-main", "stock", 1000000.0),
    AccountSpec(1002, "stock-hedge", "stock", 500000.0),
    AccountSpec(2001, "future-main", "future", 2000000.0),
)
CURRENCY = "CNY"
SIDES = {"buy": "buy", "sell": "sell", 1: "buy", 2: "sell"}
_BAR_FIELDS = ("Time", "High", "Low", "Close", "Volume")
_BEFORE = 1e-6  # of a day: less than a minute, so a bar's own time is after it

UNKNOWN_ACCOUNT = 301
BAD_ORDER = 302
NO_PRICE = 303
SHORT_OF_CASH = 304
SHORT_OF_SHARES = 305
UNKNOWN_ORDER = 306
BAD_LOT = 307
BEYOND_LIMIT = 308
NO_BAR = 309
NOTHING_TO_FILL = 310


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


class Working:
    """What the terminal keeps of an order still working: the cash it froze
    (a buy), the last bar it saw and the amount it traded so far."""

    def __init__(self, order, reserve, day, seen):
        self.order = order
        self.reserve = reserve
        self.day = day
        self.seen = seen
        self.traded = decimal.Decimal(0)


class Book:
    """The trading state of one terminal."""

    def __init__(self):
        self.accounts = {spec.handle: Account(spec) for spec in ACCOUNTS}
        self.orders = []
        self.executions = []
        self.stop_orders = []
        self.working = {}  # order id -> Working, in the order placed
        self.use = BarUse()
        self.bands = {}  # (security key, day) -> price limits or None
        self.minutes = {}  # day -> the session's minute times
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


def _moment(term, state):
    """(trading day, time) of the session minute the clock is in; None
    before the day's first minute."""
    day = today(term)
    if day not in state.minutes:
        state.minutes[day] = term.data.minute_times(day)
    times = state.minutes[day]
    times = times[times <= _clock(term)]
    return (day, float(times[-1])) if times.size else None


def _minute(time):
    return mft_to_datetime(time).strftime("%Y-%m-%d %H:%M")


def _last(term, market, code):
    return last_price(term, security(term, {"Market": market, "Code": code}))


def _board(term, sec):
    return term.rules.boards[board(sec.code)]


def _window(term, sec, day, after, until):
    """The security's minute bars of a day stamped after `after` up to
    `until`; none on a halted day."""
    if term.facts.is_halted(sec.key, day):
        return {k: np.zeros(0) for k in _BAR_FIELDS}
    bars = term.data.bars(sec, "min", day, day)
    keep = (bars["Time"] > after) & (bars["Time"] <= until)
    return {k: bars[k][keep] for k in _BAR_FIELDS}


def _previous_close(term, sec, day):
    """The close of the security's last traded day before `day`, or None."""
    days = term.data.trading_days
    earlier = days[:bisect.bisect_left(days, day)]
    if not earlier:
        return None
    bars = term.data.bars(sec, "day", earlier[0], earlier[-1])
    halted = [term.data.day_time(d) for d in term.facts.halted.get(sec.key, ()) if d < day]
    close = bars["Close"][~np.isin(bars["Time"], halted)]
    return float(close[-1]) if close.size else None


def _band(term, state, sec, day):
    """(lower, upper) limit prices of the security on a day, or None."""
    key = (sec.key, day)
    if key not in state.bands:
        listed = term.facts.listing_date(sec.key)
        listed_days = len(weekdays(listed, day)) if listed is not None and listed <= day else None
        state.bands[key] = price_band(_board(term, sec), day, _previous_close(term, sec, day),
                                      term.facts.is_special(sec.key, day), listed_days)
    return state.bands[key]


def _fills(term, state, sec, side, limit, remaining, day, window):
    board_rules = _board(term, sec)
    return fills(window, side, limit, remaining, board_rules.step.on(day), term.rules.volume_share.on(day),
                 _band(term, state, sec, day), state.use.taken(sec.key, window["Time"]))


def _fill(term, state, work, day, time, price, volume):
    """Book one fill of a working order: cash moves by the amount and its fees."""
    order = work.order
    account = state.account(order.account_handle)
    amount = cents(decimal.Decimal(repr(price)) * volume)
    fee = fees(term.rules, day, order.side, amount, work.traded)
    work.traded += amount
    remaining = order.volume - order.filled_volume
    holding = account.holdings.setdefault((order.market, order.code), Holding())
    if order.side == "buy":
        release = work.reserve if volume == remaining else cents(work.reserve * volume / remaining)
        work.reserve -= release
        account.frozen = round(account.frozen - float(release), 2)
        account.cash = round(account.cash - float(amount + fee.total), 2)
        holding.cost = (holding.cost * holding.volume + float(amount)) / (holding.volume + volume)
        holding.volume += volume
        holding.bought = (holding.bought if holding.bought_date == day else 0) + volume
        holding.bought_date = day
    else:
        account.cash = round(account.cash + float(amount - fee.total), 2)
        holding.volume -= volume
        holding.frozen -= volume
        if holding.volume == 0:
            del account.holdings[(order.market, order.code)]
    filled = order.filled_volume + volume
    order.update(filled_volume=filled, avg_price=float(work.traded) / filled,
                 status="filled" if filled == order.volume else "partial")
    if filled == order.volume:
        del state.working[order.order_id]
    state.executions.append(DotDict(
        execution_id=next(state._execution_ids), order_id=order.order_id, account_handle=order.account_handle,
        strategy_name=order.strategy_name, market=order.market, code=order.code, side=order.side,
        position_effect=order.position_effect, price=price, volume=volume, amount=float(amount),
        commission=float(fee.commission), stamp_duty=float(fee.stamp_duty), transfer_fee=float(fee.transfer_fee),
        fees=float(fee.total), exec_date=day, exec_time=time,
    ))


def _advance(term, state, work, moment):
    """Fill a working order from the bars after the last it saw up to `moment`."""
    order = work.order
    sec = security(term, {"Market": order.market, "Code": order.code})
    limit = order.price if order.order_type == "limit" else None
    days = term.data.trading_days
    for day in days[bisect.bisect_left(days, work.day):bisect.bisect_right(days, moment[0])]:
        if order.order_id not in state.working:
            break
        window = _window(term, sec, day, work.seen, moment[1])
        hit, volumes = _fills(term, state, sec, order.side, limit, order.volume - order.filled_volume, day, window)
        state.use.take(sec.key, window["Time"][hit], volumes)
        for at, volume in zip(hit, volumes):
            _fill(term, state, work, day, float(window["Time"][at]), float(window["Close"][at]), int(volume))
    work.day, work.seen = moment


def _release(state, order):
    """Cancel what is left of a working order, releasing what it froze."""
    work = state.working.pop(order.order_id)
    account = state.account(order.account_handle)
    if order.side == "buy":
        account.frozen = round(account.frozen - float(work.reserve), 2)
    else:
        account.holdings[(order.market, order.code)].frozen -= order.volume - order.filled_volume
    order.status = "cancelled"


def _match(term, state):
    """Fill the working orders from the bars up to the clock; trigger stop orders."""
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
    moment = _moment(term, state)
    if moment is None:
        return
    for work in list(state.working.values()):
        if work.seen < moment[1]:
            _advance(term, state, work, moment)
    state.use.forget_before(moment[1])


def _market_problem(term, state, sec, side, volume, moment):
    """(code, text): why a market order cannot fill at the clock's minute; None when it can."""
    name = "{}.{}".format(sec.market, sec.code)
    if moment is None:
        return NO_BAR, "no bar of {} yet today: a market order cannot fill, a limit order waits".format(name)
    day, time = moment
    window = _window(term, sec, day, time - _BEFORE, time)
    if not window["Time"].size:
        return NO_BAR, "no bar of {} at {} (halted): a market order cannot fill, a limit order waits".format(
            name, _minute(time))
    if _fills(term, state, sec, side, None, volume, day, window)[0].size:
        return None
    band = _band(term, state, sec, day)
    if locked(window["High"], window["Low"], side, band).any():
        edge = "upper" if side == "buy" else "lower"
        return NOTHING_TO_FILL, "the bar at {} is locked at the {} limit {:.2f}".format(
            _minute(time), edge, band[side == "buy"])
    return NOTHING_TO_FILL, "the bar at {} has no volume left for it".format(_minute(time))


def _place(term, state, handle, market, code, side, order_type, limit, volume, effect, strategy_name):
    account = state.account(handle)
    sec = security(term, {"Market": market, "Code": code})
    if side not in ("buy", "sell") or order_type not in ("market", "limit"):
        raise TerminalError(BAD_ORDER, "bad side {!r} or order type {!r}".format(side, order_type))
    if volume <= 0 or (order_type == "limit" and not limit > 0):
        raise TerminalError(BAD_ORDER, "bad volume {!r} or limit price {!r}".format(volume, limit))
    if _last(term, sec.market, sec.code) is None:
        raise TerminalError(NO_PRICE, "no price yet for {}.{}".format(sec.market, sec.code))
    day, moment = today(term), _moment(term, state)
    what = "a {} of {} shares of {}.{}".format(side, volume, sec.market, sec.code)
    holding = account.holdings.get((sec.market, sec.code))
    problem = lot_problem(_board(term, sec), day, side, volume, holding.volume - holding.frozen if holding else 0)
    if problem:
        raise TerminalError(BAD_LOT, "{}: {}".format(what, problem))
    band = _band(term, state, sec, day)
    if order_type == "limit" and band is not None and not band[0] <= limit <= band[1]:
        raise TerminalError(BEYOND_LIMIT, "{} at {:.2f}: the price is outside the limits {:.2f} to {:.2f} of {}".format(
            what, limit, band[0], band[1], day))
    reserve = decimal.Decimal(0)
    if side == "buy":
        price = limit if order_type == "limit" else _last(term, sec.market, sec.code)
        amount = cents(decimal.Decimal(repr(price)) * volume)
        reserve = amount + fees(term.rules, day, "buy", amount, decimal.Decimal(0)).total
        if reserve > cents(account.cash - account.frozen):
            raise TerminalError(SHORT_OF_CASH, "{}: not enough cash in account {}".format(what, account.handle))
    elif holding is None or holding.available(day) < volume:
        raise TerminalError(SHORT_OF_SHARES, "{}: not enough sellable shares".format(what))
    problem = _market_problem(term, state, sec, side, volume, moment) if order_type == "market" else None
    if problem:
        raise TerminalError(problem[0], "{}: {}".format(what, problem[1]))
    order_id = next(state._order_ids)
    order = DotDict(
        order_id=order_id, client_id=order_id, account_handle=account.handle, strategy_name=strategy_name,
        market=sec.market, code=sec.code, side=side, position_effect=effect, order_type=order_type,
        price=limit if order_type == "limit" else 0.0, volume=volume, filled_volume=0, avg_price=0.0,
        status="pending", order_date=day, order_time=_clock(term),
    )
    if side == "buy":
        account.frozen = round(account.frozen + float(reserve), 2)
    else:
        holding.frozen += volume
    state.orders.append(order)
    work = state.working[order_id] = Working(order, reserve, day, moment[1] - _BEFORE if moment else 0.0)
    if moment is not None:
        _advance(term, state, work, moment)
    if order_type == "market" and order_id in state.working:
        _release(state, order)  # a market order's rest is cancelled, as the exchanges do
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
    if volume <= 0 or stop_price <= 0:
        raise TerminalError(BAD_ORDER, "bad volume {!r} or stop price {!r}".format(volume, stop_price))
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
    return [o for o in state.orders if o.order_id in state.working and o.account_handle == int(handle)
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
    sellable holding at the market; a holding the market cannot take now
    (no price or bar, locked at its lower limit) stays."""
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


@command("GetUnFinishedOrderInfo")
def get_unfinished_order_info(term, handles, order_dates):
    state = book(term)
    wanted, days = state.handles(handles), {int(d) for d in order_dates}
    return ok(listOrders=[o for o in state.orders if o.order_id in state.working and o.account_handle in wanted
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
