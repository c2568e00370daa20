"""Outside a live run: what needs the run says so and how to start one;
research queries work with their documented defaults."""
import pytest

import velmoro.tframe.runtypesbase as cnt
from velmoro.api.bpfactor._factors import get_factor_by_day
from velmoro.api.fundamental.fdmt.earnings import is_pit
from velmoro.realtrade import runtypes

SEC = {"Market": "sse", "Code": "600000"}


@pytest.fixture
def no_run(monkeypatch, terminal):
    monkeypatch.setattr(cnt, "vr", cnt.NoRunVar())
    monkeypatch.setattr(cnt, "env", cnt.NoRunEnv())
    return terminal


@pytest.mark.parametrize("use", [
    lambda: cnt.vr.g_VelmoroKDataList,
    lambda: setattr(cnt.vr, "g_VelmoroModeTaskId", 3),
    lambda: cnt.env.set_daily_close(None),
    lambda: cnt.env.account_handles,
    lambda: runtypes.RealTradeEnv().get_margin_rate(0),
    lambda: runtypes.RealTradeEnv().account_handles,
])
def test_what_needs_the_run_says_no_run_is_active_and_how_to_start_one(no_run, use):
    with pytest.raises(RuntimeError, match="no live run is active") as info:
        use()
    assert "run_live(" in str(info.value) and "velmoro run" in str(info.value)


def test_research_queries_work_outside_a_run(no_run):
    factors = get_factor_by_day(["momentum_5d"], [SEC], 20240103)
    assert len(factors["momentum_5d"]) == 1
    assert ("PutLog", (0, no_run.sent[0][1][1])) == no_run.sent[0]  # logged under task 0: no task
    assert not is_pit([SEC], field=("NetProfit",)).empty


def test_placeholders_stay_quiet_to_introspection():
    assert not hasattr(cnt.NoRunVar(), "__wrapped__") and repr(cnt.NoRunEnv()) == "<no live run>"
