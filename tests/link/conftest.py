"""Terminal servers for the link's tests: in this process, or as a process
of its own that a test may kill and start again (loopback addresses only)."""
import logging
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from links import START_TIMEOUT  # noqa: E402  (needs the path above)
from serving import serving  # noqa: E402
from velmoro.simterm import Dataset, Terminal  # noqa: E402


@pytest.fixture
def server_log(caplog):
    """caplog, hearing the server's and the link's loggers themselves: a run of
    the command line in this process keeps velmoro's records from reaching the
    root logger."""
    loggers = [logging.getLogger(name) for name in ("velmoro.terminal.server", "velmoro.link")]
    for logger in loggers:
        logger.addHandler(caplog.handler)
    yield caplog
    for logger in loggers:
        logger.removeHandler(caplog.handler)


@pytest.fixture
def folder():
    """A short folder (socket paths are limited) that only this user enters."""
    path = tempfile.mkdtemp(prefix="vmt-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def token_file(folder, monkeypatch):
    path = os.path.join(folder, "token")
    with open(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write("s3cret-token-of-the-tests")
    monkeypatch.setenv("VELMORO_TERMINAL_TOKEN_FILE", path)
    return path


class ServerProcess:
    """`python -m velmoro.simterm serve` as a child process."""

    def __init__(self, folder, listen, *options, env=None):
        self.folder, self.listen, self.options, self.env = folder, listen, options, env
        self.process = None
        self.address = None

    def start(self, env=None):
        environment = dict(os.environ, **(env if env is not None else self.env or {}))
        log = open(os.path.join(self.folder, "server.log"), "ab")
        self.process = subprocess.Popen(
            [sys.executable, "-m", "velmoro.simterm", "serve", "--listen", self.listen, *self.options],
            stdout=subprocess.PIPE, stderr=log, env=environment)
        log.close()
        if not select.select([self.process.stdout], [], [], START_TIMEOUT)[0]:
            self.stop()
            raise AssertionError("the terminal server did not start")
        line = self.process.stdout.readline().decode().strip()
        assert line.startswith("terminal serving at "), line
        self.address = line[len("terminal serving at "):]
        if self.listen.startswith("tcp://"):
            self.listen = self.address  # the same port after a restart
        return self

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait(START_TIMEOUT)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(START_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.kill()
        if self.process is not None:
            self.process.stdout.close()


@pytest.fixture
def spawn(folder):
    """spawn(listen, *options, env=None): a started server process, stopped after the test."""
    started = []

    def make(listen, *options, env=None):
        server = ServerProcess(folder, listen, *options, env=env)
        started.append(server)
        return server.start()

    yield make
    for server in started:
        server.stop()


@pytest.fixture
def served(folder):
    """A simulated terminal served from this process: (terminal, server)."""
    term = Terminal(Dataset(), result_dir=os.path.join(folder, "files"))
    with serving(term, heartbeat=0.2, dead_after=2.0) as (server, _):
        yield term, server

