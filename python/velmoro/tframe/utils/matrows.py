"""A quick reader of the commonest MAT files: v5, little-endian and
uncompressed, every variable a 1 x n row of doubles or 64-bit integers or a
1 x n ASCII text. The terminal's bar files are such files, thousands of them
per run; the general parser spends most of its time setting itself up for
each. Any other file, and any file whose elements do not hold together, gets
None here and goes to the checked general reader, which reads or refuses it.
"""
import struct
from typing import Dict, Optional

import numpy as np

__all__ = ["plain_rows"]

_PAIR = struct.Struct("<II")
# a matrix's tag, its array flags and its dimensions (two), as one record
_HEAD = struct.Struct("<8I2i")
_MI_INT8, _MI_INT32, _MI_UINT32, _MI_DOUBLE, _MI_INT64, _MI_MATRIX, _MI_UTF8 = 1, 5, 6, 9, 12, 14, 16
_MX_CHAR = 4
# array class -> the data type of its values and their dtype
_ROWS = {6: (_MI_DOUBLE, "<f8"), 14: (_MI_INT64, "<i8")}
# the array flags' complex, global and logical bits
_FLAG_BITS = 0xFF00


def _element(data, pos, end):
    """(data type, byte count, first data byte, next element) of the element
    at `pos`, or None when it does not fit before `end`."""
    if pos + 8 > end:
        return None
    word, size = _PAIR.unpack_from(data, pos)
    if word >> 16:  # the small form: up to 4 bytes inside the tag
        size = word >> 16
        return (word & 0xFFFF, size, pos + 4, pos + 8) if size <= 4 else None
    after = pos + 8 + size + (-size % 8)
    return (word, size, pos + 8, after) if after <= end else None


def _variable(data, pos, end):
    """(name, value) of the matrix element at `pos`, or None when it is not
    a plain row or does not end at `end`."""
    kind, _, flags_type, flags_size, mx_class, _, dims_type, dims_size, rows, cols = _HEAD.unpack_from(data, pos)
    if (kind, flags_type, flags_size, dims_type, dims_size, rows) != (_MI_MATRIX, _MI_UINT32, 8, _MI_INT32, 8, 1):
        return None
    name = _element(data, pos + _HEAD.size, end)
    if name is None or name[0] != _MI_INT8 or name[1] == 0 or cols < 0 or mx_class & _FLAG_BITS:
        return None
    key = bytes(data[name[2] : name[2] + name[1]])
    values = _element(data, name[3], end)
    if values is None or values[3] != end or not key.isascii():
        return None
    kind, size, start = values[:3]
    row = _ROWS.get(mx_class)
    if row is not None and kind == row[0] and size == 8 * cols:
        # a copy: the value owns its memory, as the general reader's do
        return key.decode("ascii"), np.frombuffer(data, row[1], cols, start).reshape(1, cols).copy()
    if mx_class == _MX_CHAR and kind == _MI_UTF8 and size == cols > 0:
        text = bytes(data[start : start + size])
        return (key.decode("ascii"), np.array([text.decode("ascii")])) if text.isascii() else None
    return None


def plain_rows(data: bytes) -> Optional[Dict[str, np.ndarray]]:
    """The variables of a MAT file's bytes as the general reader gives them
    (a 1 x n array of a row, a one-element array of str of a text), or None
    when the file is not made of plain rows only."""
    if len(data) < 128 or data[124:128] != b"\x00\x01IM":
        return None
    variables: Dict[str, np.ndarray] = {}
    pos, end = 128, len(data)
    while pos < end:
        if pos + 8 > end:
            return None
        size = _PAIR.unpack_from(data, pos)[1]
        if pos + 8 + size > end or size < _HEAD.size - 8:
            return None
        found = _variable(data, pos, pos + 8 + size)
        if found is None or found[0] in variables:
            return None
        variables[found[0]] = found[1]
        pos += 8 + size
    return variables
