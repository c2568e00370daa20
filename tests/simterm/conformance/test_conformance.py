"""Every conformance scenario, each run alone on a fresh terminal and its
ledger reconciled to the cent."""
import importlib

import pytest
from ledger import HANDLE, play, run, terminal_for
from serving import serving

from velmoro.simterm.book import book
from velmoro.tframe.comm import link, vmcmd

FAMILIES = ("lots", "limits", "halts", "fees", "partial", "combined")
SCENARIOS = [s for family in FAMILIES for s in importlib.import_module("cases_" + family).SCENARIOS]


def test_the_suite_is_large_and_names_each_scenario_once():
    names = [s["name"] for s in SCENARIOS]
    assert len(names) >= 100 and len(set(names)) == len(names)


@pytest.mark.parametrize("scenario", SCENARIOS, ids=[s["name"] for s in SCENARIOS])
def test_scenario(scenario):
    play(scenario)


def _scenario(name):
    return next(s for s in SCENARIOS if s["name"] == name)


def test_queries_answer_a_partial_fill_as_a_terminal_does():
    scenario = dict(_scenario("partial: a limit buy fills a quarter of each bar's volume"))
    scenario["steps"] = scenario["steps"][:2]
    term = link.connect(terminal_for(scenario))
    try:
        run(scenario, term)
        (working,) = vmcmd.vmSendCmdSTUnFinishedOrderInfo([HANDLE], [])
        fills = vmcmd.vmSendCmdSTGetExecutionInfo([HANDLE], [])
        (last,) = vmcmd.vmSendCmdSTGetLastExecutionInfo(HANDLE, {"Market": "sse", "Code": "600000"}, "buy", "")
        (cash,) = vmcmd.vmSendCmdGetAccountCash([HANDLE])
        assert (working.status, working.volume, working.filled_volume, working.avg_price) == ("partial", 1000, 600, 10.0)
        assert [(f.order_id, f.volume) for f in fills] == [(working.order_id, 200)] * 3
        assert last.execution_id == fills[-1].execution_id
        # the rest keeps its share of what the order froze: 400 / 1000 of 10,000 + 5.00 + 0.10
        assert cash.frozen == 4002.04
        vmcmd.vmSendCmdCancelOrder("conformance", HANDLE, working.order_id)
        assert vmcmd.vmSendCmdSTUnFinishedOrderInfo([HANDLE], []) == []
        (cash,) = vmcmd.vmSendCmdGetAccountCash([HANDLE])
        assert cash.frozen == 0 and vmcmd.vmSendCmdSTOrderInfo([HANDLE], [])[0].status == "cancelled"
    finally:
        link.disconnect()


@pytest.mark.parametrize("name", ["partial: a limit buy fills a quarter of each bar's volume",
                                  "combined: transfer fee changes between two fills of one order",
                                  "combined: T+1 with a partial fill"])
def test_a_restarted_served_terminal_rebuilds_the_same_ledger(name, tmp_path):
    """The served terminal replays its recorded commands at their clocks:
    the rules must give the same orders, fills and cash again."""
    scenario = _scenario(name)
    first = terminal_for(scenario, str(tmp_path / "first"))
    with serving(first, state_dir=str(tmp_path / "state")) as (_, address):
        link.connect(address)
        try:
            run(scenario, first)
        finally:
            link.disconnect()
    again = terminal_for(scenario, str(tmp_path / "again"))
    with serving(again, state_dir=str(tmp_path / "state")):
        before, after = book(first), book(again)
        assert after.orders == before.orders and after.executions == before.executions
        assert [a.cash for a in after.accounts.values()] == [a.cash for a in before.accounts.values()]
