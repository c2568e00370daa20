"""Factor queries over one result file of 5,000 targets.

The terminal is left out (its commands answer at once) and load_mat returns a
mapping loaded beforehand, so the figures are the module's own work: the
framework calls it must make (DotDict, todotmc, mft_to_datetime) included,
MAT loading reported apart. Each query is also timed through the full
dictionary (get_factor_by_factor replaced by a wrapper, which turns the
partial reading off) and as a straightforward Python version.

    python bench/factors_bench.py [--targets N] [--days N] [--repeat N]
"""
import argparse
import os
import tempfile
import types

import scipy.io
from _common import best, factor_file

from velmoro.api.bpfactor import _factors


def python_by_factor(factor, targets, begin_date, end_date, day_before=0):
    m = _factors
    m.ask_factor_by_targets(factor, targets, begin_date, end_date, day_before)
    data = m.DotDict(m.load_mat(m.vmcmd.vmSendCmdGetFactor(factor, targets, begin_date, end_date, day_before)))
    result = {}
    for name in sorted(k for k in data if k.startswith("bp_")):
        result[".".join(name.split("_")[-2:]).upper()] = data[name].ravel()
    result["date"] = data["Date"].ravel()
    return result


def python_by_code(factor_list, targets, begin_date, end_date):
    m = _factors
    result = m.OrderedDict()
    for factor in factor_list:
        data = python_by_factor(factor, targets, begin_date, end_date)
        if "date" not in result:
            result["date"] = m.utils_dt.mft_to_datetime(data["date"].astype(float))
            if len(result["date"]) == 0:
                return None
        key = m.todotmc(targets[0])
        result[factor] = data[key] if key in data else [None] * len(data["date"])
    return result


def python_by_day(factor_list, targets, date):
    m = _factors
    result = m.OrderedDict()
    result["code"] = m.todotmc(targets)
    for factor in factor_list:
        data = python_by_factor(factor, targets, date, date)
        if len(data["date"]) == 0:
            return None
        result[factor] = [data[k][0] if k in data else None for k in map(m.todotmc, targets)]
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--targets", type=int, default=5000)
    parser.add_argument("--days", type=int, default=250)
    parser.add_argument("--repeat", type=int, default=7)
    opts = parser.parse_args()

    targets, variables = factor_file(opts.targets, opts.days)
    path = os.path.join(tempfile.mkdtemp(prefix="velmoro-bench-"), "factor.mat")
    scipy.io.savemat(path, variables)
    load_mat = _factors.load_mat
    load_time = best(lambda: load_mat(path), opts.repeat)
    preloaded = load_mat(path)
    os.remove(path)
    os.rmdir(os.path.dirname(path))

    def nothing(*args):
        return None

    _factors.vmcmd = types.SimpleNamespace(
        vmSendCmdPutLog=nothing, vmSendCmdAskFactor=nothing, vmSendCmdGetFactor=lambda *args: path
    )
    _factors.cnt = types.SimpleNamespace(vr=types.SimpleNamespace(g_VelmoroModeTaskId=1))
    _factors.load_mat = lambda p: preloaded

    own = _factors.get_factor_by_factor

    def full_dictionary(*args):
        return own(*args)

    begin, end, day = 20240102, 20241231, 20240102
    queries = [
        # name, the module's query, the Python version, whether it reads only part of the file
        ("get_factor_by_factor", lambda: own("f", targets, begin, end),
         lambda: python_by_factor("f", targets, begin, end), False),
        ("get_factor_by_code", lambda: _factors.get_factor_by_code(["f"], targets, begin, end),
         lambda: python_by_code(["f"], targets, begin, end), True),
        ("get_factor_by_day", lambda: _factors.get_factor_by_day(["f"], targets, day),
         lambda: python_by_day(["f"], targets, day), True),
    ]
    n = opts.targets

    def per_target(seconds):
        return "{:.3f}".format(seconds / n * 1e6)

    print("factor queries: {} targets x {} days, one factor, best of {}".format(n, opts.days, opts.repeat))
    print("load_mat of the result file: {:.2f} ms, {} us/target (not in the figures below)".format(
        load_time * 1e3, per_target(load_time)))
    row = "{:22s} {:>10s} {:>10s} {:>16s} {:>12s}"
    print(row.format("", "module ms", "us/target", "full dict us/t", "python us/t"))
    for name, query, python, partial in queries:
        module = best(query, opts.repeat)
        full = "-"
        if partial:
            _factors.get_factor_by_factor = full_dictionary
            full = per_target(best(query, opts.repeat))
            _factors.get_factor_by_factor = own
        print(row.format(name, "{:.2f}".format(module * 1e3), per_target(module), full,
                         per_target(best(python, opts.repeat))))


if __name__ == "__main__":
    main()
