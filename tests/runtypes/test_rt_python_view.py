"""The native classes seen from Python: signatures, binding and subclassing."""
import inspect

import pytest

from velmoro.realtrade.runtypes import RealTradeEnv, RealTradeVar
from velmoro.tframe.runtypesbase import Account

SIGNATURES = {
    "__init__": "()",
    "get_margin_rate": "(target_idx, side=0)",
    "set_daily_close": "(close_time)",
    "order_id_relevant_account_handle": "(order_id)",
    "stop_order_id_relevant_account_handle": "(stop_order_id)",
    "get_order_by_order_id": "(order_id)",
    "account_handle_relevant_all_order_id": "(handle)",
    "get_all_trading_time": "(new_time=None)",
    "collect_contracts": "(targets, begin_date=None, end_date=None)",
}


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_methods_have_python_signatures(run, name, signature):
    var, env = run
    assert str(inspect.signature(getattr(env, name))) == signature
    assert str(inspect.signature(getattr(RealTradeEnv, name))) == "(self, /{})".format(
        "" if signature == "()" else ", " + signature[1:-1])


def test_private_static_method_and_var_constructor_signatures():
    assert "_RealTradeEnv__get_main_contract" in vars(RealTradeEnv)
    assert isinstance(vars(RealTradeEnv)["_RealTradeEnv__get_main_contract"], staticmethod)
    assert str(inspect.signature(RealTradeEnv._RealTradeEnv__get_main_contract)) == "(targets, begin_date, end_date)"
    assert str(inspect.signature(RealTradeVar.__init__)) == "(self, /)"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda e: e.get_margin_rate(), "missing 1 required positional argument: 'target_idx'"),
        (lambda e: e.get_margin_rate(0, 1, 2), "takes from 2 to 3 positional arguments but 4 were given"),
        (lambda e: e.get_margin_rate(0, sides=1), "unexpected keyword argument 'sides'"),
        (lambda e: e.collect_contracts([], targets=[]), "multiple values for argument 'targets'"),
    ],
)
def test_binding_errors_read_like_python(run, call, message):
    with pytest.raises(TypeError, match=message):
        call(run[1])


def test_python_subclass_overrides_and_extends_native_methods(run):
    var, _ = run

    class Audited(RealTradeEnv):
        def __init__(self):
            super().__init__()
            self.seen = []

        def get_margin_rate(self, target_idx, side=0):
            self.seen.append(side)
            return round(super().get_margin_rate(target_idx, side=side), 6)

        def account_idx_to_handle(self, idx):
            return ("handle", super().account_idx_to_handle(idx))

    env = Audited()
    env.vr = var
    var.g_VelmoroInputInfo.TargetListDot = ["SHFE.RB"]
    var.g_VelmoroTargetsInfo = {"SHFE.RB": {"ShortMargin": 0.1, "LongMargin": 0.3}}
    var.g_VelmoroAccounts = [Account(77, 0)]
    var.g_VMOrders.append("O", type("Order", (), {"order_id": "O", "handle_idx": 0})())
    assert env.get_margin_rate(0, 1) == 0.3 and env.seen == [1]
    # the native method dispatches through the instance: the override is used
    assert env.order_id_relevant_account_handle("O") == ("handle", 77)
    assert RealTradeEnv.get_margin_rate(env, 0) == pytest.approx(0.1)


def test_methods_refuse_objects_of_other_classes():
    with pytest.raises(TypeError):
        RealTradeEnv.get_margin_rate(object(), 0)
