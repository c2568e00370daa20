"""A deterministic market of any size: stocks of "sse" and "szse", trading days
(weekdays), minute and day bars.

Every bar depends only on its security and its day: a security's close at the
end of a day is a fixed function of (security, day), and its minutes run from
the previous day's close to it along a path drawn from a counter-based hash of
(dataset seed, security, day, minute). So the same bar comes out whatever the
dataset's first day, length or universe, and any day of any set of securities
is generated alone, as a whole array.

Bars are held column-wise: one (securities x minutes) array per quantity, so a
push of one minute or a history range is a slice.
"""
import datetime as _dt
import functools
import zlib
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from velmoro.protocol import QUANTITIES
from velmoro.simterm.instruments import InstrumentFacts
from velmoro.tframe.utils.datetimefunc import datetime_to_mft

__all__ = ["Dataset", "Security", "universe", "QUANTITIES", "MINUTES_PER_DAY"]


class Security:
    def __init__(self, market, code, name, price):
        self.market = market
        self.code = code
        self.name = name
        self.price = price

    @property
    def key(self):
        return "{}.{}".format(self.market.upper(), self.code)

    @functools.cached_property
    def uid(self):
        """The security's number in the bar hash: from its key alone."""
        return zlib.crc32(self.key.encode())


DEFAULT_SECURITIES = (
    Security("sse", "600000", "Pudong Development Bank", 7.2),
    Security("sse", "600519", "Kweichow Spirits", 1680.0),
    Security("szse", "000001", "Ping An Bank", 9.4),
    Security("szse", "000002", "Vanke", 9.9),
)
# block name -> which securities of the dataset belong to it
BLOCKS = {
    "Index": lambda sec: True,
    "SSE": lambda sec: sec.market == "sse",
    "SZSE": lambda sec: sec.market == "szse",
}


def universe(n: int) -> List[Security]:
    """The first `n` securities of the generated market: the four default
    stocks, then sse 600001.. and szse 000003.. taking turns; a generated
    stock's first price comes from its key."""
    if n < 0:
        raise ValueError("a universe of {} securities".format(n))
    out = list(DEFAULT_SECURITIES[:n])
    taken = {s.key for s in out}
    serial = {"sse": 600000, "szse": 0}
    while len(out) < n:
        market = ("sse", "szse")[len(out) % 2]
        serial[market] += 1
        sec = Security(market, "{:06d}".format(serial[market]), "", 0.0)
        if sec.key in taken:
            continue
        sec.name = "Stock {}".format(sec.key)
        sec.price = round(3.0 + (sec.uid % 7700) / 100.0, 2)
        out.append(sec)
    return out


def _minute_clock():
    """Minutes of a stock trading day: 09:31-11:30 and 13:01-15:00."""
    morning = [9 * 60 + 30 + i for i in range(1, 121)]
    afternoon = [13 * 60 + i for i in range(1, 121)]
    return morning + afternoon


MINUTES_PER_DAY = len(_minute_clock())
_EPOCH = np.datetime64("1990-01-01")
_KNOT_DAYS = 10  # trading days between the anchors of a security's slow drift
_CLOSES_KEPT = 20000  # (day, security) close lines kept for prices at the clock


def _mix(x):
    """splitmix64 of each uint64 (wrapping arithmetic)."""
    # arrays wrap silently (only numpy scalars would warn)
    x = x + np.uint64(0x9E3779B97F4A7C15)
    x = (x ^ (x >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    x = (x ^ (x >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return x ^ (x >> np.uint64(31))


def _bits(seed, stream, uids, day, count):
    """(securities x count) uint64 hashes of (seed, stream, security, day
    number, i): the same bits for the same keys, in any batch."""
    key = _mix(np.array([(seed * 0x100000001B3 + stream * 0x10000 + day) % (1 << 64)], dtype=np.uint64))
    key = _mix(key ^ np.asarray(uids, dtype=np.uint64)[:, None])
    return _mix(key + np.arange(count, dtype=np.uint64) * np.uint64(0xD1B54A32D192ED03))


def _halves(bits):
    """Two uniforms in (0, 1) from each hash: its high and low 32 bits."""
    scale = 1.0 / 4294967296.0
    high = (bits >> np.uint64(32)).astype(np.float64)
    low = (bits & np.uint64(0xFFFFFFFF)).astype(np.float64)
    high += 0.5
    high *= scale
    low += 0.5
    low *= scale
    return high, low


def _normal(seed, stream, uids, day, count, scale):
    """Normal draws (Box-Muller on the two halves of each hash)."""
    u1, u2 = _halves(_bits(seed, stream, uids, day, count))
    np.log(u1, out=u1)
    u1 *= -2.0 * scale * scale
    np.sqrt(u1, out=u1)
    u2 *= 2.0 * np.pi
    np.cos(u2, out=u2)
    u1 *= u2
    return u1


def _trading_index(day):
    """The number of weekdays from 1990-01-01 to the day (YYYYMMDD)."""
    d = str(int(day))
    return int(np.busday_count(_EPOCH, np.datetime64("{}-{}-{}".format(d[:4], d[4:6], d[6:]))))


class Dataset:
    """Trading days from `start` (weekdays), `days` of them, bars for each of
    `securities` (see `universe`)."""

    def __init__(self, start: _dt.date = _dt.date(2024, 1, 2), days: int = 3, seed: int = 20240102,
                 securities: Sequence[Security] = DEFAULT_SECURITIES) -> None:
        self.securities = list(securities)
        self._rows = {(s.market, s.code): i for i, s in enumerate(self.securities)}
        self._uids = np.array([s.uid for s in self.securities], dtype=np.uint64)
        self._prices = np.array([s.price for s in self.securities], dtype=float)
        self.trading_days: List[int] = []
        d = start
        while len(self.trading_days) < days:
            if d.weekday() < 5:
                self.trading_days.append(d.year * 10000 + d.month * 100 + d.day)
            d += _dt.timedelta(days=1)
        self.seed = seed
        self._minute_times: Dict[int, np.ndarray] = {}
        self._day_starts = np.array([datetime_to_mft(self.day_start(d)) for d in self.trading_days])
        self._closes: Dict[Tuple[int, int], np.ndarray] = {}  # (day, row) -> that day's minute closes, for prices at the clock
        self._summaries: Dict[int, np.ndarray] = {}  # day -> (securities x quantities) day bars, NaN where not made yet

    def facts(self) -> InstrumentFacts:
        """What the dataset knows of its securities' listings: the generated
        ones are listed long ago and never delisted."""
        return InstrumentFacts()

    def adjusted(self, fq: str) -> "Dataset":
        """The dataset with prices adjusted as `fq` ("NA", "forward",
        "backward") asks: generated prices know no corporate actions, so
        every adjustment is the dataset itself."""
        return self

    def security(self, market: str, code: str) -> Optional[Security]:
        """The dataset's security of that market and code (either case), or None."""
        row = self._rows.get((str(market).lower(), str(code).upper()))
        return None if row is None else self.securities[row]

    def row(self, sec: Security) -> int:
        """The security's row in the dataset's arrays."""
        return self._rows[(sec.market, sec.code)]

    @staticmethod
    def day_start(day: int) -> _dt.datetime:
        """Midnight of a trading day given as YYYYMMDD."""
        return _dt.datetime.strptime(str(day), "%Y%m%d")

    def minute_times(self, day: int) -> np.ndarray:
        """The session's minute times of a day (framework numeric time), read-only."""
        times = self._minute_times.get(day)
        if times is None:
            base = self.day_start(day)
            times = np.array([datetime_to_mft(base + _dt.timedelta(minutes=m)) for m in _minute_clock()])
            times.flags.writeable = False  # shared by every caller
            self._minute_times[day] = times
        return times

    def day_time(self, day: int) -> float:
        """The time of a day's day bar: its close, 15:00."""
        return datetime_to_mft(self.day_start(day) + _dt.timedelta(hours=15))

    def _level(self, rows, k):
        """Log price level (over the first price) of the securities at the
        close of trading day number k: a drift interpolated between anchors
        every _KNOT_DAYS days, plus the day's own move."""
        uids = self._uids[rows]
        knot, frac = divmod(k, _KNOT_DAYS)
        before, after = (_normal(self.seed, 1, uids, i, 1, 0.08)[:, 0] for i in (knot, knot + 1))
        own = _normal(self.seed, 3, uids, k, 1, 0.01)[:, 0]
        return before + (after - before) * (frac / _KNOT_DAYS) + own

    def day_bars(self, day: int, rows: Optional[npt.ArrayLike] = None) -> Dict[str, np.ndarray]:
        """One day's minute bars of the securities at `rows` (every security
        when None): quantity -> (securities x minutes) array."""
        rows = np.arange(len(self.securities)) if rows is None else np.asarray(rows, dtype=np.intp)
        k = _trading_index(day)
        uids, base = self._uids[rows], self._prices[rows]
        start, end = self._level(rows, k - 1), self._level(rows, k)
        n = MINUTES_PER_DAY
        walk = np.cumsum(_normal(self.seed, 5, uids, k, n, 0.0015), axis=1)
        # a bridge from the previous close to the day's own close
        share = np.arange(1, n + 1) / n
        log_path = start[:, None] + walk - share * (walk[:, -1:] - (end - start)[:, None])
        log_path[:, -1] = end
        close = np.round(base[:, None] * np.exp(log_path), 2)
        open_ = np.empty_like(close)
        open_[:, 0] = np.round(base * np.exp(start), 2)
        open_[:, 1:] = close[:, :-1]
        spread_draw, volume_draw = _halves(_bits(self.seed, 7, uids, k, n))
        spread = -0.0008 * np.log(spread_draw) * close
        volume = np.round(1e4 + 9e4 * volume_draw)
        bars = {
            "Open": open_,
            "High": np.round(np.maximum(open_, close) + spread, 2),
            "Low": np.round(np.minimum(open_, close) - spread, 2),
            "Close": close,
            "Volume": volume,
            "Amount": np.round(volume * close, 2),
        }
        self._summarise(day, rows, bars)
        return bars

    def _summarise(self, day, rows, bars):
        """Keep the day bars of the minute bars just made: a day bar request
        after a minute one makes nothing again."""
        summary = self._summaries.get(day)
        if summary is None:
            summary = self._summaries[day] = np.full((len(self.securities), len(QUANTITIES)), np.nan)
        # volume and amount summed minute after minute, as the pushes form the
        # day bar: a day bar from history equals the one the run formed to the bit
        summary[rows] = np.column_stack((bars["Open"][:, 0], bars["High"].max(axis=1), bars["Low"].min(axis=1),
                                         bars["Close"][:, -1], np.cumsum(bars["Volume"], axis=1)[:, -1],
                                         np.cumsum(bars["Amount"], axis=1)[:, -1]))

    def close_at(self, sec: Security, moment: Optional[float]) -> Optional[float]:
        """The close of the security's last minute bar at or before `moment`
        (None: the dataset's last bar), or None when there is none; only the
        day it falls on is made."""
        if moment is None:
            moment = np.inf
        day_idx = int(np.searchsorted(self._day_starts, moment, side="right")) - 1
        if day_idx < 0:
            return None
        day = self.trading_days[day_idx]
        minute = int(np.searchsorted(self.minute_times(day), moment, side="right")) - 1
        if minute < 0:
            if day_idx == 0:
                return None
            day, minute = self.trading_days[day_idx - 1], MINUTES_PER_DAY - 1
        key = (day, self.row(sec))
        closes = self._closes.get(key)
        if closes is None:
            if len(self._closes) >= _CLOSES_KEPT:
                self._closes.clear()
            closes = self._closes[key] = self.day_bars(day, [key[1]])["Close"][0]
        return float(closes[minute])

    def days_between(self, begin: int = 0, end: int = 99991231) -> List[int]:
        """The dataset's trading days from `begin` to `end` (both included)."""
        return [d for d in self.trading_days if begin <= d <= end]

    def range_bars(self, rows: Sequence[int], days: Sequence[int]) -> Dict[str, np.ndarray]:
        """Minute bars of the securities at `rows` over `days`: "Time" and
        "DayPos" (one line for all) and quantity -> (securities x bars)."""
        n = MINUTES_PER_DAY
        per_day = [self.day_bars(d, rows) for d in days]
        out = {q: (np.concatenate([b[q] for b in per_day], axis=1) if per_day else np.zeros((len(rows), 0)))
               for q in QUANTITIES}
        out["Time"] = np.concatenate([self.minute_times(d) for d in days]) if days else np.zeros(0)
        out["DayPos"] = np.tile(np.arange(1.0, n + 1), len(days))
        return out

    def day_range_bars(self, rows: npt.ArrayLike, days: Sequence[int]) -> Dict[str, np.ndarray]:
        """Day bars of the securities at `rows` over `days`, as range_bars."""
        rows = np.asarray(rows, dtype=np.intp)
        table = np.empty((len(rows), len(QUANTITIES), len(days)))
        for i, d in enumerate(days):
            summary = self._summaries.get(d)
            if summary is None or np.isnan(summary[rows, 0]).any():
                self.day_bars(d, rows)
                summary = self._summaries[d]
            table[:, :, i] = summary[rows]
        out = {q: table[:, j] for j, q in enumerate(QUANTITIES)}
        out["Time"] = np.array([self.day_time(d) for d in days], dtype=float)
        out["DayPos"] = np.ones(len(days))
        return out

    def bars(self, sec: Security, freq: str, begin: int = 0, end: int = 99991231) -> Dict[str, np.ndarray]:
        """Bars of one security, frequency "min" or "day", between two dates (inclusive)."""
        if freq not in ("min", "day"):
            raise ValueError("unsupported frequency {!r}".format(freq))
        days = self.days_between(begin, end)
        make = self.range_bars if freq == "min" else self.day_range_bars
        out = make([self.row(sec)], days)
        return {k: (v[0] if v.ndim == 2 else v) for k, v in out.items()}
