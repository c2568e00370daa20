import math

import numpy as np
import pytest

from velmoro.realtrade.model.orders import VMOrders, VMStopOrders, VMTrades
from velmoro.realtrade.runtypes import RealTradeEnv, RealTradeVar
from velmoro.tframe.runtypesbase import Account, SystemBaseEnv, SystemBaseVar


def test_base_constructor_runs_then_the_live_fields_in_order():
    var = RealTradeVar()
    names = list(vars(var))
    base = list(vars(SystemBaseVar()))
    assert names[: len(base)] == base
    assert names[len(base) :] == [
        "g_VMOrders", "g_VMStopOrders", "g_VMTrades", "g_VelmoroRealTradeSaveFreshPosition",
        "g_VelmoroAppendFreshPosition", "g_VelmoroNFreqRealFresh", "g_VelmoroDayFreqTransEndTime",
        "g_VelmoroNFreqRealFreshOption",
    ]


def test_initial_values():
    var = RealTradeVar()
    assert [type(b) for b in (var.g_VMOrders, var.g_VMStopOrders, var.g_VMTrades)] == [VMOrders, VMStopOrders, VMTrades]
    assert var.g_VMOrders.size == 0
    assert type(var.g_VelmoroRealTradeSaveFreshPosition) is int and var.g_VelmoroRealTradeSaveFreshPosition == 0
    assert math.isnan(var.g_VelmoroAppendFreshPosition)
    fresh = var.g_VelmoroNFreqRealFresh
    assert fresh.shape == (0,) and fresh.dtype == np.float64
    assert var.g_VelmoroDayFreqTransEndTime == {"flag": False, "dot": 0.0}
    assert type(var.g_VelmoroDayFreqTransEndTime["dot"]) is float
    assert var.g_VelmoroNFreqRealFreshOption == {"is_fresh": True, "f_freq_gt_1day": False, "matrix_has_gt_1day": False}


def test_each_run_owns_its_containers():
    a, b = RealTradeVar(), RealTradeVar()
    for name in ("g_VMOrders", "g_VMStopOrders", "g_VMTrades", "g_VelmoroNFreqRealFresh",
                 "g_VelmoroDayFreqTransEndTime", "g_VelmoroNFreqRealFreshOption"):
        assert getattr(a, name) is not getattr(b, name), name


@pytest.mark.parametrize("handles", [[], [11], [11, 7, 30]])
def test_account_handles_is_a_new_list_in_account_order(handles):
    var = RealTradeVar()
    var.g_VelmoroAccounts = [Account(h, i) for i, h in enumerate(handles)]
    first, second = var.account_handles, var.account_handles
    assert first == handles and first is not second
    with pytest.raises(AttributeError):
        var.account_handles = []


def test_constructors_cooperate_along_the_mro():
    class Audited(SystemBaseVar):
        def __init__(self):
            super().__init__()
            self.audited = True

    class AuditedLive(RealTradeVar, Audited):
        pass

    class AuditedEnv(SystemBaseEnv):
        def __init__(self):
            super().__init__()
            self.audited = True

    class AuditedLiveEnv(RealTradeEnv, AuditedEnv):
        pass

    var, env = AuditedLive(), AuditedLiveEnv()
    assert var.audited and var.g_VMOrders.size == 0 and var.g_VelmoroAccounts == []
    assert env.audited and vars(env) == {"_vr": None, "audited": True}


def test_constructors_take_no_arguments():
    for cls in (RealTradeVar, RealTradeEnv):
        with pytest.raises(TypeError, match="positional argument"):
            cls(1)
