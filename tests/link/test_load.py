"""Many callers on the link: eight client processes of four threads each
against one terminal server (every answer reaches its own caller, order ids
are unique, pushes come in order, nothing is lost; the full-size run is
bench/link_bench.py's), and the threads of one client taking turns reading."""
import json
import os
import subprocess
import sys
import threading

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
        assert not client._pending and client.handle("CmdTest", ("after", [1])).listResult == [1]
    finally:
        client.close()
