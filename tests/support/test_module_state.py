"""Module globals are read at call time; a module initialises once per process."""
import subprocess
import sys
import textwrap
import tracemalloc

import pytest

from velmoro.tframe.comm import vmcmd


class Recorder:
    """Stands in for the transport module: records every send."""

    def __init__(self):
        self.sent = []

    def __getattr__(self, name):
        return lambda *args: self.sent.append((name, args))


class Answer:
    def __init__(self, result, **payload):
        self.result = result
        self.__dict__.update(payload)


class Status:
    def __init__(self, level, code=0, info=""):
        self.errLevel, self.errCode, self.errInfo = level, code, info


def test_replacing_the_transport_acts_on_the_next_call(monkeypatch):
    first, second = Recorder(), Recorder()
    monkeypatch.setattr(vmcmd, "recv_serial", lambda name: Answer(["m"]))
    monkeypatch.setattr(vmcmd, "vmserial", first)
    vmcmd.vmSendCmdGetCodeList("Index", 0)
    monkeypatch.setattr(vmcmd, "vmserial", second)
    vmcmd.vmSendCmdGetCodeList("SSE", 20240102)
    assert first.sent == [("VelmoroGetCodeList_send", ("Index", 0))]
    assert second.sent == [("VelmoroGetCodeList_send", ("SSE", 20240102))]


def test_commands_call_the_checker_through_the_module_globals(monkeypatch):
    seen = []
    monkeypatch.setattr(vmcmd, "vmserial", Recorder())
    monkeypatch.setattr(vmcmd, "recv_serial", lambda name: Answer(Status(1), listPaths=["x"]))
    monkeypatch.setattr(vmcmd, "vmReturnChecker", lambda name, result: seen.append((name, result.errLevel)))
    # the replacement lets an ERROR answer through: proof that it was the one called
    assert vmcmd.vmSendCmdGetKData([], "min", 1, 0, 0, 0, "NA", False) == ["x"]
    assert seen == [("vmSendCmdGetKData", 1)]


def test_a_removed_global_raises_name_error(monkeypatch):
    monkeypatch.delattr(vmcmd, "recv_serial")
    monkeypatch.setattr(vmcmd, "vmserial", Recorder())
    with pytest.raises(NameError, match="recv_serial"):
        vmcmd.vmSendCmdGetCodeList("Index", 0)


def test_callee_exceptions_pass_unchanged(monkeypatch):
    boom = KeyError("from the transport")

    def fail(*args):
        raise boom

    monkeypatch.setattr(vmcmd, "recv_serial", fail)
    monkeypatch.setattr(vmcmd, "vmserial", Recorder())
    with pytest.raises(KeyError) as info:
        vmcmd.vmSendCmdGetCodeList("Index", 0)
    assert info.value is boom


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_second_initialisation_is_refused():
    proc = run_python(
        """
        import importlib, sys
        import velmoro.tframe.comm.vmcmd as first
        del sys.modules["velmoro.tframe.comm.vmcmd"]
        try:
            importlib.import_module("velmoro.tframe.comm.vmcmd")
        except ImportError as exc:
            print("refused:", exc)
        """
    )
    assert proc.returncode == 0, proc.stderr
    assert "refused:" in proc.stdout and "already initialised" in proc.stdout


def test_failing_framework_import_fails_the_module_import():
    proc = run_python(
        """
        import sys
        sys.modules["velmoro.tframe.ufuncs"] = None  # import of it raises ImportError
        try:
            import velmoro.tframe.comm.vmcmd
        except ImportError as exc:
            print("failed:", exc)
        """
    )
    assert proc.returncode == 0, proc.stderr
    assert "failed:" in proc.stdout


def test_repeated_calls_do_not_grow_memory(monkeypatch):
    targets = [{"Market": "sse", "Code": "600000"}]
    answer = Answer(Status(0), listPaths=["p"])
    monkeypatch.setattr(vmcmd, "vmserial", Recorder())
    monkeypatch.setattr(vmcmd, "recv_serial", lambda name: answer)
    transport = vmcmd.vmserial
    call = vmcmd.vmSendCmdGetKData

    def rounds(n):
        for _ in range(n):
            transport.sent.clear()
            call(targets, "min", 1, 0, 0, 0, "NA", False)
            try:
                call(targets)
            except TypeError:
                pass

    rounds(1000)
    before_refs = (sys.getrefcount(targets), sys.getrefcount(answer), sys.getrefcount(answer.result))
    tracemalloc.start()
    rounds(1000)
    base, _ = tracemalloc.get_traced_memory()
    rounds(20000)
    grown, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert (sys.getrefcount(targets), sys.getrefcount(answer), sys.getrefcount(answer.result)) == before_refs
    assert grown - base < 64 * 1024
