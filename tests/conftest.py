"""Fixtures shared by every subsystem's tests, and their shared helpers' folder."""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from velmoro.tframe.comm import link


@pytest.fixture
def terminal(tmp_path):
    """A fresh simulated terminal connected to the link, writing into tmp_path."""
    from velmoro.simterm import Terminal

    term = link.connect(Terminal(result_dir=str(tmp_path / "terminal")))
    yield term
    link.disconnect()
