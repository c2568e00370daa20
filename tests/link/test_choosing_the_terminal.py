"""Which terminal the framework reaches: the embedded one by default, a
server by address (VELMORO_TERMINAL or link.connect)."""
import os

import pytest

from velmoro.simterm import Terminal
from velmoro.tframe.comm import link, vmcmd
from velmoro.tframe.comm.link import NotConnectedError
from velmoro.tframe.comm.netlink import RemoteTerminal


@pytest.fixture(autouse=True)
def fresh_link():
    link.disconnect()
    yield
    link.disconnect()


def test_the_embedded_terminal_is_the_default(monkeypatch):
    monkeypatch.delenv("VELMORO_TERMINAL", raising=False)
    assert isinstance(link.current(), Terminal)


def test_an_address_in_the_environment_reaches_that_server(served, monkeypatch):
    term, server = served
    monkeypatch.setenv("VELMORO_TERMINAL", server.address)
    assert vmcmd.vmSendCmdGetTradingDays() == term.data.trading_days
    assert isinstance(link.current(), RemoteTerminal)
    vmcmd.vmSendCmdPutLog(1, "over the socket")
    assert term.log == ["over the socket"]


@pytest.mark.parametrize("where", ["none", "unix:{folder}/absent.sock"])
def test_no_terminal_fails_before_sending(where, folder, monkeypatch):
    monkeypatch.setenv("VELMORO_TERMINAL", where.format(folder=folder))
    with pytest.raises(NotConnectedError):
        vmcmd.vmSendCmdGetTradingDays()


def test_connecting_elsewhere_closes_the_previous_link(served):
    term, server = served
    first = link.connect(server.address)
    link.connect(Terminal(result_dir=os.path.join(os.path.dirname(term.result_dir), "other")))
    with pytest.raises(NotConnectedError):
        first.handle("GetCurDate", ())


def test_a_live_run_on_a_served_terminal_replays_its_days(served):
    from velmoro.realtrade.runner import run_live

    term, server = served
    link.connect(server.address)
    day = term.data.trading_days[1]
    summary = run_live([{"Market": "sse", "Code": "600000"}], lambda context: None, begin_date=day, end_date=day)
    assert len(summary.calls) == len(term.data.minute_times(day))
    assert {int(c[1].strftime("%Y%m%d")) for c in summary.calls} == {day}
