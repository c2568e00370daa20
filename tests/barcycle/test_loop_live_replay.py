"""A live run end to end: a replayed session of two trading days through the
real refresh calculations, order book and simulated terminal."""
import datetime as dt

import numpy as np
import pytest

from velmoro.realtrade.calc import quantity_rows
from velmoro.realtrade.runner import run_live
from velmoro.simterm.replay import Replay
from velmoro.tframe.comm import vmcmd
import velmoro.tframe.runtypesbase as cnt
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.datetimefunc import mft_to_datetime

TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}, {"Market": "sse", "Code": "600519"}]


def live(terminal, on_data=lambda ctx: None, **options):
    days = terminal.data.trading_days
    replay = Replay(terminal, TARGETS, days[1:3])
    summary = run_live(TARGETS, on_data, strategy_name="demo", begin_date=days[0], end_date=days[0], **options)
    return summary, replay, days


def test_every_pushed_minute_reaches_the_handler_once(terminal):
    seen = []

    def on_data(ctx):
        closes = cnt.vr.g_VelmoroDataValueFresh[quantity_rows(1)[3], ctx._internal_bar_num]
        seen.append((ctx.now, closes))

    summary, replay, days = live(terminal, on_data, accounts=[1001])
    minutes = np.concatenate([terminal.data.minute_times(d) for d in days[1:3]])
    assert [c[1] for c in summary.calls] == mft_to_datetime(minutes)
    assert [c[0] for c in summary.calls] == list(range(240, 720))
    assert [c[0] for c in summary.calls if c[2]] == [240, 480]  # first bar of each live day
    # the handler sees the pushed close of the position's minute
    sec = terminal.data.security("szse", "000001")
    expected = terminal.data.bars(sec, "min", days[1], days[2])["Close"]
    assert np.allclose([s[1] for s in seen], expected)
    assert summary.last_position == 720 and replay.pushed == 481  # one push per minute and the stop


def test_bars_and_indicators_follow_the_pushes(terminal):
    summary, _, days = live(terminal, indicators={"last": lambda closes: closes[:, -1]}, freq_num=5)
    vr = cnt.vr
    # the first push reaches no new five-minute bar: the history's last one is not dispatched
    assert [c[0] for c in summary.calls] == list(range(48, 144))
    five = vr.g_VelmoroKDataList[vr.g_VelmoroKDataList.find_pos(gv.KFreq_Min, 5)]
    day = vr.g_VelmoroKDataList[vr.g_VelmoroKDataList.find_pos(gv.KFreq_Day, 1)]
    sec = terminal.data.security("sse", "600519")
    minute = terminal.data.bars(sec, "min", days[0], days[2])
    daily = terminal.data.bars(sec, "day", days[0], days[2])
    rows = quantity_rows(2)
    assert np.allclose(five.Matrix[rows[3]], minute["Close"][4::5])
    assert np.allclose(five.Matrix[rows[1]], minute["High"].reshape(-1, 5).max(axis=1))
    assert np.allclose(day.Matrix[rows], [daily[q] for q in ("Open", "High", "Low", "Close", "Volume", "Amount")])
    assert np.allclose(vr.g_VelmoroUserIndices["last"].values[2], minute["Close"][4::5])
    assert vr.g_VelmoroKDataList[0].CurrentBar.size == vr.g_VelmoroDataValueFresh.shape[1] == 3 * 48


def test_daily_close_and_terminal_orders(terminal):
    def on_data(ctx):
        if ctx.now.minute == 0 and ctx.now.hour == 10:
            vmcmd.vmSendCmdSTTradeOperation(
                {"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy", "Volume": 100, "StrategyName": "demo"}
            )

    summary, _, _ = live(terminal, on_data, daily_close=dt.time(14, 49, 30), accounts=[1001, 1002])
    last_minutes = {c[1].date(): c[1].time() for c in summary.calls}
    assert set(last_minutes.values()) == {dt.time(14, 49)} and len(summary.calls) == 2 * 229
    closes = [args for command, args in terminal.sent if command == "CloseOperation"]
    # the stop lives within one dispatch: every later minute of the day closes again
    assert len(closes) == 2 * 11 * 2 and {int(a[1]) for a in closes} == {1001, 1002}
    book = cnt.vr.g_VMOrders
    assert summary.orders == book.keys() and len(book()) >= 2
    assert [(o.order_idx, o.handle_idx, o.target_idx) for o in book()][:2] == [(0, 0, 0), (1, 0, 0)]
    assert summary.cash[0].account_handle == 1001


def test_a_failing_handler_ends_the_run_with_its_exception(terminal):
    error = ZeroDivisionError("strategy bug")

    def on_data(ctx):
        raise error

    with pytest.raises(ZeroDivisionError) as caught:
        live(terminal, on_data)
    assert caught.value is error
