"""Factor commands of the simulated terminal: three factors computed from the
dataset's day bars, prepared on request and fetched as MAT result files.

A factor result file holds "Date" (1 x n, framework numeric time of each
trading day's close) and one "bp_<market>_<code>" entry (1 x n values) per
target the dataset covers; targets it does not know have no entry.
"""
import numpy as np

from velmoro.protocol import BAD_FACTOR_DATE, UNKNOWN_FACTOR
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.tframe.ufuncs import normalise_date
from velmoro.tframe.utils.datetimefunc import next_n_day

__all__ = ["FACTORS", "factor_series", "ask_factor", "get_factor"]

OPEN_BEGIN, OPEN_END = 0, 99991231


def _momentum_5d(bars):
    """Close over the close five trading days earlier (the first close while
    there are fewer), minus one."""
    close = bars["Close"]
    earlier = close[np.maximum(np.arange(close.size) - 5, 0)]
    return close / earlier - 1.0


def _volatility_20d(bars):
    """Standard deviation of the last (up to) 20 daily log returns; NaN on the
    first day, which has none."""
    close = bars["Close"]
    returns = np.diff(np.log(close))
    out = np.full(close.size, np.nan)
    for i in range(1, close.size):
        out[i] = returns[max(0, i - 20) : i].std()
    return out


def _turnover(bars):
    """Traded value of the day."""
    return bars["Amount"].copy()


FACTORS = {
    "momentum_5d": _momentum_5d,
    "volatility_20d": _volatility_20d,
    "turnover": _turnover,
}


def _factor(name):
    try:
        return FACTORS[name]
    except (KeyError, TypeError):
        raise TerminalError(UNKNOWN_FACTOR, "unknown factor {!r}".format(name)) from None


def _date(value, open_bound):
    if not value:
        return open_bound
    try:
        date = normalise_date(value)
    except ValueError as exc:
        raise TerminalError(BAD_FACTOR_DATE, str(exc)) from None
    return open_bound if date is None else date


def factor_series(dataset, name, sec):
    """One factor of one security over every trading day of the dataset."""
    return _factor_table(dataset, name, [sec])[0]


def _factor_table(dataset, name, secs):
    """One factor of each of `secs` over every trading day of the dataset, a
    row each: their day bars are made together, a day at a time for all,
    not a security at a time (a strategy asks for thousands once a day)."""
    table = dataset.day_range_bars([dataset.row(sec) for sec in secs], dataset.trading_days)
    factor = _factor(name)
    return [factor({k: (v[i] if v.ndim == 2 else v) for k, v in table.items()}) for i in range(len(secs))]


# fetching a factor takes the request of asking for it
_FACTOR_CHECKS = [
    ("item_name", 0, "factor_name"), ("targets", 1, "target_records"),
    ("begin_date..end_date", [2, 3], "factor_date_range"), ("date_before", 4, "count"),
]


@command("AskFactor", checks=_FACTOR_CHECKS)
def ask_factor(term, item_name, targets, begin, end, days_before):
    """Prepare a factor: the values are computed from the bars when fetched, so
    preparing only checks that the factor exists."""
    _factor(item_name)
    return ok()


@command("GetFactor", checks=_FACTOR_CHECKS)
def get_factor(term, factor_name, targets, begin, end, days_before):
    """Write the factor's values for the covered targets, one per trading day
    within [begin - days_before calendar days, end]."""
    _factor(factor_name)
    first = _date(begin, OPEN_BEGIN)
    last = _date(end, OPEN_END)
    if days_before and first != OPEN_BEGIN:
        first = next_n_day(first, day=-int(days_before))
    data = term.data
    chosen = [i for i, day in enumerate(data.trading_days) if first <= day <= last]
    variables = {"Date": np.array([data.day_time(data.trading_days[i]) for i in chosen], dtype=float).reshape(1, -1)}
    secs = [sec for sec in (data.security(t["Market"], t["Code"]) for t in targets) if sec is not None]
    for sec, series in zip(secs, _factor_table(data, factor_name, secs)):
        variables["bp_{}_{}".format(sec.market, sec.code)] = series[chosen].reshape(1, -1)
    return ok(wstrFilePath=term.write_mat("factor_{}".format(factor_name), variables))
