"""Shared by the benchmark scripts (not one itself: `make bench` runs the
scripts whose names do not start with an underscore)."""
import os
import sys
import time

import numpy as np

try:
    import velmoro  # noqa: F401
except ImportError:  # run in place, from a source tree
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))


def factor_file(n_targets, days):
    """The targets and variables of a factor result file as the terminal
    writes it: one 1 x days series per target, and the dates."""
    rng = np.random.default_rng(1)
    targets = [{"Market": ("sse", "szse")[i % 2], "Code": "{:06d}".format(i)} for i in range(n_targets)]
    variables = {"bp_{}_{}".format(t["Market"], t["Code"]): rng.normal(size=(1, days)) for t in targets}
    variables["Date"] = (739253.625 + np.arange(days)).reshape(1, -1)
    return targets, variables


def best(fn, repeat, clock=time.perf_counter):
    """The shortest of `repeat` runs of fn(), in seconds of `clock`."""
    times = []
    for _ in range(repeat):
        start = clock()
        fn()
        times.append(clock() - start)
    return min(times)
