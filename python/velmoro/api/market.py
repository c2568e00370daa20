"""Cross-sectional access for strategies: the run's targets as arrays.

Inside a data handler (or anywhere during a live run):

    from velmoro.api import market

    bar = market.current_bar()                 # bar.close[i]: target i's close now
    closes = market.window("Close", 20)        # targets x (up to) 20 bars, oldest first
    i = market.target_index("SSE.600000")      # its row in both
    pos = market.position()                    # the current refresh position

Arrays follow the order of the run's targets (`context.targets`). They are
read-only views of the run's refresh matrix, not copies: they cost nothing
to take and show the run's values as of the moment they are read, so keep a
`.copy()` of what must outlast the handler call.
"""
from typing import Dict, List, NamedTuple

import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.protocol import QUANTITIES
from velmoro.tframe.runtypesbase import gv

__all__ = ["QUANTITIES", "Bar", "position", "current_bar", "window", "target_index"]


class Bar(NamedTuple):
    """The current bar of every target: one array per quantity, one element per target."""

    open: np.ndarray
    high: np.ndarray
    low: np.ndarray
    close: np.ndarray
    volume: np.ndarray
    amount: np.ndarray


def position() -> int:
    """The current refresh position: the column of the run's refresh time
    line that the data handler is called for."""
    return int(cnt.vr.g_VelmoroSimCurBarFresh)


def _rows(quantity: str) -> np.ndarray:
    """The refresh matrix's rows of `quantity` for every target (a read-only view)."""
    try:
        offset = [q.lower() for q in QUANTITIES].index(str(quantity).lower())
    except ValueError:
        raise ValueError("unknown quantity {!r}: one of {}".format(quantity, ", ".join(QUANTITIES))) from None
    rows = cnt.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_Open + offset :: len(QUANTITIES)]
    rows.flags.writeable = False
    return rows


def current_bar() -> Bar:
    """Open, high, low, close, volume and amount of every target's bar at the
    current refresh position (a forming bar holds its values so far; NaN for
    a target without a bar there)."""
    pos = position()
    return Bar(*(_rows(q)[:, pos] for q in QUANTITIES))


def window(quantity: str, n: int) -> np.ndarray:
    """The last `n` bars of `quantity` ("Open" ... "Amount") of every target
    up to the current one: targets x bars, oldest first, fewer than `n`
    columns near the start of the run. A view, not a copy."""
    if int(n) < 1:
        raise ValueError("a window holds at least one bar, got n={!r}".format(n))
    end = position() + 1
    return _rows(quantity)[:, max(end - int(n), 0) : end]


# the run's target keys as last seen, and their index
_seen: List[str] = []
_index: Dict[str, int] = {}


def target_index(key: str) -> int:
    """The index of a target ("MARKET.CODE", market in any case, e.g.
    "sse.600000") among the run's targets. KeyError when the run lacks it."""
    keys = cnt.vr.g_VelmoroInputInfo.TargetListDot
    if _seen != keys:
        _seen[:] = keys
        _index.clear()
        _index.update((k.upper(), i) for i, k in reversed(list(enumerate(keys))))  # the first of twins
    index = _index
    try:
        return index[str(key).upper()]
    except KeyError:
        raise KeyError("{!r} is not among the run's {} targets".format(key, len(keys))) from None
