"""Performance figures of a run: from its daily returns (annualised return
and volatility, Sharpe, Sortino, Calmar, maximum drawdown and its duration)
and from its fills (round trips, win rate, profit factor, fees).

The conventions are the usual ones of performance analysis: 252 trading
days a year, sample standard deviation, the risk-free rate given per year
and taken per day as rate / 252, drawdowns measured from the start value.
"""
import collections
import math
from typing import Any, Deque, Dict, Iterable, List, Optional, Sequence

import numpy as np
import numpy.typing as npt

__all__ = ["DAYS_PER_YEAR", "FEE_COLUMNS", "fee_totals", "daily_returns", "drawdowns", "return_figures", "round_trips",
           "trade_figures"]

DAYS_PER_YEAR = 252
FEE_COLUMNS = ("commission", "stamp_duty", "transfer_fee")  # fee figures a fill may carry


def daily_returns(start: float, day_values: Sequence[float]) -> np.ndarray:
    """Returns of each day's closing value over the previous one (the first over `start`)."""
    values = np.asarray([start] + list(day_values), dtype=float)
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.diff(values) / values[:-1]


def drawdowns(values: npt.ArrayLike) -> np.ndarray:
    """Fall of each value from the running peak, as a fraction of that peak (0 at a peak)."""
    values = np.asarray(values, dtype=float)
    peaks = np.maximum.accumulate(values)
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(peaks > 0, (peaks - values) / peaks, 0.0)


def _longest_run(flags: Iterable[bool]) -> int:
    """Length of the longest run of true values."""
    longest = current = 0
    for flag in flags:
        current = current + 1 if flag else 0
        longest = max(longest, current)
    return longest


def _none_if_nan(value: Any) -> Optional[float]:
    value = float(value)
    return None if math.isnan(value) or math.isinf(value) else value


def return_figures(returns: npt.ArrayLike, risk_free: float = 0.0) -> Dict[str, Optional[float]]:
    """Figures of a series of daily returns; `risk_free`: the yearly rate.

    Returns annual_return (compounded), annual_volatility, sharpe and
    sortino (annualised, over the risk-free rate), calmar (annual return
    over maximum drawdown), max_drawdown (a fraction, positive) and
    max_drawdown_days (the longest stretch of days below a peak). A figure
    the series cannot give (too short, flat, no drawdown) is None."""
    r = np.asarray(returns, dtype=float)
    excess = r - risk_free / DAYS_PER_YEAR
    n = r.size
    curve = np.concatenate([[1.0], np.cumprod(1.0 + r)])
    falls = drawdowns(curve)
    deepest = float(falls.max()) if n else math.nan
    with np.errstate(divide="ignore", invalid="ignore"):
        annual = curve[-1] ** (DAYS_PER_YEAR / n) - 1.0 if n else math.nan
        spread = excess.std(ddof=1) if n > 1 else math.nan
        downside = math.sqrt(np.mean(np.minimum(excess, 0.0) ** 2)) * math.sqrt(DAYS_PER_YEAR) if n > 1 else math.nan
        return {
            "annual_return": _none_if_nan(annual),
            "annual_volatility": _none_if_nan(r.std(ddof=1) * math.sqrt(DAYS_PER_YEAR) if n > 1 else math.nan),
            "sharpe": _none_if_nan(excess.mean() / spread * math.sqrt(DAYS_PER_YEAR) if n > 1 else math.nan),
            "sortino": _none_if_nan(excess.mean() * DAYS_PER_YEAR / downside if n > 1 else math.nan),
            "calmar": _none_if_nan(annual / deepest if deepest > 0 else math.nan),
            "max_drawdown": _none_if_nan(deepest),
            "max_drawdown_days": _longest_run(falls > 0),
        }


def _get(record: Any, name: str, default: Any = None) -> Any:
    value = record.get(name) if hasattr(record, "get") else getattr(record, name, None)
    return default if value is None else value


def _fees(fill: Any) -> float:
    return sum(float(_get(fill, column, 0.0)) for column in FEE_COLUMNS)


def round_trips(fills: Iterable, book: Iterable = ()) -> List[dict]:
    """The round trips closed by the fills, in their order: each sell is
    matched first in, first out against the lots bought before it (the
    starting `book`'s positions at their average price first). A round trip
    is {market, code, volume, pnl}: the price difference times the volume
    matched, less the fees of both sides in proportion."""
    lots: Dict[tuple, Deque[List[float]]] = collections.defaultdict(collections.deque)  # (account, market, code) -> [volume, price, fee per share]
    for position in book:
        key = (_get(position, "account_handle"), _get(position, "market"), _get(position, "code"))
        if float(_get(position, "position", 0)) > 0:
            lots[key].append([float(_get(position, "position")), float(_get(position, "avg_price", 0.0)), 0.0])
    trips = []
    for fill in fills:
        key = (_get(fill, "account_handle"), _get(fill, "market"), _get(fill, "code"))
        volume, price = float(_get(fill, "volume", 0)), float(_get(fill, "price", 0.0))
        fee_per_share = _fees(fill) / volume if volume else 0.0
        if _get(fill, "side") == "buy":
            lots[key].append([volume, price, fee_per_share])
            continue
        matched = pnl = 0.0
        while volume > matched and lots[key]:
            lot = lots[key][0]
            take = min(lot[0], volume - matched)
            pnl += take * (price - lot[1] - lot[2] - fee_per_share)
            matched += take
            lot[0] -= take
            if lot[0] <= 0:
                lots[key].popleft()
        if matched:
            trips.append({"market": key[1], "code": key[2], "volume": matched, "pnl": pnl})
    return trips


def trade_figures(fills: Sequence, book: Iterable = ()) -> Dict[str, Optional[float]]:
    """round_trips, win_rate (share of round trips with a profit),
    profit_factor (profits over losses; None without a loss), and the fees
    of `fee_totals`."""
    trips = round_trips(fills, book)
    gains = sum(t["pnl"] for t in trips if t["pnl"] > 0)
    losses = -sum(t["pnl"] for t in trips if t["pnl"] < 0)
    return dict({
        "round_trips": len(trips),
        "win_rate": sum(t["pnl"] > 0 for t in trips) / len(trips) if trips else None,
        "profit_factor": gains / losses if losses > 0 else None,
    }, **fee_totals(fills))


def fee_totals(fills: Iterable) -> Dict[str, float]:
    """Each fee column the fills paid, summed to the cent, and their sum as "fees"."""
    fills = list(fills)
    totals = {c: round(sum(float(_get(f, c, 0.0)) for f in fills), 2) for c in FEE_COLUMNS}
    totals["fees"] = round(sum(totals.values()), 2)
    return totals
