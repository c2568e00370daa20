"""A dataset of hand-written bars for one or two securities.

Day 0 is the history: one bar closing at the previous close. Each later
day holds the minute bars given for it, from 09:31 on: a number is a flat
bar (open = high = low = close) of DEFAULT_VOLUME shares, (close, volume) a
flat bar of that volume, (open, high, low, close, volume) a whole bar, None
a minute without a bar. A day with no bars given has none (a halted day).
"""
import datetime as _dt

import numpy as np

from velmoro.simterm.calendar import weekdays
from velmoro.simterm.dataset import Security
from velmoro.tframe.utils.datetimefunc import datetime_to_mft

DEFAULT_VOLUME = 1000000
FIELDS = ("Time", "DayPos", "Open", "High", "Low", "Close", "Volume", "Amount")


def _bar(written):
    if isinstance(written, (int, float)):
        written = (written, DEFAULT_VOLUME)
    if len(written) == 2:
        close, volume = written
        return close, close, close, close, volume
    return tuple(written)


class ScriptedDataset:
    """Days from `start` (day 0, YYYYMMDD) on, weekdays; `bars` maps a
    security key ("sse.600000") to {day number: [bar, ...]} and `previous`
    maps it to the close of day 0."""

    def __init__(self, start, days, bars, previous):
        self.trading_days = weekdays(start, int((_dt.datetime.strptime(str(start), "%Y%m%d")
                                                 + _dt.timedelta(days=2 * days + 7)).strftime("%Y%m%d")))[:days + 1]
        self.securities = [Security(*key.split("."), key, previous[key]) for key in bars]
        self._minutes = max([len(day) for by_day in bars.values() for day in by_day.values()] + [1])
        self._bars = {key: self._build(by_day, previous[key]) for key, by_day in bars.items()}

    def security(self, market, code):
        for s in self.securities:
            if s.market == str(market).lower() and s.code == str(code).upper():
                return s
        return None

    def minute_times(self, day):
        start = _dt.datetime.strptime(str(day), "%Y%m%d") + _dt.timedelta(hours=9, minutes=30)
        return np.array([datetime_to_mft(start + _dt.timedelta(minutes=m + 1)) for m in range(self._minutes)])

    def day_time(self, day):
        return datetime_to_mft(_dt.datetime.strptime(str(day), "%Y%m%d") + _dt.timedelta(hours=15))

    def _build(self, by_day, previous):
        rows = []
        for number, day in enumerate(self.trading_days):
            given = {0: [previous]}.get(number, by_day.get(number, []))
            times = self.minute_times(day)
            rows += [(day, times[i], i + 1) + _bar(b) for i, b in enumerate(given) if b is not None]
        table = np.array(rows, dtype=float).reshape(-1, 8)
        return {"Day": table[:, 0], "Time": table[:, 1], "DayPos": table[:, 2], "Open": table[:, 3],
                "High": table[:, 4], "Low": table[:, 5], "Close": table[:, 6], "Volume": table[:, 7],
                "Amount": table[:, 6] * table[:, 7]}

    def bars(self, sec, freq, begin=0, end=99991231):
        """Bars of one security, "min" or "day", between two dates (inclusive)."""
        m = self._bars[sec.name]
        keep = (m["Day"] >= begin) & (m["Day"] <= end)
        minute = {k: m[k][keep] for k in FIELDS}
        if freq == "min" or not minute["Time"].size:
            return minute
        days, starts = np.unique(m["Day"][keep], return_index=True)
        ends = np.r_[starts[1:], keep.sum()] - 1
        return {"Time": np.array([self.day_time(int(d)) for d in days]), "DayPos": np.ones(days.size),
                "Open": minute["Open"][starts], "High": np.maximum.reduceat(minute["High"], starts),
                "Low": np.minimum.reduceat(minute["Low"], starts), "Close": minute["Close"][ends],
                "Volume": np.add.reduceat(minute["Volume"], starts),
                "Amount": np.add.reduceat(minute["Amount"], starts)}

    def close_at(self, sec, moment):
        """The close of the security's last minute bar at or before `moment` (None: its last), or None."""
        m = self._bars[sec.name]
        last = m["Time"].size if moment is None else int(np.searchsorted(m["Time"], moment, side="right"))
        return float(m["Close"][last - 1]) if last else None
