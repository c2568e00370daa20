"""The stubs serve a type checker: mypy accepts the typed helpers of typed_usage.py without an
error from the stubs, and refuses wrong calls. The helpers also run on the simulated terminal."""
import importlib.util
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import typed_usage
import velmoro
from api_surface import MODULES, load, stub_path
from velmoro.realtrade.runtypes import RealTradeVar
from velmoro.tframe import runtypesbase

HERE = os.path.dirname(os.path.abspath(__file__))


def _mypy_version():
    if importlib.util.find_spec("mypy") is None:
        return None
    from mypy.version import __version__

    return tuple(int(p) for p in __version__.split("+")[0].split(".")[:2])


# the loop status's properties read a bool and take any detail: typed as
# asymmetric properties, which mypy understands from 1.16 on (its last
# release for 3.8 is 1.14)
needs_mypy = pytest.mark.skipif((_mypy_version() or (0, 0)) < (1, 16), reason="needs mypy 1.16 or later")


SOURCE_TREE = os.path.join(os.path.dirname(os.path.dirname(HERE)), "python")


def stub_files():
    """The stubs as the source tree holds them: checked as sources from there, they do not
    make mypy take an installed site-packages folder for a source root."""
    return [os.path.join(SOURCE_TREE, *name.split(".")[:-1], name.rpartition(".")[2] + ".pyi") for name in MODULES]


def mypy(tmp_path, *files):
    """mypy --strict over the files and the stubs; errors of framework modules the stubs import
    are left out (--follow-imports=silent), those of the stubs themselves are not."""
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--follow-imports=silent",
         "--cache-dir", str(tmp_path / "mypy-cache"), *files, *stub_files()],
        capture_output=True, text=True, cwd=str(tmp_path),
    )
    return proc.returncode, proc.stdout


@needs_mypy
def test_typed_helpers_check_clean(tmp_path):
    code, out = mypy(tmp_path, os.path.join(HERE, "typed_usage.py"))
    assert code == 0, out
    assert "Success: no issues found in {} source files".format(len(MODULES) + 1) in out


WRONG_CALLS = [
    # each line must draw an error of mypy at that line
    "vmcmd.vmSendCmdGetKData([], 'day', 1)",
    "vmcmd.vmSendCmdConvertTargets(listMC=[], flags='czce')",
    "paths: int = vmcmd.vmSendCmdGetKDataMulti([], 'day', 0, 0, 0, 'NA')",
    "earnings.is_pit('sse.600000')",
    "ledger.ledger_pit([], fields=())",
    "restricted.equ_share_float([], begin_date=1.5)",
    "_factors.get_factor_by_day(['turnover'], [], 20240102, 3)",
    "RealRunTimeContext().loop_status.detail = 'set'",
    "RealRunTimeContext().end_fresh_bar = 'late'",
    "barcycle.call_on_data_wrapper(None)",
]


@needs_mypy
def test_wrong_calls_are_refused(tmp_path):
    header = textwrap.dedent(
        """
        from velmoro.api.bpfactor import _factors
        from velmoro.api.fundamental.company import restricted
        from velmoro.api.fundamental.fdmt import earnings, ledger
        from velmoro.realtrade import barcycle
        from velmoro.realtrade.runtypes import RealRunTimeContext
        from velmoro.tframe.comm import vmcmd
        """
    ).lstrip()
    sample = tmp_path / "wrong.py"
    sample.write_text(header + "\n".join(WRONG_CALLS) + "\n")
    code, out = mypy(tmp_path, str(sample))
    first = header.count("\n") + 1
    flagged = {int(line.split(":")[1]) for line in out.splitlines() if line.startswith("wrong.py:") and ": error:" in line}
    missed = [call for n, call in enumerate(WRONG_CALLS, first) if n not in flagged]
    assert code == 1 and not missed, out
    assert not [line for line in out.splitlines() if ".pyi:" in line and ": error:" in line], out


def test_typed_helpers_run_on_the_terminal(terminal, monkeypatch):
    run = RealTradeVar()
    run.g_VelmoroModeTaskId = 9
    monkeypatch.setattr(runtypesbase, "vr", run)

    assert typed_usage.index_members(20240102) == ["600000", "600519", "000001", "000002"]
    assert all(os.path.isfile(path) for path in typed_usage.bar_files(20240102, 20240104))
    typed_usage.log_line(np.int64(9), "typed")
    assert terminal.sent[-1] == ("PutLog", (9, "typed"))
    momentum = typed_usage.mean_momentum(20240102, 20240104)
    assert sorted(momentum) == ["SSE.600000", "SZSE.000001"]
    assert all(isinstance(v, float) for v in momentum.values())
    assert typed_usage.first_target_factors(20240102, 20240104) == ["date", "momentum_5d", "turnover"]
    assert all(rows > 0 for rows in typed_usage.statement_rows().values())
    assert typed_usage.break_verdict("late bar") == "late bar"


def test_stub_files_sit_beside_the_modules():
    # an installed package and the source tree alike: the checker finds the stub next to the module
    assert all(os.path.isfile(stub_path(load(name))) for name in MODULES)
    assert os.path.isfile(os.path.join(os.path.dirname(velmoro.__file__), "py.typed"))


@needs_mypy
def test_example_strategy_checks_clean(tmp_path):
    strategy = os.path.join(os.path.dirname(os.path.dirname(HERE)), "examples", "strategy.py")
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--follow-imports=silent", "--check-untyped-defs",
         "--cache-dir", str(tmp_path / "mypy-cache"), strategy],
        capture_output=True, text=True, cwd=str(tmp_path),
    )
    assert proc.returncode == 0, proc.stdout
