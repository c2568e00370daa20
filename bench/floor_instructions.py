"""The modules against the shared benchmark's hand-written floor, in
instructions under callgrind (the steady measure on a shared machine): the
modules are built unstripped for the running interpreter, the floor beside
them, and each operation and its floor case run in one process under
callgrind. The table gives instructions per run of each and their ratio; the
script fails when an operation's ratio is above the limit.

    python bench/floor_instructions.py [--ops 'cmd_*,bc_dispatch_100'] [--limit 1.2]
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from module_roads import ROOT, SHARED, counted, selected

# Runs in the floor's tree under callgrind, which counts only inside the
# counting loop of collections (a C function no operation reaches) and dumps
# its count after each: one loop over an empty function, then per operation
# one over the module's run and one over the floor's, each warmed up.
DRIVER = r"""
import collections, gc, sys
sys.path.append(sys.argv[1])
import worker
names, runs = sys.argv[2].split(","), [int(n) for n in sys.argv[3].split(",")]
cases = []
for name in names:
    skip, run, check, case, files = worker.build_floor(name)
    worker.check_floor(run, check, case)
    cases.append((run, case.run))
gc.disable()
count = collections._count_elements
empty = lambda: None
count({}, map(lambda _: (empty(), None)[1], range(int(sys.argv[4]))))
for (module, floor), n in zip(cases, runs):
    for run in (module, floor):
        run()
        count({}, map(lambda _: (run(), None)[1], range(n)))
"""


def trees(work):
    """The floor's tree: the shared framework, the modules as built, the floor."""
    version = "%d.%d" % sys.version_info[:2]
    native = os.path.join(ROOT, "build", "bench-native-" + version)
    floor = os.path.join(ROOT, "build", "bench-floor-" + version)
    subprocess.run(["make", "-s", "install-native", "PREFIX=" + native, "PYTHON=" + sys.executable],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    if not glob.glob(os.path.join(floor, "floorops.*so")):
        subprocess.run([os.path.join(SHARED, "floor", "build.sh"), sys.executable, "--out", floor],
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, SHARED)
    import bench
    tree = os.path.join(work, "tree")
    bench.assemble(native, tree)
    shutil.copy2(bench.find_ext(floor, "floorops"), tree)
    return tree


def counts(tree, work, names, runs, baseline_runs):
    """Instructions per run: operation -> (module, floor)."""
    totals = counted(DRIVER, tree, work, [",".join(names), ",".join(str(runs) for _ in names), baseline_runs],
                     2 * len(names) + 1)
    empty = totals[0] / baseline_runs
    return {name: (totals[1 + 2 * i] / runs - empty, totals[2 + 2 * i] / runs - empty)
            for i, name in enumerate(names)}


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--ops", help="comma-separated names or globs (default: every operation with a floor)")
    p.add_argument("--runs", type=int, default=20, help="runs of each operation counted")
    p.add_argument("--limit", type=float, default=1.2, help="the highest module/floor ratio that passes")
    args = p.parse_args(argv)
    if SHARED is None:
        print("floor_instructions: no shared benchmark beside the project; skipped")
        return 0
    sys.path.insert(0, SHARED)
    import ops
    names = selected(list(ops.FLOORS), args.ops)
    with tempfile.TemporaryDirectory() as work:
        table = counts(trees(work), work, names, args.runs, 1000)
    print("Python %d.%d, instructions per run under callgrind" % sys.version_info[:2])
    print("%-28s %14s %14s %8s" % ("operation", "module", "floor", "ratio"))
    over = []
    for name in names:
        module, floor = table[name]
        ratio = module / floor
        over += [name] if ratio > args.limit else []
        print("%-28s %14.0f %14.0f %7.2fx" % (name, module, floor, ratio))
    if over:
        print("floor_instructions: above %.2fx: %s" % (args.limit, ", ".join(over)))
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
