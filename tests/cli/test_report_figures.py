"""The report's figures against empyrical-reloaded on random daily returns,
round trips and fees by hand, and the files as pandas reads them."""
import datetime as dt
import os

import empyrical
import numpy as np
import pandas as pd
import pytest

from velmoro import metrics, report

SEEDS = range(8)


@pytest.mark.parametrize("seed", SEEDS)
def test_return_figures_match_empyrical(seed):
    rng = np.random.default_rng(seed)
    returns = rng.normal(0.0005 * (seed - 3), 0.01 + 0.002 * seed, size=20 + 40 * seed)
    rate = 0.03 * (seed % 3)  # a year; empyrical takes it per day
    daily = rate / metrics.DAYS_PER_YEAR
    got = metrics.return_figures(returns, risk_free=rate)
    expected = {
        "annual_return": empyrical.annual_return(returns),
        "annual_volatility": empyrical.annual_volatility(returns),
        "sharpe": empyrical.sharpe_ratio(returns, risk_free=daily),
        "sortino": empyrical.sortino_ratio(returns, required_return=daily),
        "calmar": empyrical.calmar_ratio(returns),
        "max_drawdown": -empyrical.max_drawdown(returns),
    }
    for name, value in expected.items():
        assert got[name] == pytest.approx(value, rel=1e-9, abs=1e-12), name


@pytest.mark.parametrize("returns, days", [
    ([0.01, -0.02, -0.005, 0.002, -0.001, 0.03], 4),  # under the first peak for four days
    ([0.01, 0.01], 0),
    ([-0.01, -0.01], 2),  # from the start value
])
def test_drawdown_duration(returns, days):
    assert metrics.return_figures(returns)["max_drawdown_days"] == days


def fill(side, price, volume, code="600000", **fees):
    return dict(account_handle=1001, market="sse", code=code, side=side, price=price, volume=volume,
                amount=price * volume, **fees)


# fills (and the starting book) -> round trips' P&L, win rate, profit factor, fees
TRADES = [
    ([fill("buy", 10.0, 200), fill("sell", 11.0, 100), fill("sell", 9.0, 100)], [], [100.0, -100.0], 0.5, 1.0, 0.0),
    # first in, first out; fees shared out per share
    ([fill("buy", 10.0, 100, commission=5.0), fill("buy", 12.0, 100, commission=5.0),
      fill("sell", 13.0, 200, commission=6.0, stamp_duty=2.0)], [], [382.0], 1.0, None, 18.0),
    # a sale of what an earlier run left closes it at its average price
    ([fill("sell", 8.0, 100, transfer_fee=1.0)], [dict(account_handle=1001, market="sse", code="600000",
                                                       position=100, avg_price=9.0)], [-101.0], 0.0, 0.0, 1.0),
]


@pytest.mark.parametrize("fills, book, pnls, win_rate, profit_factor, fees", TRADES)
def test_round_trips(fills, book, pnls, win_rate, profit_factor, fees):
    assert [t["pnl"] for t in metrics.round_trips(fills, book)] == pytest.approx(pnls)
    got = metrics.trade_figures(fills, book)
    assert got["win_rate"] == pytest.approx(win_rate) and got["fees"] == pytest.approx(fees)
    assert got["profit_factor"] == (None if profit_factor is None else pytest.approx(profit_factor))


def test_files_of_a_run_without_orders(tmp_path):
    times = [dt.datetime(2024, 1, 3, 9, 31), dt.datetime(2024, 1, 3, 9, 32)]
    result = report.Report("s", report.figures(100.0, [101.0, 102.0], [], [], times), list(zip(times, [101.0, 102.0])),
                           [], [], ended="interrupted")
    (tmp_path / "equity.png").write_text("from an earlier report")
    report.write(result, str(tmp_path))
    for name, columns in (("orders.csv", report.ORDER_COLUMNS), ("fills.csv", report.FILL_COLUMNS)):
        frame = pd.read_csv(str(tmp_path / name))
        assert frame.empty and tuple(frame.columns) == columns
    equity = pd.read_csv(str(tmp_path / "equity.csv"), parse_dates=["time"])
    assert equity["time"].is_unique and len(equity) == 2
    assert pd.read_json(str(tmp_path / "summary.json"), typ="series")["ended"] == "interrupted"
    plotted = os.path.exists(str(tmp_path / "equity.png"))
    assert not plotted or (tmp_path / "equity.png").read_bytes()[:4] == b"\x89PNG"


def test_order_times_are_date_times():
    rows = report._rows([{"order_id": 1, "order_time": 739255.4166666666}], 7)
    assert rows == [{"order_id": 1, "order_time": "2024-01-04 10:00:00", "run_id": 7}]
