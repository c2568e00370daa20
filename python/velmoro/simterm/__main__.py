"""python -m velmoro.simterm serve --listen ADDRESS ...: `velmoro terminal
serve`, the same command with the same errors."""
import sys

from velmoro.cli import main

if __name__ == "__main__":
    sys.exit(main(["terminal"] + sys.argv[1:]))
