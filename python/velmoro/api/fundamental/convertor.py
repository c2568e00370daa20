"""The fundamental-data convertor: sends a query to the terminal and turns the
statement rows it answers into a pandas DataFrame.

The terminal answers with a MAT file holding two cell rows: `Fields`, the
column names in order, and `Columns`, one entry per column: a numeric row
(float, integer or logical) or a cell row of texts.
"""
import json
from collections.abc import Mapping

import numpy as np
import pandas as pd

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.utilfunc import load_mat

__all__ = ["LANGUAGE", "get_fundamental_info", "convert_fundamental_to_df", "encode_params"]

# language of the field names and messages the terminal answers in
LANGUAGE = "en"


def _jsonable(value):
    if isinstance(value, Mapping):
        return dict(value)
    if isinstance(value, np.generic):
        return value.item()
    if isinstance(value, np.ndarray):
        return value.tolist()
    raise TypeError("a fundamental query cannot send {!r} ({})".format(value, type(value).__name__))


def encode_params(params):
    """The request mapping as the JSON text the terminal reads (sequences as arrays,
    target records as objects, numpy scalars as numbers)."""
    return json.dumps(params, default=_jsonable, ensure_ascii=False)


def get_fundamental_info(params, func_name, lang=LANGUAGE):
    """Ask the terminal for the query `func_name` with the request mapping `params`;
    returns the variables of the MAT file it answers with."""
    path = vmcmd.vmSendCmdGetFdmt(lang, func_name, encode_params(params))
    return load_mat(path, error="raise")


def _text(cell):
    # a cell of a text column loads as a (possibly empty) character array
    cell = np.asarray(cell)
    return str(cell.flat[0]) if cell.size else ""


def _names(cells):
    return [_text(c) for c in np.asarray(cells, dtype=object).ravel()]


def _column(values):
    values = np.asarray(values)
    if values.dtype == object:
        return pd.Series([_text(c) for c in values.ravel()], dtype=object)
    if values.dtype.kind == "U":  # a character matrix: one padded row per text
        return pd.Series([s.rstrip() for s in values.ravel()], dtype=object)
    if values.dtype.kind == "b":
        return pd.Series(values.ravel(), dtype=bool)
    if values.dtype.kind in "iu":
        return pd.Series(values.ravel(), dtype=np.int64)
    return pd.Series(values.ravel(), dtype=np.float64)


def convert_fundamental_to_df(raw):
    """A DataFrame from the terminal's answer: one column per field in the order
    given, texts as str, integer codes and dates (YYYYMMDD) as int64, amounts as
    float64. An answer without fields gives an empty frame."""
    if raw is None or "Fields" not in raw:
        return pd.DataFrame()
    names = _names(raw["Fields"])
    columns = list(np.asarray(raw["Columns"], dtype=object).ravel()) if "Columns" in raw else []
    if len(columns) != len(names):
        raise ValueError("the answer has {} fields but {} columns".format(len(names), len(columns)))
    series = [_column(c) for c in columns]
    lengths = {len(s) for s in series}
    if len(lengths) > 1:
        raise ValueError("the answer's columns differ in length: {}".format(sorted(lengths)))
    frame = pd.DataFrame(dict(enumerate(series)))
    frame.columns = names  # by position: field names need not be unique
    return frame
