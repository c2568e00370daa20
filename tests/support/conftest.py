"""The support layer's probe module, built with CMake for the running
interpreter (sanitized when the run is: tools/asan-test sets ASAN_OPTIONS)."""
import importlib
import os
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="session")
def probe():
    sanitized = "ASAN_OPTIONS" in os.environ
    build = os.path.join(TOP, "build", "probe-%s%d.%d" % ((("asan-" if sanitized else ""),) + sys.version_info[:2]))
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # the compiler runs unsanitized
    subprocess.run(
        ["cmake", "-S", TOP, "-B", build, "-DVELMORO_PROBE=ON", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         "-DVELMORO_SANITIZE=" + ("ON" if sanitized else "OFF"), "-DPython_EXECUTABLE=" + sys.executable],
        check=True, stdout=subprocess.DEVNULL, env=env)
    subprocess.run(["cmake", "--build", build, "--target", "_supportprobe"], check=True, stdout=subprocess.DEVNULL,
                   env=env)
    sys.path.insert(0, build)
    try:
        return importlib.import_module("_supportprobe")
    finally:
        sys.path.remove(build)
