"""Fixed calls of every public callable, on its success and error paths, in
a sandbox where the terminal and the framework's data services are fakes.
The leak checks repeat them; each must give the same outcome every time."""
import datetime as dt
import socket

import numpy as np
import pytest

import velmoro.tframe.runtypesbase as base
from harness import catalogue
from harness.fakes import Boom, FullAnswer, Hostile, ResultFiles, Switch, Transport, install, targets_copy
from harness.runs import LiveRun, barcycle_values, minute_run
from velmoro.tframe.comm.link import Answer, Status


RUNTYPES_CLASSES = ("LoopStatus", "RealRunTimeContext", "RealTradeVar", "RealTradeEnv")


class Case:
    """One call with fixed arguments; `before` prepares the fakes for it."""

    __slots__ = ("label", "func", "args", "kwargs", "before")

    def __init__(self, label, func, args, kwargs, before):
        self.label = label
        self.func = func
        self.args = list(args)
        self.kwargs = kwargs
        self.before = before

    @property
    def module(self):
        """The module whose callable the case calls."""
        head = self.label.split(".")[0]
        return catalogue.RUNTYPES if head in RUNTYPES_CLASSES else catalogue.BY_SHORT_NAME[head]

    def __call__(self):
        self.before()
        return self.func(*self.args, **self.kwargs)

    def outcome(self):
        """("ok", result type) or ("raise", exception type)."""
        try:
            return ("ok", type(self()))
        except Exception as exc:  # the outcome is what is compared
            return ("raise", type(exc))

    def objects(self):
        """The mutable objects this case passes, containers and their items."""
        seen = []
        stack = list(self.args) + list(self.kwargs.values())
        while stack:
            o = stack.pop()
            if isinstance(o, (str, int, float, type(None))) or any(o is s for s in seen):
                continue
            seen.append(o)
            if isinstance(o, (list, tuple, dict)):
                stack.extend(o.values() if isinstance(o, dict) else o)
        return seen


class Sandbox:
    """The fakes every case runs against: a transport installed in the command
    channel, result files in `folder`, and callees that can be made to fail."""

    def __init__(self, folder):
        self.mp = pytest.MonkeyPatch()
        self.files = ResultFiles(folder)
        self.vmcmd = catalogue.load(catalogue.VMCMD)
        self.transport = Transport(None)
        install(self.mp, self.vmcmd, self.transport)
        self.ok = FullAnswer(self.files.valid)
        self.warning = FullAnswer(self.files.valid, level=2, info="careful")
        self.error = FullAnswer(self.files.valid, level=1, info="rejected")
        self.unreadable = FullAnswer(self.files.folder)
        self.frame = object()  # what the fake convertor answers
        self.switches = {}
        # cases publish the run they work on; the published run is put back at the end
        self.base = base
        self.mp.setattr(base, "vr", base.vr)
        self.mp.setattr(base, "env", base.env)

    def close(self):
        self.mp.undo()

    def switch(self, module, name, func=None):
        """Replaces the callee `name` of `module` by a Switch (around `func`,
        by default the callee itself)."""
        key = "{}.{}".format(module.__name__, name)
        sw = Switch(key, func or getattr(module, name))
        self.mp.setattr(module, name, sw)
        self.switches[key] = sw
        return key

    def prepare(self, answer=None, fail_on_send=False, failing=None, run=None):
        """A `before` hook: the terminal answers with `answer` (a callable is
        called instead: `fail` makes the exchange raise), only the switch
        `failing` fails, and `run` (variables, environment) is published."""
        answer = answer or self.ok
        transport = self.transport
        switches = self.switches
        base = self.base
        chosen = answer if callable(answer) else (lambda name, args: answer)

        def before():
            transport.answer = chosen
            transport.fail_on_send = fail_on_send
            for sw in switches.values():
                sw.failing = sw.name == failing
            if run is not None:
                base.vr, base.env = run

        return before


def fail(*args, **kwargs):
    raise Boom("failing callee")


def calls_of(label, func, args, before, error_befores=()):
    """The success call, its error-path variants, and the binding errors."""
    names = [p.name for p in catalogue.parameters(func)]
    out = [Case(label + "/ok", func, args, {}, before)]
    out += [Case(label + "/" + tag, func, args, {}, b) for tag, b in error_befores]
    out.append(Case(label + "/too many", func, list(args) + [None] * (len(names) + 1 - len(args)), {}, before))
    out.append(Case(label + "/unknown keyword", func, args, {"no_such_parameter": 1}, before))
    if args:
        out.append(Case(label + "/by keyword", func, (), dict(zip(names, args)), before))
        out.append(Case(label + "/hostile", func, [Hostile() for _ in args], {}, before))
    return out


def _vmcmd_args():
    """Commands whose plausible arguments are not what their parameter names suggest."""
    run_factor = {"StraName": "f", "StraPath": "p", "IndexName": "i", "ToolBoxDesc": "d", "BeginDate": 1, "EndDate": 2}
    return {
        "vmReturnChecker": ["vmSendCmdGetKData", Status(2, 5, "note")],
        "vmSendCmdTransTradeTimeToTradeDate": [45293.5],
        "vmSendCmdSetAccountConfigTo": ["x", 1, [{"Market": "sse"}]],
        "vmSendCmdStopTaskBackTest": [1, targets_copy(), [{"Pos": 1}], {"Name": "x"}],
        "vmSendCmdCreateTaskRunFactor": [run_factor],
        "vmSendCmdCreateTaskRealTrade": [{"HandleList": [1], "TargetList": targets_copy()}],
    }


def vmcmd_cases(box):
    special = _vmcmd_args()
    errors = [
        ("warning", box.prepare(box.warning)),
        ("error answer", box.prepare(box.error)),
        ("send fails", box.prepare(fail, fail_on_send=True)),
        ("receive fails", box.prepare(fail)),
        ("answer without payload", box.prepare(object())),
        ("unreadable file", box.prepare(box.unreadable)),
    ]
    out = []
    for name, func in catalogue.functions(box.vmcmd):
        args = special.get(name) or catalogue.plausible_args(func)
        out += calls_of("vmcmd." + name, func, args, box.prepare(), errors)
    return out


def fundamental_cases(box):
    out = []
    frame = box.frame
    for dotted in catalogue.FUNDAMENTAL:
        module = catalogue.load(dotted)
        if module is None:
            continue
        info = box.switch(module, "get_fundamental_info", lambda params, func_name: params)
        convert = box.switch(module, "convert_fundamental_to_df", lambda raw: frame)
        ok = box.prepare()
        errors = [("convertor request fails", box.prepare(failing=info)), ("conversion fails", box.prepare(failing=convert))]
        short = dotted.rsplit(".", 1)[1]
        for name, func in catalogue.functions(module):
            label = "{}.{}".format(short, name)
            out += calls_of(label, func, [targets_copy()], ok, errors)
            out.append(Case(label + "/not a list", func, ["sse.600000"], {}, ok))
            params = [p.name for p in catalogue.parameters(func)]
            pair = [p for p in params if p in ("begin_date", "end_date", "publish_date_begin", "publish_date_end")]
            if pair:
                reversed_pair = {pair[0]: "20240105", pair[1]: "20240101"}
                out.append(Case(label + "/reversed dates", func, [targets_copy()], reversed_pair, ok))
            out.append(Case(label + "/native body, junk", func.__wrapped__, [Hostile()], {}, ok))
    return out


def factor_cases(box):
    module = catalogue.load(catalogue.FACTORS)
    if module is None:
        return []
    run = (type("Run", (), {"g_VelmoroModeTaskId": 1})(), None)
    load = box.switch(module, "load_mat")
    errors = [
        ("error answer", box.prepare(box.error, run=run)),
        ("send fails", box.prepare(fail, fail_on_send=True, run=run)),
        ("unreadable file", box.prepare(box.unreadable, run=run)),
        ("load_mat fails", box.prepare(failing=load, run=run)),
    ]
    out = []
    for name, func in catalogue.functions(module):
        args = catalogue.plausible_args(func)
        label = "_factors." + name
        out += calls_of(label, func, args, box.prepare(run=run), errors)
        out.append(Case(label + "/no targets", func, [args[0], []] + args[2:], {}, box.prepare(run=run)))
    return out


def runtypes_cases(box):
    """Every class of the run-time types, built and used; the environment's
    operations on a live run, with their failures."""
    runtypes = catalogue.load(catalogue.RUNTYPES)
    if runtypes is None:
        return []
    var, env, line = minute_run(runtypes)
    trading_time = box.switch(runtypes, "get_trading_time", lambda *args: (line, None))
    ok = box.prepare()
    failing_history = [("history fails", box.prepare(failing=trading_time))]
    status = runtypes.LoopStatus()
    out = []
    for cls in (runtypes.LoopStatus, runtypes.RealRunTimeContext, runtypes.RealTradeVar, runtypes.RealTradeEnv):
        out.append(Case(cls.__name__ + "/new", cls, (), {}, ok))
        out.append(Case(cls.__name__ + "/new with junk", cls, [Hostile()], {}, ok))
    for prop in ("op_ok", "op_continue", "op_break"):
        out.append(Case("LoopStatus." + prop + "/read", getattr, [status, prop], {}, ok))
        out.append(Case("LoopStatus." + prop + "/write", setattr, [status, prop, "detail"], {}, ok))
        out.append(Case("LoopStatus." + prop + "/write None", setattr, [status, prop, None], {}, ok))
    out.append(Case("LoopStatus.detail/read", getattr, [status, "detail"], {}, ok))
    out.append(Case("LoopStatus.detail/write", setattr, [status, "detail", "x"], {}, ok))
    out.append(Case("RealTradeVar.account_handles/read", getattr, [var, "account_handles"], {}, ok))
    bound = [
        ("get_margin_rate", [0]),
        ("get_margin_rate", [0, 1]),
        ("get_margin_rate", [5]),
        ("set_daily_close", [dt.datetime(2024, 1, 5, 9, 40)]),
        ("set_daily_close", [dt.datetime(2024, 1, 5, 9, 0)]),
        ("order_id_relevant_account_handle", ["A"]),
        ("stop_order_id_relevant_account_handle", ["B"]),
        ("get_order_by_order_id", ["C"]),
        ("get_order_by_order_id", ["none"]),
        ("account_handle_relevant_all_order_id", [1001]),
        ("account_handle_relevant_all_order_id", [9]),
        ("get_all_trading_time", [line[0]]),
        ("collect_contracts", [targets_copy()]),
        ("collect_contracts", [targets_copy(), 20240101, 20240110]),
        ("collect_contracts", ["not a list"]),
        ("_RealTradeEnv__get_main_contract", [targets_copy(), 20240101, 20240110]),
    ]
    for name, args in bound:
        label = "RealTradeEnv.{}{}".format(name, args[:1])
        out += calls_of(label, getattr(env, name), args, ok, failing_history)
    junk_env = runtypes.RealTradeEnv()
    junk_env.vr = Hostile()
    for name, args in bound:
        out.append(Case("RealTradeEnv.{}/junk run".format(name), getattr(junk_env, name), args, {}, ok))
    return out


def barcycle_cases(box):
    """The refresh loop over real pushes and the real refresh calculations
    (a pass extends the run by a trading day and calls the handler), its
    failures, and every step function on its own."""
    barcycle = catalogue.load(catalogue.BARCYCLE)
    if barcycle is None:
        return []
    run = LiveRun(box, barcycle)
    stop = {"stop_run": True}

    def state(feed=(), handler_fails=False, answer=None):
        prepared = box.prepare(answer or run.forward, run=(run.vr, run.env))

        def before():
            prepared()
            run.restore(feed, handler_fails)

        return before

    first, second = run.pushes
    bad_arrays = dict(first, min_fresh_data=np.ones((2, 3)))
    loop = barcycle.real_trade_k_fresh_loop
    out = [Case("barcycle.real_trade_k_fresh_loop/" + tag, loop, (), {}, before) for tag, before in [
        ("one pass", state([first, stop])),
        ("two passes", state([first, second, stop])),
        ("stop at once", state([stop])),
        ("no stop flag", state([{}])),
        ("nothing pushed", state([None, None, stop])),
        ("push without data", state([{"stop_run": False}])),
        ("malformed bars", state([bad_arrays, stop])),
        ("handler fails", state([first, stop], handler_fails=True)),
        ("terminal error", state([first, stop], answer=box.error)),
        ("receive fails", state([])),
    ]]
    values = barcycle_values(run)
    for name, func in catalogue.functions(barcycle):
        if func is loop:
            continue
        args = [values.get(p.name.lstrip("_"), p.name) for p in catalogue.parameters(func)]
        out += calls_of("barcycle." + name, func, args, state([first, stop]))
    return out


def matwalk_cases(box):
    """The structure check of result files: an intact file (given back), a
    packed one (unpacked), damaged ones of both kinds (refused)."""
    module = catalogue.load(catalogue.MATWALK)
    plain, packed = box.files.originals[:2]
    tag_byte = len(plain) - 8 * 3 - 4  # inside the last variable's last tags
    damaged = [bytes(plain[:tag_byte]) + b"\x71" + plain[tag_byte + 1:], plain[:-3],
               packed[:200] + bytes(8) + packed[208:], packed[:-100]]
    out = calls_of("_matwalk.checked_v5", module.checked_v5, [plain], box.prepare())
    out.append(Case("_matwalk.checked_v5/packed", module.checked_v5, [packed], {}, box.prepare()))
    out += [Case("_matwalk.checked_v5/damaged {}".format(i), module.checked_v5, [data], {}, box.prepare())
            for i, data in enumerate(damaged)]
    return out


def wirecodec_cases(box):
    """The link's codec: a reply packed, framed, read back and cut from a
    stream (a fresh reader each call); values and bodies it refuses."""
    module = catalogue.load(catalogue.WIRECODEC)
    if module is None:
        return []
    from velmoro.tframe.comm import wire  # configures the codec

    reply = [wire.REPLY, 7, True, Answer(result=Status(0, 0, ""), listResult=[1], day=dt.date(2024, 1, 2),
                                         rows=np.arange(3.0), keys=("a", {"b"}))]
    body, stream = module.encode(reply), module.frame(reply) * 2
    before = box.prepare()
    out = calls_of("_wirecodec.encode", module.encode, [reply], before)
    out += calls_of("_wirecodec.frame", module.frame, [reply], before)
    out += calls_of("_wirecodec.decode", module.decode, [body], before)
    out.append(Case("_wirecodec.encode/refused", module.encode, [[1, {"a": object()}]], {}, before))
    bad = [body[:-1], body + b"\x00", b"\xd4\x63\x00", b"\x91" * 2000 + b"\x90", b"\xdd\xff\xff\xff\xff"]
    out += [Case("_wirecodec.decode/malformed {}".format(i), module.decode, [b], {}, before) for i, b in enumerate(bad)]
    out.append(Case("_wirecodec.FrameReader.feed/ok", lambda data: module.FrameReader().feed(data), [stream], {},
                    before))
    out.append(Case("_wirecodec.FrameReader.feed/refused", lambda data: module.FrameReader(cap=8).feed(data),
                    [stream], {}, before))
    for label, data in (("ok", stream), ("nothing there", b""), ("refused", b"\x00" * 8)):
        out.append(Case("_wirecodec.FrameReader.receive/" + label, _received, [module, data], {}, before))
    out.append(Case("_wirecodec.Waiter/wake and wait", _woken, [module.Waiter(), reply], {}, before))
    for label, closed in (("ok", False), ("closed socket", True)):
        out.append(Case("_wirecodec.send/" + label, _sent, [module, stream, closed], {}, before))
    answers = (("answered", [wire.REPLY, 1, True, [1, "a"]]), ("error answer", [wire.REPLY, 1, False, ["KeyError", "k"]]),
               ("no answer", None))
    for label, answer in answers:
        out.append(Case("_wirecodec.Channel.call/" + label, _handled, [module, answer], {}, before))
    return out


def _handled(module, answer):
    """An order sent on a Channel whose terminal sent `answer` already (None:
    nothing, and the call gives up at once); the connection is a socket pair.
    Then the channel is closed, as a lost connection's is."""
    from velmoro.tframe.comm import wire
    from velmoro.tframe.comm.link import OutcomeUnknownError

    ours, theirs = socket.socketpair()
    dropped = []
    channel = module.Channel(ours, wire.FrameReader(), 0.5, dropped.extend, lambda *_: None, {"KeyError": KeyError})
    try:
        if answer is not None:
            theirs.sendall(wire.frame(answer))
        try:
            return channel.call("cmd", ["CancelOrder", ["pair", [1]], "key"], "key", 5.0 if answer else 0.0)
        except (KeyError, OutcomeUnknownError) as exc:
            return type(exc), str(exc), getattr(exc, "key", None), channel.in_flight
    finally:
        channel.close(OutcomeUnknownError("closed"))
        theirs.close()


def _sent(module, data, closed):
    """What a socket pair carries of `data` sent on it (its own end closed first when `closed`)."""
    ours, theirs = socket.socketpair()
    try:
        if closed:
            ours.close()
        module.send(ours, data)
        return theirs.recv(len(data))
    finally:
        ours.close()
        theirs.close()


def _received(module, data):
    """What a fresh reader takes from a socket holding `data`, handing it
    waiters to wake; then the end of the stream."""
    ours, theirs = socket.socketpair()
    try:
        theirs.sendall(data)
        theirs.close()
        reader = module.FrameReader(cap=1 << 20)
        got = reader.receive(ours, False, [module.Waiter(), module.Waiter()]) if data else None
        try:
            reader.receive(ours, True)
        except EOFError:
            pass
        return got
    finally:
        ours.close()
        theirs.close()


def _woken(waiter, reply):
    waiter.reply = reply
    waiter.wake()
    return waiter.wait(0.0), waiter.wait(0.0)


def all_cases(box):
    return (vmcmd_cases(box) + runtypes_cases(box) + barcycle_cases(box) + fundamental_cases(box) + factor_cases(box)
            + matwalk_cases(box) + wirecodec_cases(box))
