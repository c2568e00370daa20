"""Small algorithms for strategies and their indicators, on arrays of
targets (rows) by bars (columns, oldest first)."""
import numpy as np

__all__ = ["moving_average", "crossed_above"]


def moving_average(values, window):
    """Mean of each row's last `window` values that are not NaN (NaN when a
    row has none)."""
    tail = np.asarray(values, dtype=float)[:, -int(window) :]
    counts = np.sum(~np.isnan(tail), axis=1)
    sums = np.nansum(tail, axis=1)
    return np.divide(sums, counts, out=np.full(tail.shape[0], np.nan), where=counts > 0)


def crossed_above(fast, slow):
    """Per row: True where `fast` rose above `slow` at the last column."""
    fast = np.asarray(fast, dtype=float)
    slow = np.asarray(slow, dtype=float)
    return (fast[:, -2] <= slow[:, -2]) & (fast[:, -1] > slow[:, -1])
