"""`velmoro data import` and `velmoro data check`: sources read, normalised
to end-labelled bars in UTC with their exchange-local trading day, checked,
and appended to the store as one commit."""
import datetime as _dt
import hashlib
import os
import uuid
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np
import pandas as pd
import pyarrow as pa

from velmoro.data.checks import Finding, check_bars, disagreeing_days, halts, missing_frequencies
from velmoro.data.schema import BARS, FREQUENCIES, RECORD, SECURITIES, frequency_name
from velmoro.data.sources import FACTS, SourceError, read_source, split_key
from velmoro.data.store import MarketStore, StoreError

__all__ = ["ImportOptions", "import_sources", "check_store", "bars_table", "to_local", "ImportRefused", "SourceError",
           "StoreError"]

ADJUSTED = ("none", "forward", "backward")
LOCAL_TZ = "Asia/Shanghai"


class ImportRefused(Exception):
    """--strict and findings: nothing was written."""

    def __init__(self, findings):
        super().__init__("{} finding(s) with --strict: nothing imported".format(len(findings)))
        self.findings = findings


class ImportOptions:
    """How to read the sources (the import's command-line options)."""

    def __init__(self, market: Optional[str] = None, frequency: Optional[str] = None, tz: str = LOCAL_TZ,
                 label: str = "end", adjusted: str = "none", columns: Optional[Dict[str, str]] = None,
                 strict: bool = False):
        if label not in ("start", "end"):
            raise ValueError("--label is start or end, not {!r}".format(label))
        if adjusted not in ADJUSTED:
            raise ValueError("--adjusted is none, forward or backward, not {!r}".format(adjusted))
        self.market = market.lower() if market else None
        self.frequency = frequency_name(frequency) if frequency else None
        self.tz, self.label, self.adjusted = tz, label, adjusted
        self.columns = columns or {}
        self.strict = strict


def _stamps(values: pd.Series, label: str) -> pd.Series:
    """Datetimes of a time or date column: datetimes as they are, numbers as
    YYYYMMDD, YYYYMMDDHHMM or YYYYMMDDHHMMSS, text as pandas reads it."""
    if pd.api.types.is_datetime64_any_dtype(values):
        return values
    if isinstance(values.dtype, pd.CategoricalDtype):  # each distinct text read once
        parsed = _stamps(pd.Series(values.cat.categories), label)
        return pd.Series(parsed.array.take(values.cat.codes.to_numpy(), allow_fill=True))
    if pd.api.types.is_numeric_dtype(values):
        numbers = values.astype("Int64").astype(str)
        width = numbers.str.len().max()
        fmt = {8: "%Y%m%d", 12: "%Y%m%d%H%M", 14: "%Y%m%d%H%M%S"}.get(width)
        if fmt is None:
            raise SourceError("{}: numeric times of {} digits (YYYYMMDD, YYYYMMDDHHMM or YYYYMMDDHHMMSS)".format(
                label, width))
        return pd.to_datetime(numbers, format=fmt, errors="coerce")
    text = values.astype(str)
    try:
        return pd.to_datetime(text, errors="coerce", utc=text.str.contains(r"[+-]\d\d:?\d\d$|Z$", regex=True).any())
    except (ValueError, TypeError) as exc:
        raise SourceError("{}: times not understood ({})".format(label, exc)) from None


def _local_times(frame: pd.DataFrame, tz: str, label: str) -> pd.Series:
    """Exchange-local naive datetimes: naive source times are in `tz`."""
    if "time" in frame.columns and "date" in frame.columns and not pd.api.types.is_datetime64_any_dtype(frame["time"]):
        stamps = _stamps(frame["date"].astype(str).str.slice(0, 10) + " " + frame["time"].astype(str), label)
    else:
        stamps = _stamps(frame["time"] if "time" in frame.columns else frame["date"], label)
    if stamps.isna().all():
        raise SourceError("{}: no time could be read (first value {!r})".format(
            label, (frame["time"] if "time" in frame.columns else frame["date"]).iloc[0]))
    if stamps.dt.tz is None:
        if tz == LOCAL_TZ:
            return stamps
        stamps = stamps.dt.tz_localize(tz, ambiguous="NaT", nonexistent="NaT")
    return stamps.dt.tz_convert(LOCAL_TZ).dt.tz_localize(None)


def _infer_frequency(keys: np.ndarray, local: pd.Series, label: str) -> str:
    t = local.to_numpy().astype("datetime64[m]").astype(np.int64)
    order = np.lexsort((t, keys))
    t, k = t[order], keys[order]
    step = np.diff(t)[(k[1:] == k[:-1])]
    step = step[step > 0]
    if not step.size:
        raise SourceError("{}: one bar per security; give --frequency".format(label))
    common = int(np.bincount(np.minimum(step, 1441)).argmax())
    for name, minutes in FREQUENCIES.items():
        if minutes == common:
            return name
    if common >= 1440 or (common > 60 and (t % 1440 == 0).all()):
        return "day"
    raise SourceError("{}: bars {} minutes apart; give --frequency".format(label, common))


def _floats(column: pa.ChunkedArray) -> np.ndarray:
    """A quantity column as float64 (text that is no number: NaN)."""
    if pa.types.is_integer(column.type) or pa.types.is_floating(column.type) or pa.types.is_null(column.type):
        values = column.cast(pa.float64())
        # one chunk without nulls: its buffer itself
        return values.chunk(0).to_numpy(zero_copy_only=False) if values.num_chunks == 1 else values.to_numpy()
    return pd.to_numeric(column.to_pandas(), errors="coerce").to_numpy(dtype=float)


def _security_keys(table: pa.Table, label: str) -> Tuple[np.ndarray, pd.Series]:
    """(row -> distinct key, the distinct keys) of the code column; one file
    per security without one: its name is the key."""
    if "code" not in table.column_names:
        name = os.path.splitext(os.path.basename(label.split(":")[0]))[0]
        return np.zeros(table.num_rows, dtype=np.intp), pd.Series([name])
    column = table.column("code")
    if not pa.types.is_dictionary(column.type):
        column = (column if pa.types.is_string(column.type) else column.cast(pa.string())).dictionary_encode()
    column = column.combine_chunks()
    if column.null_count:
        raise SourceError("{}: {} rows without a code".format(label, column.null_count))
    return column.indices.to_numpy(zero_copy_only=False).astype(np.intp, copy=False), \
        column.dictionary.to_pandas().astype(str)


def _securities_of(table: pa.Table, label: str, options: ImportOptions) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(row -> distinct key, market and code of each distinct key)."""
    inverse, uniques = _security_keys(table, label)
    try:
        return (inverse, *split_key(uniques, options.market))
    except ValueError as exc:
        raise SourceError("{}: {}".format(label, exc)) from None


def _facts(label: str, table: pa.Table, options: ImportOptions) -> Optional[pd.DataFrame]:
    """market, code and what the table tells of each security it names
    (name, board, listed, delisted: the first value given), or None when it
    tells nothing."""
    told = [name for name in FACTS if name in table.column_names]
    if not told:
        return None
    inverse, markets, codes = _securities_of(table, label, options)
    out = pd.DataFrame({"market": markets, "code": codes})
    for name in told:
        values = table.column(name).to_pandas()
        if name in ("listed", "delisted"):
            stamps = _stamps(values, "{} ({})".format(label, name))
            if stamps.dt.tz is not None:
                stamps = stamps.dt.tz_convert(LOCAL_TZ).dt.tz_localize(None)
            values = pd.Series(day_numbers(stamps.to_numpy()), dtype=float).replace(0, np.nan)
        else:
            values = values.astype(object).where(values.notna())
        out[name] = values.groupby(inverse).first().reindex(range(len(out))).to_numpy()
    # a security spelled two ways: what the first spelling told, else the next
    return out.groupby(["market", "code"], sort=False, as_index=False).first()


def _normalise(label: str, table: pa.Table, options: ImportOptions) -> Tuple[str, pd.DataFrame, List[Finding]]:
    """(frequency, bars with market, code, sid, local, day, quantities[, factor], notes)."""
    notes = []
    inverse, markets, codes = _securities_of(table, label, options)
    times = {c: table.column(c).to_pandas() for c in ("time", "date") if c in table.column_names}
    local = _local_times(pd.DataFrame(times), options.tz, label)
    frequency = options.frequency or _infer_frequency(inverse, local, label)
    step = FREQUENCIES[frequency]
    if step == 0:
        local = local.dt.normalize() + pd.Timedelta(hours=15)
    elif options.label == "start":
        local = local + pd.Timedelta(minutes=step)
    # the same security may be spelled several ways (600000, 600000.SH)
    pair, _ = pd.factorize(markets + "." + codes)
    market_of, market_names = pd.factorize(markets)
    code_of, code_names = pd.factorize(codes)
    # the categories' own code width: gathered once, not narrowed again
    market_of, code_of = (c.astype(pd.Categorical.from_codes([], names).codes.dtype)
                          for c, names in ((market_of, market_names), (code_of, code_names)))
    pair = pair.astype(np.int32)
    columns = {"market": pd.Categorical.from_codes(market_of[inverse], market_names),
               "code": pd.Categorical.from_codes(code_of[inverse], code_names), "sid": pair[inverse],
               "local": local.to_numpy(), "day": day_numbers(local.to_numpy())}
    for q in ("open", "high", "low", "close", "volume", "amount", "factor"):
        if q in table.column_names:
            columns[q] = _floats(table.column(q))
    if "volume" not in columns:
        columns["volume"] = np.zeros(table.num_rows)
        notes.append(Finding("no volume column", table.num_rows, [label], "volume set to 0"))
    if "amount" not in columns:
        columns["amount"] = columns["close"] * columns["volume"]
        notes.append(Finding("no amount column", table.num_rows, [label], "computed as close x volume"))
    # each column its own block: no copy into one
    bars = pd.DataFrame(columns, copy=False)
    return frequency, bars if options.adjusted == "none" else _raw_prices(bars, options.adjusted, label), notes


def _raw_prices(bars: pd.DataFrame, adjusted: str, label: str) -> pd.DataFrame:
    """The raw prices of adjusted ones, by the source's own factors (the
    store keeps raw prices and their factors): backward-adjusted prices are
    raw x factor, forward-adjusted ones raw x factor / the security's latest
    factor in the source."""
    factor = bars["factor"].to_numpy() if "factor" in bars.columns else np.full(len(bars), np.nan)
    missing = int(np.count_nonzero(~(factor > 0)))
    if missing:
        raise SourceError("{}: --adjusted {} and {} rows without a positive factor: adjusted prices become raw ones "
                          "by their factors (a factor column, or --columns factor=...); --adjusted none keeps "
                          "them as they are".format(label, adjusted, missing))
    scale = 1.0 / factor
    if adjusted == "forward":
        sid = bars["sid"].to_numpy()
        order = np.lexsort((bars["local"].to_numpy(), sid))
        ends = np.r_[sid[order][1:] != sid[order][:-1], True]  # each security's latest row
        latest = np.empty(sid.max() + 1)
        latest[sid[order][ends]] = factor[order][ends]
        scale *= latest[sid]
    return bars.assign(**{q: bars[q].to_numpy() * scale for q in ("open", "high", "low", "close")})


def day_numbers(local: np.ndarray) -> np.ndarray:
    """YYYYMMDD of each local datetime (0 for NaT), made once per distinct day."""
    serial = local.astype("datetime64[D]").view(np.int64)  # NaT: the smallest int64
    valid = ~np.isnat(local)
    first, last = (serial[valid].min(), serial[valid].max()) if valid.any() else (0, -1)
    days = pd.DatetimeIndex(np.arange(first, last + 1).astype("datetime64[D]"))
    numbers = np.r_[(days.year * 10000 + days.month * 100 + days.day).to_numpy(dtype=np.int32), 0]
    # each day's number made once, then looked up
    return numbers[np.where(valid, serial - first, -1)]


# Shanghai time has been UTC+8 without daylight saving since 1992
_FIXED_SINCE = np.datetime64("1992-01-01")


def to_utc(local: pd.Series) -> np.ndarray:
    """UTC datetime64[ms] of exchange-local datetimes."""
    values = local.to_numpy().astype("datetime64[ms]")
    if values.size and values.min() >= _FIXED_SINCE:
        return values - np.timedelta64(8, "h")
    return local.dt.tz_localize(LOCAL_TZ).dt.tz_convert("UTC").dt.tz_localize(None).to_numpy().astype("datetime64[ms]")


def to_local(utc: np.ndarray) -> np.ndarray:
    """Exchange-local datetime64[ms] of UTC ones (naive)."""
    if utc.size and utc.min() >= _FIXED_SINCE:
        return utc + np.timedelta64(8, "h")
    return pd.Series(utc).dt.tz_localize("UTC").dt.tz_convert(LOCAL_TZ).dt.tz_localize(None).to_numpy()


def _strings(column: pd.Series) -> pa.Array:
    """Text as stored: categories stay a dictionary (each text written once)."""
    values = pa.array(column, from_pandas=True)
    if pa.types.is_dictionary(values.type):
        return values.cast(pa.dictionary(pa.int32(), pa.string()))
    return values.cast(pa.string())


def bars_table(bars: pd.DataFrame) -> pa.Table:
    """The stored form of checked bars (local times to UTC)."""
    day = bars["day"].to_numpy()
    if (day[1:] < day[:-1]).any():  # a day's rows together: the terminal reads a day at a time
        bars = bars.iloc[np.argsort(day, kind="stable")]
    columns = [_strings(bars["market"]), _strings(bars["code"]), pa.array(bars["day"].to_numpy(dtype=np.int32)),
               pa.array(to_utc(bars["local"]).view(np.int64), type=BARS.field("time").type)]
    columns += [pa.array(bars[q].to_numpy(dtype=float)) for q in BARS.names[4:]]
    fields = [pa.field(f.name, c.type) for f, c in zip(BARS, columns)]
    return pa.Table.from_arrays(columns, schema=pa.schema(fields))


def _stored_keys(store: MarketStore, frequency: str, bars: pd.DataFrame) -> np.ndarray:
    """Which rows of `bars` the store already holds (same security and time)."""
    if not bars.size or not store.parts("bars/" + frequency):
        return np.zeros(len(bars), dtype=bool)
    import pyarrow.dataset as ds

    days = pa.array(np.unique(bars["day"].to_numpy()))
    held = store.read("bars/" + frequency, filter=ds.field("day").isin(days),
                      columns=["market", "code", "time"]).to_pandas()
    if held.empty:
        return np.zeros(len(bars), dtype=bool)
    held["local"] = held["time"].dt.tz_convert(LOCAL_TZ).dt.tz_localize(None)
    mark = bars[["market", "code", "local"]].merge(held[["market", "code", "local"]].assign(_held=True),
                                                  on=["market", "code", "local"], how="left")
    return mark["_held"].fillna(False).to_numpy(dtype=bool)


def _digest(path):
    h = hashlib.sha256()
    with open(path.split(":")[0] if not os.path.exists(path) else path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _board(codes: pd.Series) -> np.ndarray:
    return np.select([codes.str.startswith(("688", "689")).to_numpy(), codes.str.startswith(("300", "301")).to_numpy(),
                      codes.str.startswith(("4", "8")).to_numpy()], ["star", "growth", "third"], "main")


def import_sources(store_dir: str, sources: Sequence[str],
                   options: ImportOptions) -> Tuple[Dict[str, int], List[Finding]]:
    """Read, check and append the sources; returns (rows stored per
    frequency, findings). SourceError or StoreError: nothing written;
    ImportRefused: --strict with findings."""
    store = MarketStore(store_dir, create=True)
    read, told = [], []
    for spec in sources:
        for label, table in read_source(spec, options.columns):
            facts = _facts(label, table, options)
            if facts is not None:
                told.append((spec, label, facts))
            if "close" in table.column_names:
                read.append((spec, label, *_normalise(label, table, options)))
    by_freq: Dict[str, List[pd.DataFrame]] = {}
    findings: List[Finding] = []
    for _, _, freq, bars, notes in read:
        by_freq.setdefault(freq, []).append(bars)
        findings.extend(notes)
    factor_days = _factor_days(store, read)
    tables, stored = {}, {}
    for freq, frames in by_freq.items():
        bars = pd.concat(frames, ignore_index=True) if len(frames) > 1 else frames[0]
        if len(frames) > 1:  # one number per security across the sources
            bars["sid"] = bars.groupby(["market", "code"], sort=False).ngroup().to_numpy()
        bars, found = check_bars(bars, freq, factor_days)
        held = _stored_keys(store, freq, bars)
        if held.any():
            found.append(Finding("rows already in the store", int(held.sum()),
                                 [" ".join(map(str, r)) for r in bars.loc[held, ["market", "code", "local"]].head(3)
                                  .itertuples(index=False)], "left out (the store keeps its rows)"))
            bars = bars[~held]
        findings.extend(f._replace(check="{} [{}]".format(f.check, freq)) for f in found)
        tables["bars/" + freq] = bars_table(bars)
        stored[freq] = len(bars)
        if "factor" in bars.columns:
            tables["factors"] = _factors(bars, store)
    pairs_of = {freq: [_pairs(b) for b in frames] for freq, frames in by_freq.items()}
    presence = _presence(store, pairs_of)
    findings.extend(halts(presence[min(presence, key=lambda f: FREQUENCIES[f] or 10 ** 6)]) if presence else [])
    strict = [f for f in findings if not f.check.startswith("halted")]
    if options.strict and strict:
        raise ImportRefused(strict)
    pairs = pd.concat([pd.DataFrame(columns=["market", "code", "day"])]
                      + [p for frames in pairs_of.values() for p in frames], ignore_index=True)
    facts = pd.concat([f for *_, f in told], ignore_index=True) if told else None
    tables["securities"] = _new_securities(store, pairs, facts)
    if facts is not None:
        stored["securities"] = tables["securities"].num_rows
    tables["calendar"] = _new_days(store, pairs)
    tables["record"] = _record(read, told, options, findings)
    store.commit(tables)
    return stored, findings


def _factor_days(store, read):
    """(market, code, day) where a given factor changes: stored and imported."""
    frames = [store.read("factors").to_pandas()]
    frames += [b[["market", "code", "day", "factor"]].dropna() for *_, b, _ in read if "factor" in b.columns]
    factors = pd.concat(frames, ignore_index=True).drop_duplicates(["market", "code", "day"], keep="last")
    factors = factors.sort_values(["market", "code", "day"])
    if factors.empty:
        return factors[["market", "code", "day"]]
    change = np.r_[False, (factors["code"].to_numpy()[1:] == factors["code"].to_numpy()[:-1])
                   & (factors["factor"].to_numpy()[1:] != factors["factor"].to_numpy()[:-1])]
    return factors.loc[change, ["market", "code", "day"]]


def _factors(bars, store):
    given = bars[["market", "code", "day", "factor"]].dropna().drop_duplicates(["market", "code", "day"], keep="last")
    held = store.read("factors", columns=["market", "code", "day"]).to_pandas().assign(_held=True)
    given = given.merge(held, on=["market", "code", "day"], how="left")
    return pa.Table.from_pandas(given[given["_held"].isna()].drop(columns="_held"), preserve_index=False)


def _pairs(bars):
    """(market, code, day) of each security and day with bars, once."""
    sid, day = bars["sid"].to_numpy(), bars["day"].to_numpy()
    days = np.unique(day[np.r_[True, day[1:] != day[:-1]]])  # a few distinct days: sorted from their runs
    cell = sid.astype(np.int64) * days.size + np.searchsorted(days, day)
    row = np.full((sid.max(initial=-1) + 1) * days.size, -1, dtype=np.int64)
    row[cell] = np.arange(cell.size)  # any row of a (security, day) names it
    return bars.iloc[row[row >= 0]][["market", "code", "day"]].astype(
        {"market": object, "code": object}).reset_index(drop=True)


def _presence(store, imported):
    """frequency -> (market, code, day) with bars, stored and imported
    (`imported`: frequency -> list of such frames)."""
    out = {}
    for freq in set(store.frequencies()) | set(imported):
        held = store.read("bars/" + freq, columns=["market", "code", "day"]).to_pandas()
        out[freq] = pd.concat([held] + imported.get(freq, []), ignore_index=True).drop_duplicates()
    return out


def _new_securities(store, pairs, facts):
    """The securities table's new rows: securities new to the store (named by
    their key until a source names them), and known ones whose facts the
    sources change (a security's last row is the one that counts)."""
    keys = ["market", "code"]
    found = pairs[keys] if facts is None else pd.concat([pairs[keys], facts[keys]])
    held = store.securities().set_index(keys)
    rows = found.drop_duplicates().set_index(keys)
    new = ~rows.index.isin(held.index)
    rows = rows.join(held, how="left")
    markets = pd.Series(rows.index.get_level_values(0), dtype=object)
    codes = pd.Series(rows.index.get_level_values(1), dtype=object)
    rows.loc[new, "name"] = (markets.str.upper() + "." + codes).to_numpy()[new]
    rows.loc[new, "board"] = _board(codes)[new]
    before = rows.copy()
    if facts is not None:  # what the sources tell wins
        rows = facts.drop_duplicates(keys, keep="last").set_index(keys).reindex(rows.index).combine_first(rows)
    rows = rows[list(before.columns)]
    changed = new.copy()
    for column in before.columns:
        a, b = rows[column], before[column]
        changed |= ~((a == b) | (a.isna() & b.isna())).to_numpy()
    out = rows[changed].reset_index()
    return pa.Table.from_pandas(out.astype({"listed": "Int32", "delisted": "Int32"}), schema=SECURITIES,
                                preserve_index=False)


def _new_days(store, bars):
    found = bars[["market", "day"]].drop_duplicates()
    found = found[found["day"] > 0]
    held = store.read("calendar").to_pandas().assign(_held=True)
    new = found.merge(held, on=["market", "day"], how="left")
    return pa.Table.from_pandas(new[new["_held"].isna()].drop(columns="_held"), preserve_index=False)


def _record(read, told, options, findings):
    now = pd.Timestamp(_dt.datetime.now(_dt.timezone.utc)).floor("ms")
    import_id = uuid.uuid4().hex[:12]
    rows = [{"source": label, "sha256": _digest(spec), "frequency": freq, "check": "source", "count": len(bars),
             "examples": "", "action": "read"} for spec, label, freq, bars, _ in read]
    rows += [{"source": label, "sha256": _digest(spec), "frequency": "securities", "check": "source",
              "count": len(facts), "examples": "", "action": "read"} for spec, label, facts in told]
    rows += [{"source": "", "sha256": "", "frequency": "", "check": f.check, "count": f.rows,
              "examples": "; ".join(f.examples), "action": f.action} for f in findings]
    frame = pd.DataFrame(rows).assign(import_id=import_id, at=now, adjusted=options.adjusted)
    return pa.Table.from_pandas(frame[RECORD.names], schema=RECORD, preserve_index=False)


def check_store(store_dir: str) -> List[Finding]:
    """The checks over what the store holds (nothing is changed)."""
    store = MarketStore(store_dir)
    findings: List[Finding] = []
    factor_days = _factor_days(store, [])
    tables = {}
    for freq in sorted(store.frequencies(), key=lambda f: FREQUENCIES[f] or 10 ** 6):
        table = store.read("bars/" + freq).to_pandas()
        table["local"] = table["time"].dt.tz_convert(LOCAL_TZ).dt.tz_localize(None)
        table["sid"] = table.groupby(["market", "code"], sort=False).ngroup().to_numpy()
        tables[freq], found = check_bars(table.drop(columns="time"), freq, factor_days, repair=False)
        findings.extend(f._replace(check="{} [{}]".format(f.check, freq)) for f in found)
    presence = _presence(store, {})
    if presence:
        findings.extend(halts(presence[min(presence, key=lambda f: FREQUENCIES[f] or 10 ** 6)]))
    findings.extend(missing_frequencies(presence))
    finest = next(iter(tables), "day")
    if finest != "day" and "day" in tables:
        findings.extend(disagreeing_days(tables["day"], tables[finest], finest))
    return findings

