"""The `velmoro` command line, the run report and the README's strategy, as a
new user meets them."""
import csv
import io
import json
import math
import os
import re
import shutil
import subprocess
import sys

import pytest

from velmoro import metrics, report
from velmoro.cli.progress import Progress

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def velmoro(*args, cwd):
    return subprocess.run([sys.executable, "-m", "velmoro"] + list(args), cwd=str(cwd), capture_output=True,
                          text=True, timeout=300)


def test_help_lists_the_subcommands_and_the_console_script_is_installed(tmp_path):
    top = velmoro("--help", cwd=tmp_path)
    assert top.returncode == 0 and "run" in top.stdout and "demo" in top.stdout
    run = velmoro("run", "--help", cwd=tmp_path)
    assert all(o in run.stdout for o in ("--targets", "--begin", "--end", "--terminal", "--out"))
    assert shutil.which("velmoro", path=os.path.dirname(sys.executable)) or "site-packages" not in report.__file__


def test_run_writes_the_report_and_prints_the_summary(tmp_path):
    out = tmp_path / "out"
    proc = velmoro("run", os.path.join(TOP, "examples", "strategy.py"), "--targets", "sse.600000,szse.000001",
                   "--begin", "20240104", "--end", "20240105", "--out", str(out), cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    # not a terminal: one plain progress line per trading day
    assert re.findall(r"bars, day 2024-01-0\d", proc.stdout) == ["bars, day 2024-01-04", "bars, day 2024-01-05"]
    assert "\r" not in proc.stdout
    summary = json.loads((out / "summary.json").read_text())
    assert summary["orders"] > 0 and summary["fills"] > 0 and summary["bars"] == 2 * 229
    assert "P&L" in proc.stdout and "{:+,.2f}".format(summary["pnl"]) in proc.stdout
    for name in ("orders.csv", "fills.csv", "equity.csv", "velmoro.log"):
        assert (out / name).stat().st_size > 0
    assert len((out / "orders.csv").read_text().splitlines()) == summary["orders"] + 1
    with (out / "fills.csv").open() as f:  # each fill's fees apart, summed in the summary
        fills = list(csv.DictReader(f))
    assert metrics.fee_totals(fills) == {k: summary[k] for k in metrics.FEE_COLUMNS + ("fees",)} and summary["fees"] > 0
    assert (out / "equity.png").exists() or report.PLOT_MISSING in proc.stdout


@pytest.mark.parametrize("args,words", [
    (["--targets", "sse600000", "--begin", "20240102", "--end", "20240103"], "MARKET.CODE"),
    (["--targets", "sse.600000", "--begin", "20240105", "--end", "20240102"], "after --end"),
    (["--targets", "sse.600000", "--begin", "20240106", "--end", "20240107"], "no weekday"),
])
def test_bad_arguments_end_with_one_line(tmp_path, args, words):
    proc = velmoro("run", os.path.join(TOP, "examples", "strategy.py"), *args, "--out", str(tmp_path), cwd=tmp_path)
    assert proc.returncode == 2 and words in proc.stderr and "Traceback" not in proc.stderr


# start, equity after it, fill amounts -> pnl, return, max drawdown, turnover, Sharpe per bar
FIGURES = [
    (100.0, [110.0, 99.0, 121.0], [50.0, 30.0], 21.0, 0.21, 0.1, 0.8, 0.4554),
    (100.0, [100.0, 100.0], [], 0.0, 0.0, 0.0, 0.0, None),  # flat: no Sharpe
    (100.0, [90.0], [10.0], -10.0, -0.1, 0.1, 0.1, None),  # one return: no spread
]


@pytest.mark.parametrize("start,equity,amounts,pnl,ret,drawdown,turnover,sharpe", FIGURES)
def test_report_figures(start, equity, amounts, pnl, ret, drawdown, turnover, sharpe):
    fills = [{"amount": a} for a in amounts]
    f = report.figures(start, equity, [{}] * 3, fills)
    assert (f["pnl"], f["orders"], f["fills"]) == (pytest.approx(pnl), 3, len(fills))
    assert f["return"] == pytest.approx(ret) and f["max_drawdown"] == pytest.approx(drawdown)
    assert f["turnover"] == pytest.approx(turnover)
    assert f["sharpe_per_bar"] == (None if sharpe is None else pytest.approx(sharpe, abs=1e-4))


def test_without_matplotlib_the_picture_is_skipped_with_one_line(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # importing it fails
    result = report.Report("s", report.figures(1.0, [2.0], [], []), [(1, 1.0), (2, 2.0)], [], [])
    paths, note = report.write(result, str(tmp_path))
    assert note == report.PLOT_MISSING and "pip install" in note and not (tmp_path / "equity.png").exists()
    assert sorted(os.listdir(str(tmp_path))) == ["equity.csv", "fills.csv", "orders.csv", "report.html", "summary.json"]
    assert "n/a" in report.text(result) and math.isnan(report.figures(0.0, [1.0], [], [])["return"])


class Tty(io.StringIO):
    def isatty(self):
        return True


def test_progress_redraws_a_bar_on_a_terminal():
    import datetime as dt

    stream = Tty()
    progress = Progress(total=20, stream=stream)
    for minute in range(20):
        progress.bar(dt.datetime(2024, 1, 2, 10, minute), minute // 5)
    progress.done()
    lines = stream.getvalue().split("\r")
    assert lines[1].startswith("[" + "#" * 15) and "10/20 bars" in lines[1]
    assert lines[-1] == "[" + "#" * 30 + "] 20/20 bars, day 2024-01-02, orders 3\n"


def test_the_readme_strategy_runs_as_shown_and_ends(tmp_path):
    with open(os.path.join(TOP, "README.md")) as f:
        readme = f.read()
    section = readme[readme.index("## Writing a strategy"):]
    code = section[section.index("```python") + len("```python"):section.index("```\n", section.index("```python"))]
    proc = subprocess.run([sys.executable, "-c", code], cwd=str(tmp_path), capture_output=True, text=True,
                          timeout=120)
    assert proc.returncode == 0, proc.stderr
    # two days replayed, each up to the daily close at 14:50; it says so
    assert re.fullmatch(r"{} bars, [1-9]\d* orders, ended completed\n".format(2 * 229), proc.stdout)
