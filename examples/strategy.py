"""The example strategy as a strategy file for the command line:

    velmoro run examples/strategy.py --targets sse.600000,szse.000001 --begin 20240103 --end 20240105

Its code is velmoro/demo/strategy.py (the demo runs the same strategy).
"""
from velmoro.demo.strategy import ACCOUNTS, FACTORS, STRATEGY, initialize, on_data

__all__ = ["ACCOUNTS", "FACTORS", "STRATEGY", "initialize", "on_data"]
