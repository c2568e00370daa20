"""Only the compiled modules, installed into somebody else's framework tree, load and work there.

The modules are built in build/dropin-<python version> (kept between runs, so a rebuild is
incremental) and installed with the steps `make install-native` runs: configure, build and
`cmake --install --component native`. The tree they go into is user_framework/: a minimal
framework of its own, with a transport that answers from memory."""
import fcntl
import json
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
from native_modules import MODULES

ROOT = Path(__file__).resolve().parents[2]
USER_FRAMEWORK = Path(__file__).resolve().parent / "user_framework"

INSTALLED = [m.replace(".", "/") for m in MODULES]


def tool(name):
    """A build tool beside the interpreter (a virtual environment's own), else on PATH."""
    beside = os.path.join(os.path.dirname(sys.executable), name)
    return beside if os.access(beside, os.X_OK) else shutil.which(name)


CMAKE = tool("cmake")


def run(args, **kwargs):
    args = [str(a) for a in args]
    proc = subprocess.run(args, capture_output=True, text=True, **kwargs)
    assert proc.returncode == 0, "{}\n{}\n{}".format(" ".join(args), proc.stdout[-4000:], proc.stderr[-4000:])
    return proc


def install_native(prefix):
    """Configure (once), build and install the native component into prefix."""
    build = ROOT / "build" / "dropin-{}.{}".format(*sys.version_info[:2])
    build.parent.mkdir(exist_ok=True)
    with open(str(build) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one build at a time per interpreter version
        if not ((build / "build.ninja").exists() or (build / "Makefile").exists()):
            configure = [CMAKE, "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                         "-DPython_EXECUTABLE=" + sys.executable]
            ninja = tool("ninja")
            if ninja:
                configure += ["-G", "Ninja", "-DCMAKE_MAKE_PROGRAM=" + ninja]
            run(configure)
        run([CMAKE, "--build", build, "--parallel", os.cpu_count() or 1])
        run([CMAKE, "--install", build, "--component", "native", "--prefix", prefix])


def files_under(top):
    return {str(p.relative_to(top)) for p in Path(top).rglob("*") if p.is_file() and "__pycache__" not in p.parts}


# runs with the user's tree alone on the path: -I leaves out PYTHONPATH and this checkout
SESSION = textwrap.dedent(
    """
    import json, sys
    sys.path.insert(0, sys.argv[1])
    import velmoro
    from velmoro.tframe import runtypesbase as cnt
    from velmoro.tframe.comm import vmcmd, vmserial
    from velmoro.realtrade import runtypes, barcycle
    from velmoro.api.fundamental.fdmt import earnings, ledger
    from velmoro.api.fundamental.company import restricted
    from velmoro.api.bpfactor import _factors

    cnt.vr = runtypes.RealTradeVar()
    cnt.vr.g_VelmoroModeTaskId = 7
    targets = [{"Market": "szse", "Code": "000001"}, {"Market": "sse", "Code": "600000"}]
    members = vmcmd.vmSendCmdGetCodeList("Index", 20240102)
    profits = earnings.is_pit(targets, field=("NetProfit",))
    factor = _factors.get_factor_by_factor("momentum", targets, 20240102, 20240103)
    print(json.dumps({
        "files": [m.__file__ for m in (velmoro, vmcmd, runtypes, barcycle, earnings, ledger, restricted, _factors)],
        "members": [m.Code for m in members],
        "profits": profits.to_dict("list"),
        "factor": {key: series.tolist() for key, series in factor.items()},
        "sent": vmserial.SENT,
        "order_books": [type(b).__name__ for b in (cnt.vr.g_VMOrders, cnt.vr.g_VMStopOrders, cnt.vr.g_VMTrades)],
    }))
    """
)


@pytest.mark.skipif(CMAKE is None, reason="cmake is not installed")
def test_compiled_modules_work_inside_another_framework(tmp_path):
    tree = tmp_path / "site"
    shutil.copytree(str(USER_FRAMEWORK), str(tree))
    before = files_under(tree)
    install_native(tree)

    added = files_under(tree) - before
    assert sorted(p.split(".")[0] for p in added) == sorted(INSTALLED), "only the compiled modules are installed"

    out = json.loads(run([sys.executable, "-I", "-c", SESSION, tree], cwd=str(tmp_path)).stdout)
    assert all(f.startswith(str(tree)) for f in out["files"]), out["files"]
    assert out["members"] == ["000001"]
    assert out["profits"] == {"Code": ["000001", "600000"], "NetProfit": [1.5, 2.5]}
    assert out["factor"] == {
        "SSE.600000": [20.0, 21.0],
        "SZSE.000001": [10.0, 11.0],
        "date": [738887.0, 738888.0],
    }
    assert out["sent"] == ["GetCodeList", "GetFundamentalSet2", "PutLog", "AskFactor", "GetFactor"]
    assert out["order_books"] == ["VMOrders", "VMStopOrders", "VMTrades"]
