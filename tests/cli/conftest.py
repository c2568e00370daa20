"""`velmoro` run as a user runs it: a process of its own, in a folder of the test's."""
import os
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLE = os.path.join(TOP, "examples", "strategy.py")


@pytest.fixture
def example():
    """The example strategy file."""
    return EXAMPLE


@pytest.fixture
def velmoro(tmp_path):
    """velmoro(*args, env=None): the finished process, output as text."""
    def run(*args, env=None):
        return subprocess.run([sys.executable, "-m", "velmoro"] + [str(a) for a in args], cwd=str(tmp_path),
                              capture_output=True, text=True, timeout=300, env=dict(os.environ, **(env or {})))

    return run


@pytest.fixture
def strategy(tmp_path):
    """strategy(body, name="strategy.py"): a strategy file written in tmp_path."""
    def write(body, name="strategy.py"):
        path = tmp_path / name
        path.write_text(body)
        return path

    return write
