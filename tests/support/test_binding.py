"""Native functions bind arguments exactly as Python functions of the same signature."""
import inspect

import pytest

from velmoro.tframe.comm import vmcmd


def reference_kdata(targets, kFreq, kFreNum, beginDate, endDate, filledUp, fqType, noReturn):
    pass


def reference_checker(func_name, result):
    pass


def error_of(func, args, kwargs):
    with pytest.raises(TypeError) as info:
        func(*args, **kwargs)
    return str(info.value)


BAD_CALLS = [
    ((), {}),
    ((1,), {}),
    ((1, 2, 3, 4, 5, 6, 7, 8, 9), {}),
    ((1, 2, 3, 4, 5, 6, 7), {"targets": 1}),
    ((1, 2, 3, 4, 5, 6, 7), {"nope": 1}),
    ((), {"targets": 1, "kFreq": 2}),
    ((1, 2, 3, 4, 5, 6, 7, 8, 9), {"targets": 1}),
]


@pytest.mark.parametrize("args,kwargs", BAD_CALLS)
def test_binding_errors_match_python_wording(args, kwargs):
    expected = error_of(reference_kdata, args, kwargs).replace("reference_kdata", "vmSendCmdGetKData")
    assert error_of(vmcmd.vmSendCmdGetKData, args, kwargs) == expected


@pytest.mark.parametrize(
    "args,kwargs",
    [((1, 2, 3), {}), ((1,), {}), ((), {"result": 1}), ((1,), {"func_name": 2, "result": 3})],
)
def test_two_parameter_errors(args, kwargs):
    expected = error_of(reference_checker, args, kwargs).replace("reference_checker", "vmReturnChecker")
    assert error_of(vmcmd.vmReturnChecker, args, kwargs) == expected


def test_text_signatures_are_read_by_inspect():
    assert inspect.signature(vmcmd.vmSendCmdGetKData) == inspect.signature(reference_kdata)
    assert list(inspect.signature(vmcmd.vmReturnChecker).parameters) == ["func_name", "result"]
    assert vmcmd.vmSendCmdGetKData.__module__ == "velmoro.tframe.comm.vmcmd"
    assert vmcmd.vmSendCmdGetKData.__self__ is vmcmd


def test_keywords_and_positionals_bind_to_the_same_slots(monkeypatch):
    sent = []

    class Transport:
        def __getattr__(self, name):
            return lambda *a: sent.append((name, a))

    monkeypatch.setattr(vmcmd, "vmserial", Transport())
    monkeypatch.setattr(vmcmd, "recv_serial", lambda name: type("A", (), {"result": None, "listPaths": ["p"]})())
    monkeypatch.setattr(vmcmd, "vmReturnChecker", lambda name, result: None)
    args = ([], "min", 1, 20240102, 20240103, 0, "NA", True)
    names = list(inspect.signature(vmcmd.vmSendCmdGetKData).parameters)
    assert vmcmd.vmSendCmdGetKData(*args) == ["p"]
    assert vmcmd.vmSendCmdGetKData(*args[:3], **dict(zip(names[3:], args[3:]))) == ["p"]
    assert vmcmd.vmSendCmdGetKData(**dict(reversed(list(zip(names, args))))) == ["p"]
    assert sent[0] == sent[1] == sent[2]
