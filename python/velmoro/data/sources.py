"""Reading a source into a frame of normalised columns.

A source is a CSV file (any delimiter, a header row), a Parquet file or a
SQLite database (every table of it, or TABLE given as FILE:TABLE). Its
columns are mapped to time, open, high, low, close, volume, amount, code,
factor, name, board, listed and delisted by their common spellings, or by
--columns NAME=COLUMN. A table of bars has a time (or date) and the OHLC
columns; a table of securities has a code and what it tells of them (name,
board, listing and delisting dates) but no prices.
"""
import csv
import os
import re
import sqlite3
from typing import Dict, List, Optional, Tuple

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.csv as pcsv
import pyarrow.parquet as pq

__all__ = ["SourceError", "read_source", "parse_columns", "split_key", "FACTS"]

# lower-cased, without spaces, dashes, underscores and dots
_SPELLINGS = {
    "time": ("time", "datetime", "timestamp", "bartime", "tradetime", "dt", "eob", "barend", "时间", "交易时间"),
    "date": ("date", "tradedate", "tradingday", "day", "tradingdate", "calendardate", "日期", "交易日期"),
    "clock": ("clock", "minute", "hhmm", "timeofday"),
    "open": ("open", "openprice", "o", "开盘", "开盘价"),
    "high": ("high", "highprice", "h", "最高", "最高价"),
    "low": ("low", "lowprice", "l", "最低", "最低价"),
    "close": ("close", "closeprice", "c", "last", "price", "收盘", "收盘价"),
    "volume": ("volume", "vol", "v", "成交量"),
    "amount": ("amount", "turnover", "value", "amt", "money", "成交额"),
    "code": ("code", "symbol", "ticker", "secid", "securityid", "instrument", "windcode", "tscode", "stockcode",
             "证券代码", "代码"),
    "factor": ("factor", "adjfactor", "adjustfactor", "adjustmentfactor", "复权因子"),
    "name": ("name", "securityname", "shortname", "stockname", "名称", "简称", "证券简称"),
    "listed": ("listed", "listdate", "listingdate", "ipodate", "上市日期"),
    "delisted": ("delisted", "delistdate", "delistingdate", "退市日期"),
    "board": ("board", "板块"),
}
_LOOKUP = {spelling: name for name, spellings in _SPELLINGS.items() for spelling in spellings}
REQUIRED = ("open", "high", "low", "close")
# what a securities table tells of a security (a bar table may tell it too)
FACTS = ("name", "board", "listed", "delisted")


class SourceError(Exception):
    """A source that is not a market table: one line naming it."""


def _key(name):
    return re.sub(r"[\s_\-.]", "", str(name).strip().lower())


def parse_columns(text: str) -> Dict[str, str]:
    """'time=TradeTime,close=Last' as {standard name: source column}."""
    mapping = {}
    for item in filter(None, (t.strip() for t in (text or "").split(","))):
        name, eq, column = item.partition("=")
        if not eq or name.strip() not in _SPELLINGS:
            raise ValueError("--columns takes NAME=COLUMN with NAME one of {}; got {!r}".format(
                ", ".join(_SPELLINGS), item))
        mapping[name.strip()] = column.strip()
    return mapping


def _map(names: List[str], given: Dict[str, str], label: str) -> Dict[str, str]:
    """{source column: standard name} of the columns a market table uses;
    SourceError when it is neither a table of bars (time and OHLC columns)
    nor one of securities (a code column and what it tells of them)."""
    rename = {}
    for name, column in given.items():
        if column not in names:
            raise SourceError("{}: no column {!r} (--columns {}=...); it has {}".format(
                label, column, name, ", ".join(map(str, names))))
        rename[column] = name
    for column in names:
        found = _LOOKUP.get(_key(column))
        if column not in rename and found is not None and found not in rename.values():
            rename[column] = found
    mapped = set(rename.values())
    if "code" in mapped and mapped & set(FACTS) and not mapped & set(REQUIRED):
        return rename  # a securities table
    missing = [n for n in REQUIRED if n not in mapped]
    if ("time" not in mapped and "date" not in mapped) or missing:
        raise SourceError("{}: not a market table (no {} column; columns: {}); name them with --columns".format(
            label, ", ".join(missing) or "time or date", ", ".join(map(str, names))[:200]))
    return rename


def _standard(table: pa.Table, rename: Dict[str, str]) -> pa.Table:
    """The mapped columns of `table` under their standard names (no copy)."""
    return table.select(list(rename)).rename_columns(list(rename.values()))


def _dialect(path):
    """(delimiter, encoding, header names) of a CSV file, from its first 64 KiB."""
    with open(path, "rb") as f:
        head = f.read(65536)
    if not head.strip():
        raise SourceError("{}: empty file".format(path))
    if b"\0" in head:
        raise SourceError("{}: not a text table (binary content)".format(path))
    encoding = "utf8"
    try:
        text = head.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        if exc.start >= len(head) - 3:  # a character cut by the 64 KiB
            text = head[:exc.start].decode("utf-8-sig")
        else:  # many vendors' exports; UnicodeDecodeError when neither
            text, encoding = head.decode("gb18030", errors="strict"), "gb18030"
    lines = text.splitlines()[:20]
    try:
        delimiter = csv.Sniffer().sniff("\n".join(lines[:-1] or lines), delimiters=",;\t| ").delimiter
    except csv.Error:
        delimiter = ","
    return delimiter, encoding, next(csv.reader(lines[:1], delimiter=delimiter), [])


def _read_csv(path, given):
    try:
        delimiter, encoding, names = _dialect(path)
        rename = _map(names, given, path)
        table = pcsv.read_csv(path, read_options=pcsv.ReadOptions(encoding=encoding),
                              parse_options=pcsv.ParseOptions(delimiter=delimiter),
                              # only the mapped columns; text (codes, times) parsed into dictionaries, each
                              # distinct value once
                              convert_options=pcsv.ConvertOptions(include_columns=list(rename),
                                                                  strings_can_be_null=True, auto_dict_encode=True,
                                                                  auto_dict_max_cardinality=100_000))
    except UnicodeDecodeError:
        raise SourceError("{}: not a text table (neither UTF-8 nor GB18030)".format(path)) from None
    except (pa.ArrowInvalid, KeyError) as exc:
        raise SourceError("{}: not a readable CSV table ({})".format(path, str(exc).splitlines()[0])) from None
    return _standard(table, rename)


def _read_parquet(path, given):
    try:
        schema = pq.read_schema(path)
        rename = _map(schema.names, given, path)
        # only the mapped columns; text columns (codes) as dictionaries, each distinct value once
        text = [n for n in rename if pa.types.is_string(schema.field(n).type) or pa.types.is_large_string(
            schema.field(n).type)]
        # a chunk per row group: columns taken whole without joining chunks
        return _standard(pq.ParquetFile(path, read_dictionary=text).read(columns=list(rename)), rename)
    except (pa.ArrowInvalid, OSError) as exc:
        raise SourceError("{}: not a readable Parquet file ({})".format(path, str(exc).splitlines()[0])) from None


def _sqlite_tables(path, table):
    try:
        db = sqlite3.connect("file:{}?mode=ro".format(path), uri=True)
        names = [table] if table else [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type='table'")]
        frames = [(name, pd.read_sql_query('SELECT * FROM "{}"'.format(name.replace('"', '""')), db))
                  for name in names]
        db.close()
    except (sqlite3.Error, pd.errors.DatabaseError) as exc:
        raise SourceError("{}: not a readable SQLite database ({})".format(path, exc)) from None
    if not frames:
        raise SourceError("{}: a SQLite database with no table".format(path))
    return frames


def _kind(path):
    with open(path, "rb") as f:
        magic = f.read(16)
    if magic.startswith(b"PAR1"):
        return "parquet"
    if magic.startswith(b"SQLite format 3"):
        return "sqlite"
    if path.lower().endswith((".parquet", ".pq")):
        return "parquet"
    return "csv"


def read_source(spec: str, columns: Dict[str, str]) -> List[Tuple[str, pa.Table]]:
    """(label, table of the standard columns) for each table of the source."""
    path, _, table = spec, None, None
    if not os.path.exists(path) and ":" in spec:
        path, table = spec.rsplit(":", 1)
    if not os.path.isfile(path):
        raise SourceError("{}: no such file".format(spec))
    if os.path.getsize(path) == 0:
        raise SourceError("{}: empty file".format(path))
    kind = _kind(path)
    if kind == "sqlite":
        raw = []
        for name, frame in _sqlite_tables(path, table):
            label = "{}:{}".format(path, name)
            raw.append((label, _standard(pa.Table.from_pandas(frame, preserve_index=False),
                                         _map(list(frame.columns), columns, label))))
    else:
        raw = [(path, _read_parquet(path, columns) if kind == "parquet" else _read_csv(path, columns))]
    for label, frame in raw:
        if frame.num_rows == 0:
            raise SourceError("{}: no rows".format(label))
    return raw


_MARKETS = {"sh": "sse", "sse": "sse", "xshg": "sse", "ss": "sse", "sz": "szse", "szse": "szse", "xshe": "szse",
            "bj": "bse", "bse": "bse"}


def split_key(keys: pd.Series, market: Optional[str] = None) -> Tuple[np.ndarray, np.ndarray]:
    """(market, code) arrays of security keys written as 600000, 600000.SH,
    SH600000, sse.600000 or sz.000001: a market named in the key wins, then
    `market`, then the code's first digit (6 and 9: sse, else szse)."""
    text = keys.astype(str).str.strip()
    # codes read as numbers lost their leading zeros
    text = text.where(~text.str.fullmatch(r"\d{1,5}"), text.str.zfill(6))
    parts = text.str.extract(r"^(?:([A-Za-z]+)[.:_]?)?(\d+)(?:[.:_]?([A-Za-z]+))?$")
    named = parts[0].fillna(parts[2]).fillna("").astype(str).str.lower().map(_MARKETS)
    if market:
        named = named.fillna(market.lower())
    guess = np.where(parts[1].str[:1].isin(["6", "9"]), "sse", "szse")
    markets = named.fillna(pd.Series(guess, index=text.index))
    bad = parts[1].isna()
    if bad.any():
        raise ValueError("security codes not understood: {}".format(", ".join(text[bad].unique()[:5])))
    return markets.to_numpy(dtype=object), parts[1].to_numpy(dtype=object)
