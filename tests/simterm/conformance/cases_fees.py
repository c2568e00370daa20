"""Fees: commission 0.025 % with 5 CNY per order, stamp duty on sells
(0.1 %, 0.05 % from 2023-08-28), transfer fee (0.002 %, 0.001 % from
2022-04-29), each rounded half up to the cent; cash moves by exactly the
amount plus or minus them."""

SCENARIOS = [
    {"name": "fees: a small buy pays the minimum commission", "steps": [
        {"at": (1, 1), "buy": 100, "fees": [(5.00, 0, 0.01)], "cash": 998994.99}]},
    {"name": "fees: a sell pays stamp duty", "holding": 100, "steps": [
        {"at": (1, 1), "sell": 100, "fees": [(5.00, 0.50, 0.01)], "cash": 1000994.49}]},
    {"name": "fees: stamp duty 0.1 % on the last day before the cut", "start": 20230824, "holding": 1000,
     "steps": [{"at": (1, 1), "sell": 1000, "fees": [(5.00, 10.00, 0.10)], "cash": 1009984.90}]},
    {"name": "fees: stamp duty 0.05 % from 2023-08-28", "start": 20230825, "holding": 1000,
     "steps": [{"at": (1, 1), "sell": 1000, "fees": [(5.00, 5.00, 0.10)], "cash": 1009989.90}]},
    {"name": "fees: transfer fee 0.002 % before 2022-04-29", "start": 20220427, "steps": [
        {"at": (1, 1), "buy": 10000, "fees": [(25.00, 0, 2.00)], "cash": 899973.00}]},
    {"name": "fees: transfer fee 0.001 % from 2022-04-29", "start": 20220428, "steps": [
        {"at": (1, 1), "buy": 10000, "fees": [(25.00, 0, 1.00)], "cash": 899974.00}]},
    {"name": "fees: a large buy pays the rate", "steps": [
        {"at": (1, 1), "buy": 50000, "fees": [(125.00, 0, 5.00)], "cash": 499870.00}]},
    {"name": "fees: commission rounds half up", "previous": 10.01, "bars": {1: [10.01]}, "steps": [
        {"at": (1, 1), "buy": 2000, "fees": [(5.01, 0, 0.20)], "cash": 979974.79}]},
    {"name": "fees: stamp duty rounds half up", "previous": 10.10, "holding": 100, "bars": {1: [10.10]},
     "steps": [{"at": (1, 1), "sell": 100, "fees": [(5.00, 0.51, 0.01)], "cash": 1001004.48}]},
    {"name": "fees: transfer fee rounds half up", "previous": 15.0, "bars": {1: [15.0]}, "steps": [
        {"at": (1, 1), "buy": 100, "fees": [(5.00, 0, 0.02)], "cash": 998494.98}]},
    {"name": "fees: the minimum commission is per order, not per fill", "bars": {1: [(10.0, 800)] * 5}, "steps": [
        {"at": (1, 1), "buy": (1000, 10.0), "fills": [(200, 10.0)], "fees": [(5.00, 0, 0.02)]},
        {"at": (1, 5), "fills": [(200, 10.0)] * 4, "fees": [(0, 0, 0.02)] * 4, "cash": 989994.90,
         "orders": {1: ("filled", 1000)}},
    ]},
    {"name": "fees: commission above the minimum is charged fill by fill", "bars": {1: [(10.0, 80000)] * 2},
     "steps": [
         {"at": (1, 1), "buy": (40000, 10.0), "fees": [(50.00, 0, 2.00)]},
         {"at": (1, 2), "fees": [(50.00, 0, 2.00)], "cash": 599896.00},
     ]},
    {"name": "fees: cash must cover the fees too", "cash": 1005.00, "steps": [
        {"at": (1, 1), "buy": 100, "refused": "a buy of 100 shares of sse.600000: not enough cash in account 1001"}]},
    {"name": "fees: cash covering amount and fees to the cent", "cash": 1005.01, "steps": [
        {"at": (1, 1), "buy": 100, "fills": [(100, 10.0)], "cash": 0.00}]},
    {"name": "fees: a round trip over two days", "steps": [
        {"at": (1, 1), "buy": 100, "cash": 998994.99},
        {"at": (2, 1), "sell": 100, "fees": [(5.00, 0.50, 0.01)], "cash": 999989.48, "holding": 0},
    ]},
    {"name": "fees: a market order's cancelled rest pays nothing more", "bars": {1: [(10.0, 800)]}, "steps": [
        {"at": (1, 1), "buy": 1000, "fills": [(200, 10.0)], "fees": [(5.00, 0, 0.02)], "cash": 997994.98}]},
]
