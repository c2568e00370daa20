"""Layout of the live run's matrices and of the terminal's pushes.

A bar matrix has one column per bar. Its first rows are the time line
(`gv.KMatrixPos_TimeLine`) and the day positions (`gv.KMatrixPos_DayPos`);
then each target has a block of quantity rows (open, high, low, close, volume,
amount) in target order, so that a single-target matrix has exactly the rows
`gv.KMatrixPos_Open` .. `gv.KMatrixPos_Amount`.

Matrices are stored column by column (Fortran order): a push writes one
bar column for every target, which is then one contiguous stretch of memory
instead of one element per row. Matrices that grow by appended columns are
views of a buffer with spare columns (see `extend_last_axis`), so that a push
appends in place instead of copying the whole matrix.
"""
import sys
import weakref

import numpy as np

from velmoro.api.history._history import trading_day_positions
from velmoro.protocol import PUSH_BAR_COLUMNS, PUSH_FACTOR_COLUMNS, QUANTITIES
from velmoro.tframe.runtypesbase import gv

__all__ = [
    "QUANTITIES",
    "PUSH_BAR_COLUMNS",
    "PUSH_FACTOR_COLUMNS",
    "FREQUENCY_NAMES",
    "matrix_rows",
    "quantity_rows",
    "quantity_block",
    "new_matrix",
    "extend_last_axis",
    "with_room",
    "carry_columns",
    "append_columns",
    "continue_day_positions",
    "current_bars",
    "bar_ends",
    "repeats_first",
    "counts_up",
]

# frequency code -> name, as the terminal's calendar takes it
FREQUENCY_NAMES = {gv.frequency_to_int(n): n for n in ("tick", "min", "day", "week", "month", "year")}


def matrix_rows(n_targets):
    """Number of rows of a bar matrix of `n_targets` targets."""
    return gv.KMatrixPos_Open + len(QUANTITIES) * n_targets


def quantity_rows(target_idx):
    """Rows of one target's quantities, in the order of QUANTITIES."""
    return gv.KMatrixPos_Open + len(QUANTITIES) * int(target_idx) + np.arange(len(QUANTITIES))


def quantity_block(matrix):
    """The quantity rows of a bar matrix as a view of shape (targets,
    quantities, bars): `block[t, q, c]` is quantity q of target t at column c."""
    rows = matrix[gv.KMatrixPos_Open :]
    block = rows.reshape(-1, len(QUANTITIES), matrix.shape[1])
    # writes through the block must reach the matrix: a copy would lose them
    if rows.size and not np.may_share_memory(block, rows):
        raise ValueError("a bar matrix with strides {} cannot be viewed target by target".format(matrix.strides))
    return block


def new_matrix(times, day_pos, n_targets, room=0):
    """A bar matrix over `times`: time and day-position rows set, quantities
    NaN; with `room` spare columns to grow into (see `extend_last_axis`)."""
    times = np.asarray(times, dtype=float)
    matrix = with_room(np.empty((matrix_rows(n_targets), 0)), times.size + int(room))
    matrix = extend_last_axis(matrix, times.size)
    matrix[gv.KMatrixPos_TimeLine] = times
    matrix[gv.KMatrixPos_DayPos] = day_pos
    return matrix


# spare room a buffer gets when it is (re)allocated: a quarter of its length,
# at least a trading day of minutes
_GROWTH = 0.25
_MIN_SPARE = 256
# id of a buffer made by extend_last_axis -> entries in use along its last axis
_in_use = {}


def _leading_view(array, buffer):
    """Whether `array` is `buffer[..., :n]`, n the length in use."""
    return (
        buffer is not None
        and _in_use.get(id(buffer)) == array.shape[-1]
        and buffer.shape[:-1] == array.shape[:-1]
        and buffer.strides == array.strides
        and buffer.dtype == array.dtype
        and buffer.__array_interface__["data"][0] == array.__array_interface__["data"][0]
    )


# buffers of a finished session's matrices, offered to the next session's of
# the same shape: memory the process has written before costs a fraction of
# new memory to write (new pages are faulted in one by one)
_spare = []


def offer_buffers(arrays):
    """Offer the buffers of `arrays` (matrices no longer used) to the next
    matrices of their shape and type."""
    _spare.extend(a.base for a in arrays if _leading_view(a, a.base))


def forget_buffers():
    """Withdraw the buffers offered: their memory goes when nothing else holds them."""
    _spare.clear()


def _new_buffer(shape, dtype, length):
    """A column-major buffer, an offered one when one fits. A new one has its
    entries past `length` written once now: the first write to a new page
    faults it in, which would otherwise fall on the pushes that grow into it
    (a fifth of a 5,000-target day's first push)."""
    for i in range(len(_spare)):
        # one still shown by a view (a strategy may have kept one) keeps its
        # values: only the list holds it (and getrefcount's argument)
        if _spare[i].shape == shape and _spare[i].dtype == dtype and sys.getrefcount(_spare[i]) == 2:
            return _spare.pop(i)
    buffer = np.empty(shape, dtype=dtype, order="F")
    buffer[..., length:] = 0
    return buffer


def with_room(array, room=None):
    """A copy of `array` (column-major) in a buffer with `room` spare entries
    along its last axis (None: as many as `array`'s own buffer has), as
    `extend_last_axis` grows into."""
    array = np.asarray(array)
    length = array.shape[-1]
    if room is None:
        room = array.base.shape[-1] - length if _leading_view(array, array.base) else 0
    buffer = _new_buffer(array.shape[:-1] + (length + int(room),), array.dtype, length)
    buffer[..., :length] = array
    weakref.finalize(buffer, _in_use.pop, id(buffer), None)
    _in_use[id(buffer)] = length
    return buffer[..., :length]


def extend_last_axis(array, count, fill=np.nan):
    """`array` with `count` more entries along its last axis, set to `fill`.

    The result is a view of a buffer with spare room; extending that view
    again writes into the room instead of copying, so appending a column per
    push costs the column, not the matrix. Views taken of the array before
    keep their shape and values (only entries past their end are written).
    """
    array = np.asarray(array)
    count = int(count)
    length = array.shape[-1]
    buffer = array.base
    if not (_leading_view(array, buffer) and buffer.shape[-1] >= length + count):
        array = with_room(array, count + max(int(length * _GROWTH), _MIN_SPARE))
        buffer = array.base
    buffer[..., length : length + count] = fill
    _in_use[id(buffer)] = length + count
    return buffer[..., : length + count]


def carry_columns(matrix, first, count, room):
    """Columns `first` .. `first + count - 1` of `matrix` (a finished
    session's) as a matrix of their own with `room` spare columns: moved to
    the front of `matrix`'s buffer when nothing else shows that buffer (no
    new memory to write), else copied, so that a view kept of the old matrix
    keeps its values. `matrix` is not to be used afterwards."""
    buffer = matrix.base
    if _leading_view(matrix, buffer) and buffer.shape[-1] >= count + room:
        # the next session's matrices must not take it from the offered ones
        _spare[:] = [b for b in _spare if b is not buffer]
        # held by `matrix`, this frame and getrefcount's argument only
        if sys.getrefcount(buffer) == 3:
            # forward, in stretches of `first` columns that never overlap
            # their source (numpy would copy an overlapping source whole first)
            for start in range(0, count if first else 0, max(first, 1)):
                stop = min(start + first, count)
                buffer[..., start:stop] = buffer[..., first + start : first + stop]
            _in_use[id(buffer)] = count
            return buffer[..., :count]
    return with_room(matrix[..., first : first + count], room)


def append_columns(matrix, times, day_pos):
    """`matrix` with new columns for `times` (quantities NaN); grows in place
    into spare room (see `extend_last_axis`)."""
    have = matrix.shape[1]
    matrix = extend_last_axis(matrix, np.size(times))
    matrix[gv.KMatrixPos_TimeLine, have:] = times
    matrix[gv.KMatrixPos_DayPos, have:] = day_pos
    return matrix


def index_or_slice(index):
    """`index` (integers) as a slice when it is a run of consecutive ones: a
    slice copies columns without gathering them one by one. A run from a
    negative index stays an index: counted from the end, it may wrap past
    the last column, which no slice selects."""
    n = index.size
    # a run's ends are n - 1 apart; of three or more, every step must be 1 too
    if n and index[0] >= 0 and index[-1] - index[0] == n - 1 and (n < 3 or (index[1:] - index[:-1] == 1).all()):
        return slice(int(index[0]), int(index[-1]) + 1)
    return index


def repeats_first(values):
    """Whether a one-dimensional float array holds its first value, a number,
    throughout. Compared as bytes: a push's checks take a fraction of a
    microsecond that way, where numpy's comparison and reduction take several."""
    first = values[:1]
    return first.size == 1 and first[0] == first[0] and values.tobytes() == first.tobytes() * values.size


# 0.0, 1.0, 2.0, ... as bytes, grown as needed
_COUNTING = np.arange(0.0).tobytes()


def counts_up(values):
    """Whether a one-dimensional float array holds 0, 1, 2, ... (compared as
    bytes, see repeats_first)."""
    global _COUNTING
    size = values.size * 8
    if len(_COUNTING) < size:
        _COUNTING = np.arange(float(max(values.size, len(_COUNTING) // 4))).tobytes()
    return values.dtype == np.float64 and values.tobytes() == _COUNTING[:size]


def continue_day_positions(old_times, old_day_pos, new_times):
    """Day positions of `new_times` appended after `old_times`: a trading day
    already begun on the old line keeps counting."""
    new_times = np.asarray(new_times, dtype=float)
    pos = trading_day_positions(new_times).astype(float)
    if np.size(old_times) and new_times.size:
        joined = trading_day_positions(np.r_[old_times[-1], new_times[0]])
        if joined[-1] > 1:
            first_day = np.arange(pos.size) < (np.flatnonzero(np.r_[pos[1:] == 1, True])[0] + 1)
            pos[first_day] += old_day_pos[-1]
    return pos


def current_bars(bar_times, refresh_times):
    """For each refresh time, the column of the bar that holds it: the first
    bar ending at or after it (the last bar when none does)."""
    cols = np.searchsorted(bar_times, refresh_times, side="left")
    return np.minimum(cols, max(np.size(bar_times) - 1, 0)).astype(np.int64)


def bar_ends(day_pos, freq_num):
    """Mask of the periods that end a bar of `freq_num` periods: every
    `freq_num`-th period of a day and the last period of each day."""
    day_pos = np.asarray(day_pos)
    last_of_day = np.r_[day_pos[1:] == 1, True] if day_pos.size else np.zeros(0, dtype=bool)
    return (day_pos % freq_num == 0) | last_of_day
