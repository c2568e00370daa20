"""Native and derived classes show their constructor's parameters to inspect, as
Python classes do; a subclass with its own __init__ shows its own."""
import inspect

import pytest

from velmoro.realtrade import runtypes
from velmoro.tframe.comm import vmcmd

CLASSES = [runtypes.LoopStatus, runtypes.RealRunTimeContext, runtypes.RealTradeVar, runtypes.RealTradeEnv,
           vmcmd.GeneralRes]


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_constructor_signature(cls):
    assert str(inspect.signature(cls)) == "()"


def test_a_subclass_is_inspected_afresh():
    class Strategyish(runtypes.RealTradeEnv):
        def __init__(self, name, depth=2):
            super().__init__()
            self.name = name

    assert str(inspect.signature(Strategyish)) == "(name, depth=2)"
    assert Strategyish("x").name == "x"
    assert not hasattr(runtypes.RealTradeEnv(), "__signature__")
