"""Keyword calls through the native support layer against a raw vectorcall.

Builds the benchmark module with CMake (build/bench-<python>), then times
f(a, b, level=..., console=...) and f(a, b) both ways. Target: the layer
within 1.3x of the raw call.
"""
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(TOP, "build", "bench-%d.%d" % sys.version_info[:2])
ROUNDS, CALLS = 7, 200_000


def build():
    subprocess.run(
        ["cmake", "-S", TOP, "-B", BUILD, "-DVELMORO_BENCH=ON", "-DCMAKE_BUILD_TYPE=Release",
         "-DPython_EXECUTABLE=" + sys.executable],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "_callbench"], check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, BUILD)


def callee(a, b, level=None, console=None):
    return None


def best(fn, *args):
    return min(fn(callee, CALLS, *args) for _ in range(ROUNDS)) / CALLS


def main():
    build()
    import _callbench as cb

    ok = True
    for label, layer, raw, args in [
        ("keyword call", cb.layer_keyword, cb.raw_keyword, (1, 2, "info", True)),
        ("positional call", cb.layer_positional, cb.raw_positional, (1, 2)),
    ]:
        layer_ns, raw_ns = best(layer, *args), best(raw, *args)
        ratio = layer_ns / raw_ns
        ok &= ratio <= 1.3
        print("{:16s} layer {:6.1f} ns  raw vectorcall {:6.1f} ns  ratio {:.2f}  (target <= 1.30)".format(
            label, layer_ns, raw_ns, ratio))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
