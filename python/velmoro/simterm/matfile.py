"""A lean writer of MAT (v5) files of double and integer rows, ASCII texts and
cell arrays of them: the bar files the terminal writes by the thousand and
the tables of its queries. It lays out the same elements scipy's writer does,
without its per-variable set-up; any other file goes through scipy
(Terminal.write_mat).
"""
import functools
import os
import struct
import threading
from typing import Mapping, Union

import numpy as np

__all__ = ["Unsupported", "mat_bytes", "write_atomic"]

_HEADER = b"MATLAB 5.0 MAT-file, written by the velmoro simulated terminal".ljust(116) + b"\0" * 8 + b"\x00\x01IM"
_MI_INT8, _MI_UINT32, _MI_INT32, _MI_DOUBLE, _MI_INT64, _MI_MATRIX, _MI_UTF8 = 1, 6, 5, 9, 12, 14, 16
_MX_CELL, _MX_CHAR, _MX_DOUBLE, _MX_INT64 = 1, 4, 6, 14


class Unsupported(ValueError):
    """A value this writer does not lay out (scipy's writer takes it)."""


def _element(mi_type, data):
    """A data element: the small form for up to 4 bytes, else tag, data and
    padding to 8 bytes."""
    if len(data) <= 4:
        return struct.pack("<HH", mi_type, len(data)) + data.ljust(4, b"\0")
    return struct.pack("<II", mi_type, len(data)) + data + b"\0" * (-len(data) % 8)


def _matrix(name, mx_class, cols, data_tag, data_size=0, rows=1):
    """A rows x cols matrix element up to `data_size` bytes of data after `data_tag`."""
    body = b"".join((
        _element(_MI_UINT32, struct.pack("<II", mx_class, 0)),
        _element(_MI_INT32, struct.pack("<ii", rows, cols)),
        _element(_MI_INT8, name.encode("ascii")),
        data_tag,
    ))
    return struct.pack("<II", _MI_MATRIX, len(body) + data_size) + body


@functools.lru_cache(maxsize=256)
def _double_head(name, cols):
    """A double row's element up to its data: the same for every file of the
    same length, made once."""
    return _matrix(name, _MX_DOUBLE, cols, struct.pack("<II", _MI_DOUBLE, 8 * cols), 8 * cols)


def _variable(name, value):
    if isinstance(value, str):
        try:
            text = value.encode("ascii")
        except UnicodeEncodeError:
            raise Unsupported("a text other than ASCII") from None
        # an empty text is 0 x 0, as scipy writes it
        return _matrix(name, _MX_CHAR, len(text), _element(_MI_UTF8, text), rows=1 if text else 0)
    value = np.asarray(value)
    if value.ndim > 2 or value.ndim == 2 and value.shape[0] != 1:
        raise Unsupported("an array of shape {}".format(value.shape))
    if value.dtype == object:
        cells = b"".join(_variable("", cell) for cell in value.ravel())
        return _matrix(name, _MX_CELL, value.size, cells)
    if value.dtype == np.int64:
        data = np.ascontiguousarray(value, dtype="<i8").ravel().tobytes()
        return _matrix(name, _MX_INT64, len(data) // 8, _element(_MI_INT64, data))
    if value.dtype != np.float64:
        raise Unsupported("values of dtype {}".format(value.dtype))
    row = np.ascontiguousarray(value, dtype="<f8").ravel()
    # doubles are a multiple of 8 bytes: never the small form, never padded
    return _double_head(name, row.size) + row.tobytes()


def mat_bytes(variables: Mapping[str, Union[str, np.ndarray]]) -> bytes:
    """A MAT file of `variables`, each a row: a text (a 1 x n char array), an
    int64 or float64 array (1 x n), or an object array (a 1 x n cell array of
    such values). Unsupported for another value."""
    return _HEADER + b"".join(_variable(name, value) for name, value in variables.items())


def write_atomic(path: str, data: bytes) -> None:
    """Write a file whole under a temporary name, then give it its name: a
    reader never finds it half written."""
    part = "{}.{}-{}.part".format(path, os.getpid(), threading.get_ident())
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, path)
