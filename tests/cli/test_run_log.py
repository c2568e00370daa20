"""The run's log: at info it grows with the days, not the bars, one line per
event; at debug it keeps every bar's steps."""
import collections

import pytest



@pytest.mark.parametrize("end", ["20240103", "20240105"])
def test_info_grows_with_days(example, velmoro, tmp_path, end):
    proc = velmoro("run", example, "--targets", "sse.600000", "--begin", "20240103", "--end", end, "--out", "out")
    assert proc.returncode == 0, proc.stderr
    lines = (tmp_path / "out" / "velmoro.log").read_text().splitlines()
    days = 1 if end == "20240103" else 3
    # the start, a line per day, the end (and the strategy's own warnings, if any)
    assert days + 2 <= len(lines) <= 2 * days + 4
    # one record per event: a line repeats only as the day's event it is (the strategy's daily query)
    events = collections.Counter(line.split(" ", 2)[2] for line in lines)  # without the time
    assert max(events.values()) <= days


def test_debug_keeps_the_detail(example, velmoro, tmp_path):
    proc = velmoro("run", example, "--targets", "sse.600000", "--begin", "20240103", "--end", "20240103",
                   "--out", "out", "--log-level", "debug")
    text = (tmp_path / "out" / "velmoro.log").read_text()
    assert proc.returncode == 0 and proc.stderr == "" and text.count("refresh position") >= 229
