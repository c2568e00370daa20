"""Request checks of the simulated terminal, made as a real terminal makes
them before it answers: a request that makes no sense (a date that is no
date, a reversed range, an unknown frequency, adjustment type, block, market
or target, a count out of range, an order record with an unknown or missing
key or a value the terminal does not know) is refused at error level with an
errInfo naming the command, the parameter and what is accepted; it is never
answered with data.

Here are the rules, RULES by name; each handler declares the checks of its
requests with it (`@command(name, checks=[(parameter, where the value sits in
the command's arguments, rule name), ...])`), and check_request runs them
before the handler. The checks name their rules, so that the handler modules
need not import this one, which checks against their markets, frequencies,
factors and securities. ORDER_KEYS and STOP_ORDER_KEYS are the accepted keys
of order and stop-order records, with whether each is required, the values it
takes and what it means.
"""
import numbers

import numpy as np

from velmoro.protocol import (BAD_COUNT, BAD_DATE, BAD_FQ, BAD_FREQUENCY, BAD_ORDER, UNKNOWN_BLOCK, UNKNOWN_FACTOR,
                              UNKNOWN_MARKET, UNKNOWN_TARGET)
from velmoro.simterm.calendar import MARKETS, day_int, parse_day, unknown_target
from velmoro.simterm.commands import CHECKS, REQUESTS, TerminalError
from velmoro.simterm.dataset import BLOCKS
from velmoro.simterm.factors import FACTORS
from velmoro.simterm.market import FREQUENCIES, frequency
from velmoro.simterm.reference import known
from velmoro.tframe.ufuncs import normalise_date

__all__ = ["RULES", "ORDER_KEYS", "STOP_ORDER_KEYS", "FQ_TYPES", "check_request"]


# price adjustment types, matched without regard to case
FQ_TYPES = ("NA", "forward", "backward")

# key -> (required, accepted values or None, meaning)
ORDER_KEYS = {
    "Handle": (True, None, "handle of the trading account (an integer; STTradeGetAccountList lists them)"),
    "Market": (True, None, "exchange of the security, lower case: sse, szse"),
    "Code": (True, None, "code of the security as text, for example 600000"),
    "Side": (True, ("buy", "sell", 1, 2), "buy or sell; 1 also means buy and 2 sell"),
    "Volume": (True, None, "number of shares, a positive whole number: a multiple of 100 (STAR board: at least 200), "
                           "a sell's odd remainder whole"),
    "OrderType": (False, ("market", "limit"), "market or limit; by default limit when Price is given, else market"),
    "Price": (False, None, "limit price, a positive number within the day's price limits; needed by a limit order"),
    "PositionEffect": (False, ("open", "close"), "open or close; by default open for a buy, close for a sell"),
    "StrategyName": (False, None, "name of the placing strategy, kept on the order record"),
}
STOP_ORDER_KEYS = {
    "Handle": ORDER_KEYS["Handle"],
    "Market": ORDER_KEYS["Market"],
    "Code": ORDER_KEYS["Code"],
    "Side": (True, ("buy", "sell", 1, 2), "sell: triggers when the price falls to StopPrice; buy: when it rises to it"),
    "Volume": ORDER_KEYS["Volume"],
    "StopPrice": (True, None, "trigger price, a positive number; a market order is placed when reached"),
    "StrategyName": ORDER_KEYS["StrategyName"],
}


def _refuse(code, label, text, *values):
    raise TerminalError(code, "{}: {}".format(label, text.format(*values)))


def _is_int(value):
    return isinstance(value, numbers.Integral) and not isinstance(value, bool)


def _as_date(value):
    """An integer (or text of digits) YYYYMMDD that is a calendar date, or None."""
    text = str(int(value)) if _is_int(value) else value
    if not isinstance(text, str) or not text.strip().isdigit():
        return None
    try:
        return day_int(parse_day(text.strip()))
    except ValueError:
        return None


def _given(value):
    return not (value is None or (isinstance(value, str) and not value.strip()) or (_is_int(value) and value == 0))


def _checked(label, value, parse):
    """The date `value` stands for (parsed by `parse`); None when not given."""
    if not _given(value):
        return None
    day = parse(value)
    if day is None:
        _refuse(BAD_DATE, label, "{!r} is not a date YYYYMMDD (0 for none)", value)
    return day


def date(term, label, value):
    """A date YYYYMMDD; 0, "" or None: not given."""
    _checked(label, value, _as_date)


def required_date(term, label, value):
    if _as_date(value) is None:
        _refuse(BAD_DATE, label, "{!r} is not a date YYYYMMDD", value)


def date_list(term, label, values):
    for value in values:
        required_date(term, label, value)


def _date_range(parse):
    def rule(term, label, values):
        """Two dates, each optional; the begin not after the end."""
        command, _, names = label.rpartition(" ")
        bounds = [_checked("{} {}".format(command, name), value, parse)
                  for name, value in zip(names.split(".."), values)]
        if None not in bounds and bounds[0] > bounds[1]:
            _refuse(BAD_DATE, label, "the begin {} is later than the end {}", *values)

    return rule


def _any_date(value):
    """A date in any form the factor commands take (YYYYMMDD, "YYYY-MM-DD", a date), or None."""
    try:
        return normalise_date(value)
    except ValueError:
        return None


date_range = _date_range(_as_date)
factor_date_range = _date_range(_any_date)


def _frequency(allowed):
    def rule(term, label, value):
        try:
            frequency(value, allowed)
        except TerminalError:
            names = sorted(k for k, v in FREQUENCIES.items() if v in allowed)
            _refuse(BAD_FREQUENCY, label, "unknown frequency {!r}; accepted: {}", value, ", ".join(names))

    return rule


bar_frequency = _frequency(("min", "day"))
calendar_frequency = _frequency(("min", "day", "week", "month", "year"))


def _count(least):
    def rule(term, label, value):
        if not _is_int(value) or value < least:
            _refuse(BAD_COUNT, label, "{!r} is not a whole number of at least {}", value, least)

    return rule


periods = _count(1)
count = _count(0)


def flag(term, label, value):
    if value not in (0, 1) or not isinstance(value, (bool, np.bool_, numbers.Integral)):
        _refuse(BAD_COUNT, label, "{!r} is not a flag (True, False, 1 or 0)", value)


def fq_type(term, label, value):
    if not isinstance(value, str) or value.strip().lower() not in [f.lower() for f in FQ_TYPES]:
        _refuse(BAD_FQ, label, "unknown adjustment type {!r}; accepted: {}", value, ", ".join(FQ_TYPES))


def block(term, label, value):
    if value not in BLOCKS:
        _refuse(UNKNOWN_BLOCK, label, "unknown block {!r}; known blocks: {}", value, ", ".join(BLOCKS))


def market(term, label, value):
    if str(value).lower() not in MARKETS:
        _refuse(UNKNOWN_MARKET, label, "unknown market {!r}; known markets: {}", value, ", ".join(MARKETS))


def _records(value):
    return [value] if hasattr(value, "keys") else list(value)


def target_record(term, label, value):
    """A record with the text items Market (a known market) and Code."""
    try:
        mkt, code = value["Market"], value["Code"]
    except (KeyError, TypeError, IndexError):
        _refuse(UNKNOWN_TARGET, label, "{!r} is not a target record with Market and Code", value)
    if not isinstance(mkt, str) or not isinstance(code, str):
        _refuse(UNKNOWN_TARGET, label, "Market and Code must be text, got {!r}", value)
    market(term, label, mkt)


def target_records(term, label, value):
    for record in _records(value):
        target_record(term, label, record)


def known_target(term, label, value):
    target_record(term, label, value)
    if not known(term, value["Market"], value["Code"]):
        _refuse(UNKNOWN_TARGET, label, "{}", unknown_target(value["Market"], value["Code"]))


def known_targets(term, label, value):
    for record in _records(value):
        known_target(term, label, record)


def factor_name(term, label, value):
    if value not in FACTORS:
        _refuse(UNKNOWN_FACTOR, label, "unknown factor {!r}; known factors: {}", value, ", ".join(FACTORS))


def factor_names(term, label, values):
    for value in values:
        factor_name(term, label, value)


def factor_records(term, label, values):
    for value in values:
        factor_name(term, label, value["FactorName"] if hasattr(value, "keys") else value)


def _positive_number(value):
    return isinstance(value, numbers.Real) and not isinstance(value, bool) and value > 0


def _record(keys, what):
    def rule(term, label, value):
        if not hasattr(value, "keys"):
            _refuse(BAD_ORDER, what, "{!r} is not a record", value)
        accepted = ", ".join(keys)
        for key in value.keys():
            if key not in keys:
                _refuse(BAD_ORDER, what, "unknown key {!r}; accepted keys: {}", key, accepted)
        for key, (required, values, _meaning) in keys.items():
            if key not in value:
                if required:
                    required_keys = ", ".join(k for k, spec in keys.items() if spec[0])
                    _refuse(BAD_ORDER, what, "missing key {!r}; required keys: {}", key, required_keys)
                continue
            item = value[key]
            if values is not None and (item.lower() if isinstance(item, str) else item) not in values:
                _refuse(BAD_ORDER, what, "{} {!r} is not one of {}", key, item, ", ".join(map(str, values)))
        if not (_is_int(value["Volume"]) and value["Volume"] > 0):
            _refuse(BAD_ORDER, what, "Volume {!r} is not a positive whole number", value["Volume"])
        for key in ("Price", "StopPrice"):
            if value.get(key) and not _positive_number(value[key]):
                _refuse(BAD_ORDER, what, "{} {!r} is not a positive number", key, value[key])

    return rule


order_record = _record(ORDER_KEYS, "order record")
stop_order_record = _record(STOP_ORDER_KEYS, "stop-order record")

# rule name, as a handler's checks give it -> rule(terminal, label, value)
RULES = {
    "date": date, "required_date": required_date, "date_list": date_list, "date_range": date_range,
    "factor_date_range": factor_date_range, "bar_frequency": bar_frequency, "calendar_frequency": calendar_frequency,
    "periods": periods, "count": count, "flag": flag, "fq_type": fq_type, "block": block, "market": market,
    "target_record": target_record, "target_records": target_records, "known_target": known_target,
    "known_targets": known_targets, "factor_name": factor_name, "factor_names": factor_names,
    "factor_records": factor_records, "order_record": order_record, "stop_order_record": stop_order_record,
}


def _at(args, where):
    if isinstance(where, list):
        return [_at(args, w) for w in where]
    if isinstance(where, int):
        return args[where]
    index, key = where
    return args[index].get(key)


def check_request(term, command, args):
    """Refuse (TerminalError) a request of `command` that breaks a check declared with its handler."""
    for label, where, rule in REQUESTS.get(command, ()):
        try:
            value = _at(args, where)
        except (IndexError, AttributeError, TypeError):
            _refuse(BAD_COUNT, command, "the request lacks {}", label)
        RULES[rule](term, "{} {}".format(command, label), value)


CHECKS.append(check_request)
