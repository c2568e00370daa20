"""Both ends prove themselves before anything else is said: the token over
TCP (the server's proof first), the peer's user over a Unix socket, and the
socket's folder belongs to the server's user."""
import os
import shutil
import socket
import tempfile
import threading

import pytest
from peers import Impostor, raw_socket, read_message

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.server import Server, StartRefused, bind
from velmoro.tframe.comm import wire
from velmoro.tframe.comm.link import NotConnectedError
from velmoro.tframe.comm.netlink import RemoteTerminal

NOBODY = 65534
as_root = pytest.mark.skipif(os.geteuid() != 0, reason="another user's process needs root to start")
# the child of _as_nobody only makes system calls before it exits
forks = pytest.mark.filterwarnings("ignore:This process .* is multi-threaded")


@pytest.mark.parametrize("greeting", [
    {"version": wire.VERSION, "auth": False},  # "no token needed"
    {"version": wire.VERSION, "auth": True, "proof": b"x" * 32},  # a proof it cannot make
])
def test_a_client_refuses_a_server_that_does_not_prove_the_token(token_file, greeting):
    impostor = Impostor(greeting)
    try:
        with pytest.raises(NotConnectedError, match="did not prove"):
            RemoteTerminal(impostor.address, reconnect_for=0.5)
        assert impostor.heard == []  # not its proof, not its session, not an order
    finally:
        impostor.close()


def test_before_the_proof_frames_are_small_and_the_host_unnamed(token_file):
    server = Server(Terminal(Dataset()), "tcp://127.0.0.1:0").start()
    try:
        sock = raw_socket(server.address)
        sock.sendall(wire.frame([wire.HELLO, {"version": wire.VERSION, "nonce": wire.nonce()}]))
        frames = wire.FrameReader()
        hello = read_message(sock, frames)[1]
        assert set(hello) == {"version", "nonce", "auth", "proof"}
        assert socket.gethostname().encode() not in wire.encode(hello)
        sock.sendall(wire.frame([wire.AUTH, b"p" * 100000]))  # far larger than a proof
        assert read_message(sock, frames) is None
        sock.close()
    finally:
        server.stop()


def test_a_socket_folder_of_another_user_is_refused(folder, monkeypatch):
    monkeypatch.setattr(os, "geteuid", lambda: os.stat(folder).st_uid + 1)
    with pytest.raises(StartRefused, match="belongs to user"):
        bind("unix:" + os.path.join(folder, "sock"))


def _as_nobody(work):
    """What `work()` returns (bytes), run in a child process whose effective
    user is another one (peer credentials carry the effective user)."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(read)
            os.seteuid(NOBODY)
            os.write(write, work())
        finally:
            os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as f:
        out = f.read()
    os.waitpid(pid, 0)
    return out


@as_root
@forks
def test_a_unix_client_refuses_a_server_of_another_user():
    shared = tempfile.mkdtemp(prefix="vmt-")
    os.chmod(shared, 0o777)
    path = os.path.join(shared, "sock")

    def listen():
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(path)
        listener.listen(1)
        os.write(ready, b"up")
        listener.accept()[0].recv(100)
        return b""

    ready_read, ready = os.pipe()
    waiting = threading.Thread(target=_as_nobody, args=(listen,))
    waiting.start()
    try:
        assert os.read(ready_read, 2) == b"up"
        with pytest.raises(NotConnectedError, match="runs as user {}".format(NOBODY)):
            RemoteTerminal("unix:" + path, reconnect_for=0.5)
    finally:
        waiting.join(10)
        os.close(ready_read)
        os.close(ready)
        shutil.rmtree(shared)


@as_root
@forks
def test_a_unix_server_refuses_a_client_of_another_user(served):
    _, server = served
    path = wire.parse_address(server.address)[1]
    os.chmod(os.path.dirname(path), 0o711)  # let the other user reach the socket at all
    os.chmod(path, 0o666)

    def knock():
        sock = socket.socket(socket.AF_UNIX)
        sock.connect(path)  # refused before anything is said
        return b"".join(iter(lambda: sock.recv(65536), b""))

    messages = wire.FrameReader().feed(_as_nobody(knock))
    assert [m[0] for m in messages] == [wire.BYE] and "user {}".format(NOBODY) in messages[0][1]
