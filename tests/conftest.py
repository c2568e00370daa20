"""Fixtures shared by every subsystem's tests, and their shared helpers' folder."""
import logging
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


@pytest.fixture(autouse=True, scope="module")
def framework_logger():
    """The framework's logger as the module's tests found it: a run that sets
    up its log (the demo, the CLI in process) leaves it to later tests as it was."""
    logger = logging.getLogger("velmoro")
    handlers, level, propagate = list(logger.handlers), logger.level, logger.propagate
    yield
    logger.handlers[:] = handlers
    logger.setLevel(level)
    logger.propagate = propagate
