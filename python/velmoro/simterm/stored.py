"""The simulated terminal on a market store: the store's securities,
calendar and bars served through the same dataset interface as the
generated market, and the generated market written into a store.

A day's bars are those of the store's finest frequency, each placed at its
end minute on the terminal's minute clock; a minute with no bar is flat at
the close before it with no volume (before the day's first bar: at its
open), so day bars formed from the minutes hold exactly the stored bars.
Coarser intraday bars the store holds are not served: n-minute bars are
formed from the finest. Day bars are the stored ones where the store holds
a day bar of that security and day (it counts the auctions the minutes may
leave out), else formed from the minutes; `velmoro data check` lists the
days where the two disagree. A security with no bar on a day (halted) is
flat at its last close before it, or NaN when it has none; before its
listing day and from its delisting day on it has no bars (NaN prices, no
volume), and the terminal's facts (listing dates) refuse its orders.

Prices are served as the dataset's `fq` asks, from the stored factors (the
cumulative factor of a security and day: raw price x factor is the
backward-adjusted price): "none" as stored, "backward" raw x factor,
"forward" raw x factor / the security's latest stored factor, so that its
latest prices are its own. A day without a stored factor takes the last one
before it (before the first: the first); a security without factors is
never adjusted. Volumes and amounts are served as stored.
"""
import collections
import functools
import hashlib
from typing import Dict, List, Optional, Union

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.dataset as ds

from velmoro.data.ingest import bars_table, to_local
from velmoro.data.schema import FREQUENCIES, QUANTITIES as STORED
from velmoro.data.store import MarketStore, StoreError
from velmoro.simterm.dataset import MINUTES_PER_DAY, QUANTITIES, Dataset, Security
from velmoro.simterm.instruments import InstrumentFacts
from velmoro.tframe.utils.datetimefunc import datetime_to_mft

__all__ = ["StoreDataset", "write_generated", "ADJUSTMENTS", "adjustment"]

# a request's FQ spelling -> the adjustment served
ADJUSTMENTS = {"na": "none", "none": "none", "": "none", "forward": "forward", "backward": "backward"}

_DAYS_KEPT = 3  # days of whole-universe arrays kept (the replay reads a day at a time)
_WINDOW_KEPT = 8  # and at most these days of the range being served
_MORNING, _AFTERNOON = 9 * 60 + 31, 13 * 60 + 1


def _minute_slot(minutes: np.ndarray) -> np.ndarray:
    """Position on the 240-minute clock of an end-labelled local minute."""
    return np.where(minutes < 12 * 60, minutes - _MORNING, 120 + minutes - _AFTERNOON)


def adjustment(fq: Optional[str]) -> str:
    """The adjustment ("none", "forward" or "backward") an FQ setting names;
    ValueError when it names none."""
    name = ADJUSTMENTS.get(str(fq or "").strip().lower())
    if name is None:
        raise ValueError("unknown price adjustment {!r} (none, forward or backward)".format(fq))
    return name


class _Factors:
    """The stored factors of the dataset's securities, looked up a day at a
    time for all of them at once."""

    def __init__(self, table: pd.DataFrame, keys: pd.Index):
        rows = keys.get_indexer(table["market"] + "." + table["code"])
        keep = rows >= 0
        rows, days, factors = rows[keep], table["day"].to_numpy()[keep], table["factor"].to_numpy()[keep]
        order = np.lexsort((days, rows))
        self._rows, self._factors = rows[order], factors[order]
        self._keys = self._rows.astype(np.int64) * 10 ** 8 + days[order]
        self.first, self.last = np.ones(len(keys)), np.ones(len(keys))
        change = self._rows[1:] != self._rows[:-1]
        starts = np.flatnonzero(np.r_[True, change])[:self._rows.size]
        ends = np.flatnonzero(np.r_[change, True])[:self._rows.size]
        self.first[self._rows[starts]] = self._factors[starts]
        self.last[self._rows[ends]] = self._factors[ends]

    def _on(self, day):
        """Each security's factor on `day`: the last stored at or before it,
        else its first (1 for a security without factors)."""
        lines = np.arange(self.first.size)
        at = np.searchsorted(self._keys, lines * 10 ** 8 + day, side="right") - 1
        safe = np.maximum(at, 0)
        return np.where((at >= 0) & (self._rows[safe] == lines), self._factors[safe], self.first)

    def scale(self, day: int, fq: str) -> Optional[np.ndarray]:
        """What raw prices of `day` are multiplied by under `fq` (None: by 1)."""
        if fq == "none" or not self._rows.size:
            return None
        return self._on(day) if fq == "backward" else self._on(day) / self.last


class _Days:
    """Whole-universe arrays of a few days, each made by `make` once while
    kept. A range request comes in batches of securities that each walk the
    same days, so the days of the range being served (its first
    _WINDOW_KEPT) are kept until a day outside it is asked for; beyond
    them, the _DAYS_KEPT latest asked for."""

    def __init__(self, make):
        self._make, self._made = make, collections.OrderedDict()
        self._range, self._window = frozenset(), frozenset()

    def hold(self, days) -> None:
        """Keep these days (the first _WINDOW_KEPT) while they are asked for."""
        self._range, self._window = frozenset(days), frozenset(list(days)[:_WINDOW_KEPT])

    def __call__(self, day: int) -> Dict[str, np.ndarray]:
        arrays = self._made.get(day)
        if arrays is not None:
            self._made.move_to_end(day)
            return arrays
        if day not in self._range:
            self._range = self._window = frozenset()
        arrays = self._made[day] = self._make(day)
        others = [d for d in self._made if d not in self._window]
        for d in others[:max(0, len(others) - _DAYS_KEPT)]:
            del self._made[d]
        return arrays


class StoreDataset(Dataset):
    """The store at `source` (a folder or an open store) as the terminal's
    dataset, prices adjusted as `fq` asks."""

    def __init__(self, source: Union[str, MarketStore], fq: str = "none"):
        store = source if isinstance(source, MarketStore) else MarketStore(source)
        table = store.securities()
        if table.empty or not store.frequencies():
            raise StoreError("{}: a store with no {}".format(store.folder, "securities" if table.empty else "bars"))
        frequencies = sorted(store.frequencies(), key=lambda f: FREQUENCIES[f] or 10 ** 6)
        self.store, self.frequency, self.fq = store, frequencies[0], adjustment(fq)
        securities = [Security(m, c, n or "", float("nan")) for m, c, n in
                      zip(table["market"], table["code"], table["name"])]
        # names the bars served (bar files are kept by it): the store's content and the adjustment
        seed = int(hashlib.sha256("{} {}".format(store.version, self.fq).encode()).hexdigest()[:8], 16)
        super().__init__(days=0, seed=seed, securities=securities)
        self.trading_days = sorted(set(store.read("calendar", columns=["day"]).column("day").to_pylist()))
        self._day_starts = np.array([datetime_to_mft(self.day_start(d)) for d in self.trading_days])
        self._keys = pd.Index(["{}.{}".format(s.market, s.code) for s in securities])
        self._factors = _Factors(store.read("factors").to_pandas(), self._keys)
        self._views = {self.fq: self}
        self._day = _Days(self._whole_day)
        # each security's first day on and first day off the market
        self._listed = table["listed"].fillna(0).to_numpy(dtype=np.int64)
        self._delisted = table["delisted"].fillna(99999999).to_numpy(dtype=np.int64)

    def facts(self) -> InstrumentFacts:
        """The listing and delisting dates the store holds."""
        keys = [s.key for s in self.securities]
        return InstrumentFacts(listed={k: int(d) for k, d in zip(keys, self._listed) if d},
                               delisted={k: int(d) for k, d in zip(keys, self._delisted) if d < 99999999})

    def _off_market(self, days) -> np.ndarray:
        """(securities x days) true where a security is not listed yet or delisted."""
        days = np.asarray(days, dtype=np.int64)
        return (days < self._listed[:, None]) | (days >= self._delisted[:, None])

    def adjusted(self, fq: str) -> "StoreDataset":
        """The same store with prices adjusted as `fq` asks (made once)."""
        fq = adjustment(fq)
        if fq not in self._views:
            view = StoreDataset(self.store, fq)
            view._views = self._views
            self._views[fq] = view
        return self._views[fq]

    def day_bars(self, day: int, rows=None) -> Dict[str, np.ndarray]:
        rows = np.arange(len(self.securities)) if rows is None else np.asarray(rows, dtype=np.intp)
        whole = self._day(int(day))
        return {q: whole[q][rows] for q in QUANTITIES}

    def range_bars(self, rows, days) -> Dict[str, np.ndarray]:
        self._day.hold(days)
        return super().range_bars(rows, days)

    def _whole_day(self, day):
        """The day's minute bars of every security, read from the store once
        (its day bars summarised for all of them with it)."""
        table = self.store.read("bars/" + self.frequency, filter=ds.field("day") == day, dictionaries=True)
        n, m = len(self.securities), MINUTES_PER_DAY
        row = self._rows_of(table)
        local = to_local(table["time"].cast(pa.int64()).to_numpy().view("datetime64[ms]"))
        slot = (m - 1) if FREQUENCIES[self.frequency] == 0 else _minute_slot(
            local.view(np.int64) // 60_000 % 1440)
        keep = (row >= 0) & (slot >= 0) & (slot < m)
        at = row[keep] * m + np.broadcast_to(slot, keep.shape)[keep]  # each bar's place in a flat grid

        def placed(name):  # one quantity's (securities x minutes) grid, NaN where no bar: one at a time
            grid = np.full(n * m, np.nan)
            grid[at] = table[name].to_numpy()[keep]
            return grid.reshape(n, m)

        close = placed("close")
        has = ~np.isnan(close)
        # the index of each minute's last bar so far (-1 before the first)
        last = np.maximum.accumulate(np.where(has, np.arange(m), -1), axis=1)
        lines = np.arange(n)[:, None]
        carried = np.where(last >= 0, close[lines, np.maximum(last, 0)], np.nan)
        first = has.argmax(axis=1)
        opening = np.where(has.any(axis=1), placed("open")[np.arange(n), first], np.nan)
        flat = np.where(last >= 0, carried, opening[:, None])
        del last, carried
        halted = ~has.any(axis=1)
        if halted.any():
            flat[halted] = self._last_closes(day, np.flatnonzero(halted))[:, None]
        scale = self._factors.scale(day, self.fq)
        off = self._off_market([day])  # no bars before the listing or once delisted
        shown, flat = has & ~off, np.where(off, np.nan, flat)
        out = {}
        for q, name in zip(QUANTITIES, STORED):
            volume = name in ("volume", "amount")
            out[q] = np.where(shown, close if name == "close" else placed(name), 0.0 if volume else flat)
            if scale is not None and not volume:
                out[q] *= scale[:, None]
            out[q].flags.writeable = False  # shared by every caller of the day
        self._summarise(day, np.arange(n), out)
        return out

    def _rows_of(self, table):
        """The dataset row of each stored bar (-1: a security it does not
        serve), from the pairs of the market and code dictionaries, not
        from one string per bar."""
        table = table.unify_dictionaries()
        (markets, market), (codes, code) = (_positions(table[k]) for k in ("market", "code"))
        pairs = np.repeat(markets, len(codes)) + "." + np.tile(codes, len(markets))
        lookup = np.append(self._keys.get_indexer(pairs), -1)  # a missing market or code: the last, -1
        return lookup[np.where((market < 0) | (code < 0), -1, market * len(codes) + code)]

    def day_range_bars(self, rows, days) -> Dict[str, np.ndarray]:
        """Day bars formed from the day's bars of the finest frequency, but
        where the store also holds day bars: the stored day bar of each
        security and day that has one (it counts the auctions its minutes
        may leave out)."""
        out = super().day_range_bars(rows, days)
        self._day.hold(days)
        if self.frequency != "day" and "day" in self.store.frequencies() and len(days):
            stored = self._stored_days(tuple(int(d) for d in days))
            rows = np.asarray(rows, dtype=np.intp)
            for q in QUANTITIES:
                values = stored[q][rows]
                out[q] = np.where(np.isnan(values), out[q], values)
        return out

    @functools.lru_cache(maxsize=_DAYS_KEPT)
    def _stored_days(self, days):
        """quantity -> (securities x days) stored day bars, NaN where none,
        prices adjusted as the dataset's fq asks."""
        table = self.store.read("bars/day", filter=ds.field("day").isin(list(days)), dictionaries=True)
        row, col = self._rows_of(table), pd.Index(days).get_indexer(table["day"].to_numpy())
        keep = row >= 0
        off = self._off_market(days)
        grid = {}
        for q, name in zip(QUANTITIES, STORED):
            grid[q] = np.full((len(self.securities), len(days)), np.nan)
            grid[q][row[keep], col[keep]] = table[name].to_numpy()[keep]
            grid[q][off] = np.nan  # the day bar formed for the day: none
        if self._factors.scale(days[0], self.fq) is not None:
            scale = np.column_stack([self._factors.scale(d, self.fq) for d in days])
            for q, name in zip(QUANTITIES, STORED):
                if name not in ("volume", "amount"):
                    grid[q] *= scale
        return grid

    def _last_closes(self, day, rows):
        """The last stored close before `day` of the securities at `rows`."""
        keys = self._keys[rows]
        table = self.store.read("bars/" + self.frequency, filter=ds.field("day") < day,
                                columns=["market", "code", "time", "close"]).to_pandas()
        table = table[(table["market"] + "." + table["code"]).isin(keys)].sort_values("time")
        last = table.groupby(table["market"] + "." + table["code"])["close"].last()
        return last.reindex(keys).to_numpy(dtype=float)


def _positions(column: pa.ChunkedArray):
    """The texts of a dictionary column (its chunks' dictionaries unified)
    and each row's position among them, -1 where it has none."""
    if not column.num_chunks:
        return np.zeros(0, dtype=object), np.zeros(0, dtype=np.int64)
    texts = column.chunk(0).dictionary.to_numpy(zero_copy_only=False).astype(object)
    indices = pa.chunked_array([c.indices for c in column.chunks]).fill_null(-1)
    return texts, indices.to_numpy().astype(np.int64)


def write_generated(folder: str, data: Dataset, batch_rows: int = 2_000_000) -> int:
    """Write the dataset's minute and day bars, securities and calendar into
    the store at `folder` (appending); returns the minute bars written."""
    store = MarketStore(folder, create=True)
    held = store.read("calendar", columns=["day"]).column("day").to_pylist()
    overlap = sorted(set(held) & set(data.trading_days))
    if overlap:
        raise StoreError("{}: already holds the days {} to {}".format(folder, overlap[0], overlap[-1]))
    secs = data.securities
    # categories: each market and code text made once, stored as a dictionary
    markets = pd.Categorical([s.market for s in secs])
    codes = pd.Categorical([s.code for s in secs])
    clock = np.array([(t - np.floor(t)) * 1440 for t in data.minute_times(data.trading_days[0])]).round()
    offsets = pd.to_timedelta(clock, unit="m")
    written = 0
    pending: Dict[str, List[pa.Table]] = {"bars/1min": [], "bars/day": []}
    days_per_batch = max(1, batch_rows // (len(secs) * MINUTES_PER_DAY))
    for first in range(0, len(data.trading_days), days_per_batch):
        for day in data.trading_days[first:first + days_per_batch]:
            bars = data.day_bars(day)
            base = pd.Timestamp(str(day))
            minute = pd.DataFrame({
                "market": markets.repeat(MINUTES_PER_DAY), "code": codes.repeat(MINUTES_PER_DAY),
                "local": np.tile((base + offsets).to_numpy(), len(secs)), "day": np.int32(day),
                **{name: bars[q].ravel() for q, name in zip(QUANTITIES, STORED)}})
            summary = data.day_range_bars(np.arange(len(secs)), [day])
            daily = pd.DataFrame({"market": markets, "code": codes, "local": base + pd.Timedelta(hours=15),
                                  "day": np.int32(day), **{name: summary[q][:, 0] for q, name in
                                                           zip(QUANTITIES, STORED)}})
            pending["bars/1min"].append(bars_table(minute))
            pending["bars/day"].append(bars_table(daily))
            written += len(minute)
        tables = {name: pa.concat_tables(parts) for name, parts in pending.items()}
        days = pd.DataFrame({"market": ["sse", "szse"]}).merge(
            pd.DataFrame({"day": np.array(data.trading_days[first:first + days_per_batch], dtype=np.int32)}),
            how="cross")
        tables["calendar"] = pa.Table.from_pandas(days, preserve_index=False)
        if first == 0:
            tables["securities"] = _securities(store, secs)
        store.commit(tables)
        pending = {name: [] for name in pending}
    return written


def _securities(store: MarketStore, secs) -> Optional[pa.Table]:
    held = set(zip(*[store.read("securities").column(c).to_pylist() for c in ("market", "code")]))
    new = [s for s in secs if (s.market, s.code) not in held]
    return pa.table({"market": [s.market for s in new], "code": [s.code for s in new],
                     "name": [s.name for s in new], "board": ["main"] * len(new),
                     "listed": pa.nulls(len(new), pa.int32()), "delisted": pa.nulls(len(new), pa.int32())})
