"""Calendar commands of the simulated terminal: dates, trading days, the trade
date of a date-time.

The terminal's calendar is every weekday (no holidays) and continues past the
dataset's days. Stock sessions run 09:31-11:30 and 13:01-15:00 in one-minute
bars; a day bar (and a week, month or year bar) is stamped 15:00 of its last
weekday. A date-time from 20:00 on, or on a weekend, belongs to the next
weekday's trading date.

The clock: `term.now` (framework numeric time) is the terminal's present;
None means after the dataset's last bar, so "today" is the last dataset day.
"""
import datetime as _dt
import functools

import numpy as np

from velmoro.protocol import BAD_FREQUENCY, UNKNOWN_MARKET, Answer
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.tframe.utils.datetimefunc import mft_to_datetime

__all__ = ["MARKETS", "as_day", "parse_day", "day_int", "weekdays", "trade_date", "today", "previous_weekday", "bar_times",
           "unknown_target"]

MARKETS = ("sse", "szse", "czce", "shfe", "dce", "cffex")
PERIODS = ("min", "day", "week", "month", "year")
NIGHT_FROM = 20  # hour from which a date-time belongs to the next trading date


def as_day(value):
    """An integer (or text) YYYYMMDD as a date."""
    return parse_day(str(int(value)))


@functools.lru_cache(maxsize=4096)
def parse_day(text):
    """A text YYYYMMDD as a date; ValueError when it is none. Kept: a run asks
    about the same few dates for each of its targets."""
    return _dt.datetime.strptime(text, "%Y%m%d").date()


def day_int(d):
    return d.year * 10000 + d.month * 100 + d.day


def weekdays(begin, end):
    """Every weekday from `begin` to `end` (YYYYMMDD, both included)."""
    d, last = as_day(begin), as_day(end)
    out = []
    while d <= last:
        if d.weekday() < 5:
            out.append(day_int(d))
        d += _dt.timedelta(days=1)
    return out


def _next_weekday(d):
    while d.weekday() >= 5:
        d += _dt.timedelta(days=1)
    return d


def previous_weekday(day):
    d = as_day(day) - _dt.timedelta(days=1)
    while d.weekday() >= 5:
        d -= _dt.timedelta(days=1)
    return day_int(d)


def trade_date(when):
    """The trading date (YYYYMMDD) a datetime belongs to."""
    d = when.date()
    if when.hour >= NIGHT_FROM:
        d += _dt.timedelta(days=1)
    return day_int(_next_weekday(d))


# (clock, its trading date) last asked: several commands a push ask it of one clock
_today_at = (None, None)


def today(term):
    """The trading date of the terminal's clock."""
    global _today_at
    now = term.now
    if now is None:
        return term.data.trading_days[-1]
    at = _today_at  # one read: another thread may replace it meanwhile
    if at[0] != now:
        at = _today_at = (now, trade_date(mft_to_datetime(now)))
    return at[1]


def _period_key(day, period):
    d = as_day(day)
    if period == "week":
        return d.isocalendar()[:2]
    if period == "month":
        return d.year, d.month
    return d.year


def bar_times(term, begin, end, period):
    """Bar times (framework numeric time) of every weekday in [begin, end], at a
    period of PERIODS: the dataset's own minute and day stamps, so that they
    equal the times of its bars."""
    if period not in PERIODS:
        raise TerminalError(BAD_FREQUENCY, "unsupported frequency {!r}".format(period))
    days = weekdays(begin, end)
    if period == "min":
        return np.concatenate([term.data.minute_times(d) for d in days]) if days else np.zeros(0)
    if period != "day":
        # the last weekday of each period
        keys = [_period_key(d, period) for d in days]
        days = [d for d, key, nxt in zip(days, keys, keys[1:] + [None]) if key != nxt]
    return np.array([term.data.day_time(d) for d in days], dtype=float)


def date_bounds(term, begin, end):
    """Request bounds with 0 or "" meaning the dataset's first or last day."""
    return (int(begin) if begin else term.data.trading_days[0]), (int(end) if end else term.data.trading_days[-1])


@command("GetCurDate")
def get_cur_date(term):
    if term.now is None:
        return Answer(result=term.data.trading_days[-1])
    return Answer(result=day_int(mft_to_datetime(term.now)))


@command("GetCurTradeDate")
def get_cur_trade_date(term):
    return Answer(result=today(term))


@command("GetPreTradeDate")
def get_pre_trade_date(term):
    return Answer(result=previous_weekday(today(term)))


@command("GetTradingDays")
def get_trading_days(term):
    return Answer(result=list(term.data.trading_days))


@command("GetTradingDaysByCondition", checks=[("market", 0, "market"), ("begin_day..end_day", [1, 2], "date_range")])
def get_trading_days_by_condition(term, market, begin_day, end_day):
    if str(market).lower() not in MARKETS:
        raise TerminalError(UNKNOWN_MARKET, "unknown market {!r}".format(market))
    return ok(listDays=weekdays(*date_bounds(term, begin_day, end_day)))


@command("TransTradeTimeToTradeDate")
def trans_trade_time_to_trade_date(term, check_time):
    """Answers 0 for a text that is not a date-time "%Y%m%dT%H%M%S"."""
    try:
        when = _dt.datetime.strptime(check_time, "%Y%m%dT%H%M%S")
    except (TypeError, ValueError):
        return Answer(result=0)
    return Answer(result=trade_date(when))


def unknown_target(market, code):
    """The refusal's text for a target the terminal does not know; a market
    it does not know is named with the accepted ones."""
    text = "unknown target {}.{}".format(market, code)
    if str(market).lower() not in MARKETS:
        text += ": Market {!r} is none of {}".format(market, ", ".join(MARKETS))
    return text
