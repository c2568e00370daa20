"""python -m velmoro.simterm serve --listen ADDRESS [--state DIR] ..."""
import sys

from velmoro.simterm.serve import main

if __name__ == "__main__":
    sys.exit(main())
