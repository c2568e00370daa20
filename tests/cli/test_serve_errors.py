"""`velmoro terminal serve` and `python -m velmoro.simterm serve` are one
command: the same one-line errors, and --traceback where a user puts it."""
import re
import subprocess
import sys

import pytest

ENTRIES = (["velmoro", "terminal"], ["velmoro.simterm"])


def serve(entry, *args):
    return subprocess.run([sys.executable, "-m", *entry, *args], capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("args, status, line", [
    (["--listen", "banana"], 1, r"^velmoro terminal: ValueError: a terminal address is unix:PATH or tcp://HOST:PORT, "
                                r"not 'banana' \(--traceback shows the whole chain\)$"),
    (["--listen", "unix:/proc/velmoro-none/t.sock"], 2,
     r"^velmoro terminal: the terminal cannot start: cannot listen at unix:/proc/velmoro-none/t\.sock: "),
    (["--listen", "unix:t.sock", "--state", "/proc/velmoro-none"], 1, r"^velmoro terminal: FileNotFoundError: "),
])
def test_a_refused_start_is_one_line_from_either_entry(args, status, line):
    runs = [serve(entry, "serve", *args) for entry in ENTRIES]
    assert runs[0].stderr == runs[1].stderr and [r.returncode for r in runs] == [status, status]
    errors = runs[0].stderr.splitlines()
    assert len(errors) == 1 and re.search(line, errors[0]), runs[0].stderr


@pytest.mark.parametrize("entry, args", [
    (ENTRIES[0], ["serve", "--listen", "banana", "--traceback"]),
    (ENTRIES[0], ["--traceback", "serve", "--listen", "banana"]),
    (ENTRIES[1], ["serve", "--traceback", "--listen", "banana"]),
])
def test_traceback_wherever_it_is_given(entry, args):
    proc = serve(entry, *args)
    assert proc.returncode == 1 and proc.stderr.startswith("Traceback (most recent call last)")
    assert proc.stderr.splitlines()[-1].startswith("velmoro terminal: ValueError: a terminal address")
