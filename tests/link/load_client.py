"""One client process of the load test and benchmark: THREADS threads send
COMMANDS commands each (echoes checked against their own caller, and every
ORDER_EVERY-th an order, 10 by default: a limit bid under the price, at once
cancelled so that the account's cash lasts), while the main thread takes a
flood of PUSHES pushes. Prints a JSON report.

    python load_client.py ADDRESS PROCESS THREADS COMMANDS PUSHES [ORDER_EVERY]
"""
import json
import sys
import threading
import time

from velmoro.tframe.comm.link import PushGapError
from velmoro.tframe.comm.netlink import RemoteTerminal

TARGET = {"Market": "sse", "Code": "600000"}
ORDER = dict(TARGET, Handle=1001, Side="buy", Volume=100)


def main(address, process, threads, commands, pushes, order_every=10):
    client = RemoteTerminal(address, timeout=60.0)
    (quote,) = client.handle("GetRtData", ([TARGET],)).listRtData
    bid = round(quote["PreClose"] * 0.95, 2)  # within the day's limits and, as a rule, under the price
    report = {"wrong_answers": 0, "orders": [], "pushes": 0, "gaps": 0, "out_of_order": 0, "calls": 0}
    lock = threading.Lock()

    def send(thread):
        wrong, orders = 0, []
        for i in range(commands):
            if i % order_every == order_every - 1:
                name = "p{}t{}".format(process, thread)
                answer = client.handle("STTradeOperation", (dict(ORDER, Price=bid, StrategyName=name),))
                orders.append(int(answer.ClientID))
                client.handle("CancelOrder", (name, ORDER["Handle"], orders[-1]))
            elif client.handle("CmdTest", ("load", [process, thread, i])).listResult != [process, thread, i]:
                wrong += 1
        with lock:
            report["wrong_answers"] += wrong
            report["orders"] += orders
            report["calls"] += commands

    client.flood({"stop_run": False, "process": process}, pushes)
    workers = [threading.Thread(target=send, args=(t,)) for t in range(threads)]
    started = time.perf_counter()
    for w in workers:
        w.start()
    last = 0
    while True:
        try:
            record = client.next_push(30.0)
        except PushGapError:
            report["gaps"] += 1
            continue
        if record is None:
            break
        report["out_of_order"] += client.consumed != last + 1 or record.get("process", process) != process
        last = client.consumed
        if record["stop_run"]:
            break
        report["pushes"] += 1
    for w in workers:
        w.join()
    report["seconds"] = time.perf_counter() - started
    client.close()
    print(json.dumps(report))


if __name__ == "__main__":
    main(sys.argv[1], *(int(a) for a in sys.argv[2:7]))
