"""A lean writer of MAT (v5) files of double rows and ASCII texts: the bar files
the terminal writes by the thousand. It lays out the same elements scipy's
writer does, without its per-variable set-up; any other file goes through
scipy (Terminal.write_mat).
"""
import functools
import os
import struct
import threading
from typing import Mapping, Union

import numpy as np

__all__ = ["mat_bytes", "write_atomic"]

_HEADER = b"MATLAB 5.0 MAT-file, written by the velmoro simulated terminal".ljust(116) + b"\0" * 8 + b"\x00\x01IM"
_MI_INT8, _MI_UINT32, _MI_INT32, _MI_DOUBLE, _MI_MATRIX, _MI_UTF8 = 1, 6, 5, 9, 14, 16
_MX_CHAR, _MX_DOUBLE = 4, 6


def _element(mi_type, data):
    """A data element: the small form for up to 4 bytes, else tag, data and
    padding to 8 bytes."""
    if len(data) <= 4:
        return struct.pack("<HH", mi_type, len(data)) + data.ljust(4, b"\0")
    return struct.pack("<II", mi_type, len(data)) + data + b"\0" * (-len(data) % 8)


def _matrix(name, mx_class, cols, data_tag, data_size=0):
    """A matrix element up to `data_size` bytes of data after `data_tag`."""
    body = b"".join((
        _element(_MI_UINT32, struct.pack("<II", mx_class, 0)),
        _element(_MI_INT32, struct.pack("<ii", 1, cols)),
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
        text = value.encode("ascii")
        return _matrix(name, _MX_CHAR, len(text), _element(_MI_UTF8, text))
    row = np.ascontiguousarray(value, dtype="<f8").ravel()
    # doubles are a multiple of 8 bytes: never the small form, never padded
    return _double_head(name, row.size) + row.tobytes()


def mat_bytes(variables: Mapping[str, Union[str, np.ndarray]]) -> bytes:
    """A MAT file of `variables`: each a text (a 1 x n char array) or an array
    of numbers (a 1 x n double row)."""
    return _HEADER + b"".join(_variable(name, value) for name, value in variables.items())


def write_atomic(path: str, data: bytes) -> None:
    """Write a file whole under a temporary name, then give it its name: a
    reader never finds it half written."""
    part = "{}.{}-{}.part".format(path, os.getpid(), threading.get_ident())
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, path)
