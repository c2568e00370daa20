"""Calls from several Python threads at once into the query modules and the
command channel keep working: the modules hold no state, so every thread
gets exactly what it would get alone."""
import sys
import threading

import numpy as np
import pytest
import scipy.io

from harness import catalogue
from harness.cases import all_cases
from velmoro.tframe.comm.link import Answer, Status

THREADS = 4


def picture(value):
    """A comparable picture of a result."""
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, np.ndarray):
        return (value.dtype.str, value.shape, value.tobytes() if value.dtype != object else repr(value.tolist()))
    if isinstance(value, dict):
        return (type(value).__name__, tuple((k, picture(v)) for k, v in value.items()))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(picture(v) for v in value))
    if isinstance(value, (str, int, bytes, type(None))):
        return value
    return type(value).__name__


@pytest.fixture
def busy_switching():
    """Threads switch as often as the interpreter allows."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_threads(work):
    """Runs work(thread index) on THREADS threads started together; returns
    what each returned, re-raising the first failure."""
    barrier = threading.Barrier(THREADS)
    results, errors = [None] * THREADS, []

    def body(i):
        try:
            barrier.wait()
            results[i] = work(i)
        except BaseException as exc:  # handed to the main thread
            errors.append(exc)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]
    return results


def query_cases(box):
    """Success-path calls of the command channel and the query modules."""
    return [c for c in all_cases(box) if c.label.endswith("/ok") and c.module not in (catalogue.RUNTYPES, catalogue.BARCYCLE)]


def test_concurrent_calls_give_what_one_thread_gets(sandbox, busy_switching):
    cases = query_cases(sandbox)
    expected = [picture(case()) for case in cases]

    def work(i):
        got = []
        order = list(range(len(cases)))
        order = order[i::THREADS] + order  # each thread starts elsewhere
        for _ in range(3):
            got += [(k, picture(cases[k]())) for k in order]
        return got

    for got in run_threads(work):
        assert [expected[k] == value for k, value in got] == [True] * len(got)


def test_each_thread_gets_the_answer_to_its_own_command(sandbox, busy_switching):
    vmcmd = catalogue.load(catalogue.VMCMD)
    sandbox.transport.answer = lambda name, args: Answer(result=args)

    def work(i):
        return [vmcmd.vmSendCmdGetCodeList("block{}".format(i), n) == ("block{}".format(i), n) for n in range(300)]

    assert all(all(r) for r in run_threads(work))


def test_each_thread_gets_its_own_fundamental_query(sandbox, busy_switching):
    modules = [m for m in map(catalogue.load, catalogue.FUNDAMENTAL) if m is not None]
    if not modules:
        pytest.skip("the fundamental queries are not built")
    for module in modules:
        sandbox.switch(module, "get_fundamental_info", lambda params, func_name: (func_name, params))
        sandbox.switch(module, "convert_fundamental_to_df", lambda raw: raw)
    queries = [(name, func) for module in modules for name, func in catalogue.functions(module)]

    def work(i):
        targets = [{"Market": "sse", "Code": "60000{}".format(i)}]
        ok = []
        for _ in range(5):
            for name, func in queries:
                func_name, params = func(targets)
                ok.append(func_name == name and params["target_list"] == targets)
        return ok

    assert all(all(r) for r in run_threads(work))


def test_each_thread_gets_its_own_factor_values(sandbox, busy_switching, monkeypatch):
    factors = catalogue.load(catalogue.FACTORS)
    if factors is None:
        pytest.skip("the factor queries are not built")
    monkeypatch.setattr(factors.cnt, "vr", type("Run", (), {"g_VelmoroModeTaskId": 1})())
    paths = {}
    for i in range(THREADS):
        paths["60000{}".format(i)] = path = "{}/thread{}.mat".format(sandbox.files.folder, i)
        scipy.io.savemat(path, {"Date": np.array([[45293.0]]), "bp_sse_60000{}".format(i): np.array([[float(i)]])})

    def answer(name, args):
        if name == "VelmoroGetFactor_send":
            return Answer(result=Status(0, 0, ""), wstrFilePath=paths[args[1][0]["Code"]])
        return Answer(result=Status(0, 0, ""))

    sandbox.transport.answer = answer

    def work(i):
        key, targets = "SSE.60000{}".format(i), [{"Market": "sse", "Code": "60000{}".format(i)}]
        values = [factors.get_factor_by_factor("pe", targets, 20240102, 20240102) for _ in range(100)]
        return all(list(v) == [key, "date"] and v[key].tolist() == [float(i)] for v in values)

    assert all(run_threads(work))


def test_queries_on_the_simulated_terminal_from_threads(terminal, busy_switching, monkeypatch):
    """The real chain, transport and terminal included, answers each thread
    as it answers one alone."""
    import velmoro.tframe.runtypesbase as base

    modules = {d: catalogue.load(d) for d in catalogue.MODULES}
    if any(modules[d] is None for d in catalogue.QUERY_MODULES):
        pytest.skip("the query modules are not built")
    earnings, ledger, restricted, factors = (modules[d] for d in catalogue.QUERY_MODULES)
    vmcmd = modules[catalogue.VMCMD]
    run = base.SystemBaseVar()
    run.g_VelmoroModeTaskId = 9
    monkeypatch.setattr(base, "vr", run)
    days = terminal.data.trading_days
    targets = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]
    calls = [
        lambda: vmcmd.vmSendCmdGetCodeList("Index", 0),
        lambda: vmcmd.vmSendCmdGetTradingDays(),
        lambda: earnings.is_pit(targets),
        lambda: ledger.ledger_latest(targets, publish_date_end=20221231),
        lambda: restricted.equ_shares_float(targets),
        lambda: factors.get_factor_by_factor("turnover", targets, days[0], days[-1]),
        lambda: factors.get_factor_by_day(["turnover", "momentum_5d"], targets, days[-1]),
    ]
    expected = [picture_of_answer(call()) for call in calls]

    def work(i):
        return [picture_of_answer(calls[k % len(calls)]()) == expected[k % len(calls)] for k in range(i, i + 40)]

    assert all(all(r) for r in run_threads(work))


def picture_of_answer(value):
    """A picture of a result, data frames by their content."""
    if hasattr(value, "to_dict") and hasattr(value, "columns"):
        return picture(value.to_dict("list"))
    return picture(value)
