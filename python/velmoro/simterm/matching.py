"""How much of an order a run of bars fills, worked out over whole arrays.

A bar fills an order at its close when the limit allows (buy: close <= limit,
sell: close >= limit; a market order takes any), when it is not locked at
the limit against the order (high = low = the upper limit: no buy; = the
lower limit: no sell), and then for at most `share` of its volume less what
earlier orders took of it, rounded down to the step; the last bar needed
fills what is left of the order, odd shares included.
"""
from typing import Dict, Optional, Tuple

import numpy as np

__all__ = ["BarUse", "fills", "locked"]

_EPS = 1e-9  # prices are cents: closer than this is equal
_EMPTY = np.zeros(0)


def locked(high, low, side: str, band: Optional[Tuple[float, float]]):
    """Whether each bar is locked at the limit against an order of `side`."""
    if band is None:
        return np.zeros(np.shape(high), dtype=bool)
    edge = band[1] if side == "buy" else band[0]
    return (np.abs(high - edge) < _EPS) & (np.abs(low - edge) < _EPS)


def fills(bars: Dict[str, np.ndarray], side: str, limit: Optional[float], remaining: int, step: int, share: float,
          band: Optional[Tuple[float, float]], taken: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """(indexes, volumes) of the bars that fill an order with `remaining`
    shares to go (`limit` None for a market order; `taken`: volume earlier
    orders took of each bar)."""
    close = bars["Close"]
    if limit is None:
        allowed = np.ones(close.shape, dtype=bool)
    else:
        allowed = close <= limit + _EPS if side == "buy" else close >= limit - _EPS
    allowed &= ~locked(bars["High"], bars["Low"], side, band)
    room = np.where(allowed, np.maximum(np.floor(bars["Volume"] * share) - taken, 0.0), 0.0)
    take = np.floor(room / step) * step
    before = np.cumsum(take) - take
    done = room >= remaining - before
    if done.any():
        last = int(done.argmax())
        take = np.r_[take[:last], remaining - before[last]]
    hit = np.flatnonzero(take > 0)
    return hit, take[hit].astype(np.int64)


class BarUse:
    """Volume already taken from bars, per security, so that the orders on
    one bar share its volume. Only bars a later match can see again are kept."""

    def __init__(self):
        self._by_key = {}  # key -> (sorted bar times, volumes taken)

    def taken(self, key: str, times: np.ndarray) -> np.ndarray:
        known, volumes = self._by_key.get(key, (_EMPTY, _EMPTY))
        at = np.minimum(np.searchsorted(known, times), max(known.size - 1, 0))
        if not known.size:
            return np.zeros(times.shape)
        return np.where(known[at] == times, volumes[at], 0.0)

    def take(self, key: str, times: np.ndarray, volumes: np.ndarray):
        known, taken = self._by_key.get(key, (_EMPTY, _EMPTY))
        merged, where = np.unique(np.r_[known, times], return_inverse=True)
        self._by_key[key] = merged, np.bincount(where, weights=np.r_[taken, volumes], minlength=merged.size)

    def forget_before(self, time: float):
        """Drop the bars before `time`: no order sees them again."""
        for key, (known, taken) in list(self._by_key.items()):
            keep = known >= time
            if keep.any():
                self._by_key[key] = known[keep], taken[keep]
            else:
                del self._by_key[key]
