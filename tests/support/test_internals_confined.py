"""The interpreter's private and unstable internals are reached through
vm/internals.hpp alone (besides the dict probe, which needs the
interpreter's own headers): any other use in the native sources fails."""
import os
import re

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ALLOWED = {"src/support/include/vm/internals.hpp", "src/support/src/internals.cpp", "src/support/src/dict_probe.cpp"}
INTERNAL = re.compile(r"\b_Py[A-Za-z]|Py_BUILD_CORE|PyUnstable_|\b(?:ma_version_tag|ma_values|ma_keys|tp_version_tag|"
                      r"ht_cached_keys|ob_digit|ob_item|d_member|dk_\w+)\b")


def native_sources():
    for folder in ("src", "bench/native", "tests/support/native"):
        for root, _, files in os.walk(os.path.join(TOP, folder)):
            for name in files:
                if name.endswith((".cpp", ".hpp", ".h", ".c")):
                    yield os.path.relpath(os.path.join(root, name), TOP)


@pytest.mark.skipif(not os.path.isdir(os.path.join(TOP, "src")), reason="no source tree beside the tests")
def test_internals_only_behind_the_support_header():
    found = []
    for path in native_sources():
        if path in ALLOWED:
            continue
        with open(os.path.join(TOP, path), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if INTERNAL.search(line.split("//")[0]):
                    found.append("%s:%d: %s" % (path, number, line.strip()))
    assert not found, "internals outside vm/internals.hpp:\n" + "\n".join(found)
