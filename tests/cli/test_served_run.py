"""`velmoro run` on a terminal server, chosen by VELMORO_TERMINAL: each run
reports its own orders, what earlier runs left is its starting book."""
import collections
import csv
import json
import subprocess
import sys

from serving import serving
from velmoro.simterm import Dataset, Terminal

TARGETS = ["--targets", "sse.600000,szse.000001"]


def test_runs_on_a_server_are_their_own(example, velmoro, tmp_path):
    with serving(Terminal(Dataset(days=5), result_dir=str(tmp_path / "files"))) as (server, address):
        env = {"VELMORO_TERMINAL": address}
        runs = [velmoro("run", example, *TARGETS, "--begin", "20240103", "--end", "20240105", "--out", out, env=env)
                for out in ("first", "second")]
        readme_days = velmoro("run", example, *TARGETS, "--begin", "20240102", "--end", "20240105", "--out", "x",
                              env=env)
        sessions = len(server.sessions)
    for proc in runs:
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.startswith("terminal: {}, trading days 20240102..20240108".format(address))
    first, second = (json.loads((tmp_path / out / "summary.json").read_text()) for out in ("first", "second"))
    orders = {}
    for out in ("first", "second"):
        with open(str(tmp_path / out / "orders.csv")) as f:
            orders[out] = list(csv.DictReader(f))
    # each report holds its own run's orders only, under its run id
    assert first["orders"] == len(orders["first"]) > 0 and second["orders"] == len(orders["second"]) > 0
    assert first["run_id"] != second["run_id"] and {int(o["run_id"]) for o in orders["second"]} == {second["run_id"]}
    assert not {o["order_id"] for o in orders["first"]} & {o["order_id"] for o in orders["second"]}
    assert first["starting_book"] == [] and second["starting_book"]
    # the daily close sells what the run bought, never the book it began with:
    # what a run has bought of a security, less what it sold, never falls below 0
    for out in ("first", "second"):
        traded = collections.Counter()
        for o in orders[out]:
            traded[o["market"], o["code"]] += int(o["filled_volume"]) * (1 if o["side"] == "buy" else -1)
            assert traded[o["market"], o["code"]] >= 0, (out, o)
    assert readme_days.returncode == 2 and len(readme_days.stderr.splitlines()) == 1
    assert "has no history day before it" in readme_days.stderr and "--first-day 20240101 --days 5" in readme_days.stderr
    assert sessions == 3  # the variable chose the server


def test_serve_says_its_address_and_days(tmp_path):
    proc = subprocess.Popen([sys.executable, "-m", "velmoro", "terminal", "serve", "--listen",
                             "unix:{}/t.sock".format(tmp_path / "s"), "--first-day", "20240301", "--days", "3"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        lines = [proc.stdout.readline().strip() for _ in range(2)]
    finally:
        proc.terminate()
        proc.wait(timeout=30)
    assert lines == ["terminal serving at unix:{}/t.sock".format(tmp_path / "s"),
                     "trading days 20240301..20240305 (3 days)"]
