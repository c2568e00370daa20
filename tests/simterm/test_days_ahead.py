"""A served replay's days made ahead: the same bars, one day ahead at most,
in the order the replay takes them; anything else asked is the dataset's."""
import datetime as dt
import threading

import numpy as np
import pytest

from velmoro.simterm.ahead import DaysAhead
from velmoro.simterm.dataset import Dataset, universe

DAYS = [20240102, 20240103, 20240104]
ROWS = np.array([4, 0, 2])


class Watched:
    """A dataset that tells which days it was asked for, and holds a day's
    making until it is let go."""

    def __init__(self, held=()):
        self.asked, self.trading_days = [], DAYS
        self.held = {day: threading.Event() for day in held}
        self.started = {day: threading.Event() for day in DAYS}

    def day_bars(self, day, rows=None):
        self.asked.append((day, None if rows is None else list(rows)))
        self.started.setdefault(day, threading.Event()).set()
        if day in self.held:
            self.held[day].wait(30)
        if day == 0:
            raise ValueError("no such day")
        return {"day": day}


def test_the_bars_are_the_datasets_own():
    data = Dataset(start=dt.date(2024, 1, 2), days=3, securities=universe(6))
    ahead = DaysAhead(data, data.trading_days, ROWS)
    for day in data.trading_days:
        made, own = ahead.day_bars(day, ROWS), data.day_bars(day, ROWS)
        assert made.keys() == own.keys() and all(np.array_equal(made[q], own[q]) for q in own)
    assert ahead.trading_days == data.trading_days and ahead.row(data.securities[1]) == 1


def test_one_day_is_made_ahead_at_most():
    data = Watched(held=[DAYS[1]])
    ahead = DaysAhead(data, DAYS, ROWS)
    assert ahead.day_bars(DAYS[0], ROWS) == {"day": DAYS[0]}
    assert data.started[DAYS[1]].wait(30)  # the next day, beside the replay's work
    assert not data.started[DAYS[2]].is_set()  # not the one after it
    data.held[DAYS[1]].set()
    assert ahead.day_bars(DAYS[1], ROWS) == {"day": DAYS[1]}
    assert ahead.day_bars(DAYS[2], ROWS) == {"day": DAYS[2]}
    assert data.asked == [(day, list(ROWS)) for day in DAYS]  # each day made once


@pytest.mark.parametrize("day, rows", [(DAYS[0], [1, 2]), (DAYS[0], None), (20240105, list(ROWS))])
def test_other_days_or_rows_are_made_when_asked(day, rows):
    data = Watched()
    ahead = DaysAhead(data, DAYS[:1], ROWS)
    assert ahead.day_bars(day, rows) == {"day": day}
    assert (day, rows) in data.asked


def test_a_day_that_fails_fails_its_asker():
    ahead = DaysAhead(Watched(), [0], ROWS)
    with pytest.raises(ValueError, match="no such day"):
        ahead.day_bars(0, ROWS)
