"""Replay of stored trading days as the terminal's pushes for a live run.

Every minute of the replayed days becomes one push: the minute bars of the
replayed targets and each target's day bar as formed so far (rows as the
framework's PUSH_BAR_COLUMNS; the target column is the target's index in the
replay's list). After the last minute a push with "stop_run" true ends the
run. Pushes are made on demand: when the framework asks for the next push,
the next minute is pushed and the terminal's clock moves to it, so that
orders placed while it is handled fill at that minute's prices.

A day's bars of all the replayed targets are made at once, as whole arrays;
a push is then one row of each quantity, whatever the number of targets.
"""
import numpy as np

from velmoro.protocol import PUSH_BAR_COLUMNS, QUANTITIES
from velmoro.simterm.market import security

__all__ = ["Replay"]

_EMPTY = np.zeros(0)
# minutes whose push rows are made at once: a push is then a view, not a
# dozen numpy calls, while a block of 5,000 targets stays a few megabytes
_BLOCK = 16


def _by_minute(bars):
    """The quantities as (minutes x targets) arrays: a minute is a contiguous row."""
    return [np.ascontiguousarray(bars[q].T) for q in QUANTITIES]


def _day_so_far(minutes):
    """Each target's day bar as formed after each minute, from its minute bars
    (as _by_minute gives them)."""
    open_, high, low, close, volume, amount = minutes
    return [np.broadcast_to(open_[:1], open_.shape), np.maximum.accumulate(high, axis=0),
            np.minimum.accumulate(low, axis=0), close, np.cumsum(volume, axis=0), np.cumsum(amount, axis=0)]


def _push_rows(columns, first, stop, moments):
    """The push rows of the minutes first..stop-1 as one (minutes x targets x
    PUSH_BAR_COLUMNS) array: a column of target indexes, the time (`moments`,
    one per minute or one for all), then each quantity's rows of `columns`
    (as _by_minute gives them)."""
    rows = np.empty((stop - first, columns[0].shape[1], len(PUSH_BAR_COLUMNS)))
    rows[:, :, 0] = np.arange(rows.shape[1])
    rows[:, :, 1] = np.reshape(moments, (-1, 1))
    for col, values in enumerate(columns, start=2):
        rows[:, :, col] = values[first:stop]
    return rows


class Replay:
    """Replays `days` (YYYYMMDD trading days of the terminal's dataset) for
    `targets` (records with "Market" and "Code") on terminal `term`.

    `pushed` counts the pushes made so far.
    """

    def __init__(self, term, targets, days):
        self.term = term
        self.securities = [security(term, t) for t in targets]
        self._rows = np.array([term.data.row(sec) for sec in self.securities], dtype=np.intp)
        self.days = [int(d) for d in days]
        self.pushed = 0
        self._records = self._session()
        self._take = term.next_push
        term.next_push = self.next_push

    def _session(self):
        data = self.term.data
        for day in self.days:
            minutes = _by_minute(data.day_bars(day, self._rows))
            so_far = _day_so_far(minutes)
            day_time = data.day_time(day)
            moments = data.minute_times(day)
            for first in range(0, len(moments), _BLOCK):
                stop = min(first + _BLOCK, len(moments))
                min_rows = _push_rows(minutes, first, stop, moments[first:stop])
                day_rows = _push_rows(so_far, first, stop, day_time)
                for i in range(stop - first):
                    yield moments[first + i], {
                        "stop_run": False,
                        "factor_data": _EMPTY,
                        "min_fresh_data": min_rows[i],
                        "day_fresh_data": day_rows[i],
                    }
        yield None, {"stop_run": True, "factor_data": _EMPTY, "min_fresh_data": _EMPTY, "day_fresh_data": _EMPTY}

    def detach(self):
        """Stop pushing: the terminal takes its pushes as before the replay."""
        if vars(self.term).get("next_push") == self.next_push:
            del self.term.next_push

    def next_push(self, timeout):
        """Push the next minute of the session (the clock moves to it) and
        hand over the terminal's next push."""
        moment, record = next(self._records, (None, None))
        if record is not None:
            if moment is not None:
                self.term.now = float(moment)
            self.term.push(record)
            self.pushed += 1
        return self._take(timeout)
