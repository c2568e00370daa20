"""Threads waiting on the link: the waiter a thread sleeps on, the wakes a
reader hands out with its next read, and the turn to read passing from one
caller to the next."""
import signal
import socket
import threading

import pytest
from links import wait_until
from serving import serving

from velmoro.simterm import Dataset, Terminal
from velmoro.tframe.comm import wire
from velmoro.tframe.comm._wirecodec import Waiter
from velmoro.tframe.comm.link import OutcomeUnknownError
from velmoro.tframe.comm.netlink import RemoteTerminal


def test_a_wake_is_kept_until_a_wait_takes_it():
    waiter = Waiter()
    assert waiter.reply is None and waiter.wait(0.01) is False
    waiter.wake()
    waiter.wake()  # two wakes before a wait are one
    assert waiter.wait(30) is True
    assert waiter.wait(0) is False and waiter.wait(0.01) is False


def test_a_wait_ends_when_another_thread_wakes_it():
    waiter = Waiter()

    def hand_over():
        waiter.reply = ["answer"]
        waiter.wake()

    threading.Timer(0.05, hand_over).start()
    assert waiter.wait(30) is True and waiter.reply == ["answer"]


class _Interrupted(Exception):
    pass


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals reach the main thread")
def test_a_signal_handler_runs_during_a_wait_and_may_end_it():
    waiter, handled = Waiter(), []

    def note(signum, frame):
        handled.append(signum)

    def interrupt(signum, frame):
        raise _Interrupted()

    previous = signal.signal(signal.SIGALRM, note)
    try:
        threading.Timer(0.3, waiter.wake).start()
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        assert waiter.wait(30) is True and handled == [signal.SIGALRM]  # the wait went on after the handler
        signal.signal(signal.SIGALRM, interrupt)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(_Interrupted):
            waiter.wait(30)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


@pytest.mark.parametrize("block", [False, True], ids=["nothing there", "receive time-out"])
def test_a_read_wakes_the_waiters_handed_to_it(block):
    """Whatever the read finds; a list holding something else is refused
    whole, before it wakes anyone."""
    ours, theirs = socket.socketpair()
    try:
        wire.set_timeouts(ours, 0.01, 5.0)
        reader, waiters = wire.FrameReader(), [Waiter(), Waiter()]
        wakes = list(waiters)
        assert reader.receive(ours, block, wakes) is None
        assert wakes == [] and [w.wait(0) for w in waiters] == [True, True]
        wrong = [waiters[0], object()]
        with pytest.raises(TypeError, match="waiters"):
            reader.receive(ours, block, wrong)
        assert len(wrong) == 2 and waiters[0].wait(0) is False
    finally:
        ours.close()
        theirs.close()


@pytest.mark.parametrize("first_times_out", [False, True], ids=["answered", "timed out"])
def test_the_turn_to_read_passes_to_a_caller_that_came_while_another_read(monkeypatch, tmp_path, first_times_out):
    """The first caller reads, waiting for an answer the terminal holds back;
    a second one comes meanwhile and sleeps. Whether the first gets its
    answer or gives up first (the late answer is then dropped), the second
    gets its own."""
    monkeypatch.setenv("VELMORO_TERMINAL_FAULT", "hold:PutLog:0.6")
    term = Terminal(Dataset(), result_dir=str(tmp_path / "files"))
    with serving(term) as (server, address):
        client = RemoteTerminal(address, timeout=0.2 if first_times_out else 30.0)
        got = {}

        def first():
            try:
                got["first"] = client.handle("PutLog", (0, "held"))
            except OutcomeUnknownError as exc:
                got["first"] = exc

        try:
            reader = threading.Thread(target=first)
            reader.start()
            assert wait_until(lambda: client._channel.in_flight and client._channel.reading)
            client.timeout = 30.0  # for the second caller only: the first has its deadline
            got["second"] = client.handle("CmdTest", ("second", [2])).listResult
            reader.join(30)
            assert got["second"] == [2]
            assert isinstance(got["first"], OutcomeUnknownError) if first_times_out else got["first"] is None
            assert not client._channel.in_flight
        finally:
            client.close()


def test_the_call_path_binds_as_python_methods_and_holds_no_answer(served):
    """The native call path: signatures as Python shows them, a bad call
    refused before anything is sent, and no answer kept by the thread once
    it is returned."""
    import gc
    import inspect

    client = RemoteTerminal(served[1].address)
    try:
        shown = inspect.signature(client.handle)
        untyped = shown.replace(parameters=[p.replace(annotation=p.empty) for p in shown.parameters.values()],
                                return_annotation=shown.empty)
        assert str(untyped) == "(command, args, key=None)"  # its types aside
        assert str(inspect.signature(client._channel.call)) == "(op, args, key, timeout)"
        sent = len(served[0].sent)
        with pytest.raises(TypeError, match="unexpected keyword argument 'keys'"):
            client.handle("CmdTest", ("bad", [0]), keys="k")
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'args'"):
            RemoteTerminal.handle(client, "CmdTest")
        assert len(served[0].sent) == sent
        answer = client.handle(command="CmdTest", args=("kept", [1])).listResult
        assert answer == [1] and gc.get_referrers(answer) == []
    finally:
        client.close()
