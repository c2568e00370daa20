"""The link when things go wrong: a terminal killed between taking an order
and answering it, restarted mid-run, a network that delays, blackholes or cuts,
bad or unauthenticated frames, a consumer too slow for its pushes."""
import os
import sqlite3
import struct
import threading
import time

import pytest
from links import take_pushes, wait_until
from peers import raw_socket
from proxy import Proxy
from serving import serving

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.server import StartRefused, bind
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import NEVER_ARRIVED, NotConnectedError, OutcomeUnknownError, PushGapError
from velmoro.tframe.comm.netlink import RemoteTerminal
from velmoro.tframe.utils.utilcls import DotDict

ORDER = {"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy", "Volume": 100}
TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]
DAY = Dataset().trading_days[1]


def client_of(address, **options):
    options = dict(dict(timeout=10.0, heartbeat=0.2, dead_after=1.5, reconnect_for=20.0), **options)
    return RemoteTerminal(address, **options)


def recorded_keys(state):
    try:
        with sqlite3.connect(os.path.join(state, "terminal.sqlite"), timeout=1) as db:
            return db.execute("SELECT count(*) FROM keys").fetchone()[0]
    except sqlite3.Error:
        return 0


def test_an_order_whose_answer_died_with_the_terminal_exists_once_after_its_restart(spawn, folder):
    state = os.path.join(folder, "state")
    server = spawn("unix:" + os.path.join(folder, "sock"), "--state", state,
                   env={"VELMORO_TERMINAL_FAULT": "hold:STTradeOperation:30"})
    client = client_of(server.address)
    try:
        def kill_once_taken():
            if wait_until(lambda: recorded_keys(state) == 1):
                server.kill()

        killer = threading.Thread(target=kill_once_taken)
        killer.start()
        with pytest.raises(OutcomeUnknownError) as lost:
            client.handle("STTradeOperation", (ORDER,))
        killer.join(30)
        key = lost.value.key
        assert key in client.unknown
        with pytest.raises(NotConnectedError):  # fails fast while the terminal is away
            client.handle("GetCurDate", ())

        server.start(env={})
        assert wait_until(lambda: key in client.outcomes)
        first = client.outcomes[key]
        assert first.result.errLevel == 0 and key not in client.unknown
        again = client.handle("STTradeOperation", (ORDER,), key=key)  # a resend answers the original
        assert again.ClientID == first.ClientID
        orders = client.handle("GetOrderInfo", ([1001], [])).listOrders
        assert [o.order_id for o in orders] == [first.ClientID]
        assert client.outcome(client.new_key()) is NEVER_ARRIVED  # never sent: safe to send
    finally:
        client.close()


def minute_times(records):
    return [r["min_fresh_data"][0, 1] for r in records if not r["stop_run"]]


def test_a_replay_resumes_where_it_was_after_the_terminal_restarts(spawn, folder):
    state = os.path.join(folder, "state")
    server = spawn("unix:" + os.path.join(folder, "sock"), "--state", state)
    client = client_of(server.address)
    try:
        total = client.replay(TARGETS, [DAY])
        before = take_pushes(client, 60)
        server.kill()
        server.start()
        after = take_pushes(client)
        times = minute_times(before + after)
        assert len(before + after) == total and after[-1]["stop_run"]
        assert times == list(Dataset().minute_times(DAY))
    finally:
        client.close()


def test_an_unpaced_replay_pushes_every_minute_then_the_stop(served):
    _, server = served
    client = client_of(server.address)
    try:
        total = client.replay(TARGETS, [DAY], paced=False)
        records = take_pushes(client)
        assert len(records) == total and records[-1]["stop_run"]
        assert minute_times(records) == list(Dataset().minute_times(DAY))
    finally:
        client.close()


def test_a_run_whose_pushes_the_terminal_lost_ends_with_a_clear_error(spawn, folder):
    server = spawn("unix:" + os.path.join(folder, "sock"))  # no state: a restart forgets the session
    client = client_of(server.address)
    try:
        client.replay(TARGETS, [DAY])
        take_pushes(client, 10)
        server.kill()
        server.start()
        with pytest.raises(PushGapError, match="from number 11"):
            take_pushes(client)
    finally:
        client.close()


@pytest.fixture
def tcp_server(spawn, token_file):
    return spawn("tcp://127.0.0.1:0", "--heartbeat", "0.2", "--dead-after", "1.5")


@pytest.fixture
def proxy(tcp_server):
    host, port = wire.parse_address(tcp_server.address)[1]
    p = Proxy((host, port))
    yield p
    p.close()


def echo(client, value):
    return client.handle("CmdTest", ("echo", [value])).listResult


def test_a_late_answer_is_dropped_and_the_next_call_gets_its_own(proxy):
    client = client_of(proxy.address, timeout=0.3)
    try:
        proxy.delay = 0.6
        with pytest.raises(OutcomeUnknownError) as late:
            echo(client, 1)
        assert late.value.key is None  # not an order: nothing to resolve
        proxy.delay = 0.0
        time.sleep(1.0)  # the late answer arrives meanwhile
        assert [echo(client, n) for n in range(2, 6)] == [[2], [3], [4], [5]]
    finally:
        client.close()


def test_a_blackholed_link_is_noticed_and_restored(proxy):
    client = client_of(proxy.address, timeout=60.0)
    try:
        proxy.blackhole = True
        started = time.monotonic()
        with pytest.raises(OutcomeUnknownError):
            echo(client, 1)
        assert time.monotonic() - started < 30  # by the heartbeats, long before the call's time-out
        with pytest.raises(NotConnectedError):
            echo(client, 2)
        proxy.blackhole = False
        assert wait_until(lambda: client._channel is not None)
        assert echo(client, 3) == [3]
    finally:
        client.close()


def test_a_connection_cut_mid_frame_fails_its_call_only(proxy, tcp_server):
    client = client_of(proxy.address)
    direct = client_of(tcp_server.address)
    try:
        assert echo(client, 0) == [0]
        proxy.cut_after = 200  # bytes of the next connection towards the client
        client._channel.sock.close()  # make the link reconnect through the cutting proxy
        assert wait_until(lambda: client._channel is not None)
        with pytest.raises((OutcomeUnknownError, NotConnectedError)):
            echo(client, "x" * 1000)
        assert echo(direct, 7) == [7]
        proxy.cut_after = None
        assert wait_until(lambda: client._channel is not None and not client._channel.in_flight)
        assert wait_until(lambda: _answers(client))
    finally:
        client.close()
        direct.close()


def _answers(client):
    try:
        return echo(client, 9) == [9]
    except (OutcomeUnknownError, NotConnectedError):
        return False


def test_the_token_proves_the_client_without_being_sent(proxy, token_file, folder):
    client = client_of(proxy.address)
    try:
        assert echo(client, 1) == [1]
        with open(token_file, "rb") as f:
            assert f.read() not in bytes(proxy.sent_by_clients)
        wrong = os.path.join(folder, "wrong")
        with open(os.open(wrong, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write("not the token")
        with pytest.raises(NotConnectedError, match="authentication failed"):
            RemoteTerminal(proxy.address, token_file=wrong)
        open_token = os.path.join(folder, "open")
        with open(os.open(open_token, os.O_WRONLY | os.O_CREAT, 0o644), "w") as f:
            f.write("x")
        os.chmod(open_token, 0o644)
        with pytest.raises(PermissionError):
            RemoteTerminal(proxy.address, token_file=open_token)
        assert echo(client, 2) == [2]
    finally:
        client.close()


def _closed(sock):
    try:
        while sock.recv(65536):
            pass
        return True
    except ConnectionResetError:
        return True


@pytest.mark.parametrize("data", [
    struct.pack(">I", wire.MAX_FRAME + 1),  # oversized
    struct.pack(">I", 5) + b"\xc1\xc1\xc1\xc1\xc1",  # malformed
    wire.frame([wire.CALL, 1, "cmd", ["GetCurDate", [], None]]),  # no handshake
])
def test_a_bad_frame_closes_its_connection_only(tcp_server, data):
    client = client_of(tcp_server.address)
    try:
        bad = raw_socket(tcp_server.address)
        bad.sendall(data)
        assert _closed(bad)
        bad.close()
        assert echo(client, 1) == [1]
    finally:
        client.close()


def test_a_consumer_too_slow_for_a_flood_hears_of_the_gap_and_gets_the_stop(folder):
    with serving(Terminal(Dataset()), queue_cap=50) as (_, address):
        client = client_of(address, window=8)
        try:
            client.flood({"stop_run": False, "n": 1}, 3000, wait=False)
            gaps, seen = 0, []
            while True:
                try:
                    record = client.next_push(10)
                except PushGapError:
                    gaps += 1
                    continue
                assert record is not None
                seen.append(client.consumed)
                if record["stop_run"]:
                    break
                time.sleep(0.0005)
            assert gaps and seen == sorted(seen) and seen[-1] == 3001
            client.flood({"stop_run": False}, 3000)  # a source that waits for room: nothing lost
            assert len(take_pushes(client)) == 3001
        finally:
            client.close()


def test_result_files_of_another_host_are_fetched_with_their_checksum(served):
    term, server = served
    client = client_of(server.address, fetch=True)
    try:
        answer = client.handle("GetKData", (DotDict(MarketCode=TARGETS, KFrequency="day", KFreNum=1, BeginDate=0,
                                                    EndDate=0, FilledUp=0, FQ="NA", NoReturn=False),))
        assert len(answer.listPaths) == 2
        for local, there in zip(answer.listPaths, sorted(os.listdir(term.result_dir))):
            assert not local.startswith(term.result_dir)
            with open(local, "rb") as a, open(os.path.join(term.result_dir, there), "rb") as b:
                assert a.read() == b.read()
        with pytest.raises(PermissionError):
            client.fetch(os.path.join(os.path.dirname(term.result_dir), "sock"))
    finally:
        client.close()


def test_a_unix_socket_needs_a_folder_no_one_else_enters(folder):
    shared = os.path.join(folder, "shared")
    os.mkdir(shared)
    os.chmod(shared, 0o755)
    with pytest.raises(StartRefused, match="open to other users"):
        bind("unix:" + os.path.join(shared, "sock"))
