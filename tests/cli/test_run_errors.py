"""A user's mistakes end `velmoro run` with one line led by the user's own
file and line; a run that fails midway still writes its report."""
import json
import re

import pytest


DAYS = ["--begin", "20240103", "--end", "20240104"]
RAISES = "def helper(x):\n    return 1 / x\n\n\ndef on_data(context):\n    if context.now.hour == 10:\n        helper(0)\n"
NO_PRICE = ("from velmoro.tframe.comm import vmcmd\n\n\ndef on_data(context):\n    vmcmd.vmSendCmdSTTradeOperation("
            "{'Handle': 1001, 'Market': 'sse', 'Code': '600000', 'Side': 'buy', 'Volume': 100, 'OrderType': 'limit'})\n")
QUIET = "def on_data(context):\n    pass\n"


@pytest.mark.parametrize("body, args, env, status, line", [
    (RAISES, [], {}, 1, r"^velmoro run: strategy\.py:2 in helper: ZeroDivisionError: division by zero"),
    ("def on_data(context)\n    pass\n", [], {}, 2, r"^velmoro run: .*strategy\.py:1: SyntaxError"),
    (NO_PRICE, [], {}, 1, r"strategy\.py:5 in on_data: .*a limit order needs Price, a positive number"),
    (QUIET, ["--targets", "nyse.600000"], {}, 1, r"unknown target nyse\.600000: Market 'nyse' is none of sse, szse"),
    (QUIET, ["--terminal", "banana"], {}, 2, r"^velmoro run: --terminal 'banana' is not a terminal: 'embedded'"),
    (QUIET, [], {"VELMORO_TERMINAL": "banana"}, 2, r"^velmoro run: VELMORO_TERMINAL 'banana' is not a terminal"),
    (QUIET, ["--terminal", "tcp://127.0.0.1:9", "--token-file", "no-such.token"], {}, 1,
     r"^velmoro run: terminal tcp://127\.0\.0\.1:9: no token file no-such\.token \(the server's: --token-file"),
    (QUIET, ["--terminal", "unix:no-folder/t.sock"], {}, 1, r"^velmoro run: cannot reach the terminal at unix:no-fo"),
])
def test_a_mistake_is_one_line(velmoro, strategy, body, args, env, status, line):
    args = args if "--targets" in args else args + ["--targets", "sse.600000"]
    proc = velmoro("run", strategy(body), *args, *DAYS, "--out", "out", env=env)
    errors = proc.stderr.splitlines()
    assert proc.returncode == status and len(errors) == 1 and re.search(line, errors[0]), proc.stderr


def test_traceback_shows_the_chain(velmoro, strategy):
    proc = velmoro("run", strategy(RAISES), "--targets", "sse.600000", *DAYS, "--out", "out", "--traceback")
    assert proc.returncode == 1 and "Traceback (most recent call last)" in proc.stderr
    assert proc.stderr.strip().splitlines()[-1].startswith("velmoro run: strategy.py:2 in helper")


def test_a_failed_run_writes_its_report(velmoro, strategy, tmp_path):
    proc = velmoro("run", strategy(RAISES), "--targets", "sse.600000", *DAYS, "--out", "out")
    summary = json.loads((tmp_path / "out" / "summary.json").read_text())
    assert summary["ended"] == "error" and summary["error"] == "ZeroDivisionError: division by zero"
    # the 10:00 bar of the first day, after the 29 bars before it
    assert summary["failed_at"] == "2024-01-03 10:00:00" and summary["bars"] == 30
    assert "run failed after 30 bars: ZeroDivisionError" in (tmp_path / "out" / "velmoro.log").read_text()
    assert "the run failed" in proc.stdout


def test_version(velmoro):
    proc = velmoro("--version")
    assert proc.returncode == 0 and re.match(r"velmoro \d+\.\d+\.\d+ \(Python 3\.\d+", proc.stdout)


def test_day_bars_start_on_the_first_day_and_say_nothing_on_the_console(velmoro, strategy):
    seen = "def on_data(context):\n    print('bar', context.now.date())\n"
    proc = velmoro("run", strategy(seen), "--targets", "sse.600000", "--begin", "20240103", "--end", "20240105",
                   "--frequency", "day", "--out", "out")
    assert proc.returncode == 0 and proc.stderr == ""
    assert re.findall(r"^bar (\S+)", proc.stdout, re.M) == ["2024-01-03", "2024-01-04", "2024-01-05"]
    assert "3/3 bars" in proc.stdout and "4/3" not in proc.stdout


def test_the_example_strategy_reports_one_name(example, velmoro, tmp_path):
    proc = velmoro("run", example, "--targets", "sse.600000,szse.000001", *DAYS, "--out", "out")
    assert proc.returncode == 0 and proc.stdout.startswith("terminal: embedded, trading days 20240103..20240104")
    summary = json.loads((tmp_path / "out" / "summary.json").read_text())
    orders = (tmp_path / "out" / "orders.csv").read_text().splitlines()
    assert summary["strategy"] == "momentum-demo" and all(",momentum-demo," in row for row in orders[1:])


def test_ctrl_c_is_said_once_in_bars(velmoro, strategy, tmp_path):
    body = "def on_data(context):\n    if context.now.hour == 10:\n        raise KeyboardInterrupt\n"
    proc = velmoro("run", strategy(body), "--targets", "sse.600000", *DAYS, "--out", "out")
    assert proc.returncode == 130
    assert proc.stderr.splitlines() == ["velmoro: strategy strategy: run interrupted after 30 bars"]
    assert json.loads((tmp_path / "out" / "summary.json").read_text())["ended"] == "interrupted"
