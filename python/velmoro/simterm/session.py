"""A live run on the simulated terminal with nothing else pushing to it: the
terminal replays the run's trading days from its dataset.

The days from the run's begin date to its end date are replayed minute by
minute (see replay.py) and end with the stop push; the dataset's days before
the begin date are the run's history. A begin or end date of 0 stands for
the dataset's second or last day.
"""
from velmoro.protocol import run_days
from velmoro.simterm.replay import Replay

__all__ = ["replay_for_run", "run_days"]


def replay_for_run(term, targets, begin_date, end_date):
    """Attach a Replay of `begin_date`..`end_date` to `term`; returns it with
    the history's first and last day. None when something already pushes to
    the terminal (a Replay attached by the caller). ValueError when the
    dataset does not hold the days or no history day before them."""
    if "next_push" in vars(term):
        return None
    try:
        replayed, history = run_days(term.data.trading_days, begin_date, end_date)
    except ValueError as exc:
        raise ValueError("{}; connect one covering the run, e.g. link.connect(Terminal(Dataset("
                         "start=datetime.date(...), days=...)))".format(exc)) from None
    return Replay(term, targets, replayed), history[0], history[-1]

