"""The dataset as a served replay reads it, its days' bars made ahead.

A served replay makes the bars of each replayed day when the day's first
minute is pushed: at thousands of targets, most of a second during which
the client waits. Served, the terminal has a processor of its own: the bars
of the first replayed day are made while the client loads its history, and
those of each next day while it runs the day before. The terminal's clock
is not touched: only the bars are made early, and pushed as before.
"""
import threading
from concurrent.futures import Future
from typing import Any, Dict, Sequence

import numpy as np

__all__ = ["DaysAhead"]


class DaysAhead:
    """`data` (a dataset) whose `day_bars` of `days`, in order, for the rows
    `rows` are made one day ahead in a thread; anything else it is asked is
    the dataset's own."""

    def __init__(self, data: Any, days: Sequence[int], rows: np.ndarray) -> None:
        self._data = data
        self._rows = np.asarray(rows, dtype=np.intp)
        self._days = list(days)
        self._made: Dict[int, Future] = {}
        self._lock = threading.Lock()
        self._start(0)

    def __getattr__(self, name: str) -> Any:
        return getattr(self._data, name)

    def _start(self, index: int) -> None:
        """Start making the bars of the `index`-th day (when there is one)."""
        if index >= len(self._days):
            return
        day, future = self._days[index], Future()
        self._made[day] = future
        threading.Thread(target=self._make, args=(day, future), name="velmoro-terminal-ahead", daemon=True).start()

    def _make(self, day: int, future: Future) -> None:
        try:
            future.set_result(self._data.day_bars(day, self._rows))
        except BaseException as exc:  # the replay that asks for the day hears it
            future.set_exception(exc)

    def day_bars(self, day: int, rows: Any = None) -> Dict[str, np.ndarray]:
        """The dataset's day_bars(day, rows): taken from those made ahead when
        they are the ones asked for (the next day's then started)."""
        with self._lock:
            future = self._made.get(day)
            if future is None or rows is None or not np.array_equal(rows, self._rows):
                future = None
            else:
                del self._made[day]
                self._start(self._days.index(day) + 1)
        if future is None:
            return self._data.day_bars(day, rows)
        return future.result()
