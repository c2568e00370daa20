"""Import speed of the market store: rows per second of CPU time for a
long table of one-minute bars, as CSV and as Parquet, read, checked and
appended to a new store. Targets: 1,000,000 rows/s (CSV) and 3,000,000
rows/s (Parquet) per core. Exits non-zero on a miss.

CPU time of this process, best of --repeat imports: the machine is shared.

    python bench/data_bench.py [--securities N] [--days N] [--repeat N]
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

import numpy as np
import pandas as pd
from _common import best

from velmoro.data.ingest import ImportOptions, import_sources

TARGETS = {"csv": 1_000_000, "parquet": 3_000_000}


def minute_table(securities, days):
    """A clean long table of one-minute bars, as a vendor exports it."""
    clock = np.r_[np.arange(9 * 60 + 31, 11 * 60 + 31), np.arange(13 * 60 + 1, 15 * 60 + 1)]
    dates = pd.bdate_range("2024-01-02", periods=days).to_numpy()
    times = (dates[:, None] + (clock * 60_000_000_000).astype("timedelta64[ns]")).ravel()
    rng = np.random.default_rng(1)
    n = times.size * securities
    close = np.round(10 + np.cumsum(rng.normal(0, 0.001, n)).clip(-5, 5), 2)
    return pd.DataFrame({
        "code": np.repeat(["{:06d}.SZ".format(i + 1) for i in range(securities)], times.size),
        "time": np.tile(times, securities), "open": close, "high": close + 0.01, "low": close - 0.01,
        "close": close, "volume": 100.0, "amount": close * 100})


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--securities", type=int, default=200)
    p.add_argument("--days", type=int, default=21)
    p.add_argument("--repeat", type=int, default=2)
    args = p.parse_args(argv)
    frame = minute_table(args.securities, args.days)
    work = tempfile.mkdtemp(prefix="data-bench-")
    status = 0
    try:
        sources = {"csv": os.path.join(work, "bars.csv"), "parquet": os.path.join(work, "bars.parquet")}
        frame.assign(time=frame["time"].dt.strftime("%Y-%m-%d %H:%M:%S")).to_csv(sources["csv"], index=False)
        frame.to_parquet(sources["parquet"], index=False)

        for kind, path in sources.items():
            def one():
                store = os.path.join(work, "store-" + kind)
                shutil.rmtree(store, ignore_errors=True)
                rows, _ = import_sources(store, [path], ImportOptions(frequency="1min"))
                assert rows == {"1min": len(frame)}, rows

            seconds = best(one, args.repeat, clock=time.process_time)
            rate = len(frame) / seconds
            ok = rate >= TARGETS[kind]
            status |= not ok
            print("import {:8s} {:>10,} rows  {:6.2f} s CPU  {:>11,.0f} rows/s  target {:>10,}  {}".format(
                kind, len(frame), seconds, rate, TARGETS[kind], "ok" if ok else "MISSED"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
