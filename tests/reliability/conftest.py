"""Shared set-up of the reliability tests: the harness package, the
hypothesis profiles, and a sandbox of fakes per test."""
import os
import sys

import pytest
from hypothesis import HealthCheck, settings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness.cases import Sandbox  # noqa: E402  (needs the path above)

# "ci" keeps the folder within a minute per interpreter; VELMORO_FUZZ=long
# (make fuzz) tries VELMORO_FUZZ_EXAMPLES inputs per test, new ones each run.
settings.register_profile(
    "ci", max_examples=100, deadline=None, derandomize=True, suppress_health_check=list(HealthCheck)
)
settings.register_profile(
    "long",
    max_examples=int(os.environ.get("VELMORO_FUZZ_EXAMPLES", "5000")),
    deadline=None,
    suppress_health_check=list(HealthCheck),
)
settings.load_profile(os.environ.get("VELMORO_FUZZ", "ci"))


@pytest.fixture
def sandbox(tmp_path):
    box = Sandbox(str(tmp_path / "files"))
    yield box
    box.close()
