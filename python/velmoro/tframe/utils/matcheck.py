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
import math
import struct
import zlib

import numpy as np

__all__ = ["MatFileError", "mat_version", "checked_v5"]

miINT8, miINT32, miUINT32, miMATRIX, miCOMPRESSED = 1, 5, 6, 14, 15
miUTF8, miUTF16, miUTF32 = 16, 17, 18

# numeric data types and their item sizes
NUMERIC = {1: 1, 2: 1, 3: 2, 4: 2, 5: 4, 6: 4, 7: 4, 9: 8, 12: 8, 13: 8}
MDTYPE_CODES = {1: "i1", 2: "u1", 3: "i2", 4: "u2", 5: "i4", 6: "u4", 12: "i8", 13: "u8"}
INTEGER = {t: n for t, n in NUMERIC.items() if t not in (7, 9)}
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
        self.data, self.pos = data, 0
        self.u32 = struct.Struct(order + "I")
        self.order = order

    def fail(self, why):
        raise MatFileError("{} at byte {}".format(why, self.pos))

    def tag(self, end):
        """The next element's (type, byte count, start of its data), past
        its data and padding; a small element holds up to 4 bytes in its
        tag."""
        if self.pos + 8 > end:
            self.fail("element tag cut short")
        word = self.u32.unpack_from(self.data, self.pos)[0]
        small = word >> 16
        if small:
            if small > 4:
                self.fail("small element of {} bytes".format(small))
            start, self.pos = self.pos + 4, self.pos + 8
            return word & 0xFFFF, small, start
        count = self.u32.unpack_from(self.data, self.pos + 4)[0]
        start = self.pos + 8
        if start + count > end:
            self.fail("element of {} bytes runs past its end".format(count))
        self.pos = start + count + (-count) % 8
        return word, count, start

    def element(self, end, allowed, what):
        mdtype, count, start = self.tag(end)
        if mdtype not in allowed:
            self.fail("{} has data type {}".format(what, mdtype))
        if count % allowed[mdtype]:
            self.fail("{} of {} bytes is not whole items".format(what, count))
        return mdtype, count, start

    def ints(self, end, what, allowed=None):
        mdtype, count, start = self.element(end, allowed or {miINT32: 4}, what)
        kind = np.dtype(MDTYPE_CODES[mdtype]).newbyteorder(self.order)
        return np.frombuffer(self.data, kind, count // kind.itemsize, start).astype(np.int64)

    def text(self, end, what):
        mdtype, count, start = self.element(end, {miINT8: 1}, what)
        return count

    def numbers(self, end, numel, what):
        """A numeric part: numel items of any numeric type; its values."""
        mdtype, count, start = self.element(end, NUMERIC, what)
        if count // NUMERIC[mdtype] != numel:
            self.fail("{} holds {} items for {}".format(what, count // NUMERIC[mdtype], numel))
        return mdtype, start

    def matrix(self, end, top=False):
        """One miMATRIX element, whole."""
        mdtype, count, start = self.tag(end)
        if mdtype != miMATRIX:
            self.fail("variable has data type {}".format(mdtype))
        if count == 0 and not top:
            return  # an empty matrix inside a cell or structure
        stop = start + count
        self.pos = start
        self.array(stop)
        if self.pos != stop:
            self.fail("variable content ends at byte {} of {}".format(self.pos, stop))

    def array(self, end):
        mdtype, count, start = self.element(end, {miUINT32: 4}, "array flags")
        if count != 8:
            self.fail("array flags of {} bytes".format(count))
        flags, nzmax = struct.unpack_from(self.order + "II", self.data, start)
        cls = flags & 0xFF
        dims = self.ints(end, "dimensions")
        if not 1 <= len(dims) <= MAX_DIMS or (dims < 0).any():
            self.fail("dimensions {}".format(list(dims)))
        numel = math.prod(int(d) for d in dims)
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
        if names % int(length[0]):
            self.fail("field names of {} bytes for length {}".format(names, length[0]))
        self.items(end, numel * (names // int(length[0])))

    def sparse(self, end, dims, flags):
        """Row indices, column starts and values that index inside the
        matrix: the sparse routines do not check them."""
        if len(dims) != 2:
            self.fail("sparse matrix of {} dimensions".format(len(dims)))
        rows, cols = int(dims[0]), int(dims[1])
        ir, jc = self.ints(end, "row indices", INTEGER), self.ints(end, "column starts", INTEGER)
        if len(jc) != cols + 1 or jc[0] != 0 or (np.diff(jc) < 0).any() or jc[-1] > len(ir):
            self.fail("column starts do not fit the matrix")
        used = ir[: jc[-1]]
        if len(used) and (used.min() < 0 or used.max() >= rows):
            self.fail("row index outside the matrix")
        stored = int(jc[-1])
        for part in ("real part", "imaginary part")[: 2 if flags & COMPLEX else 1]:
            mdtype, count, start = self.element(end, NUMERIC, part)
            if count // NUMERIC[mdtype] < stored:
                self.fail("{} holds {} of {} values".format(part, count // NUMERIC[mdtype], stored))


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
    parts = [bytes(data[:128])]
    walk = _Walk(data, order)
    walk.pos = 128
    while walk.pos < len(data):
        at = walk.pos
        mdtype, count, start = walk.tag(len(data))
        if mdtype == miCOMPRESSED:
            inner = _inflate(data[start:start + count], walk.u32, at)
            _Walk(inner, order).matrix(len(inner), top=True)
            parts.append(inner)
        else:
            walk.pos = at
            walk.matrix(len(data), top=True)
            parts.append(bytes(data[at:walk.pos]))
        walk.pos = start + count  # variables follow each other unpadded
    return b"".join(parts)


def _inflate(chunk, u32, at):
    """The variable packed in a compressed element: its tag and as many
    bytes as the tag names, no more (what follows is ignored, as the
    reader does, and a forged stream cannot inflate without bound)."""
    try:
        stream = zlib.decompressobj()
        tag = stream.decompress(chunk, 8)
        if len(tag) < 8:
            raise MatFileError("compressed variable at byte {} is cut short".format(at))
        count = u32.unpack_from(tag, 4)[0]
        return tag + (stream.decompress(stream.unconsumed_tail, count) if count else b"")
    except zlib.error as exc:
        raise MatFileError("compressed variable at byte {}: {}".format(at, exc)) from None
