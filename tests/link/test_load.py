"""Many callers on the link: eight client processes of four threads each
against one terminal server (every answer reaches its own caller, order ids
are unique, pushes come in order, nothing is lost; the full-size run is
bench/link_bench.py's), the threads of one client taking turns reading, and
their frames leaving together while one of them sends."""
import json
import os
import subprocess
import sys
import threading

import pytest
from links import wait_until

from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import OutcomeUnknownError
from velmoro.tframe.comm.netlink import RemoteTerminal

PROCESSES, THREADS = 8, 4
COMMANDS = int(os.environ.get("VELMORO_LOAD_COMMANDS", "200"))
PUSHES = int(os.environ.get("VELMORO_LOAD_PUSHES", "2000"))
CLIENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "load_client.py")


def test_eight_processes_of_four_threads(spawn, folder):
    server = spawn("unix:" + os.path.join(folder, "sock"), "--state", os.path.join(folder, "state"))
    clients = [subprocess.Popen([sys.executable, CLIENT, server.address, str(p), str(THREADS), str(COMMANDS),
                                 str(PUSHES)], stdout=subprocess.PIPE) for p in range(PROCESSES)]
    reports = []
    try:
        for c in clients:
            out, _ = c.communicate(timeout=300)
            assert c.returncode == 0
            reports.append(json.loads(out))
    finally:
        for c in clients:
            if c.poll() is None:
                c.kill()
    orders = [o for r in reports for o in r["orders"]]
    assert sum(r["wrong_answers"] for r in reports) == 0
    assert len(orders) == len(set(orders)) == PROCESSES * THREADS * (COMMANDS // 10)
    assert [(r["pushes"], r["gaps"], r["out_of_order"]) for r in reports] == [(PUSHES, 0, 0)] * PROCESSES


def test_callers_and_a_quiet_consumer_take_turns_reading(served):
    """Threads waiting on one link read it in turn: each answer reaches its
    own caller, and a consumer with nothing coming hears so at its time-out
    while the callers go on."""
    _, server = served
    client = RemoteTerminal(server.address, timeout=30.0)
    wrong = []

    def calls(thread):
        for i in range(300):
            answer = client.handle("CmdTest", ("turns", [thread, i])).listResult
            if answer != [thread, i]:
                wrong.append(answer)

    workers = [threading.Thread(target=calls, args=(t,)) for t in range(4)]
    try:
        for w in workers:
            w.start()
        quiet = [client.next_push(0.05) for _ in range(5)]
        for w in workers:
            w.join(60)
        assert quiet == [None] * 5 and not wrong and not any(w.is_alive() for w in workers)
        assert not client._channel.in_flight and client.handle("CmdTest", ("after", [1])).listResult == [1]
    finally:
        client.close()


class _HeldSend:
    """The wire's send, with its first send on the socket `sock` held until
    `go` is set and the next failing when `fail` is; the calls each send on
    it carried are noted. Sends on other sockets (the terminal's) go as ever."""

    def __init__(self, sock, fail=False):
        self.sock, self.fail, self.send = sock, fail, wire.send
        self.entered, self.go, self.calls = False, threading.Event(), []

    def __call__(self, sock, data):
        if sock is self.sock:
            if not self.entered:
                self.entered = True
                self.go.wait(30)
            elif self.fail:
                raise ConnectionResetError("the link broke mid-send")
            self.calls.append(sum(1 for m in wire.FrameReader().feed(data) if m[0] == wire.CALL))
        self.send(sock, data)


def _callers_during_a_send(client, held):
    """Three callers: the first holds the send while the other two come; what each got."""
    channel = client._channel
    got = {}

    def call(n):
        try:
            got[n] = client.handle("CmdTest", ("held", [n])).listResult
        except OutcomeUnknownError as exc:
            got[n] = exc

    first = threading.Thread(target=call, args=(0,))
    first.start()
    assert wait_until(lambda: held.entered)
    others = [threading.Thread(target=call, args=(n,)) for n in (1, 2)]
    for t in others:
        t.start()
    assert wait_until(lambda: channel.queued == 2)
    held.go.set()
    for t in [first] + others:
        t.join(30)
    return got


@pytest.mark.parametrize("fail", [False, True], ids=["sent", "send fails"])
def test_callers_arriving_during_a_send_leave_their_frames_to_it(served, fail, monkeypatch):
    """Their frames go out with the sending thread's next send, in one; when
    that send fails, every call whose frame it held hears so at once."""
    _, server = served
    client = RemoteTerminal(server.address, timeout=30.0, heartbeat=30.0, dead_after=60.0)
    try:
        held = _HeldSend(client._channel.sock, fail)
        monkeypatch.setattr(wire, "send", held)
        got = _callers_during_a_send(client, held)
        if fail:
            assert all(isinstance(got[n], OutcomeUnknownError) for n in range(3))
            assert wait_until(lambda: client._channel is not None and client._channel.sock is not held.sock)
        else:
            assert got == {0: [0], 1: [1], 2: [2]} and held.calls[:2] == [1, 2]
        assert not client._channel.in_flight and client.handle("CmdTest", ("after", [3])).listResult == [3]
    finally:
        client.close()
