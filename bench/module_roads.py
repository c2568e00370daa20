"""The modules' roads on the shared benchmark (shared/bench beside the
project's root), against its hand-written floor: the modules are built
unstripped into build/bench-native-X.Y and the floor into build/bench-floor-X.Y
for the running interpreter, then bench.py checks that both make the same
framework calls (a difference fails this script) and prints its table.

    python bench/module_roads.py [bench.py options, e.g. --ops 'cmd_*' --repeat 3]
"""
import argparse
import fnmatch
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# beside the project's root, or beside the folder of its worktrees
SHARED = next((d for d in (os.path.join(ROOT, "..", "shared", "bench"), os.path.join(ROOT, "..", "..", "shared", "bench"))
               if os.path.isfile(os.path.join(d, "bench.py"))), None)


def selected(names, pattern):
    """The names that a comma-separated list of names, globs or substrings
    picks, in their order; all of them without one."""
    return [n for n in names if not pattern or any(fnmatch.fnmatch(n, p) or p in n for p in pattern.split(","))]


def counted(script, tree, work, args, loops):
    """Instructions of each loop that `script` (Python source, run with
    `args` in the shared bench's tree `tree`) makes through collections'
    counting function, a C function no operation reaches: callgrind counts
    only inside it and dumps after each call. `loops` is how many the script
    makes; any other number means something else reached it."""
    sys.path.insert(0, SHARED)
    import bench
    out = os.path.join(work, "callgrind.out")
    proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                           "--toggle-collect=_collections__count_elements",
                           "--dump-after=_collections__count_elements", "--collect-atstart=no",
                           sys.executable, "-c", script, SHARED] + [str(a) for a in args],
                          cwd=work, env=dict(os.environ, PYTHONPATH=tree, **bench.WORKER_ENV),
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, universal_newlines=True)
    if proc.returncode:
        raise SystemExit("the counted run in %s failed:\n%s" % (tree, proc.stderr[-3000:]))
    totals = []
    for path in sorted(glob.glob(out + ".*"), key=lambda p: int(p.rsplit(".", 1)[1])):
        with open(path) as f:
            totals.append(int(re.search(r"^(?:summary|totals): (\d+)", f.read(), re.M).group(1)))
    if len(totals) != loops:
        raise SystemExit("%d counts in %s for %d loops" % (len(totals), tree, loops))
    return totals


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
