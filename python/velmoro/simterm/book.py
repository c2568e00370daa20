"""The trading state of a simulated terminal and how its orders fill.

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
"""
import bisect
import collections
import decimal
import itertools
import weakref

import numpy as np

from velmoro.protocol import (BAD_LOT, BAD_ORDER, BEYOND_LIMIT, NO_BAR, NO_PRICE, NOT_TRADED_YET, NOTHING_TO_FILL,
                              SHORT_OF_CASH, SHORT_OF_SHARES, UNKNOWN_ACCOUNT, UNKNOWN_ORDER)
from velmoro.simterm.calendar import today, weekdays
from velmoro.simterm.commands import TerminalError
from velmoro.simterm.instruments import board
from velmoro.simterm.market import last_price, security
from velmoro.simterm.matching import BarUse, fills, locked
from velmoro.simterm.rules import cents, fees, lot_problem, price_band
from velmoro.tframe.utils.datetimefunc import mft_to_datetime
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["ACCOUNTS", "Book", "Holding", "book", "match", "place", "release", "clock", "last"]

AccountSpec = collections.namedtuple("AccountSpec", "handle account_id account_type cash")
ACCOUNTS = (
    AccountSpec(1001, "stock-main", "stock", 1000000.0),
    AccountSpec(1002, "stock-hedge", "stock", 500000.0),
    AccountSpec(2001, "future-main", "future", 2000000.0),
)
_BAR_FIELDS = ("Time", "High", "Low", "Close", "Volume")
_BEFORE = 1e-6  # of a day: less than a minute, so a bar's own time is after it


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
        # the clock at the last match: commands come several a minute
        self.matched_at = None
        self.bands = {}  # (security key, day) -> price limits or None
        self.minutes = {}  # day -> the session's minute times (ascending, a list)
        self.order_ids = itertools.count(1)
        self.execution_ids = itertools.count(1)
        self.stop_ids = itertools.count(1)
        # (strategy name, handle) -> {(market, code): (volume, bought,
        # bought_date)} of the holdings when the strategy's latest run began:
        # its close leaves them
        self.starting = {}

    def begin_run(self, strategy_name, handles):
        """Note what the accounts (every account for none; unknown handles
        hold nothing) hold as a run of the strategy begins."""
        for handle in self.handles(handles):
            if handle in self.accounts:
                held = self.accounts[handle].holdings.items()
                self.starting[(strategy_name, handle)] = {key: (h.volume, h.bought, h.bought_date) for key, h in held}

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
    match(term, state)
    return state


def clock(term):
    """The terminal's clock; after the last bar when it has none."""
    if term.now is not None:
        return term.now
    return float(term.data.minute_times(term.data.trading_days[-1])[-1])


def _moment(term, state):
    """(trading day, time) of the session minute the clock is in; None
    before the day's first minute."""
    day = today(term)
    times = state.minutes.get(day)
    if times is None:
        # a list: bisect finds the clock's minute without numpy's call overhead, several times a push
        times = state.minutes[day] = term.data.minute_times(day).tolist()
    passed = bisect.bisect_right(times, clock(term))
    return (day, times[passed - 1]) if passed else None


def _minute(time):
    return mft_to_datetime(time).strftime("%Y-%m-%d %H:%M")


def last(term, market, code):
    """The security's last price at the clock, or None."""
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
        execution_id=next(state.execution_ids), order_id=order.order_id, account_handle=order.account_handle,
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


def release(state, order):
    """Cancel what is left of a working order, releasing what it froze."""
    work = state.working.pop(order.order_id)
    account = state.account(order.account_handle)
    if order.side == "buy":
        account.frozen = round(account.frozen - float(work.reserve), 2)
    else:
        account.holdings[(order.market, order.code)].frozen -= order.volume - order.filled_volume
    order.status = "cancelled"


def match(term, state):
    """Fill the working orders from the bars up to the clock; trigger stop orders."""
    for stop in state.stop_orders:
        if stop.status != "waiting":
            continue
        price = last(term, stop.market, stop.code)
        if price is not None and (price <= stop.stop_price if stop.side == "sell" else price >= stop.stop_price):
            try:
                order = place(term, state, stop.account_handle, stop.market, stop.code, stop.side, "market", 0.0,
                               stop.volume, "close" if stop.side == "sell" else "open", stop.strategy_name)
                stop.update(status="triggered", order_id=order.order_id)
            except TerminalError:
                stop.status = "rejected"
    now = clock(term)
    if not state.working and state.matched_at == now:
        return  # nothing to fill, and what is past this minute is already forgotten
    moment = _moment(term, state)
    if moment is None:
        return
    for work in list(state.working.values()):
        if work.seen < moment[1]:
            _advance(term, state, work, moment)
    state.use.forget_before(moment[1])
    state.matched_at = now


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


def place(term, state, handle, market, code, side, order_type, limit, volume, effect, strategy_name):
    """Check an order by the rules, freeze what it needs and fill it from the
    clock's minute bar on; TerminalError naming the order and the rule."""
    account = state.account(handle)
    sec = security(term, {"Market": market, "Code": code})
    if side not in ("buy", "sell") or order_type not in ("market", "limit"):
        raise TerminalError(BAD_ORDER, "bad side {!r} or order type {!r}".format(side, order_type))
    if volume <= 0:
        raise TerminalError(BAD_ORDER, "bad Volume {!r}: a positive whole number of shares".format(volume))
    if order_type == "limit" and not limit > 0:
        raise TerminalError(BAD_ORDER, "a limit order needs Price, a positive number (got {!r})".format(limit))
    day = today(term)
    off = term.facts.off_market(sec.key, day)
    if off:
        raise TerminalError(NOT_TRADED_YET, "{}.{} does not trade on {}: {}".format(sec.market, sec.code, day, off))
    if last(term, sec.market, sec.code) is None:
        raise TerminalError(NO_PRICE, "no price yet for {}.{}".format(sec.market, sec.code))
    moment = _moment(term, state)
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
        price = limit if order_type == "limit" else last(term, sec.market, sec.code)
        amount = cents(decimal.Decimal(repr(price)) * volume)
        reserve = amount + fees(term.rules, day, "buy", amount, decimal.Decimal(0)).total
        if reserve > cents(account.cash - account.frozen):
            raise TerminalError(SHORT_OF_CASH, "{}: not enough cash in account {}".format(what, account.handle))
    elif holding is None or holding.available(day) < volume:
        raise TerminalError(SHORT_OF_SHARES, "{}: not enough sellable shares".format(what))
    problem = _market_problem(term, state, sec, side, volume, moment) if order_type == "market" else None
    if problem:
        raise TerminalError(problem[0], "{}: {}".format(what, problem[1]))
    order_id = next(state.order_ids)
    order = DotDict(
        order_id=order_id, client_id=order_id, account_handle=account.handle, strategy_name=strategy_name,
        market=sec.market, code=sec.code, side=side, position_effect=effect, order_type=order_type,
        price=limit if order_type == "limit" else 0.0, volume=volume, filled_volume=0, avg_price=0.0,
        status="pending", order_date=day, order_time=clock(term),
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
        release(state, order)  # a market order's rest is cancelled, as the exchanges do
    return order
