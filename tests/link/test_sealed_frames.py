"""Over TCP every frame after the handshake carries its tag: a relay in the
middle that alters, injects, replays or reorders one is refused, the
connection closed with a clear error, the order never run twice nor run as
altered, and the link comes back on a new connection."""
import hashlib
import hmac
import logging

import pytest
from links import wait_until
from relay import Relay, Tamper

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.server import Server
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import IN_PROGRESS, NEVER_ARRIVED, OutcomeUnknownError, TransportError
from velmoro.tframe.comm.netlink import RemoteTerminal

ORDER = {"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy", "Volume": 100}
TAMPERING = ["alter", "inject", "replay", "reorder"]
KEY = b"k" * 32


def frames(*messages):
    return [wire.frame(m) for m in messages]


def sealed(key, messages):
    """The frames of `messages`, each with its tag in one direction's stream."""
    seal = wire.Seal(key)
    return [seal.seal(f) for f in frames(*messages)]


@pytest.mark.parametrize("size", [0, 1, 38, 39, 46, 47, 102, 103, 200, 5000])
def test_a_tag_is_the_hmac_of_the_frame_number_and_body(size):
    first, second = frames([wire.CALL, 1, "x" * size], [wire.PONG])
    seal = wire.Seal(KEY)
    out = seal.seal(first + second)
    for number, plain in enumerate((first, second)):
        body = plain[4:]
        tag = hmac.new(KEY, number.to_bytes(8, "big") + body, hashlib.sha256).digest()[:16]
        assert out[:4] == (len(body) + 16).to_bytes(4, "big") and out[4:4 + len(body) + 16] == body + tag
        out = out[4 + len(body) + 16:]
    assert seal.count == 2


def _flipped(frame):
    return frame[:6] + bytes([frame[6] ^ 1]) + frame[7:]


f0, f1, f2 = sealed(KEY, [[wire.CALL, 1, "a", []], [wire.CALL, 2, "b", []], [wire.PING]])


@pytest.mark.parametrize("stream", [
    [f0, f0],  # replayed
    [f1, f0],  # reordered
    [f0, f2],  # one dropped
    [_flipped(f0)],  # altered
    frames([wire.CALL, 1, "a", []]),  # without a tag
    sealed(b"j" * 32, [[wire.CALL, 1, "a", []]]),  # under another key: the other direction's, say
])
def test_a_reader_refuses_a_frame_out_of_its_place(stream):
    reader = wire.FrameReader()
    reader.authenticate(wire.Seal(KEY))
    with pytest.raises(wire.ForgedFrameError, match="failed its authentication"):
        reader.feed(b"".join(stream))
    good = wire.FrameReader(cap=len(f0) - 4 - 16)  # the cap is the body's, the tag on top
    good.authenticate(wire.Seal(KEY))
    assert [m[0] for m in good.feed(f0 + f1 + f2)] == [wire.CALL, wire.CALL, wire.PING]


@pytest.fixture
def tcp(token_file):
    server = Server(Terminal(Dataset()), "tcp://127.0.0.1:0", heartbeat=0.2, dead_after=2.0).start()
    yield server
    server.stop()


def through(server, **hooks):
    relay = Relay(wire.parse_address(server.address)[1], **hooks)
    client = RemoteTerminal(relay.address, timeout=5.0, heartbeat=0.2, dead_after=2.0, reconnect_for=10.0)
    return relay, client


def restored(client):
    def works():
        try:
            return client.call("log") is not None
        except TransportError:
            return False
    return wait_until(works)


def settled(client, key):
    """The order's outcome once the terminal can tell it."""
    told = []

    def ask():
        try:
            told[:] = [client.outcome(key)]
        except TransportError:
            return False
        return told[0] is not IN_PROGRESS
    assert wait_until(ask)
    return told[0]


def is_order(message):
    return message[0] == wire.CALL and message[2] == "cmd" and message[3][0] == "STTradeOperation"


def larger_order(message):
    return message[:3] + [["STTradeOperation", [dict(ORDER, Volume=900)], "forged:1"]]


@pytest.mark.parametrize("how", TAMPERING)
def test_a_frame_tampered_on_its_way_to_the_server_is_refused(tcp, server_log, how):
    relay, client = through(tcp, to_server=Tamper(how, is_order, larger_order))
    try:
        key = client.new_key()
        with server_log.at_level(logging.WARNING, logger="velmoro.terminal.server"):
            try:
                client.handle("STTradeOperation", (ORDER,), key=key)
            except OutcomeUnknownError:
                pass  # its connection was closed before the answer
            assert wait_until(lambda: "failed its authentication" in server_log.text)
        assert restored(client)
        outcome = settled(client, key)
        orders = client.handle("GetOrderInfo", ([1001], [])).listOrders
        assert len(orders) == (0 if outcome is NEVER_ARRIVED else 1)
        assert not tcp.store.answer("forged:1")[0]
    finally:
        client.close()
        relay.close()


def forged_answer(message):
    return [message[0], message[1], True, ["forged"]]


@pytest.mark.parametrize("how", TAMPERING)
def test_a_frame_tampered_on_its_way_to_the_client_is_refused(tcp, server_log, how):
    is_answer = lambda message: message[0] == wire.REPLY  # noqa: E731
    relay, client = through(tcp, to_client=Tamper(how, is_answer, forged_answer))
    try:
        with server_log.at_level(logging.WARNING, logger="velmoro.link"):
            try:
                answer = client.call("log")
            except OutcomeUnknownError as exc:
                assert how == "replay" or "failed its authentication" in str(exc)
            else:
                assert how == "replay" and answer != ["forged"]  # the true answer came before its copy
            assert wait_until(lambda: "failed its authentication" in server_log.text)
        assert restored(client)
    finally:
        client.close()
        relay.close()
