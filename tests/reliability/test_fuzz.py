"""Bad input everywhere: every public callable, given arguments of wrong
types and shapes, answers of every wrong shape, broken result files and
failing framework callees, works or raises a Python exception. It never
crashes the interpreter, never raises SystemError (the sign of a native
error path gone wrong), and never leaves a half-written result behind."""
import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

from harness import catalogue, junk
from harness.fakes import Boom, Hostile
from harness.runs import LiveRun, barcycle_values, minute_run


def module_or_skip(dotted):
    module = catalogue.load(dotted)
    if module is None:
        pytest.skip(dotted + " is not built")
    return module


def callables(module):
    """Its functions, and the native body under each Python wrapper."""
    out = []
    for name, func in catalogue.functions(module):
        out.append((name, func))
        inner = getattr(func, "__wrapped__", None)
        if inner is not None:
            out.append((name + ".__wrapped__", inner))
    return out


def frozen(value, seen=None):
    """A comparable picture of a value, deep through containers and arrays;
    other objects by identity."""
    seen = seen if seen is not None else set()
    if isinstance(value, float):
        return ("float", repr(value))
    if isinstance(value, (str, bytes, int, type(None))):
        return value
    if id(value) in seen:
        return ("seen", id(value))
    seen.add(id(value))
    if isinstance(value, np.ndarray):
        data = value.tobytes() if value.dtype != object else tuple(id(v) for v in value.ravel())
        return ("array", value.dtype.str, value.shape, data)
    if type(value) in (list, tuple):
        return (type(value).__name__, tuple(frozen(v, seen) for v in value))
    if isinstance(value, dict) and type(value).__getitem__ is dict.__getitem__:
        return ("dict", tuple((frozen(k, seen), frozen(v, seen)) for k, v in dict.items(value)))
    return ("object", id(value))


def call_checked(func, args, kwargs, state=lambda: None):
    """Calls func; a raised exception must be an ordinary one, and the
    arguments (and `state`, when the call failed) must be as they were."""
    before, state_before = frozen((args, kwargs)), frozen(state())
    try:
        func(*args, **kwargs)
    except SystemError as exc:
        pytest.fail("{} raised SystemError: {}".format(getattr(func, "__qualname__", func), exc))
    except Exception:
        assert frozen(state()) == state_before, "a failed call changed the run state"
    assert frozen((args, kwargs)) == before, "the call changed its arguments"


def answering(box, data):
    """The terminal's answer for this example: anything, or a failure."""
    answer = data.draw(st.one_of(junk.answers(box.files), st.just(Boom("terminal"))), label="answer")
    box.files.restore()

    def reply(name, args):
        if isinstance(answer, Boom):
            raise answer
        return answer

    box.transport.answer = reply
    box.transport.fail_on_send = data.draw(st.booleans(), label="fail on send")


QUERY_SETS = [(d, d.rsplit(".", 1)[1]) for d in catalogue.MODULES if d not in (catalogue.RUNTYPES, catalogue.BARCYCLE)]


@pytest.mark.parametrize("dotted", [d for d, _ in QUERY_SETS], ids=[i for _, i in QUERY_SETS])
@given(data=st.data())
def test_queries_and_commands_take_any_input(sandbox, monkeypatch, tmp_path, dotted, data):
    module = module_or_skip(dotted)
    monkeypatch.chdir(tmp_path)  # a command removes files by the name it is answered
    if dotted == catalogue.FACTORS:
        run = type("Run", (), {"g_VelmoroModeTaskId": data.draw(junk.argument("task_id"))})()
        monkeypatch.setattr(module.cnt, "vr", run)
    name, func = data.draw(st.sampled_from(callables(module)), label="callable")
    answering(sandbox, data)
    args, kwargs = data.draw(junk.call_shape(catalogue.parameters(func), junk.argument), label="arguments")
    call_checked(func, args, kwargs)


def imported_names(module):
    """The framework objects a module imported into its globals (but the
    source of the refresh loop's pushes, which must end the loop)."""
    own = {name for name, _ in catalogue.functions(module)} | {name for name, _ in catalogue.classes(module)}
    return sorted(n for n in vars(module) if not n.startswith("__") and n not in own | {"receive_data"})


def failing(*args, **kwargs):
    raise Boom("replaced global")


# what a replaced framework global may be
callee_junk = st.one_of(
    st.just(None),
    st.just(failing),
    st.builds(Hostile),
    junk.junk.map(lambda value: (lambda *args, **kwargs: value)),
    junk.junk,
)


@pytest.mark.parametrize("dotted", catalogue.MODULES, ids=lambda d: d.rsplit(".", 1)[1])
@given(data=st.data())
def test_replaced_framework_globals_never_crash(sandbox, monkeypatch, tmp_path, dotted, data):
    """Framework objects replaced by junk, or answering junk: a module relies
    on nothing about what its globals are or return."""
    module = module_or_skip(dotted)
    monkeypatch.chdir(tmp_path)
    if dotted == catalogue.BARCYCLE:
        # the loop waits for pushes as long as none comes: give it a last one
        pushes = [None, {"stop_run": True}]
        monkeypatch.setattr(module, "receive_data", lambda: pushes.pop(0))
    names = data.draw(st.lists(st.sampled_from(imported_names(module)), min_size=1, max_size=3, unique=True),
                      label="replaced")
    for name in names:
        monkeypatch.setattr(module, name, data.draw(callee_junk, label=name))
    sandbox.transport.answer = lambda n, a: sandbox.ok
    name, func = data.draw(st.sampled_from(callables(module) + catalogue.classes(module)), label="callable")
    # the classes are built without arguments
    params = [] if isinstance(func, type) else catalogue.parameters(func)
    args = [data.draw(st.one_of(st.builds(catalogue.plausible, st.just(p.name)), junk.junk), label=p.name)
            for p in params if p.default is p.empty]
    call_checked(func, args, {})
    monkeypatch.undo()


@given(data=st.data())
def test_run_state_types_take_any_input(sandbox, data):
    """Loop status properties and the environment's operations, on a live
    run whose fields may be junk; a failed operation changes nothing."""
    runtypes = module_or_skip(catalogue.RUNTYPES)
    var, env, line = minute_run(runtypes)
    sandbox.switch(runtypes, "get_trading_time", lambda *args: (line, None))
    fields = ["g_VelmoroInputInfo", "g_VelmoroSettingInfo", "g_VelmoroTargetsInfo", "g_VelmoroAccounts",
              "g_VelmoroKDataList", "g_VMOrders", "g_VMStopOrders", "g_VelmoroCache"]
    for field in data.draw(st.lists(st.sampled_from(fields), max_size=2, unique=True), label="junk fields"):
        setattr(var, field, data.draw(junk.junk, label=field))
    info = var.g_VelmoroInputInfo
    if isinstance(info, dict) and info:
        for key in data.draw(st.lists(st.sampled_from(sorted(info)), max_size=2), label="junk input items"):
            info[key] = data.draw(junk.junk, label=key)
    answering(sandbox, data)

    cached = getattr(getattr(var, "g_VelmoroCache", None), "_items", None)
    cached = cached if isinstance(cached, dict) else {}
    kept = list(cached)

    def state():
        # the close time, and the cache lines there were (a failed extension
        # keeps its line; a line fetched before a failure may be added)
        close = getattr(getattr(var, "g_VelmoroSettingInfo", None), "DailyCloseTime", None)
        return close, [cached.get(k) for k in kept]

    status = runtypes.LoopStatus()
    member = data.draw(st.sampled_from(catalogue.members(runtypes.LoopStatus) + catalogue.members(runtypes.RealTradeEnv)
                                       + catalogue.members(runtypes.RealTradeVar)), label="member")
    name, kind = member
    owner = status if hasattr(runtypes.LoopStatus, name) else (var if name == "account_handles" else env)
    if kind == "property":
        value = data.draw(junk.junk, label="value")
        call_checked(setattr, [owner, name, value], {}, state)
        call_checked(getattr, [owner, name], {}, state)
        return
    func = getattr(owner, name)
    args, kwargs = data.draw(junk.call_shape(catalogue.parameters(func), junk.argument), label="arguments")
    call_checked(func, args, kwargs, state)


def test_nan_and_huge_numbers_reach_no_undefined_conversion(sandbox):
    """Numbers at the edges of C types, where a native conversion could wrap."""
    vmcmd = module_or_skip(catalogue.VMCMD)
    edges = [math.nan, math.inf, -math.inf, 2 ** 63, -(2 ** 63) - 1, 2 ** 64, 10 ** 30, np.uint64(2 ** 64 - 1)]
    sandbox.transport.answer = lambda n, a: sandbox.ok
    for name, func in catalogue.functions(vmcmd):
        for value in edges:
            call_checked(func, [value] * len([p for p in catalogue.parameters(func) if p.default is p.empty]), {})


def pushed_rows(columns, last_time):
    """Pushed rows of `columns` values: target and factor indices in and out
    of range, times around the run's last time, NaN and infinities."""
    index = st.one_of(st.integers(-2, 4), st.sampled_from([math.nan, 1e300, 0.5]))
    time = st.one_of(st.sampled_from([last_time + k / 1440.0 for k in (-1, 0, 1, 2, 600)]),
                     st.sampled_from([math.nan, math.inf, -math.inf, 0.0]))
    value = st.one_of(st.floats(-1e6, 1e6), st.just(math.nan))
    cells = {"Target": index, "Factor": index, "Time": time}
    row = st.tuples(*[cells.get(c, value) for c in columns])
    return st.lists(row, max_size=4).map(lambda rows: np.array(rows, dtype=float).reshape(-1, len(columns)))


@given(data=st.data())
def test_refresh_loop_takes_any_push_and_run_state(sandbox, data):
    """The refresh loop and each of its steps on a live run, with pushes of
    any shape and content, and with run fields and arguments made junk."""
    from velmoro.realtrade.calc.layout import PUSH_BAR_COLUMNS, PUSH_FACTOR_COLUMNS

    barcycle = module_or_skip(catalogue.BARCYCLE)
    run = getattr(sandbox, "live_run", None) or LiveRun(sandbox, barcycle)
    sandbox.live_run = run
    run.restore()
    last = float(run.vr.g_VelmoroDataValueFresh[0, -1])
    arrays = {
        "min_fresh_data": pushed_rows(PUSH_BAR_COLUMNS, last),
        "day_fresh_data": pushed_rows(PUSH_BAR_COLUMNS, last),
        "factor_data": pushed_rows(PUSH_FACTOR_COLUMNS, last),
    }
    push = st.fixed_dictionaries({"stop_run": st.just(False)}, optional={k: st.one_of(v, junk.junk) for k, v in
                                                                         arrays.items()})
    pushes = data.draw(st.lists(st.one_of(push, run.pushes and st.sampled_from(run.pushes), st.none()), max_size=3),
                       label="pushes")
    run.feed[:] = pushes + [{"stop_run": True}]
    sandbox.base.vr, sandbox.base.env = run.vr, run.env
    sandbox.transport.answer = run.forward
    values = barcycle_values(run)
    fields = sorted(vars(run.vr))
    for field in data.draw(st.lists(st.sampled_from(fields), max_size=2, unique=True), label="junk fields"):
        setattr(run.vr, field, data.draw(junk.junk, label=field))
    name, func = data.draw(st.sampled_from(catalogue.functions(barcycle)), label="callable")

    def arg(param):
        return st.one_of(st.just(values.get(param.lstrip("_"), param)), junk.junk)

    args, kwargs = data.draw(junk.call_shape(catalogue.parameters(func), arg), label="arguments")
    call_checked(func, args, kwargs)
