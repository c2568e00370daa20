"""Conversions shared by the framework: dot-access records, target keys, date bounds."""
import datetime as _dt

import numpy as np

from velmoro.tframe.utils.datetimefunc import mft_to_datetime
from velmoro.tframe.utils.utilcls import DotDict

__all__ = [
    "todotdict",
    "todotmc",
    "check_targets_without_change",
    "begin_date_checking_rule",
    "end_date_checking_rule",
    "normalise_date",
    "get_real_trade_date",
]

EARLIEST_DATE = 19000101
LATEST_DATE = 99991231


def todotdict(mapping):
    """A dot-access record with the same keys and values as `mapping`."""
    return DotDict(mapping)


def _target_key(target):
    return "{}.{}".format(str(target["Market"]).upper(), str(target["Code"]).upper())


def todotmc(target):
    """The dotted market-code key of a target record ("SZSE.000001"); a list of
    records gives the list of their keys."""
    if isinstance(target, (list, tuple)):
        return [_target_key(t) for t in target]
    return _target_key(target)


def check_targets_without_change(target_list):
    """Validate a list of target records and return it as a new list, unchanged in content."""
    out = []
    for i, target in enumerate(target_list):
        try:
            market, code = target["Market"], target["Code"]
        except (KeyError, TypeError, IndexError):
            raise ValueError("target {} ({!r}) needs the items 'Market' and 'Code'".format(i, target)) from None
        if not isinstance(market, str) or not isinstance(code, str):
            raise ValueError("target {}: 'Market' and 'Code' must be text, got {!r}".format(i, target))
        out.append(target)
    return out


def normalise_date(date):
    """A date given as YYYYMMDD integer or text, 'YYYY-MM-DD', a date or a datetime,
    as an integer YYYYMMDD; None for the empty string."""
    if isinstance(date, str) and date.strip() == "":
        return None
    if isinstance(date, (_dt.date, _dt.datetime)):
        return date.year * 10000 + date.month * 100 + date.day
    if isinstance(date, (bool, np.bool_)):
        raise ValueError("not a date: {!r}".format(date))
    if isinstance(date, (int, np.integer)):
        text = str(int(date))
    elif isinstance(date, str):
        text = date.strip().replace("-", "").replace("/", "")
    else:
        raise ValueError("not a date: {!r}".format(date))
    try:
        parsed = _dt.datetime.strptime(text, "%Y%m%d")
    except ValueError:
        raise ValueError("not a date: {!r}".format(date)) from None
    return parsed.year * 10000 + parsed.month * 100 + parsed.day


def begin_date_checking_rule(date=""):
    """The normalised begin bound: YYYYMMDD, the earliest date when not given."""
    value = normalise_date(date)
    return EARLIEST_DATE if value is None else value


def end_date_checking_rule(date=""):
    """The normalised end bound: YYYYMMDD, the latest date when not given."""
    value = normalise_date(date)
    return LATEST_DATE if value is None else value


def get_real_trade_date(t):
    """The trading date (YYYYMMDD) a numeric time belongs to; a night session after
    20:00 belongs to the next weekday."""
    dt = mft_to_datetime(t)
    if dt.hour >= 20:
        dt += _dt.timedelta(days=1)
        while dt.weekday() >= 5:
            dt += _dt.timedelta(days=1)
    return dt.year * 10000 + dt.month * 100 + dt.day
