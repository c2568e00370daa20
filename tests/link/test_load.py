"""Eight client processes of four threads each against one terminal server:
every answer reaches its own caller, order ids are unique, pushes come in
order, nothing is lost. (The full-size run is bench/link_bench.py's.)"""
import json
import os
import subprocess
import sys

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
