"""File helpers: MAT result files and guarded calls."""
import functools
import io
import os

import numpy as np

from velmoro.tframe.utils.logger import write_log
from velmoro.tframe.utils.matcheck import MatFileError, checked_v5, mat_version
from velmoro.tframe.utils.matrows import plain_rows

__all__ = ["MatData", "load_mat", "run_ignore_exception"]


class MatData(dict):
    """Variables of a MAT file: variable name -> numpy array."""


def _load_v73(path):
    try:
        import h5py
    except ImportError:
        raise OSError("{} is a MAT v7.3 file; reading it needs h5py (pip install h5py, or the package's "
                      "extra: pip install 'velmoro[hdf5]')".format(path)) from None
    data = MatData()
    with h5py.File(path, "r") as f:
        for name, item in f.items():
            if isinstance(item, h5py.Dataset) and not name.startswith("#"):
                # v7.3 stores matrices column-major: transpose back
                data[name] = np.array(item).T
    return data


@functools.lru_cache(maxsize=None)
def _sparse_as_matrix():
    """Sparse variables stay scipy.sparse matrices on every scipy: newer ones
    ask for that choice (their default is moving to sparse arrays)."""
    import inspect

    import scipy.io

    return {"spmatrix": True} if "spmatrix" in inspect.signature(scipy.io.loadmat).parameters else {}


def load_mat(path, error="warn"):
    """Read the variables of a MAT file into a MatData mapping.

    error="raise" raises when the file cannot be read; otherwise the failure is
    written to the framework log (level "warn") and an empty MatData is returned.
    A damaged v5 file is refused (MatFileError) before it is parsed.
    """
    import scipy.io

    try:
        # unbuffered: the file is read whole in one piece, not joined from
        # the buffer's (several times the cost for a large file)
        with open(path, "rb", buffering=0) as f:
            version = mat_version(f.read(128))  # the header tells the version
            if version == 2:
                return _load_v73(path)  # h5py reads the file itself
            f.seek(0)
            data = f.readall()
        # a file of plain rows (the terminal's bar files) is read directly
        rows = plain_rows(data) if version == 1 else None
        if rows is not None:
            variables = MatData(rows)
        elif version is None:
            raise MatFileError("{} is not a MAT file".format(path))
        else:
            # the parser reads exactly the bytes checked (BytesIO shares them)
            data = checked_v5(data) if version == 1 else data
            variables = MatData(scipy.io.loadmat(io.BytesIO(data), **_sparse_as_matrix()))
    except Exception as exc:
        if error == "raise":
            raise
        write_log("cannot read MAT file {!r}: {}".format(path, exc), level="warn")
        return MatData()
    for name in [name for name in variables if name.startswith("__")]:
        del variables[name]  # the parser's own entries (header, version, globals)
    return variables


def run_ignore_exception(func, *args):
    """Call func(*args); any exception it raises is swallowed."""
    try:
        return func(*args)
    except Exception:
        return None


def ensure_dir(path):
    """Create a folder (and its parents) when missing; return it."""
    os.makedirs(path, exist_ok=True)
    return path
