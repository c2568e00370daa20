"""load_mat of a large factor result file: the checked load against scipy's
own unchecked loadmat of the same file. Target: at most 1.15x.

Every v5 file is walked (velmoro.tframe.utils._matwalk) before scipy parses
it; this measures what that costs on the factor benchmark's file (5,000
targets x 250 days), plain and compressed. Times are CPU time of this
process, best of --repeat rounds, the loads taking turns in each round:
the machine is shared, and CPU time is what the load itself spends.

    python bench/matfile_bench.py [--targets N] [--days N] [--repeat N]
"""
import argparse
import io
import os
import sys
import tempfile
import time

import scipy.io
from _common import best, factor_file

from velmoro.tframe.utils.matcheck import checked_v5
from velmoro.tframe.utils.utilfunc import load_mat

TARGET = 1.15


def rounds(loads, repeat):
    """Each load's best CPU time over `repeat` rounds, taking turns."""
    times = {name: float("inf") for name in loads}
    for _ in range(repeat):
        for name, fn in loads.items():
            times[name] = min(times[name], best(fn, 1, time.process_time))
    return times


def measure(path, repeat):
    with open(path, "rb") as f:
        data = f.read()
    unpacked = checked_v5(data)
    return rounds({
        "unchecked": lambda: scipy.io.loadmat(path),
        "unchecked from memory": lambda: scipy.io.loadmat(io.BytesIO(unpacked)),
        "checked": lambda: load_mat(path, error="raise"),
        "walk": lambda: checked_v5(data),
    }, repeat), len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--targets", type=int, default=5000)
    parser.add_argument("--days", type=int, default=250)
    parser.add_argument("--repeat", type=int, default=20)
    opts = parser.parse_args()

    _, variables = factor_file(opts.targets, opts.days)
    folder = tempfile.mkdtemp(prefix="velmoro-bench-")
    print("load_mat of a factor file: {} targets x {} days, Python {}, CPU ms, best of {}".format(
        opts.targets, opts.days, sys.version.split()[0], opts.repeat))
    row = "{:11s} {:>8s} {:>10s} {:>11s} {:>13s} {:>9s} {:>7s}"
    print(row.format("file", "MB", "unchecked", "checked", "from memory", "walk", "ratio"))
    ok = True
    for label, compressed in (("plain", False), ("compressed", True)):
        path = os.path.join(folder, label + ".mat")
        scipy.io.savemat(path, variables, do_compression=compressed)
        times, size = measure(path, opts.repeat)
        os.remove(path)
        ratio = times["checked"] / times["unchecked"]
        if not compressed:  # the target's file: the terminal writes it plain
            ok &= ratio <= TARGET
        print(row.format(label, "{:.1f}".format(size / 1e6),
                         *("{:.2f}".format(times[k] * 1e3) for k in ("unchecked", "checked", "unchecked from memory")),
                         "{:.3f}".format(times["walk"] * 1e3), "{:.3f}".format(ratio)))
    os.rmdir(folder)
    print("ratio: checked load_mat / scipy's unchecked loadmat of the path (target <= {:.2f} on the plain file)".format(
        TARGET))
    print("from memory: scipy's unchecked loadmat of the (unpacked) bytes, no file read; walk: the check alone")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
