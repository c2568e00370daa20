"""The report of a live run: figures, a printed summary and files.

`collect(summary)` asks the terminal for the run's orders, fills and final
cash; `figures(...)` computes the summary figures; `write(report, folder)`
writes summary.json, orders.csv, fills.csv, equity.csv and, where
matplotlib is installed (the extra "plot"), equity.png; `text(report)` is
the printed summary.

Figures: P&L (final total asset minus the starting one), return (P&L over
the start), maximum drawdown (largest fall from a running peak of the
equity curve, as a fraction of that peak), orders and fills counted,
turnover (traded amount over the starting total asset) and the per-bar
Sharpe ratio (mean over standard deviation of the equity curve's bar-to-bar
returns, not annualised; None when the curve is flat or too short).
`fee_totals(fills)` adds the fees paid: commission, stamp duty, transfer
fee and their sum (fills.csv has them per fill).
"""
import csv
import dataclasses
import json
import math
import os
from typing import List, Optional

import numpy as np

from velmoro.tframe.comm import vmcmd

__all__ = ["Report", "figures", "fee_totals", "collect", "write", "text", "PLOT_MISSING"]

PLOT_MISSING = "equity.png skipped: drawing it needs matplotlib (pip install matplotlib, or: pip install 'velmoro[plot]')"


@dataclasses.dataclass
class Report:
    strategy: str
    figures: dict
    equity: List[tuple]  # (bar date-time, total asset), the start first
    orders: list
    fills: list


def _drawdowns(values):
    peaks = np.maximum.accumulate(values)
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(peaks > 0, (peaks - values) / peaks, 0.0)


def _sharpe(values) -> Optional[float]:
    if values.size < 3:
        return None
    returns = np.diff(values) / values[:-1]
    spread = returns.std(ddof=1)
    if not np.isfinite(spread) or spread == 0:
        return None
    return float(returns.mean() / spread)


def _field(record, name):
    if hasattr(record, "get"):
        return record.get(name)
    return getattr(record, name, None)


def _amount(fill):
    amount = _field(fill, "amount")
    return float(amount) if amount is not None else float(_field(fill, "price")) * float(_field(fill, "volume"))


def figures(start, equity, orders, fills):
    """The summary figures of a run that started with total asset `start`
    and whose curve is `equity` (values after the start)."""
    values = np.asarray([start] + list(equity), dtype=float)
    pnl = float(values[-1] - start)
    traded = sum(_amount(f) for f in fills)
    return {
        "start_equity": float(start),
        "end_equity": float(values[-1]),
        "pnl": pnl,
        "return": pnl / start if start else math.nan,
        "max_drawdown": float(_drawdowns(values).max()),
        "orders": len(orders),
        "fills": len(fills),
        "turnover": traded / start if start else math.nan,
        "sharpe_per_bar": _sharpe(values),
        "bars": len(equity),
    }


FEES = ("commission", "stamp_duty", "transfer_fee")


def fee_totals(fills) -> dict:
    """The fees the fills paid, each summed to the cent, and their sum as "fees"."""
    totals = {name: round(sum(float(_field(f, name) or 0.0) for f in fills), 2) for name in FEES}
    totals["fees"] = round(sum(totals.values()), 2)
    return totals


def _days(summary):
    return sorted({int(when.strftime("%Y%m%d")) for _, when, _ in summary.calls})


def collect(summary):
    """The report of a finished run: its orders and fills on the run's days
    and the accounts' total asset now, asked of the terminal."""
    days = _days(summary)
    orders = list(vmcmd.vmSendCmdSTGetOrderInfoByDate(summary.accounts, days)) if days else []
    fills = list(vmcmd.vmSendCmdSTGetExecutionInfo(summary.accounts, days)) if days else []
    final = sum(float(_field(c, "total_asset")) for c in vmcmd.vmSendCmdGetAccountCash(summary.accounts))
    curve = list(summary.equity)
    if curve:
        curve.append((curve[-1][0], final))
    values = [v for _, v in curve] or [final]
    result = figures(summary.start_equity, values, orders, fills)
    result.update(fee_totals(fills))
    result["bars"] = len(summary.calls)  # the curve ends with the final total asset, after the last bar
    return Report(summary.strategy, result, curve, orders, fills)


def _write_records(path, records):
    rows = [dict(r) if hasattr(r, "keys") else dict(vars(r)) for r in records]
    columns = list(dict.fromkeys(k for row in rows for k in row))
    with open(path, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=columns)
        writer.writeheader()
        writer.writerows(rows)


def _plot(report, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    times = [t for t, _ in report.equity]
    values = np.asarray([v for _, v in report.equity], dtype=float)
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 6), gridspec_kw={"height_ratios": [3, 1]})
    top.plot(times, values)
    top.set_ylabel("total asset")
    top.set_title("equity of {}".format(report.strategy))
    bottom.fill_between(times, -100 * _drawdowns(values), 0, step="post")
    bottom.set_ylabel("drawdown %")
    fig.autofmt_xdate()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def write(report, folder):
    """Write the report's files into `folder` (created when missing);
    returns the paths written and a note when the picture was skipped."""
    os.makedirs(folder, exist_ok=True)
    paths = {name: os.path.join(folder, name)
             for name in ("summary.json", "orders.csv", "fills.csv", "equity.csv", "equity.png")}
    with open(paths["summary.json"], "w") as f:
        json.dump(dict(report.figures, strategy=report.strategy), f, indent=2)
    _write_records(paths["orders.csv"], report.orders)
    _write_records(paths["fills.csv"], report.fills)
    values = np.asarray([v for _, v in report.equity], dtype=float)
    with open(paths["equity.csv"], "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["time", "equity", "drawdown"])
        writer.writerows((t, v, d) for (t, v), d in zip(report.equity, _drawdowns(values)))
    try:
        _plot(report, paths["equity.png"])
    except ImportError:
        del paths["equity.png"]
        return paths, PLOT_MISSING
    return paths, None


def _number(value, form):
    return "n/a" if value is None or (isinstance(value, float) and math.isnan(value)) else form.format(value)


def text(report):
    """The printed summary."""
    f = report.figures
    return "\n".join([
        "Run of {}: {} bars".format(report.strategy, f["bars"]),
        "  P&L             {}".format(_number(f["pnl"], "{:+,.2f}")),
        "  return          {}".format(_number(f["return"], "{:+.3%}")),
        "  max drawdown    {}".format(_number(f["max_drawdown"], "{:.3%}")),
        "  orders / fills  {} / {}".format(f["orders"], f["fills"]),
        "  turnover        {}".format(_number(f["turnover"], "{:.3f}")),
        "  Sharpe per bar  {}".format(_number(f["sharpe_per_bar"], "{:.4f}")),
    ])
