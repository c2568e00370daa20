"""The demo's live session, run headless: every bar dispatched, every order accounted for."""
import collections
import datetime as dt
import importlib.util
import os
import sys

import pytest

from velmoro.tframe.comm import link, vmcmd

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "examples")


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    sys.path.insert(0, EXAMPLES)
    try:
        spec = importlib.util.spec_from_file_location("demo_session", os.path.join(EXAMPLES, "demo.py"))
        demo = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(demo)
        result = demo.run_session(str(tmp_path_factory.mktemp("demo")))
        yield demo, result
    finally:
        sys.path.remove(EXAMPLES)
        link.disconnect()


def test_the_handler_runs_once_per_refresh_position_until_the_daily_close(session):
    demo, s = session
    positions = [c[0] for c in s.summary.calls]
    times = [c[1] for c in s.summary.calls]
    per_day = 240 - 11  # 14:50 to 15:00 fall in the daily stop
    assert len(positions) == len(set(positions)) == demo.LIVE_DAYS * per_day
    assert all(t.time() < demo.strategy.CLOSE_TIME for t in times)
    assert times == sorted(times) and len({t.date() for t in times}) == demo.LIVE_DAYS
    assert [t.time() for t, c in zip(times, s.summary.calls) if c[2]] == [dt.time(9, 31)] * demo.LIVE_DAYS
    assert s.stopped and s.replayed == 240 * demo.LIVE_DAYS + 1


def test_every_order_is_accounted_for(session):
    _, s = session
    by_id = {o.order_id: o for o in s.orders}
    assert s.placed and set(s.placed) <= set(by_id)
    assert {o.status for o in s.orders} <= {"filled", "cancelled", "pending"}
    assert any(o.status == "filled" for o in s.orders) and any(o.status == "cancelled" for o in s.orders)


def test_positions_match_the_fills(session):
    demo, s = session
    days = link.current().data.trading_days[demo.HISTORY_DAYS:]
    net = collections.Counter()
    for e in vmcmd.vmSendCmdSTGetExecutionInfo([demo.strategy.ACCOUNT], days):
        net[(e.market, e.code)] += e.volume if e.side == "buy" else -e.volume
    held = {(p.market, p.code): p.position for p in s.positions}
    assert {k: v for k, v in net.items() if v} == held


def test_the_report_reads_as_a_summary(session):
    demo, s = session
    text = demo.report(s)
    assert "ended on the stop push: True" in text and "P&L" in text and s.log_path in text
    assert os.path.getsize(s.log_path) > 0
