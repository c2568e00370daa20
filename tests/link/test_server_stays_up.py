"""The server stays up whatever its peers do, and refuses a start-up it
cannot make good in one line."""
import logging
import os
import resource
import socket
import subprocess
import sys

import pytest
from links import wait_until
from peers import RawClient, raw_socket, read_message, resume

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.server import Server
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.netlink import RemoteTerminal


def echo(client, value):
    return client.handle("CmdTest", ("echo", [value])).listResult


def test_running_out_of_descriptors_pauses_accepting_only(spawn, folder):
    server = spawn("unix:" + os.path.join(folder, "sock"))
    resource.prlimit(server.process.pid, resource.RLIMIT_NOFILE, (64, 64))
    peers = []
    for _ in range(100):  # far past the limit, none of them proving anything
        try:
            peers.append(raw_socket(server.address))
        except OSError:
            break
    for peer in peers:
        peer.close()
    assert not wait_until(lambda: server.process.poll() is not None, timeout=1.0)
    client = RemoteTerminal(server.address, timeout=10.0, reconnect_for=10.0)
    try:
        assert echo(client, 1) == [1]
    finally:
        client.close()


def test_connections_past_the_cap_are_closed_and_the_rest_served(folder):
    server = Server(Terminal(Dataset()), "unix:" + os.path.join(folder, "sock"), max_connections=4).start()
    peers = [raw_socket(server.address) for _ in range(4)]
    client = None
    try:
        extra = raw_socket(server.address)
        assert read_message(extra, wire.FrameReader()) is None
        extra.close()
        peers.pop().close()
        assert wait_until(lambda: len(server.connections) < 4)
        client = RemoteTerminal(server.address, timeout=10.0)
        assert echo(client, 2) == [2]
    finally:
        if client is not None:
            client.close()
        for peer in peers:
            peer.close()
        server.stop()


@pytest.mark.parametrize("field, value", [
    ("window", "many"), ("window", 10 ** 9), ("received", -1), ("consumed", 5), ("keys", "k"), ("keys", [1]),
    ("session", 5), ("session", "s" * 100), ("live", "yes"),
])
def test_a_malformed_handshake_field_closes_that_connection_only(served, field, value, server_log):
    _, server = served
    with server_log.at_level(logging.ERROR, logger="velmoro.terminal.server"):
        bad = RawClient(server.address, dict(resume("s"), **{field: value}))
        assert bad.welcome is None  # closed without a welcome
        bad.close()
    assert not server_log.records
    client = RemoteTerminal(server.address, timeout=10.0)
    try:
        assert echo(client, 3) == [3]
    finally:
        client.close()


def _serve_line(listen, *options, env=None):
    """(exit status, stderr lines) of a server start expected to be refused."""
    run = subprocess.run([sys.executable, "-m", "velmoro.simterm", "serve", "--listen", listen, *options],
                         capture_output=True, text=True, timeout=60, env=dict(os.environ, **(env or {})))
    return run.returncode, run.stderr.splitlines()


def test_a_refused_start_up_is_one_line_and_a_failure(spawn, folder):
    live = spawn("unix:" + os.path.join(folder, "live"))
    status, lines = _serve_line(live.listen)
    assert status != 0 and len(lines) == 1 and "another terminal serves" in lines[0]
    client = RemoteTerminal(live.address, timeout=10.0)  # the first one serves on, its socket in place
    try:
        assert echo(client, 4) == [4]
    finally:
        client.close()

    plain = os.path.join(folder, "notes.txt")
    with open(plain, "w") as f:
        f.write("keep me")
    status, lines = _serve_line("unix:" + plain)
    assert status != 0 and len(lines) == 1 and "not a socket" in lines[0]
    with open(plain) as f:
        assert f.read() == "keep me"

    token = os.path.join(folder, "open-token")
    with open(token, "w") as f:
        f.write("t")
    os.chmod(token, 0o644)
    status, lines = _serve_line("tcp://127.0.0.1:0", "--token-file", token)
    assert status != 0 and len(lines) == 1 and "open to other users" in lines[0]


def test_listening_beyond_loopback_says_so(token_file, server_log):
    with server_log.at_level(logging.WARNING, logger="velmoro.terminal.server"):
        Server(Terminal(Dataset()), "tcp://0.0.0.0:0").stop()
    assert any("other hosts" in r.getMessage() for r in server_log.records)


def test_a_stale_socket_of_a_dead_terminal_is_replaced(folder):
    path = os.path.join(folder, "sock")
    dead = socket.socket(socket.AF_UNIX)
    dead.bind(path)
    dead.close()  # its file stays, no one listens
    server = Server(Terminal(Dataset()), "unix:" + path).start()
    client = RemoteTerminal(server.address, timeout=10.0)
    try:
        assert echo(client, 5) == [5]
    finally:
        client.close()
        server.stop()
