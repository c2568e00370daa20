"""Date-time functions. The framework's numeric time is a float count of days
since year 0 (day 1 is 0000-01-01), the way MATLAB datenum counts.

Arrays convert as wholes (numpy datetime64 arithmetic), with the same
results as converting their elements one by one."""
import datetime as _dt
import math
from typing import Dict, Tuple

import numpy as np

__all__ = [
    "DEFAULT_FORMAT",
    "mft_to_datetime",
    "datetime_to_mft",
    "datetime_to_int",
    "mft_to_str_format",
    "mft_to_int_format",
    "to_int_now_date",
    "next_n_day",
    "get_specific_year_end",
    "int_to_datetime",
]

DEFAULT_FORMAT = "%Y-%m-%d %H:%M:%S"
_ORDINAL_OFFSET = 366  # datenum(0001-01-01) == 367, date.toordinal(0001-01-01) == 1
_SECONDS_PER_DAY = 86400.0
_UNIX_EPOCH = 719529  # numeric day of 1970-01-01, day 0 of numpy's datetime64
# numeric days of 0001-01-01 and 9999-12-31: the range of datetime
_FIRST_DAY, _LAST_DAY = 367, 3652424


# the refresh loop converts its bar's time several times a push (its
# datetime, its text, its trading date): recent conversions are kept
_RECENT: Dict[float, _dt.datetime] = {}
_RECENT_TEXT: Dict[Tuple[float, str], str] = {}
_RECENT_MAX = 512


def _remember(cache, key, value):
    if len(cache) >= _RECENT_MAX:
        cache.clear()
    cache[key] = value
    return value


def _one_to_datetime(t):
    t = float(t)
    found = _RECENT.get(t)
    if found is not None:
        return found
    day = math.floor(t)  # numpy's floor of one float is several times dearer, with the same errors
    # round to the millisecond: float days carry binary noise
    ms = int(round((t - day) * _SECONDS_PER_DAY * 1000.0))
    return _remember(_RECENT, t, _dt.datetime.fromordinal(day - _ORDINAL_OFFSET) + _dt.timedelta(milliseconds=ms))


def _is_many(x):
    return isinstance(x, (list, tuple, np.ndarray)) and np.ndim(x) > 0


def _many_to_datetime(times):
    """Datetimes of an array of numeric times, rounded to the millisecond as
    `_one_to_datetime` does; times outside datetime's range or not finite
    take the one-by-one way, which reports them, as does a single time (the
    loop's own, once a bar), for which the arithmetic is the dearer way."""
    day = np.floor(times)
    if times.size <= 1 or not (np.isfinite(times).all() and _FIRST_DAY <= day.min() and day.max() <= _LAST_DAY):
        return [_one_to_datetime(t) for t in times]
    ms = np.rint((times - day) * _SECONDS_PER_DAY * 1000.0).astype(np.int64)
    moments = (day.astype(np.int64) - _UNIX_EPOCH).astype("datetime64[D]") + ms.astype("timedelta64[ms]")
    return moments.astype("datetime64[ms]").tolist()


def mft_to_datetime(times):
    """A numeric time gives a datetime; a list or array of them gives a list."""
    if type(times) is list and len(times) == 1 and isinstance(times[0], float):
        return [_one_to_datetime(times[0])]  # the loop's own call, once a bar
    if _is_many(times):
        return _many_to_datetime(np.ravel(np.asarray(times, dtype=float)))
    return _one_to_datetime(times)


def datetime_to_mft(dt):
    """The numeric time of a date-time (or date); an array of numpy
    datetime64 values gives an array of numeric times."""
    if isinstance(dt, np.ndarray):
        micro = dt.astype("datetime64[us]")
        day = micro.astype("datetime64[D]")
        within = (micro - day).astype(np.int64)
        seconds = within // 1000000 + (within % 1000000) / 1e6
        return (day.astype(np.int64) + _UNIX_EPOCH).astype(float) + seconds / _SECONDS_PER_DAY
    if not isinstance(dt, _dt.datetime):
        dt = _dt.datetime(dt.year, dt.month, dt.day)
    seconds = dt.hour * 3600 + dt.minute * 60 + dt.second + dt.microsecond / 1e6
    return float(dt.toordinal() + _ORDINAL_OFFSET) + seconds / _SECONDS_PER_DAY


def datetime_to_int(dt):
    """The date of a date-time as an integer YYYYMMDD."""
    return dt.year * 10000 + dt.month * 100 + dt.day


def int_to_datetime(date):
    """An integer (or text) YYYYMMDD as a datetime at midnight."""
    return _dt.datetime.strptime(str(int(date)), "%Y%m%d")


def mft_to_str_format(t, fmt=DEFAULT_FORMAT):
    """A numeric time as text in fmt; an array or list of them as a list of texts."""
    if _is_many(t):
        return [d.strftime(fmt) for d in mft_to_datetime(t)]
    if type(fmt) is not str:
        return _one_to_datetime(t).strftime(fmt)
    key = (float(t), fmt)
    found = _RECENT_TEXT.get(key)
    if found is not None:
        return found
    d = _one_to_datetime(t)
    if fmt == DEFAULT_FORMAT and d.year >= 1000:
        # the loop's own text of its bar, once a push: strftime's digits, made directly
        text = "%d-%02d-%02d %02d:%02d:%02d" % (d.year, d.month, d.day, d.hour, d.minute, d.second)
    else:
        text = d.strftime(fmt)
    return _remember(_RECENT_TEXT, key, text)


def mft_to_int_format(t, fmt="%Y%m%d"):
    """A numeric time as an integer in fmt (for example YYYYMMDD)."""
    if _is_many(t):
        return [int(s) for s in mft_to_str_format(t, fmt)]
    return int(mft_to_str_format(t, fmt))


def _as_int_if_digits(s):
    return int(s) if s.isdigit() else s


def to_int_now_date(fmt="%Y%m%d"):
    """The current local date (or date-time) in fmt: an integer when it is all digits."""
    return _as_int_if_digits(_dt.datetime.now().strftime(fmt))


def next_n_day(date, day=1, in_fmt="%Y%m%d", out_fmt="%Y%m%d"):
    """The date `day` days after `date` (negative: before), in out_fmt."""
    d = _dt.datetime.strptime(str(date), in_fmt) + _dt.timedelta(days=day)
    return _as_int_if_digits(d.strftime(out_fmt))


def get_specific_year_end(year=None, fmt="%Y%m%d"):
    """The last day of `year` (of the current year without one) as text in fmt."""
    if year is None:
        year = _dt.date.today().year
    return _dt.datetime(int(year), 12, 31).strftime(fmt)
