"""Which terminal the framework reaches: the embedded one by default, a
server by address (VELMORO_TERMINAL or link.connect), another installed
terminal by the name it registers."""
import os
import textwrap

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


@pytest.fixture
def installed(tmp_path, monkeypatch):
    """Install a terminal package of name "other" (on sys.path, with its
    registration) and another whose class does not import."""
    (tmp_path / "other_terminal.py").write_text(textwrap.dedent('''
        from velmoro.protocol import Answer

        class Terminal:
            def handle(self, command, args):
                return Answer(result=[20240102])
        '''))
    info = tmp_path / "other_terminal-1.0.dist-info"
    info.mkdir()
    (info / "METADATA").write_text("Metadata-Version: 2.1\nName: other-terminal\nVersion: 1.0\n")
    (info / "entry_points.txt").write_text("[{}]\nother = other_terminal:Terminal\nbroken = other_terminal:Absent\n"
                                           .format(link.TERMINALS))
    monkeypatch.syspath_prepend(str(tmp_path))


def test_another_installed_terminal_is_reached_by_its_name(installed, monkeypatch):
    monkeypatch.setenv("VELMORO_TERMINAL", "other")
    assert vmcmd.vmSendCmdGetTradingDays() == [20240102]
    assert type(link.current()).__module__ == "other_terminal"


@pytest.mark.parametrize("where, message", [
    ("absent", r"^no terminal named 'absent' is installed \(installed: broken, embedded, other\); VELMORO_TERMINAL "),
    ("broken", r"^the terminal 'broken' \(other_terminal:Absent\) does not load: .*Absent"),
])
def test_a_terminal_not_installed_or_not_loading_fails_in_one_line(installed, where, message, monkeypatch):
    monkeypatch.setenv("VELMORO_TERMINAL", where)
    with pytest.raises(NotConnectedError, match=message) as caught:
        vmcmd.vmSendCmdGetTradingDays()
    assert "\n" not in str(caught.value)


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
