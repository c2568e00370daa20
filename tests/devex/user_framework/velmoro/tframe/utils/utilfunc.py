import numpy as np


def load_mat(path, error="ignore"):
    """The arrays of a result file (kept as .npz here)."""
    with np.load(path) as data:
        return dict(data)


def run_ignore_exception(func, *args):
    try:
        func(*args)
    except Exception:
        pass
