"""Each command's request (send function, arguments and their forms) and
answer handling (fire, unchecked, checked, loaded file, int64), over a
recording transport."""
import math

import numpy as np
import pytest

from command_table import ANSWER, BY_ALGORITHM, COMMANDS
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError

# (command, arguments, send function, arguments sent, answer, payload returned)
ROWS = [(c.name, *sample) for c in COMMANDS for sample in c.wire]
FUNC_NAMES = {c.name: c.asked for c in COMMANDS if c.asked}
GUARDED = {
    "vmSendCmdStartTaskBackTest": (), "vmSendCmdStopTaskBackTest": ([], [], {}), "vmSendCmdStartTaskRealTrade": (),
    "vmSendCmdStartTaskRunFactor": (), "vmSendCmdStopTaskRunFactor": ("/d",), "vmSendCmdPutLog": ("x",),
    "vmSendCmdRiseError": ("x",),
}


def _payload_names(payload):
    if payload in (None, ANSWER):
        return ()
    return payload if isinstance(payload, tuple) else (payload,)


def test_every_command_has_a_sample_call_or_its_algorithm_test():
    assert [c.name for c in COMMANDS if not c.wire and c.wire is not BY_ALGORITHM] == []


@pytest.fixture
def loads(monkeypatch):
    calls = []

    def load_mat(*args, **kw):
        calls.append((args, kw))
        return {"loaded": args[0]}

    monkeypatch.setattr(vmcmd, "load_mat", load_mat)
    return calls


@pytest.mark.parametrize("name,args,send,sent,answer,payload", ROWS, ids=[r[0] for r in ROWS])
def test_request_and_answer(wire, loads, monkeypatch, name, args, send, sent, answer, payload):
    values = {attr: object() for attr in _payload_names(payload)}
    if answer == "int64":
        values[payload] = 123
    if answer != "fire":
        # unchecked commands ignore the status: give them an error
        wire.reply(level=1 if answer == "unchecked" else 3, **values)
    shown = []
    monkeypatch.setattr(vmcmd, "user_info", shown.append)  # an INFO text is shown, the payload still returned
    got = getattr(vmcmd, name)(*args)
    assert [s for s, _ in wire.sent] == [send]
    assert wire.same(wire.sent[0][1], sent), wire.sent[0][1]
    assert wire.asked == ([] if answer == "fire" else [FUNC_NAMES.get(name, name)])
    assert len(shown) == (0 if answer in ("fire", "unchecked") else 1)
    if answer == "load":
        assert loads == [((values[payload],), {"error": "raise"})] and got == {"loaded": values[payload]}
    elif answer == "int64":
        assert type(got) is np.int64 and got == 123
    elif payload == ANSWER:
        assert got.result.errLevel == 3
    elif isinstance(payload, tuple):
        assert type(got) is tuple and all(g is values[p] for g, p in zip(got, payload))
    else:
        assert got is values.get(payload)


CHECKED = [r for r in ROWS if r[4] in ("checked", "load", "int64")]


@pytest.mark.parametrize("name,args,send,sent,answer,payload", CHECKED, ids=[r[0] for r in CHECKED])
def test_error_answer_raises_before_the_payload(wire, loads, name, args, send, sent, answer, payload):
    wire.reply(level=1)  # no payload attribute: reading one would fail otherwise
    with pytest.raises(VmReturnError) as exc:
        getattr(vmcmd, name)(*args)
    assert FUNC_NAMES.get(name, name) in str(exc.value) and "77" in str(exc.value)
    assert loads == []


@pytest.mark.parametrize("name,rest", sorted(GUARDED.items()))
def test_nan_task_id_sends_nothing(wire, name, rest):
    assert getattr(vmcmd, name)(float("nan"), *rest) is None
    assert getattr(vmcmd, name)(np.float64("nan"), *rest) is None
    assert wire.sent == [] and wire.asked == []
    if name not in ("vmSendCmdPutLog", "vmSendCmdRiseError"):
        wire.reply()
    getattr(vmcmd, name)(0, *rest)
    assert len(wire.sent) == 1 and wire.sent[0][1][0] == 0


class Real:
    def __float__(self):
        return float("nan")


@pytest.mark.parametrize("task_id,sent", [
    (np.int64(5), True), (np.float32("nan"), False), (Real(), False), (True, True), (2 ** 2000, None), ("1", None),
])
def test_nan_guard_tests_as_math_isnan(wire, task_id, sent):
    # the guard's answer and its errors are math.isnan's for every kind of id
    try:
        expected = not math.isnan(task_id)
    except (TypeError, OverflowError) as exc:
        with pytest.raises(type(exc)) as info:
            vmcmd.vmSendCmdPutLog(task_id, "x")
        assert str(info.value) == str(exc)
        return
    assert expected is sent
    vmcmd.vmSendCmdPutLog(task_id, "x")
    assert len(wire.sent) == int(sent)


def test_nan_guard_calls_a_replaced_isnan(wire, monkeypatch):
    seen = []
    monkeypatch.setattr(vmcmd, "isnan", lambda v: seen.append(v) or v == "skip")
    assert vmcmd.vmSendCmdPutLog("skip", "x") is None and wire.sent == []
    vmcmd.vmSendCmdPutLog("send", "x")
    assert seen == ["skip", "send"] and len(wire.sent) == 1


# commands sending a number they were given first, unconverted
NUMBER_FIRST = [r for r in ROWS if r[1] and isinstance(r[1][0], (int, float)) and r[3][:1] == r[1][:1]
                and r[0] not in GUARDED]


@pytest.mark.parametrize("name,args,send,sent,answer,payload", NUMBER_FIRST, ids=[r[0] for r in NUMBER_FIRST])
def test_other_commands_send_a_nan_first_argument(wire, loads, name, args, send, sent, answer, payload):
    if answer != "fire":
        wire.reply(**{attr: 1 for attr in _payload_names(payload)})
    getattr(vmcmd, name)(float("nan"), *args[1:])
    assert len(wire.sent) == 1


def test_indexed_records_need_market_and_code(wire):
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdSubscribeInstrument([{"Market": "sse"}])
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdCreateTaskRunFactor({"StraName": "f"})
    assert wire.sent == []
