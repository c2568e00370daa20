"""Exceptions cross the native boundary unchanged: the exception object a
callee raises, with its traceback, is the one the caller sees; nothing is
swallowed on the way, KeyboardInterrupt included."""
import sys

import pytest

from harness import catalogue
from harness.cases import all_cases

# the one callee whose failures a module swallows by design: a file removal
SWALLOWING = {"run_ignore_exception"}


class Raiser:
    """A callee raising a fresh exception instance of `kind`; keeps the last."""

    def __init__(self, kind):
        self.kind = kind
        self.raised = None

    def __call__(self, *args, **kwargs):
        self.raised = self.kind("from a callee")
        raise self.raised


def frames(tb):
    while tb is not None:
        yield tb.tb_frame.f_code
        tb = tb.tb_next


def assert_passed_unchanged(caught, raiser):
    assert caught is raiser.raised, "the caller saw {!r} instead of the callee's exception".format(caught)
    assert Raiser.__call__.__code__ in list(frames(caught.__traceback__)), "the callee's frame is missing"


def callable_globals(module):
    own = {name for name, _ in catalogue.functions(module)} | {name for name, _ in catalogue.classes(module)}
    return [
        name for name, value in vars(module).items()
        if callable(value) and not name.startswith("__") and name not in own | SWALLOWING
    ]


@pytest.mark.parametrize("kind", [LookupError, KeyboardInterrupt])
def test_every_failing_callee_reaches_the_caller(sandbox, kind):
    """Each callee a module imports is made to fail in turn under every
    success-path call of the module's callables."""
    reached = 0
    ok_cases = [c for c in all_cases(sandbox) if c.label.endswith("/ok")]
    for case in ok_cases:
        module = sys.modules[case.module]
        for name in callable_globals(module):
            raiser = Raiser(kind)
            original = vars(module)[name]
            setattr(module, name, raiser)
            try:
                case()
            except BaseException as caught:  # KeyboardInterrupt must come through as well
                if raiser.raised is not None:
                    assert_passed_unchanged(caught, raiser)
                    reached += 1
            else:
                assert raiser.raised is None, "{}: the exception of {} was swallowed".format(case.label, name)
            finally:
                setattr(module, name, original)
    assert reached > len(ok_cases)


@pytest.mark.parametrize("kind", [LookupError, KeyboardInterrupt])
def test_transport_failure_reaches_the_caller(sandbox, kind):
    """A failing send or receive, under every success-path call."""
    reached = 0
    for case in [c for c in all_cases(sandbox) if c.label.endswith("/ok")]:
        for on_send in (True, False):
            raiser = Raiser(kind)
            case.before()
            sandbox.transport.answer, sandbox.transport.fail_on_send = raiser, on_send
            before, case.before = case.before, lambda: None
            try:
                case()
            except BaseException as caught:
                if raiser.raised is not None:
                    assert_passed_unchanged(caught, raiser)
                    reached += 1
            finally:
                case.before = before
    assert reached > 100


def test_interrupt_in_the_strategy_handler_leaves_the_live_loop(terminal, monkeypatch):
    """KeyboardInterrupt raised by the strategy's handler during the refresh
    loop reaches the framework's caller as the same object."""
    if catalogue.load(catalogue.BARCYCLE) is None:
        pytest.skip("the refresh loop is not built")
    import velmoro.tframe.runtypesbase as base
    from velmoro.realtrade.runner import run_live
    from velmoro.simterm.replay import Replay

    monkeypatch.setattr(base, "vr", None)  # the run published here ends with the test
    monkeypatch.setattr(base, "env", None)

    targets = [{"Market": "sse", "Code": "600000"}]
    days = terminal.data.trading_days
    Replay(terminal, targets, days[1:2])
    raiser = Raiser(KeyboardInterrupt)
    calls = []

    def on_data(context):
        calls.append(context._internal_bar_num)
        if len(calls) == 3:
            raiser()

    with pytest.raises(KeyboardInterrupt) as info:
        run_live(targets, on_data, begin_date=days[0], end_date=days[0], accounts=[1001])
    assert_passed_unchanged(info.value, raiser)
    assert len(calls) == 3
