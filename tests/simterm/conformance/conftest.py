"""The trading-rule conformance suite: scenarios as data (cases_*.py) run
through the command channel against a terminal over scripted bars."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
