"""The report of a live run: figures, a printed summary and files.

`collect(summary, book)` asks the terminal for the run's own orders and
fills (those of its order book: a terminal server keeps earlier runs' too)
and its accounts' total asset now; `figures(...)` computes the summary
figures; `write(report, folder)` writes summary.json, orders.csv,
fills.csv, equity.csv, report.html (one self-contained page) and, where
matplotlib is installed (the extra "plot"), equity.png; `text(report)` is
the printed summary.

Figures: P&L (final total asset minus the starting one), return (P&L over
the start), maximum drawdown (largest fall from a running peak of the
equity curve, as a fraction of that peak), orders and fills counted,
turnover (traded amount over the starting total asset), the per-bar Sharpe
ratio (mean over standard deviation of the bar-to-bar returns, not
annualised; None when the curve is flat or too short), and from the daily
returns and the fills those of `velmoro.metrics`: annualised return and
volatility, Sharpe and Sortino (annualised, over `risk_free` a year),
Calmar, maximum drawdown duration in days, round trips, win rate, profit
factor and fees.
"""
import csv
import dataclasses
import datetime as _dt
import json
import math
import os
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Sequence, Tuple

import numpy as np

from velmoro import metrics
from velmoro.report_html import page
from velmoro.tframe.comm import vmcmd

if TYPE_CHECKING:
    from velmoro.realtrade.runner import RunSummary

__all__ = ["Report", "figures", "collect", "write", "text", "lines", "PLOT_MISSING", "ORDER_COLUMNS", "FILL_COLUMNS"]

PLOT_MISSING = "equity.png skipped: drawing it needs matplotlib (pip install matplotlib, or: pip install 'velmoro[plot]')"
ORDER_COLUMNS = ("run_id", "order_id", "client_id", "account_handle", "strategy_name", "market", "code", "side",
                 "position_effect", "order_type", "price", "volume", "filled_volume", "avg_price", "status",
                 "order_date", "order_time")
FILL_COLUMNS = ("run_id", "execution_id", "order_id", "account_handle", "strategy_name", "market", "code", "side",
                "position_effect", "price", "volume", "amount") + metrics.FEE_COLUMNS + ("exec_date", "exec_time")
TIME_COLUMNS = ("order_time", "exec_time", "create_time")  # the terminal's day numbers, written as date-times


@dataclasses.dataclass
class Report:
    """The report of a run: its figures, curve, own orders and fills, how
    it ended and the book it began with (see `collect`)."""

    strategy: str
    figures: dict
    equity: List[tuple]  # (bar date-time, total asset) per bar
    orders: list
    fills: list
    ended: str = "completed"  # "completed", "interrupted" or "error"
    error: Optional[str] = None  # what ended a failed run
    run_id: Optional[int] = None  # the terminal's task id of the run, on its orders and fills
    book: list = dataclasses.field(default_factory=list)  # positions held when the run started


def _sharpe(values: np.ndarray) -> Optional[float]:
    if values.size < 3:
        return None
    returns = np.diff(values) / values[:-1]
    spread = returns.std(ddof=1)
    if not np.isfinite(spread) or spread == 0:
        return None
    return float(returns.mean() / spread)


def _field(record: Any, name: str) -> Any:
    if hasattr(record, "get"):
        return record.get(name)
    return getattr(record, name, None)


def _amount(fill: Any) -> float:
    amount = _field(fill, "amount")
    return float(amount) if amount is not None else float(_field(fill, "price")) * float(_field(fill, "volume"))


def _day_values(times: Sequence[Any], values: Sequence[float]) -> List[float]:
    """The last value of each day of `times` (date-times, in order)."""
    last = {}
    for when, value in zip(times, values):
        last[when.date() if hasattr(when, "date") else when] = value
    return list(last.values())


def figures(start: float, equity: Sequence[float], orders: Sequence[Any], fills: Sequence[Any],
            times: Optional[Sequence[Any]] = None, risk_free: float = 0.0, book: Iterable[Any] = ()) -> Dict[str, Any]:
    """The summary figures of a run that started with total asset `start`
    and whose curve is `equity` (values after the start, the last one the
    final total asset); `times`: the date-times of the curve's values
    (daily figures take each day's last value; without times every value
    is a day's); `risk_free`: the yearly rate; `book`: the positions held at
    the start (round trips close them at their average price)."""
    values = np.asarray([start] + list(equity), dtype=float)
    pnl = float(values[-1] - start)
    traded = sum(_amount(f) for f in fills)
    days = list(equity) if times is None else _day_values(times, equity)
    result = {
        "start_equity": float(start),
        "end_equity": float(values[-1]),
        "pnl": pnl,
        "return": pnl / start if start else math.nan,
        "max_drawdown": float(metrics.drawdowns(values).max()),
        "orders": len(orders),
        "fills": len(fills),
        "turnover": traded / start if start else math.nan,
        "sharpe_per_bar": _sharpe(values),
        "bars": len(equity),
        "risk_free": float(risk_free),
    }
    daily = metrics.return_figures(metrics.daily_returns(start, days), risk_free) if start else {}
    result.update({k: v for k, v in daily.items() if k != "max_drawdown"})
    result.update(metrics.trade_figures(fills, book))
    return result


def _days(summary: "RunSummary") -> List[int]:
    return sorted({int(when.strftime("%Y%m%d")) for _, when, _ in summary.calls})


def collect(summary: "RunSummary", book: Sequence[Any] = (), earlier: Iterable[int] = (),
            risk_free: float = 0.0) -> Report:
    """The report of a run (finished, interrupted or failed): its own orders
    and fills on the run's days and the accounts' total asset now, asked of
    the terminal. `book`: the positions its accounts held when it started;
    `earlier`: ids of orders they had then (a terminal server keeps earlier
    runs' orders, which the run's book may hold too: they are left out);
    `risk_free`: the yearly rate of the Sharpe and Sortino ratios."""
    days = _days(summary)
    own = set(summary.orders) - set(earlier)
    orders = [o for o in vmcmd.vmSendCmdSTGetOrderInfoByDate(summary.accounts, days) if _field(o, "order_id") in own] \
        if days else []
    fills = [f for f in vmcmd.vmSendCmdSTGetExecutionInfo(summary.accounts, days) if _field(f, "order_id") in own] \
        if days else []
    final = sum(float(_field(c, "total_asset")) for c in vmcmd.vmSendCmdGetAccountCash(summary.accounts))
    curve = list(summary.equity)
    values = [v for _, v in curve] + [final]
    times = [t for t, _ in curve] + ([curve[-1][0]] if curve else [None])
    result = figures(summary.start_equity, values, orders, fills, times, risk_free, book)
    result["bars"] = len(summary.calls)  # the values end with the final total asset, after the last bar
    if summary.ended == "error":
        result["failed_at"] = curve[-1][0].isoformat(sep=" ") if curve else None
    return Report(summary.strategy, result, curve, orders, fills, summary.ended, summary.error, summary.task_id,
                  [dict(p) if hasattr(p, "keys") else dict(vars(p)) for p in book])


def _datetime(day_number: float) -> str:
    """The terminal's day number (days since 0000-12-31 and the day's fraction) as a date-time text."""
    whole = math.floor(day_number)
    moment = _dt.datetime.fromordinal(int(whole) - 366) + _dt.timedelta(seconds=round((day_number - whole) * 86400))
    return moment.isoformat(sep=" ")


def _rows(records: Iterable[Any], run_id: Optional[int]) -> List[Dict[str, Any]]:
    rows = []
    for record in records:
        row = dict(record) if hasattr(record, "keys") else dict(vars(record))
        for column in TIME_COLUMNS:
            if isinstance(row.get(column), (int, float)):
                row[column] = _datetime(row[column])
        rows.append(dict(row, run_id=run_id))
    return rows


def _write_records(path: str, rows: List[Dict[str, Any]], columns: Sequence[str]) -> None:
    """A CSV file with the known columns first, then any other a record carries."""
    columns = list(dict.fromkeys(list(columns) + [k for row in rows for k in row]))
    with open(path, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=columns)
        writer.writeheader()
        writer.writerows(rows)


def _plot(report: Report, path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    times = [t for t, _ in report.equity]
    values = np.asarray([v for _, v in report.equity], dtype=float)
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 6), gridspec_kw={"height_ratios": [3, 1]})
    top.plot(times, values)
    top.set_ylabel("total asset")
    top.set_title("equity of {}".format(report.strategy))
    bottom.fill_between(times, -100 * metrics.drawdowns(values), 0, step="post")
    bottom.set_ylabel("drawdown %")
    fig.autofmt_xdate()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def _summary(report: Report) -> Dict[str, Any]:
    summary = dict(report.figures, strategy=report.strategy, ended=report.ended, run_id=report.run_id,
                   starting_book=report.book)
    if report.error is not None:
        summary["error"] = report.error
    return summary


def write(report: Report, folder: str) -> Tuple[Dict[str, str], Optional[str]]:
    """Write the report's files into `folder` (created when missing; a
    picture left there by an earlier report is removed when none is drawn);
    returns the paths written and a note when the picture was skipped."""
    os.makedirs(folder, exist_ok=True)
    paths = {name: os.path.join(folder, name)
             for name in ("summary.json", "orders.csv", "fills.csv", "equity.csv", "report.html", "equity.png")}
    with open(paths["summary.json"], "w") as f:
        json.dump(_summary(report), f, indent=2, default=str)
    orders, fills = _rows(report.orders, report.run_id), _rows(report.fills, report.run_id)
    _write_records(paths["orders.csv"], orders, ORDER_COLUMNS)
    _write_records(paths["fills.csv"], fills, FILL_COLUMNS)
    values = np.asarray([v for _, v in report.equity], dtype=float)
    with open(paths["equity.csv"], "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["time", "equity", "drawdown"])
        writer.writerows((t, v, d) for (t, v), d in zip(report.equity, metrics.drawdowns(values)))
    with open(paths["report.html"], "w", encoding="utf-8") as f:
        f.write(page(report, fills, lines(report)))
    try:
        _plot(report, paths["equity.png"])
    except ImportError:
        if os.path.exists(paths["equity.png"]):
            os.remove(paths["equity.png"])
        del paths["equity.png"]
        return paths, PLOT_MISSING
    return paths, None


def _number(value: Any, form: str) -> str:
    return "n/a" if value is None or (isinstance(value, float) and math.isnan(value)) else form.format(value)


def lines(report: Report) -> List[Tuple[str, str]]:
    """(label, value text) of the printed figures, in order."""
    f = report.figures
    return [
        ("P&L", _number(f["pnl"], "{:+,.2f}")),
        ("return", _number(f["return"], "{:+.3%}")),
        ("annual return", _number(f.get("annual_return"), "{:+.3%}")),
        ("annual volatility", _number(f.get("annual_volatility"), "{:.3%}")),
        ("Sharpe", _number(f.get("sharpe"), "{:.3f}")),
        ("Sortino", _number(f.get("sortino"), "{:.3f}")),
        ("Calmar", _number(f.get("calmar"), "{:.3f}")),
        ("max drawdown", _number(f["max_drawdown"], "{:.3%}")),
        ("drawdown days", _number(f.get("max_drawdown_days"), "{}")),
        ("orders / fills", "{} / {}".format(f["orders"], f["fills"])),
        ("round trips", _number(f.get("round_trips"), "{}")),
        ("win rate", _number(f.get("win_rate"), "{:.1%}")),
        ("profit factor", _number(f.get("profit_factor"), "{:.3f}")),
        ("fees", _number(f.get("fees"), "{:,.2f}")),
        ("turnover", _number(f["turnover"], "{:.3f}")),
        ("Sharpe per bar", _number(f["sharpe_per_bar"], "{:.4f}")),
    ]


def text(report: Report) -> str:
    """The printed summary."""
    head = "Run of {}: {} bars".format(report.strategy, report.figures["bars"])
    if report.ended != "completed":
        head += " ({}{})".format(report.ended, ": " + report.error if report.error else "")
    return "\n".join([head] + ["  {:<17} {}".format(label, value) for label, value in lines(report)])
