"""What derives from the native modules' declarations (the stubs' functions,
vmserial's send list) is committed as tools/stubgen writes it."""
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_derived_files_are_as_the_declarations_write_them():
    proc = subprocess.run([sys.executable, os.path.join(TOP, "tools", "stubgen"), "--check"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    assert proc.returncode == 0, proc.stdout
