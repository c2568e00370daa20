"""The checks of a table of bars, each over whole columns.

`check_bars` takes bars of one frequency (standard columns, times as
exchange-local datetimes), repairs what can be repaired, leaves out what
cannot be used, and returns the bars kept with one Finding per defect found:
how many, a few examples and what was done. Nothing leaves the table without
a finding that counts it.
"""
from typing import List, NamedTuple, Sequence

import numpy as np
import pandas as pd

from velmoro.data.schema import FREQUENCIES

__all__ = ["Finding", "check_bars", "disagreeing_days", "halts", "missing_frequencies", "session_minutes"]

KEPT, REPAIRED, LEFT_OUT = "kept", "repaired", "left out"
EXAMPLES = 3
_OPEN, _NOON, _AFTERNOON, _CLOSE = 9 * 60 + 30, 11 * 60 + 30, 13 * 60, 15 * 60


class Finding(NamedTuple):
    check: str
    rows: int
    examples: Sequence[str]
    action: str

    def line(self) -> str:
        return "{}: {} ({}), e.g. {}".format(self.check, self.rows, self.action, "; ".join(self.examples))


def _examples(frame, mask, columns=("market", "code", "local")):
    rows = frame.loc[mask, list(columns)].head(EXAMPLES)
    return [" ".join(str(v) for v in row) for row in rows.itertuples(index=False)]


def session_minutes(local: pd.Series) -> np.ndarray:
    """Minutes (with seconds as fractions) since local midnight."""
    return (_nanoseconds(local) % 86_400_000_000_000) / 60e9


def _grid_end(minutes, step):
    """The end of the session bar of `step` minutes each minute falls in
    (an end-labelled bar covers (end - step, end]); NaN outside the sessions."""
    morning = (minutes > _OPEN) & (minutes <= _NOON)
    afternoon = (minutes > _AFTERNOON) & (minutes <= _CLOSE)
    base = np.where(morning, _OPEN, _AFTERNOON)
    end = base + np.ceil((minutes - base) / step - 1e-9) * step
    end = np.minimum(end, np.where(morning, _NOON, _CLOSE))
    return np.where(morning | afternoon, end, np.nan)


def _limit(codes: pd.Series) -> np.ndarray:
    """The daily price limit by board: 20% on the growth boards, 30% on the
    third market, 10% elsewhere."""
    growth = codes.str.startswith(("300", "301", "688", "689")).to_numpy()
    third = codes.str.startswith(("4", "8")).to_numpy()
    return np.where(third, 0.30, np.where(growth, 0.20, 0.10))


def check_bars(bars: pd.DataFrame, frequency: str, factor_days: pd.DataFrame, repair: bool = True):
    """(bars kept, findings). `bars` has market, code, sid (a number per security), local (exchange-local
    datetime), day and the quantities; `factor_days` (market, code, day)
    are days a security's adjustment factor changed."""
    findings: List[Finding] = []

    def found(check, mask, action, columns=("market", "code", "local")):
        count = int(np.count_nonzero(mask))
        if count:
            findings.append(Finding(check, count, _examples(bars, mask, columns), action if repair else "found"))
        return count

    bad = bars["local"].isna().to_numpy(copy=True)
    for q in ("open", "high", "low", "close", "volume", "amount"):
        bad |= ~(bars[q].to_numpy() >= 0)  # NaN compares false
    if found("NaN or negative values", bad, LEFT_OUT):
        bars = bars[~bad]

    key, t = bars["sid"].to_numpy(), _nanoseconds(bars["local"])
    # a row earlier than the row of its security before it (securities may interleave)
    together = bool((key[1:] >= key[:-1]).all())  # each security's rows already together
    series = np.arange(key.size) if together else np.argsort(key, kind="stable")
    k, tk = (key, t) if together else (key[series], t[series])
    back = np.zeros(key.size, dtype=bool)
    back[series[1:][(k[1:] == k[:-1]) & (tk[1:] < tk[:-1])]] = True
    if found("rows out of order", back, REPAIRED + " (sorted)"):
        series = np.lexsort((t, key))  # each security's rows in time order: how the checks read them
        k, tk = key[series], t[series]

    dup = np.zeros(key.size, dtype=bool)
    dup[series[:-1][(k[1:] == k[:-1]) & (tk[1:] == tk[:-1])]] = True
    if found("duplicated timestamps", dup, LEFT_OUT + " (the last row of each time kept)"):
        bars, series = bars[~dup], (np.cumsum(~dup) - 1)[series[~dup[series]]]

    step = FREQUENCIES[frequency]
    if step:
        minutes = session_minutes(bars["local"])
        end = _grid_end(minutes, step)
        outside = np.isnan(end)
        if found("bars outside the sessions", outside, LEFT_OUT):
            bars, series = bars[~outside], (np.cumsum(~outside) - 1)[series[~outside[series]]]
            end, minutes = end[~outside], minutes[~outside]
        partial = end != minutes
        if found("partial bars overlapping the full bar after them", partial, REPAIRED + " (merged into it)"):
            bars = _merge_partial(_rows(bars, series), end[series])  # first and last in time order
            series = np.lexsort((_nanoseconds(bars["local"]), bars["sid"].to_numpy()))

    high, low = bars["high"].to_numpy(), bars["low"].to_numpy()
    open_, close = bars["open"].to_numpy(), bars["close"].to_numpy()
    top = np.maximum(np.maximum(open_, high), np.maximum(low, close))
    bottom = np.minimum(np.minimum(open_, high), np.minimum(low, close))
    wrong = (high != top) | (low != bottom)
    found("OHLC out of order (high below low or a price outside the range)", wrong,
          REPAIRED + " (high and low widened to the prices)")
    if repair and wrong.any():
        bars = bars.assign(high=top, low=bottom)

    flat = (bars["volume"].to_numpy() == 0) & (top == bottom)
    found("zero-volume flat bars", flat, KEPT)
    findings.extend(_jumps(bars, series, factor_days, repair))
    return _by_day(bars, series), findings


def _nanoseconds(local: pd.Series) -> np.ndarray:
    return local.to_numpy().astype("datetime64[ns]", copy=False).view(np.int64)


def _by_day(bars, series):
    """The bars in their stored order: by day, then as `series` orders them
    (each security's rows together, in time order): the terminal reads a
    day at a time."""
    days = _nanoseconds(bars["local"]) // 86_400_000_000_000
    days -= days.min(initial=0)
    # a stable sort of small numbers is a radix sort
    order = series[np.argsort(days[series].astype(np.uint16 if days.max(initial=0) < 1 << 16 else np.int64),
                              kind="stable")]
    if (order[1:] > order[:-1]).all():
        return bars
    return _rows(bars, order)


def _rows(bars, order):
    """bars.iloc[order], a column at a time (no block joins)."""
    columns = {}
    for name, column in bars.items():
        if isinstance(column.dtype, pd.CategoricalDtype):
            columns[name] = pd.Categorical.from_codes(column.cat.codes.to_numpy()[order], dtype=column.dtype)
        else:
            columns[name] = column.to_numpy()[order]
    return pd.DataFrame(columns, copy=False)


def _merge_partial(bars, end):
    """Bars of one security and grid end merged into one (open of the first,
    close of the last, extremes, sums)."""
    local = bars["local"].dt.normalize() + pd.to_timedelta(end, unit="m")
    bars = bars.assign(local=local.to_numpy())
    merged = bars.groupby(["sid", "local"], sort=False, as_index=False).agg(
        market=("market", "first"), code=("code", "first"), day=("day", "first"),
        open=("open", "first"), high=("high", "max"), low=("low", "min"), close=("close", "last"),
        volume=("volume", "sum"), amount=("amount", "sum"),
        **({"factor": ("factor", "last")} if "factor" in bars.columns else {}))
    return merged.reset_index(drop=True)


def _day_closes(bars, series):
    """(market, code, day, close) of each security's last bar of each day,
    each security's days together (`series` orders the bars so)."""
    day, sid = bars["day"].to_numpy()[series], bars["sid"].to_numpy()[series]
    last = np.r_[(day[1:] != day[:-1]) | (sid[1:] != sid[:-1]), True]
    return bars.iloc[series[last]][["sid", "market", "code", "day", "local", "close"]].reset_index(drop=True)


def _jumps(bars, series, factor_days, repair):
    """Day-to-day moves of a security's close beyond its daily limit on a day
    its adjustment factor did not change: an unadjusted split or bonus."""
    days = _day_closes(bars, series)
    if len(days) < 2:
        return []
    close = days["close"].to_numpy()
    sid = days["sid"].to_numpy()
    same = np.r_[False, sid[1:] == sid[:-1]]
    previous = np.r_[np.nan, close[:-1]]
    with np.errstate(divide="ignore", invalid="ignore"):
        move = np.abs(close / previous - 1.0)
    jump = same & (move > _limit(days["code"]) + 0.011)
    if len(factor_days) and jump.any():
        known = days[jump].merge(factor_days.drop_duplicates(), on=["market", "code", "day"], how="left",
                                 indicator=True)["_merge"].to_numpy() == "both"
        jump[np.flatnonzero(jump)[known]] = False
    count = int(jump.sum())
    if not count:
        return []
    return [Finding("price jumps beyond the daily limit with no adjustment factor (an unadjusted split or bonus?)",
                    count, _examples(days, jump, ("market", "code", "day", "close")),
                    "kept as given; import the adjustment factors" if repair else "found")]


def halts(presence: pd.DataFrame) -> List[Finding]:
    """Days a security has no bars while the exchange traded (any security
    has bars), between its first and last day: halts, reported and never an
    error. `presence` has one row per (market, code, day) with bars."""
    if presence.empty:
        return []
    days = np.unique(presence["day"].to_numpy())
    keys, row = np.unique((presence["market"] + "." + presence["code"]).to_numpy(), return_inverse=True)
    grid = np.zeros((keys.size, days.size), dtype=bool)
    grid[row, np.searchsorted(days, presence["day"].to_numpy())] = True
    first = grid.argmax(axis=1)
    last = days.size - 1 - grid[:, ::-1].argmax(axis=1)
    column = np.arange(days.size)
    missing = (column >= first[:, None]) & (column <= last[:, None]) & ~grid
    count = int(missing.sum())
    if not count:
        return []
    r, c = np.nonzero(missing)
    examples = ["{} {}".format(keys[i], days[j]) for i, j in zip(r[:EXAMPLES], c[:EXAMPLES])]
    return [Finding("halted days (no bars while the market traded)", count, examples, "reported: a halt, no bars made")]


def missing_frequencies(presence: dict) -> List[Finding]:
    """(security, day) pairs with bars of a finer frequency but none of a
    coarser one the security has: `presence` maps frequency -> (market, code,
    day) rows."""
    findings = []
    names = [f for f in ("1min", "5min", "60min", "day") if f in presence and len(presence[f])]
    for i, fine in enumerate(names):
        for coarse in names[i + 1:]:
            has = presence[coarse][["market", "code"]].drop_duplicates()
            want = presence[fine].merge(has, on=["market", "code"])
            gap = want.merge(presence[coarse], on=["market", "code", "day"], how="left", indicator=True)
            mask = (gap["_merge"] == "left_only").to_numpy()
            if mask.any():
                findings.append(Finding("{} bars missing where {} bars exist".format(coarse, fine), int(mask.sum()),
                                        _examples(gap, mask, ("market", "code", "day")),
                                        "kept; the terminal forms them from the {} bars".format(fine)))
    return findings


def disagreeing_days(day: pd.DataFrame, fine: pd.DataFrame, frequency: str) -> List[Finding]:
    """Stored day bars that do not hold the day formed from the `frequency`
    bars of the same security and day: another close, a range that does not
    cover theirs, or less volume than they add up to (more is the auctions)."""
    keys = ["market", "code", "day"]
    formed = fine.astype({"market": object, "code": object}).groupby(keys, sort=False).agg(
        high=("high", "max"), low=("low", "min"), close=("close", "last"), volume=("volume", "sum"))
    both = day.astype({"market": object, "code": object}).merge(formed.reset_index(), on=keys,
                                                                suffixes=("", "_formed"))
    if both.empty:
        return []
    tolerance = 1e-6 * both["close"].abs().to_numpy()
    bad = ((np.abs(both["close"] - both["close_formed"]).to_numpy() > tolerance)
           | (both["high"].to_numpy() < both["high_formed"].to_numpy() - tolerance)
           | (both["low"].to_numpy() > both["low_formed"].to_numpy() + tolerance)
           | (both["volume"].to_numpy() < both["volume_formed"].to_numpy() * (1 - 1e-9)))
    count = int(bad.sum())
    if not count:
        return []
    return [Finding("day bars that disagree with their {} bars (close, range or volume)".format(frequency), count,
                    _examples(both, bad, ("market", "code", "day")),
                    "kept; day requests are answered from the stored day bars")]
