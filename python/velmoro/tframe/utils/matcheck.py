"""Structure check of MAT files before they are parsed.

scipy's v5 reader trusts the element tags of a file: a damaged tag (an
unknown data type, a matrix where numbers belong) makes it read through
an unchecked table and crash the process. A result file comes from
another program and may be cut short or damaged on disk, so every v5 file
is walked first, element by element, the way the reader will walk it; one
that does not hold together raises MatFileError instead. The walk is
native (`_matwalk.checked_v5`): it runs on every file the modules read.

The walk also unpacks compressed variables, so that the reader is handed
a plain stream and the data is inflated only once.
"""
from velmoro.tframe.utils._matwalk import checked_v5

__all__ = ["MatFileError", "mat_version", "checked_v5"]


class MatFileError(ValueError):
    """A MAT file whose structure does not hold together."""


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
