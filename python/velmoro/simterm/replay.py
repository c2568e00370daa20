"""Replay of stored trading days as the terminal's pushes for a live run.

Every minute of the replayed days becomes one push: the minute bars of the
replayed targets and each target's day bar as formed so far (rows as the
framework's PUSH_BAR_COLUMNS; the target column is the target's index in the
replay's list). After the last minute a push with "stop_run" true ends the
run. Pushes are made on demand: when the framework asks for the next push,
the next minute is pushed and the terminal's clock moves to it, so that
orders placed while it is handled fill at that minute's prices.
"""
import numpy as np

from velmoro.realtrade.calc.layout import PUSH_BAR_COLUMNS, QUANTITIES
from velmoro.simterm.market import security

__all__ = ["Replay"]

_EMPTY = np.zeros(0)


class Replay:
    """Replays `days` (YYYYMMDD trading days of the terminal's dataset) for
    `targets` (records with "Market" and "Code") on terminal `term`.

    `pushed` counts the pushes made so far.
    """

    def __init__(self, term, targets, days):
        self.term = term
        self.securities = [security(term, t) for t in targets]
        self.days = [int(d) for d in days]
        self.pushed = 0
        self._records = self._session()
        self._take = term.next_push
        term.next_push = self.next_push

    def _rows(self, bars, time, upto):
        """One push row per target: the bar at index `upto`, or with `time` set,
        the day bar formed by the bars up to it."""
        rows = np.empty((len(bars), len(PUSH_BAR_COLUMNS)))
        for idx, b in enumerate(bars):
            if time is None:
                values = [b[q][upto] for q in QUANTITIES]
                moment = b["Time"][upto]
            else:
                part = {q: b[q][: upto + 1] for q in QUANTITIES}
                values = [part["Open"][0], part["High"].max(), part["Low"].min(), part["Close"][-1],
                          part["Volume"].sum(), part["Amount"].sum()]
                moment = time
            rows[idx] = [idx, moment] + values
        return rows

    def _session(self):
        data = self.term.data
        for day in self.days:
            bars = [data.bars(sec, "min", day, day) for sec in self.securities]
            day_time = data.day_time(day)
            for i, moment in enumerate(data.minute_times(day)):
                yield moment, {
                    "stop_run": False,
                    "factor_data": _EMPTY,
                    "min_fresh_data": self._rows(bars, None, i),
                    "day_fresh_data": self._rows(bars, day_time, i),
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
