"""The documented road of a live run on the embedded terminal: the requested
days are replayed with no set-up of one's own; a quiet terminal is warned
about; Ctrl-C ends the run cleanly and reaches the caller with the summary."""
import logging
import types

import numpy as np
import pytest

from velmoro.realtrade.runner import run_live
from velmoro.tframe import runtypesbase

TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]
STOP = {"stop_run": True, "factor_data": np.zeros(0), "min_fresh_data": np.zeros(0), "day_fresh_data": np.zeros(0)}


def test_begin_to_end_are_replayed_and_the_run_ends_on_the_stop_push(terminal):
    days = terminal.data.trading_days
    summary = run_live(TARGETS, lambda ctx: None, begin_date=days[1], end_date=days[2], accounts=[1001])
    dates = sorted({int(when.strftime("%Y%m%d")) for _, when, _ in summary.calls})
    assert dates == days[1:3] and len(summary.calls) == 480 and not summary.interrupted
    assert len(summary.equity) == 480 and summary.start_equity == 1e6
    assert "next_push" not in vars(terminal)  # the replay is gone with the run


@pytest.mark.parametrize("begin,end,words", [
    (20240102, 20240103, "no history day before it"),
    (20240201, 20240205, "no trading day to replay"),
])
def test_days_the_dataset_cannot_replay_are_refused_with_its_days(terminal, begin, end, words):
    with pytest.raises(ValueError, match=words) as info:
        run_live(TARGETS, lambda ctx: None, begin_date=begin, end_date=end)
    assert "20240102..20240104" in str(info.value)


def test_a_quiet_terminal_is_warned_about_again_and_again(terminal, caplog, monkeypatch):
    # the run's clock is the test's: each quiet wait moves it 0.05 s, so the
    # warnings do not depend on how busy the machine is
    now = [0.0]
    monkeypatch.setattr(runtypesbase, "time", types.SimpleNamespace(monotonic=lambda: now[0]))

    def quiet(timeout):
        now[0] += 0.05
        return STOP if now[0] > 0.5 else None

    terminal.next_push = quiet  # something else pushes: the run takes the history and waits
    days = terminal.data.trading_days
    with caplog.at_level(logging.WARNING, logger="velmoro"):
        summary = run_live(TARGETS, lambda ctx: None, strategy_name="patient", begin_date=days[0],
                           end_date=days[0], idle_warning=0.15)
    warnings = [r.getMessage() for r in caplog.records if r.name == "velmoro" and "no push" in r.getMessage()]
    assert len(warnings) == 3 and summary.calls == []  # after 0.15, 0.30 and 0.45 s
    assert all("the embedded simulated terminal" in w and "patient" in w for w in warnings)


def test_ctrl_c_ends_the_run_cleanly(terminal, caplog):
    def on_data(ctx):
        if len(seen) == 2:
            raise KeyboardInterrupt
        seen.append(ctx.now)

    seen = []
    days = terminal.data.trading_days
    with caplog.at_level(logging.WARNING, logger="velmoro"), pytest.raises(KeyboardInterrupt) as info:
        run_live(TARGETS, on_data, begin_date=days[1], end_date=days[2])
    summary = info.value.summary  # what the run did until then, for the caller's report
    assert summary.interrupted and len(summary.calls) == 3 and len(seen) == 2 and len(summary.equity) == 3
    assert any("interrupted" in r.getMessage() for r in caplog.records)
    assert "next_push" not in vars(terminal)
