"""Every conformance scenario, each run alone on a fresh terminal and its
ledger reconciled to the cent."""
import importlib

import pytest
from ledger import play

FAMILIES = ("lots", "limits", "halts", "fees", "partial", "combined")
SCENARIOS = [s for family in FAMILIES for s in importlib.import_module("cases_" + family).SCENARIOS]


def test_the_suite_is_large_and_names_each_scenario_once():
    names = [s["name"] for s in SCENARIOS]
    assert len(names) >= 100 and len(set(names)) == len(names)


@pytest.mark.parametrize("scenario", SCENARIOS, ids=[s["name"] for s in SCENARIOS])
def test_scenario(scenario):
    play(scenario)
