"""The modules' roads on the shared benchmark (shared/bench beside the
project's root), against its hand-written floor: the modules are built
unstripped into build/bench-native-X.Y and the floor into build/bench-floor-X.Y
for the running interpreter, then bench.py checks that both make the same
framework calls (a difference fails this script) and prints its table.

    python bench/module_roads.py [bench.py options, e.g. --ops 'cmd_*' --repeat 3]
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# beside the project's root, or beside the folder of its worktrees
SHARED = next((d for d in (os.path.join(ROOT, "..", "shared", "bench"), os.path.join(ROOT, "..", "..", "shared", "bench"))
               if os.path.isfile(os.path.join(d, "bench.py"))), None)


def main(argv):
    if SHARED is None:
        print("module_roads: no shared benchmark beside the project; skipped")
        return 0
    version = "%d.%d" % sys.version_info[:2]
    native = os.path.join(ROOT, "build", "bench-native-" + version)
    floor = os.path.join(ROOT, "build", "bench-floor-" + version)
    subprocess.run(["make", "-s", "install-native", "PREFIX=" + native, "PYTHON=" + sys.executable],
                   cwd=ROOT, check=True)
    if not os.path.isdir(floor):
        subprocess.run([os.path.join(SHARED, "floor", "build.sh"), sys.executable, "--out", floor],
                       cwd=ROOT, check=True)
    bench = [sys.executable, os.path.join(SHARED, "bench.py"), "--impl", "native=" + native, "--floor", floor]
    # the check covers the operations the timing run selects
    ops = argparse.ArgumentParser(add_help=False)
    ops.add_argument("--ops")
    selected = ops.parse_known_args(argv)[0].ops
    checked = subprocess.run(bench + ["--check"] + (["--ops", selected] if selected else []), cwd=ROOT)
    timed = subprocess.run(bench + argv, cwd=ROOT)
    return 1 if checked.returncode or timed.returncode else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
