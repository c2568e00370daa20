"""A small deterministic market: a few stocks of "sse" and "szse", trading days,
minute and day bars generated from a seeded random walk."""
import datetime as _dt

import numpy as np

from velmoro.tframe.utils.datetimefunc import datetime_to_mft

__all__ = ["Dataset", "Security"]


class Security:
    def __init__(self, market, code, name, price):
        self.market = market
        self.code = code
        self.name = name
        self.price = price

    @property
    def key(self):
        return "{}.{}".format(self.market.upper(), self.code)


DEFAULT_SECURITIES = (
    Security("sse", "600000", "Pudong Development Bank", 7.2),
    Security("sse", "600519", "Kweichow Spirits", 1680.0),
    Security("szse", "000001", "Ping An Bank", 9.4),
    Security("szse", "000002", "Vanke", 9.9),
)

BLOCKS = {
    "Index": ("sse", "600000", "sse", "600519", "szse", "000001", "szse", "000002"),
    "SSE": ("sse", "600000", "sse", "600519"),
    "SZSE": ("szse", "000001", "szse", "000002"),
}


def _minute_clock():
    """Minutes of a stock trading day: 09:31-11:30 and 13:01-15:00."""
    morning = [9 * 60 + 30 + i for i in range(1, 121)]
    afternoon = [13 * 60 + i for i in range(1, 121)]
    return morning + afternoon


class Dataset:
    """Trading days from `start` (weekdays), `days` of them, bars for each security."""

    def __init__(self, start=_dt.date(2024, 1, 2), days=3, seed=20240102, securities=DEFAULT_SECURITIES):
        self.securities = list(securities)
        self.trading_days = []
        d = start
        while len(self.trading_days) < days:
            if d.weekday() < 5:
                self.trading_days.append(d.year * 10000 + d.month * 100 + d.day)
            d += _dt.timedelta(days=1)
        self.seed = seed
        self._bars = {}

    def security(self, market, code):
        for s in self.securities:
            if s.market == str(market).lower() and s.code == str(code).upper():
                return s
        return None

    @staticmethod
    def day_start(day):
        return _dt.datetime.strptime(str(day), "%Y%m%d")

    def minute_times(self, day):
        base = self.day_start(day)
        return np.array([datetime_to_mft(base + _dt.timedelta(minutes=m)) for m in _minute_clock()])

    def day_time(self, day):
        return datetime_to_mft(self.day_start(day) + _dt.timedelta(hours=15))

    def _minute_bars(self, sec):
        key = (sec.market, sec.code)
        if key not in self._bars:
            rng = np.random.default_rng(self.seed + int(sec.code))
            times, day_pos, closes = [], [], []
            price = sec.price
            for day in self.trading_days:
                t = self.minute_times(day)
                steps = rng.normal(0.0, 0.0015, size=t.size)
                path = price * np.exp(np.cumsum(steps))
                times.append(t)
                day_pos.append(np.arange(1, t.size + 1, dtype=float))
                closes.append(path)
                price = path[-1]
            close = np.round(np.concatenate(closes), 2)
            open_ = np.round(np.concatenate(([sec.price], close[:-1])), 2)
            spread = np.abs(rng.normal(0.0, 0.0008, size=close.size)) * close
            volume = np.round(rng.uniform(1e4, 1e5, size=close.size))
            self._bars[key] = {
                "Time": np.concatenate(times),
                "DayPos": np.concatenate(day_pos),
                "Open": open_,
                "High": np.round(np.maximum(open_, close) + spread, 2),
                "Low": np.round(np.minimum(open_, close) - spread, 2),
                "Close": close,
                "Volume": volume,
                "Amount": np.round(volume * close, 2),
            }
        return self._bars[key]

    def bars(self, sec, freq, begin=0, end=99991231):
        """Bars of one security, frequency "min" or "day", between two dates (inclusive)."""
        m = self._minute_bars(sec)
        days = [d for d in self.trading_days if begin <= d <= end]
        n = len(_minute_clock())
        idx = [self.trading_days.index(d) for d in days]
        if freq == "min":
            sel = np.concatenate([np.arange(i * n, (i + 1) * n) for i in idx]) if idx else np.array([], int)
            return {k: v[sel] for k, v in m.items()}
        if freq == "day":
            out = {k: [] for k in m}
            for i, d in zip(idx, days):
                s = slice(i * n, (i + 1) * n)
                out["Time"].append(self.day_time(d))
                out["DayPos"].append(1.0)
                out["Open"].append(m["Open"][s][0])
                out["High"].append(m["High"][s].max())
                out["Low"].append(m["Low"][s].min())
                out["Close"].append(m["Close"][s][-1])
                out["Volume"].append(m["Volume"][s].sum())
                out["Amount"].append(m["Amount"][s].sum())
            return {k: np.asarray(v, dtype=float) for k, v in out.items()}
        raise ValueError("unsupported frequency {!r}".format(freq))
