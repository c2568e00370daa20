"""`python -m velmoro`: the `velmoro` command line."""
import sys

from velmoro.cli import main

sys.exit(main())
