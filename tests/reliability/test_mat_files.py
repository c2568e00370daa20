"""Result files read by the framework: every well-formed MAT file reads as
scipy reads it, and a damaged one is refused with an error instead of
reaching the parser's unchecked paths (which crash the process)."""
import io
import os
import struct
import subprocess
import sys
import textwrap
import zlib

import numpy as np
import pytest
import scipy.io
import scipy.sparse
from hypothesis import given
from hypothesis import strategies as st

from harness.fakes import v73_bytes
from velmoro.simterm.matfile import mat_bytes
from velmoro.tframe.utils.matcheck import MatFileError, checked_v5
from velmoro.tframe.utils.matrows import plain_rows
from velmoro.tframe.utils import utilfunc
from velmoro.tframe.utils.utilfunc import MatData, load_mat

VARIABLES = {
    "Close": np.arange(12.0).reshape(3, 4),
    "Cube": np.arange(24.0).reshape(2, 3, 4),
    "Empty": np.zeros((0, 0)),
    "Ints": np.array([[1, -2]], dtype=np.int32),
    "Big": np.array([2 ** 64 - 1], dtype=np.uint64),
    "Complex": np.array([[1 + 2j, 3 - 4j]]),
    "Flag": np.array([[True, False]]),
    "Text": "600000.sse",
    "Wide": "\u6d66\u53d1\u94f6\u884c",
    "Texts": np.array(["ab", "cd"]),
    "Cell": np.array([np.ones((1, 2)), "x", np.zeros((0, 0))], dtype=object),
    "Record": {"Code": "600000", "Price": np.ones(3), "Nothing": np.zeros((0, 3))},
    "Sparse": scipy.sparse.csc_matrix(np.eye(3) * 2.0),
    "SparseComplex": scipy.sparse.csc_matrix(np.eye(2) * (1 + 1j)),
}


def saved(compressed=False, variables=VARIABLES):
    buffer = io.BytesIO()
    scipy.io.savemat(buffer, variables, do_compression=compressed)
    return buffer.getvalue()


def same(a, b):
    if scipy.sparse.issparse(a):
        return scipy.sparse.issparse(b) and (a != b).nnz == 0
    return repr(a) == repr(b)


@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "compressed"])
def test_well_formed_files_read_as_the_parser_reads_them(tmp_path, compressed):
    data = saved(compressed)
    path = tmp_path / "result.mat"
    path.write_bytes(data)
    expected = scipy.io.loadmat(io.BytesIO(data), **utilfunc._sparse_as_matrix())  # as load_mat asks it
    got = load_mat(str(path), error="raise")
    assert isinstance(got, MatData) and sorted(got) == sorted(VARIABLES)
    for name in VARIABLES:
        assert same(got[name], expected[name]), name


# rows as the terminal writes its bar files: names and texts in the small
# form (up to 4 bytes) and the long one, an empty row, 64-bit integers
PLAIN = {"Time": 739000.5 + np.arange(3.0), "DayPos": np.array([1.0, np.nan, -0.0]), "Empty": np.zeros(0),
         "Ints": np.array([1, -2], dtype=np.int64), "Mkt": "sse", "Code": "600000"}


@pytest.mark.parametrize("data, plain", [
    (mat_bytes(PLAIN), True),
    (mat_bytes({"Close": np.arange(40.0)}), True),
    (mat_bytes({"Text": ""}), False),  # an empty text is 0 x 0
    (mat_bytes({"Cells": np.array(["a", np.ones(2)], dtype=object)}), False),
    (saved(False), False),
    (saved(False, {"Close": np.arange(4.0).reshape(1, 4), "Code": "600000"}), True),  # as scipy writes them
], ids=["bar file", "one row", "empty text", "cells", "matrices", "rows scipy wrote"])
def test_plain_rows_read_as_the_parser_reads_them(data, plain):
    got = plain_rows(data)
    assert (got is not None) == plain
    if plain:
        expected = scipy.io.loadmat(io.BytesIO(data))
        assert sorted(got) == sorted(k for k in expected if not k.startswith("__"))
        assert all(same(got[k], expected[k]) and got[k].flags.writeable for k in got)


@given(data=st.data())
def test_a_damaged_plain_file_reads_as_the_parser_reads_it_or_goes_to_it(data):
    changed = bytearray(mat_bytes(PLAIN))
    for pos, value in data.draw(st.lists(st.tuples(st.integers(128, len(changed) - 1), st.integers(0, 255)),
                                         min_size=1, max_size=6), label="changes"):
        changed[pos] = value
    changed = bytes(changed[:data.draw(st.integers(128, len(changed)), label="length")])
    got = plain_rows(changed)
    if got is not None:
        expected = scipy.io.loadmat(io.BytesIO(checked_v5(changed)))
        assert sorted(got) == sorted(k for k in expected if not k.startswith("__"))
        assert all(same(got[k], expected[k]) for k in got)


def test_hdf5_files_read_back_in_row_major_order(tmp_path):
    path = tmp_path / "v73.mat"
    path.write_bytes(v73_bytes({"Close": VARIABLES["Close"], "Cube": VARIABLES["Cube"]}))
    got = load_mat(str(path), error="raise")
    assert got["Close"].tolist() == VARIABLES["Close"].tolist() and got["Cube"].shape == (2, 3, 4)


def element(mdtype, payload, order="<"):
    return struct.pack(order + "II", mdtype, len(payload)) + payload + bytes(-len(payload) % 8)


def matrix(cls, dims, name, *parts, order="<", flags=0):
    body = (element(6, struct.pack(order + "II", cls | flags, 0), order)
            + element(5, struct.pack(order + "%di" % len(dims), *dims), order)
            + element(1, name, order) + b"".join(parts))
    return struct.pack(order + "II", 14, len(body)) + body


def v5(*variables, order="<"):
    mark = b"IM" if order == "<" else b"MI"
    return (b"MATLAB 5.0 MAT-file".ljust(116, b" ") + bytes(8) + struct.pack(order + "H", 0x0100) + mark
            + b"".join(variables))


def test_big_endian_files_and_small_elements_read():
    values = struct.pack(">3d", 1.0, 2.0, 3.0)
    data = v5(matrix(6, [1, 3], b"Close", element(9, values, ">"), order=">"), order=">")
    got = scipy.io.loadmat(io.BytesIO(checked_v5(data)))
    assert got["Close"].tolist() == [[1.0, 2.0, 3.0]]
    # a value of 4 bytes or less may sit in its tag ("small element")
    small = struct.pack("<HH", 5, 4) + struct.pack("<i", 7)
    got = scipy.io.loadmat(io.BytesIO(checked_v5(v5(matrix(12, [1, 1], b"n", small)))))
    assert got["n"].tolist() == [[7]]


def test_intact_files_come_back_as_given_and_compressed_ones_unpacked():
    plain = saved(False)
    assert checked_v5(plain) is plain
    unpacked = checked_v5(saved(True))
    assert checked_v5(unpacked) is unpacked and len(unpacked) > len(saved(True))
    assert checked_v5(bytearray(plain)) == plain  # any bytes-like object


def one_double(mdtype=9, count=1, dims=(1, 1)):
    return v5(matrix(6, list(dims), b"x", element(mdtype, struct.pack("<%dd" % count, *range(count)))))


def sparse(rows, starts, values=(1.0, 2.0, 3.0), dims=(3, 3)):
    return v5(matrix(5, list(dims), b"s", element(5, struct.pack("<%di" % len(rows), *rows)),
                     element(5, struct.pack("<%di" % len(starts), *starts)),
                     element(9, struct.pack("<%dd" % len(values), *values))))


def compressed(variable):
    packed = zlib.compress(variable)
    return v5(struct.pack("<II", 15, len(packed)) + packed)


def head(flags, dims, name=b"x"):
    """A matrix tag and its first elements, as given (byte count included)."""
    return struct.pack("<II", 14, len(flags + dims + name) + 16) + flags + dims + name + element(9, bytes(8))


def nested_cells(depth):
    inner = matrix(6, [1, 1], b"", element(9, bytes(8)))
    for _ in range(depth - 1):
        inner = matrix(1, [1, 1], b"", inner)
    return v5(matrix(1, [1, 1], b"top", inner))


BIG = 2 ** 31 - 1
# each damaged file with the refusal it gets: the reason and the byte where
# the walk stood (inside the unpacked variable for a compressed one)
DAMAGED = {
    "unknown data type": (one_double(mdtype=113), "real part has data type 113 at byte 200"),
    "matrix where numbers belong": (one_double(mdtype=14), "real part has data type 14 at byte 200"),
    "fewer values than the dimensions": (one_double(count=1, dims=(1, 3)), "real part holds 1 items for 3 at byte 200"),
    "more values than 64 bits count": (one_double(count=1, dims=(BIG, BIG, BIG)),
                                       "real part holds 1 items for 9903520300447984150353281023 at byte 208"),
    "negative dimension": (one_double(dims=(1, -1)), "dimensions [1, -1] at byte 168"),
    "no dimension": (one_double(dims=()), "dimensions [] at byte 160"),
    "too many dimensions": (one_double(dims=(1,) * 33), "dimensions [%s] at byte 296" % ", ".join(["1"] * 33)),
    "dimensions of another type": (v5(head(element(6, bytes(8)), element(1, b"ab"))),
                                   "dimensions has data type 1 at byte 168"),
    "dimensions of odd bytes": (v5(head(element(6, bytes(8)), element(5, bytes(6)))),
                                "dimensions of 6 bytes is not whole items at byte 168"),
    "array flags of three words": (v5(head(element(6, bytes(12)), element(5, bytes(8)))),
                                   "array flags of 3 words at byte 160"),
    "small element over four bytes": (v5(matrix(6, [1, 1], b"x", struct.pack("<HH", 9, 8) + bytes(4))),
                                      "small element of 8 bytes at byte 184"),
    "element past the end": (one_double()[:-8], "element of 64 bytes runs past its end at byte 128"),
    "tag cut short": (one_double() + b"\x0e\x00", "element tag cut short at byte 200"),
    "variable of another type": (v5(element(9, bytes(8))), "variable has data type 9 at byte 144"),
    "content ending early": (v5(matrix(6, [1, 1], b"x", element(9, bytes(8)), element(1, b"junk"))),
                             "variable content ends at byte 200 of 216 at byte 200"),
    "imaginary part short": (v5(matrix(6, [1, 2], b"z", element(9, bytes(16)), element(9, bytes(8)), flags=0x800)),
                             "imaginary part holds 1 items for 2 at byte 224"),
    "characters of a matrix": (v5(matrix(4, [1, 2], b"t", element(14, bytes(8)))),
                               "characters has data type 14 at byte 200"),
    "opaque object": (v5(matrix(17, [1, 1], b"o")), "array class 17 at byte 184"),
    "class zero": (v5(matrix(0, [1, 1], b"o")), "array class 0 at byte 184"),
    "object class name of numbers": (v5(matrix(3, [1, 1], b"o", element(9, bytes(8)))),
                                     "class name has data type 9 at byte 200"),
    "function handle of numbers": (v5(matrix(16, [1, 1], b"f", element(9, bytes(8)))),
                                   "variable has data type 9 at byte 200"),
    "struct without field name length": (v5(matrix(2, [1, 1], b"s", element(5, struct.pack("<i", 0)),
                                                   element(1, b"ab"))), "field name length [0] at byte 200"),
    "two field name lengths": (v5(matrix(2, [1, 1], b"s", element(5, struct.pack("<ii", 2, 2)), element(1, b"ab"))),
                               "field name length [2, 2] at byte 200"),
    "field names split": (v5(matrix(2, [1, 1], b"s", element(5, struct.pack("<i", 4)), element(1, b"abcdef"))),
                          "field names of 6 bytes for length 4 at byte 216"),
    "struct of more fields than 64 bits count": (
        v5(matrix(2, [BIG, BIG, BIG], b"s", element(5, struct.pack("<i", 2)), element(1, b"abcd"))),
        "19807040600895968300706562046 items cannot fit at byte 224"),
    "cell of more items than bytes": (v5(matrix(1, [1000000, 1000000], b"c")),
                                      "1000000000000 items cannot fit at byte 184"),
    "cell item of numbers": (v5(matrix(1, [1, 1], b"c", element(9, bytes(8)))), "variable has data type 9 at byte 200"),
    "cells nested too deep": (nested_cells(201), "cells or structures nested over 200 deep at byte 9784"),
    "row index outside a sparse matrix": (sparse([0, 99, 2], [0, 1, 2, 3]), "row index outside the matrix at byte 232"),
    "column starts beyond the rows": (sparse([0, 1, 2], [0, 5, 2, 300]),
                                      "column starts do not fit the matrix at byte 232"),
    "column starts descending": (sparse([0, 1, 2], [0, 2, 1, 3]), "column starts do not fit the matrix at byte 232"),
    "sparse of three dimensions": (sparse([0, 1, 2], [0, 1, 2, 3], dims=(3, 3, 1)),
                                   "sparse matrix of 3 dimensions at byte 192"),
    "sparse values short": (sparse([0, 1, 2], [0, 1, 2, 3], values=(1.0, 2.0)), "real part holds 2 of 3 values at byte 256"),
    "sparse row indices of doubles": (v5(matrix(5, [3, 3], b"s", element(9, bytes(8)))),
                                      "row indices has data type 9 at byte 200"),
    "unknown byte order mark": (one_double()[:126] + b"XX" + one_double()[128:], "unknown byte order mark b'XX'"),
    "compressed junk": (v5(element(15, b"\x78\x9c junk")),
                        "compressed variable at byte 128: Error -3 while decompressing data: invalid stored block lengths"),
    "compressed and cut short": (compressed(b"\x0e\x00\x00"), "compressed variable at byte 128 is cut short"),
    "compressed with damage inside": (compressed(matrix(6, [1, 1], b"x", element(113, bytes(8)))),
                                      "real part has data type 113 at byte 72"),
    "compressed tag beyond its data": (compressed(struct.pack("<II", 14, 400) + bytes(16)),
                                       "element of 400 bytes runs past its end at byte 0"),
    "big-endian damage": (v5(matrix(6, [1, 3], b"x", element(113, bytes(24), ">"), order=">"), order=">"),
                          "real part has data type 113 at byte 216"),
}


@pytest.mark.parametrize("data, reason", list(DAMAGED.values()), ids=list(DAMAGED))
def test_damaged_files_are_refused_with_reason_and_byte(tmp_path, data, reason):
    with pytest.raises(MatFileError) as refused:
        checked_v5(data)
    assert str(refused.value) == reason
    path = tmp_path / "damaged.mat"
    path.write_bytes(data)
    with pytest.raises(MatFileError):
        load_mat(str(path), error="raise")


def test_nesting_up_to_the_limit_reads():
    got = scipy.io.loadmat(io.BytesIO(checked_v5(nested_cells(200))))
    assert got["top"].shape == (1, 1)


def test_a_damaged_file_is_logged_and_reads_empty_when_not_raising(tmp_path, monkeypatch):
    logged = []
    monkeypatch.setattr(utilfunc, "write_log", lambda text, level: logged.append((text, level)))
    path = tmp_path / "damaged.mat"
    path.write_bytes(DAMAGED["unknown data type"][0])
    assert load_mat(str(path)) == {}
    assert len(logged) == 1 and "data type 113" in logged[0][0] and logged[0][1] == "warn"


def test_no_file_nor_folder_is_a_mat_file(tmp_path):
    (tmp_path / "short.mat").write_bytes(b"MAT")
    for path in (tmp_path / "short.mat", tmp_path, tmp_path / "missing.mat"):
        with pytest.raises((MatFileError, OSError)):
            load_mat(str(path), error="raise")


SWEEP = textwrap.dedent("""
    import io, sys, warnings
    import numpy as np, scipy.io
    from velmoro.tframe.utils.utilfunc import load_mat
    warnings.simplefilter("ignore")
    path, data = sys.argv[1], open(sys.argv[2], "rb").read()
    values = (0, 1, 8, 14, 15, 113, 127, 128, 255)
    read = refused = 0
    for pos in range(128, len(data)):
        for value in values:
            changed = bytearray(data)
            changed[pos] = value
            with open(path, "wb") as f:
                f.write(changed)
            try:
                load_mat(path, error="raise")
                read += 1
            except Exception:
                refused += 1
    print(read, refused)
""")


@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "compressed"])
def test_every_single_byte_change_is_read_or_refused(tmp_path, compressed):
    """Each byte after the header set to values that name other element
    types, in a child process: a crash there fails this test, not the run."""
    original = tmp_path / "original.mat"
    original.write_bytes(saved(compressed, {k: VARIABLES[k] for k in ("Close", "Complex", "Text", "Cell", "Record",
                                                                        "Sparse")}))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", SWEEP, str(tmp_path / "changed.mat"), str(original)],
                          env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    read, refused = map(int, done.stdout.split())
    assert refused > 0 and read + refused == (len(original.read_bytes()) - 128) * 9


ORIGINALS = [saved(False), saved(True), v73_bytes({"Close": VARIABLES["Close"], "Cube": VARIABLES["Cube"]})]


@given(original=st.sampled_from(ORIGINALS), data=st.data())
def test_any_damage_is_read_or_refused(tmp_path_factory, original, data):
    """Bytes changed anywhere, and the file maybe cut short: it reads, or
    load_mat raises an ordinary exception."""
    changed = bytearray(original)
    for pos, value in data.draw(st.lists(st.tuples(st.integers(0, len(changed) - 1), st.integers(0, 255)),
                                         min_size=1, max_size=12), label="changes"):
        changed[pos] = value
    changed = changed[:data.draw(st.one_of(st.just(len(changed)), st.integers(1, len(changed))), label="length")]
    path = tmp_path_factory.mktemp("damage") / "changed.mat"
    path.write_bytes(bytes(changed))
    try:
        load_mat(str(path), error="raise")
    except (SystemError, MemoryError):
        raise
    except Exception:
        pass
