"""Structure check of MAT v5 files before they are parsed.

scipy's v5 reader trusts the element tags of a file: a damaged tag (an
unknown data type, a matrix where numbers belong) makes it read through
an unchecked table and crash the process. A result file comes from
another program and may be cut short or damaged on disk, so every file
is walked here first, element by element, the way the reader will walk
it; one that does not hold together raises MatFileError instead.

The walk also unpacks compressed variables, so that the reader is handed
a plain stream and the data is inflated only once.
"""
import functools
import math
import struct
import zlib

import numpy as np

__all__ = ["MatFileError", "mat_version", "checked_v5"]

miINT8, miINT32, miUINT32, miMATRIX, miCOMPRESSED = 1, 5, 6, 14, 15
miUTF8, miUTF16, miUTF32 = 16, 17, 18

# numeric data types: item size and struct code
NUMERIC = {1: 1, 2: 1, 3: 2, 4: 2, 5: 4, 6: 4, 7: 4, 9: 8, 12: 8, 13: 8}
CODES = {1: "b", 2: "B", 3: "h", 4: "H", 5: "i", 6: "I", 12: "q", 13: "Q"}
INTEGER = {t: NUMERIC[t] for t in CODES}
INT32, UINT32, INT8 = {miINT32: 4}, {miUINT32: 4}, {miINT8: 1}
TEXT = {**NUMERIC, miUTF8: 1, miUTF16: 2, miUTF32: 4}

mxCELL, mxSTRUCT, mxOBJECT, mxCHAR, mxSPARSE = 1, 2, 3, 4, 5
mxFUNCTION = 16
NUMERIC_CLASSES = range(6, 16)
COMPLEX, MAX_DIMS = 0x800, 32


class MatFileError(ValueError):
    """A MAT file whose structure does not hold together."""


class _Walk:
    """Reads elements of one stream in order, as the reader will."""

    def __init__(self, data, order):
        self.data, self.pos, self.order = data, 0, order
        self.pair = struct.Struct(order + "II").unpack_from
        self.matrix_head = struct.Struct(order + "6I2i").unpack_from

    def fail(self, why):
        raise MatFileError("{} at byte {}".format(why, self.pos))

    def element(self, end, allowed=None, what=""):
        """The next element's (type, item count, start of its data), past
        its data and padding; a small element holds up to 4 bytes in its
        tag. With `allowed` (type -> item size) its type is checked and its
        bytes counted in items, else its byte count is given."""
        pos = self.pos
        if pos + 8 > end:
            self.fail("element tag cut short")
        mdtype, count = self.pair(self.data, pos)
        start = pos + 8
        if mdtype >> 16:
            mdtype, count, start = mdtype & 0xFFFF, mdtype >> 16, pos + 4
            if count > 4:
                self.fail("small element of {} bytes".format(count))
            self.pos = pos + 8
        elif start + count > end:
            self.fail("element of {} bytes runs past its end".format(count))
        else:
            self.pos = start + count + (-count & 7)
        if allowed is None:
            return mdtype, count, start
        size = allowed.get(mdtype)
        if size is None:
            self.fail("{} has data type {}".format(what, mdtype))
        if count % size:
            self.fail("{} of {} bytes is not whole items".format(what, count))
        return mdtype, count // size, start

    def ints(self, end, what):
        """A few 32-bit integers (dimensions, a length)."""
        mdtype, n, start = self.element(end, INT32, what)
        return _int32s(self.order, n).unpack_from(self.data, start)

    def indices(self, end, what):
        """An index array of any integer type."""
        mdtype, n, start = self.element(end, INTEGER, what)
        kind = np.dtype(self.order + CODES[mdtype])
        return np.frombuffer(self.data, kind, n, start).astype(np.int64)

    def text(self, end, what):
        return self.element(end, INT8, what)[1]

    def numbers(self, end, numel, what):
        """A numeric part: numel items of any numeric type."""
        n = self.element(end, NUMERIC, what)[1]
        if n != numel:
            self.fail("{} holds {} items for {}".format(what, n, numel))

    def matrix(self, end):
        """One miMATRIX element, whole."""
        self.content(*self.element(end))

    def content(self, mdtype, count, start, top=False):
        """What the tag just read holds: a matrix, whole."""
        if mdtype != miMATRIX:
            self.fail("variable has data type {}".format(mdtype))
        if count == 0 and not top:
            return  # an empty matrix inside a cell or structure
        stop = start + count
        self.pos = start
        self.array(stop)
        if self.pos != stop:
            self.fail("variable content ends at byte {} of {}".format(self.pos, stop))

    def head(self, end):
        """The array flags and dimensions."""
        mdtype, n, start = self.element(end, UINT32, "array flags")
        if n != 2:
            self.fail("array flags of {} words".format(n))
        return self.pair(self.data, start)[0], self.ints(end, "dimensions")

    def array(self, end):
        pos = self.pos
        # the usual head (flags, then two dimensions) read at once
        words = self.matrix_head(self.data, pos) if pos + 32 <= end else ()
        if words[:2] == (miUINT32, 8) and words[4:6] == (miINT32, 8):
            flags, dims, self.pos = words[2], words[6:], pos + 32
        else:
            flags, dims = self.head(end)
        cls = flags & 0xFF
        if not 1 <= len(dims) <= MAX_DIMS or min(dims) < 0:
            self.fail("dimensions {}".format(list(dims)))
        numel = math.prod(dims)
        self.text(end, "name")
        if cls in NUMERIC_CLASSES:
            self.numbers(end, numel, "real part")
            if flags & COMPLEX:
                self.numbers(end, numel, "imaginary part")
        elif cls == mxCHAR:
            self.element(end, TEXT, "characters")
        elif cls == mxSPARSE:
            self.sparse(end, dims, flags)
        elif cls == mxCELL:
            self.items(end, numel)
        elif cls in (mxSTRUCT, mxOBJECT):
            if cls == mxOBJECT:
                self.text(end, "class name")
            self.fields(end, numel)
        elif cls == mxFUNCTION:
            self.matrix(end)
        else:  # opaque objects too: nothing here reads them
            self.fail("array class {}".format(cls))

    def items(self, end, count):
        # each item takes a tag at least: a count beyond that is damage
        if count * 8 > end - self.pos:
            self.fail("{} items cannot fit".format(count))
        for _ in range(count):
            self.matrix(end)

    def fields(self, end, numel):
        length = self.ints(end, "field name length")
        if len(length) != 1 or length[0] < 1:
            self.fail("field name length {}".format(list(length)))
        names = self.text(end, "field names")
        if names % length[0]:
            self.fail("field names of {} bytes for length {}".format(names, length[0]))
        self.items(end, numel * (names // length[0]))

    def sparse(self, end, dims, flags):
        """Row indices, column starts and values that index inside the
        matrix: the sparse routines do not check them."""
        if len(dims) != 2:
            self.fail("sparse matrix of {} dimensions".format(len(dims)))
        rows, cols = dims
        ir, jc = self.indices(end, "row indices"), self.indices(end, "column starts")
        if len(jc) != cols + 1 or jc[0] != 0 or (np.diff(jc) < 0).any() or jc[-1] > len(ir):
            self.fail("column starts do not fit the matrix")
        used = ir[: jc[-1]]
        if len(used) and (used.min() < 0 or used.max() >= rows):
            self.fail("row index outside the matrix")
        stored = int(jc[-1])
        for part in ("real part", "imaginary part")[: 2 if flags & COMPLEX else 1]:
            n = self.element(end, NUMERIC, part)[1]
            if n < stored:
                self.fail("{} holds {} of {} values".format(part, n, stored))


@functools.lru_cache(maxsize=None)
def _int32s(order, n):
    return struct.Struct("{}{}i".format(order, n))


def mat_version(data):
    """The file's major version as the reader tells it: 0 (v4), 1 (v5) or
    2 (v7.3, HDF5); None when it is none of them."""
    if len(data) < 4:
        return None
    if 0 in data[:4]:
        return 0  # a v4 file starts with its first variable's type word
    mark = data[124:128]
    if len(mark) < 4:
        return None
    major = mark[1] if mark[2] == ord("I") else mark[0]
    return major if major in (1, 2) else None


def checked_v5(data):
    """A v5 file's bytes (header included), checked whole; compressed
    variables come back unpacked. Raises MatFileError when damaged."""
    order = {b"IM": "<", b"MI": ">"}.get(bytes(data[126:128]))
    if order is None:
        raise MatFileError("unknown byte order mark {!r}".format(bytes(data[126:128])))
    walk = _Walk(data, order)
    walk.pos, parts, unpacked = 128, [], False
    while walk.pos < len(data):
        at = walk.pos
        mdtype, count, start = walk.element(len(data))
        if mdtype == miCOMPRESSED:
            inner = _Walk(_inflate(data[start:start + count], walk.pair, at), order)
            inner.content(*inner.element(len(inner.data)), top=True)
            parts.append(inner.data)
            unpacked = True
        else:
            walk.content(mdtype, count, start, top=True)
            parts.append((at, walk.pos))
        walk.pos = start + count  # variables follow each other unpadded
    if not unpacked:
        return data
    return data[:128] + b"".join(p if isinstance(p, bytes) else data[p[0]:p[1]] for p in parts)


def _inflate(chunk, pair, at):
    """The variable packed in a compressed element: its tag and as many
    bytes as the tag names, no more (what follows is ignored, as the
    reader does, and a forged stream cannot inflate without bound)."""
    try:
        stream = zlib.decompressobj()
        tag = stream.decompress(chunk, 8)
        if len(tag) < 8:
            raise MatFileError("compressed variable at byte {} is cut short".format(at))
        count = pair(tag, 0)[1]
        return tag + (stream.decompress(stream.unconsumed_tail, count) if count else b"")
    except zlib.error as exc:
        raise MatFileError("compressed variable at byte {}: {}".format(at, exc)) from None
