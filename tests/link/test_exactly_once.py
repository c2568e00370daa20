"""Every order's outcome is told truly and every lost one is asked about;
pushes in flight survive a reconnection; an acknowledged order is on disk."""
import threading
import time

from links import take_pushes, wait_until
from peers import RawClient, resume
from serving import serving

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.store import Store
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import NEVER_ARRIVED, OutcomeUnknownError
from velmoro.tframe.comm.netlink import RemoteTerminal

ORDER = {"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy", "Volume": 100}


def order_call(rid, key):
    return [wire.CALL, rid, "cmd", ["STTradeOperation", [ORDER], key]]


def test_an_order_behind_a_slow_request_on_a_dead_connection_is_told_as_it_ends(monkeypatch):
    monkeypatch.setenv("VELMORO_TERMINAL_FAULT", "hold:GetCurDate:1.0")  # the slow request
    with serving(Terminal(Dataset()), dead_after=5.0) as (server, address):
        first = RawClient(address, resume("s1"))
        first.send([wire.CALL, 1, "cmd", ["GetCurDate", [], None]], order_call(2, "s1:1"))
        time.sleep(0.2)  # the server took both and runs the first
        first.close()
        again = RawClient(address, resume("s1", "s1:1"))
        told = again.welcome[1]["outcomes"]["s1:1"]
        time.sleep(1.5)  # whatever the old connection still does is done
        executed = server.store.answer("s1:1")[0]
        again.close()
    assert told[0] == (wire.EXECUTED if executed else wire.NEVER_ARRIVED)


def test_every_order_whose_answer_a_cut_lost_is_asked_about(spawn, token_file):
    from proxy import Proxy

    server = spawn("tcp://127.0.0.1:0", "--heartbeat", "0.2", "--dead-after", "3",
                   env={"VELMORO_TERMINAL_FAULT": "hold:STTradeOperation:0.02"})
    proxy = Proxy(wire.parse_address(server.address)[1])
    client = RemoteTerminal(proxy.address, timeout=20.0, heartbeat=0.2, dead_after=1.5, reconnect_for=20.0)
    try:
        for _ in range(3):
            lost = []

            def place():
                try:
                    client.handle("STTradeOperation", (ORDER,))
                except OutcomeUnknownError as exc:
                    lost.append(exc.key)

            threads = [threading.Thread(target=place) for _ in range(100)]
            for thread in threads:
                thread.start()
            time.sleep(0.1)
            proxy.cut()
            for thread in threads:
                thread.join(30)
            assert lost
            assert wait_until(lambda: not client.unknown), client.unknown
            assert all(client.outcomes[key] is NEVER_ARRIVED or client.outcomes[key].result.errLevel == 0
                       for key in lost)
    finally:
        client.close()
        proxy.close()


def test_an_executed_command_answering_none_is_told_apart_from_one_never_received(served):
    _, server = served
    client = RemoteTerminal(server.address, timeout=10.0)
    try:
        key = client.new_key()
        assert client.handle("CancelFrozen", (1001,), key=key) is None
        assert client.outcome(key) is None  # executed, and its answer is None
        assert client.outcome(client.new_key()) is NEVER_ARRIVED
    finally:
        client.close()


def test_a_session_whose_old_connection_still_runs_hears_in_progress(monkeypatch):
    monkeypatch.setenv("VELMORO_TERMINAL_FAULT", "hold:GetCurDate:2.0")
    with serving(Terminal(Dataset()), dead_after=0.5) as (_, address):
        first = RawClient(address, resume("s2"))
        first.send([wire.CALL, 1, "cmd", ["GetCurDate", [], None]], order_call(2, "s2:1"))
        time.sleep(0.2)
        first.close()
        again = RawClient(address, resume("s2", "s2:1"))  # its fence gives up after 0.5 s
        assert again.welcome[1]["outcomes"] == {"s2:1": [wire.IN_PROGRESS]}
        again.close()


def test_pushes_in_flight_beyond_a_small_queue_survive_a_reconnection(spawn, token_file):
    from proxy import Proxy

    server = spawn("tcp://127.0.0.1:0", "--queue", "16", "--heartbeat", "0.2", "--dead-after", "3")
    proxy = Proxy(wire.parse_address(server.address)[1])
    client = RemoteTerminal(proxy.address, timeout=10.0, heartbeat=0.2, dead_after=1.5, reconnect_for=20.0)
    try:
        client.flood({"stop_run": False}, 3000)
        assert len(take_pushes(client, 10)) == 10
        proxy.blackhole = True  # the server sends on into the buffers
        time.sleep(0.5)
        proxy.cut()
        proxy.blackhole = False
        assert len(take_pushes(client)) == 3001 - 10
    finally:
        client.close()
        proxy.close()


def test_the_journal_reaches_the_disk_at_each_commit(folder):
    assert Store(folder).db.execute("PRAGMA synchronous").fetchone()[0] == 2  # FULL
