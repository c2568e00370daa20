"""What each shortcut through the interpreter's internals (vm/internals.hpp)
gains on the shared benchmark's operations, in instructions under callgrind:
the seven modules are built for the running interpreter once as they ship,
once without each shortcut (VELMORO_WITHOUT) and once on the public C API
alone (VELMORO_PUBLIC_API); each build's operations run in one process under
callgrind, and the table gives each operation's instructions per run.

    python bench/internals_gain.py [--ops 'rt_*,bc_dispatch_100'] [--without DICT_VERSIONS,...]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from module_roads import ROOT, SHARED, counted, selected

SHORTCUTS = ["DICT_VERSIONS", "TYPE_TAGS", "METHOD_LOOKUP", "PRESIZED_DICTS", "DICT_PROBE",
             "SHARED_KEYS"]

MODULES = ["vmcmd", "runtypes", "barcycle", "earnings", "ledger", "restricted", "_factors"]

# Runs in the assembled tree under callgrind, which counts only inside the
# counting loop of collections (a C function no operation reaches, unlike
# functools.reduce, which pandas uses) and dumps its count after each: one
# loop over an empty function, then one per operation, warmed up, over `runs` runs.
DRIVER = r"""
import collections, gc, sys
sys.path.append(sys.argv[1])
import worker
names = sys.argv[2].split(",")
builds = [(name, worker.build(name)[0]) for name in names]
gc.disable()
empty = lambda: None  # the harness: a call of the run and the loop around it
collections._count_elements({}, map(lambda _: (empty(), None)[1], range(int(sys.argv[4]))))
for (name, run), runs in zip(builds, map(int, sys.argv[3].split(","))):
    run()
    collections._count_elements({}, map(lambda _: (run(), None)[1], range(runs)))
"""


def build(variant, python):
    """The seven modules of one variant, at their package paths, in a folder of their own."""
    version = "%d.%d" % sys.version_info[:2]
    where = os.path.join(ROOT, "build", "gain-%s-%s" % (version, variant))
    flags = {"shipped": [], "public": ["-DVELMORO_PUBLIC_API=ON"]}.get(variant, ["-DVELMORO_WITHOUT=" + variant])
    subprocess.run(["cmake", "-S", ROOT, "-B", where + "/cmake", "-DCMAKE_BUILD_TYPE=Release",
                    "-DVELMORO_PUBLIC_API=OFF", "-DVELMORO_WITHOUT=", "-DPython_EXECUTABLE=" + python] + flags,
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", where + "/cmake", "--target"] + MODULES, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--install", where + "/cmake", "--component", "native", "--prefix", where + "/prefix"],
                   check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, SHARED)
    import bench
    shutil.rmtree(os.path.join(where, "tree"), ignore_errors=True)
    bench.assemble(os.path.join(where, "prefix"), os.path.join(where, "tree"))
    return where


def measure(where, names, runs, baseline_runs):
    """Instructions per run of each operation in the variant built at `where`."""
    with tempfile.TemporaryDirectory() as work:
        totals = counted(DRIVER, os.path.join(where, "tree"), work,
                         [",".join(names), ",".join(str(runs[n]) for n in names), baseline_runs], len(names) + 1)
    per_empty = totals[0] / baseline_runs
    return {name: total / runs[name] - per_empty for name, total in zip(names, totals[1:])}


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--ops", help="comma-separated names or globs (default: every operation)")
    p.add_argument("--without", help="comma-separated shortcuts (default: all of %s)" % ", ".join(SHORTCUTS))
    p.add_argument("--seconds", type=float, default=0.02, help="native time of each operation's runs")
    args = p.parse_args(argv)
    if SHARED is None:
        print("internals_gain: no shared benchmark beside the project; skipped")
        return 0
    sys.path.insert(0, SHARED)
    import ops
    names = selected([n for n in ops.OPS if n != "bc_pass_1"], args.ops)
    variants = ["shipped"] + (args.without.split(",") if args.without else SHORTCUTS) + ["public"]
    wheres = {v: build(v, sys.executable) for v in variants}
    runs = timed_runs(wheres["shipped"], names, args.seconds)
    table = {v: measure(wheres[v], names, runs, 1000) for v in variants}
    print("instructions per run; each shortcut's column: without it, and the gain it makes")
    print("%-28s %12s" % ("operation", "shipped") + "".join(" %22s" % v for v in variants[1:]))
    for name in names:
        base = table["shipped"][name]
        cells = "".join(" %13.0f (%+5.1f%%)" % (table[v][name], 100.0 * (table[v][name] - base) / table[v][name])
                        for v in variants[1:])
        print("%-28s %12.0f%s" % (name, base, cells))
    return 0


def timed_runs(where, names, seconds):
    """How many runs of each operation last about `seconds` natively."""
    sys.path.insert(0, SHARED)
    import bench
    tree = os.path.join(where, "tree")
    probe = ("import sys, time\nsys.path.append(sys.argv[1])\nimport worker\n"
             "for name in sys.argv[2].split(','):\n"
             "    run = worker.build(name)[0]\n    run()\n    t = time.perf_counter()\n    run()\n"
             "    print(name, max(3, min(1000, int(%r / max(time.perf_counter() - t, 1e-7)))))\n" % seconds)
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, PYTHONPATH=tree, **bench.WORKER_ENV)
        out = subprocess.run([sys.executable, "-c", probe, SHARED, ",".join(names)], cwd=work, env=env, check=True,
                             stdout=subprocess.PIPE, universal_newlines=True).stdout
    return {line.split()[0]: int(line.split()[1]) for line in out.splitlines() if line.strip()}


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
