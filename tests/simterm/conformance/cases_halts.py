"""Halts: no bar at the clock's minute (a halted day or minute, a day the
settings call halted, before the session) fills nothing: a market order is
refused, a limit order waits; limits come from the last traded close."""

SCENARIOS = [
    {"name": "halt: a day without bars refuses a market order, a limit order waits for the next day",
     "bars": {2: [10.0, 10.0]}, "steps": [
         {"at": (1, 1), "buy": 100,
          "refused": "a buy of 100 shares of sse.600000: no bar of sse.600000 at 2024-01-03 09:31 (halted)"},
         {"at": (1, 1), "buy": (100, 10.0), "fills": [], "orders": {1: ("pending", 0)}},
         {"at": (2, 1), "fills": [(100, 10.0)], "orders": {1: ("filled", 100)}},
     ]},
    {"name": "halt: a minute without a bar", "bars": {1: [None, 10.0, 10.0]}, "steps": [
        {"at": (1, 1), "buy": 100, "refused": "no bar of sse.600000 at 2024-01-03 09:31"},
        {"at": (1, 1), "buy": (100, 10.0), "fills": []},
        {"at": (1, 2), "fills": [(100, 10.0)]},
    ]},
    {"name": "halt: a day the settings call halted, though it has bars", "facts": {"halted": [20240103]},
     "bars": {1: [10.0, 10.0], 2: [10.0]}, "steps": [
         {"at": (1, 2), "buy": 100, "refused": "(halted)"},
         {"at": (1, 2), "buy": (100, 10.0), "fills": []},
         {"at": (2, 1), "fills": [(100, 10.0)]},
     ]},
    {"name": "halt: before the session a market order is refused, a limit order fills at the first bar",
     "steps": [
         {"at": (1, 0), "buy": 100, "refused": "no bar of sse.600000 yet today"},
         {"at": (1, 0), "buy": (100, 10.0), "fills": [], "orders": {1: ("pending", 0)}},
         {"at": (1, 1), "fills": [(100, 10.0)]},
     ]},
    {"name": "halt: the limits come from the close before a halted day", "facts": {"halted": [20240103]},
     "bars": {1: [12.0], 2: [10.0]}, "steps": [
         {"at": (2, 1), "buy": (100, 11.01), "refused": "outside the limits 9.00 to 11.00 of 20240104"},
         {"at": (2, 1), "buy": (100, 11.0), "fills": [(100, 10.0)]},
     ]},
    {"name": "halt: the limits after a day without bars", "bars": {2: [10.5]}, "steps": [
        {"at": (2, 1), "buy": (100, 11.01), "refused": "outside the limits 9.00 to 11.00 of 20240104"},
    ]},
    {"name": "halt: a market sell on a halted day is refused and the shares stay", "holding": 100,
     "bars": {2: [10.0]}, "steps": [
         {"at": (1, 1), "sell": 100, "refused": "(halted)", "holding": 100},
         {"at": (2, 1), "sell": 100, "fills": [(100, 10.0)], "holding": 0},
     ]},
    {"name": "halt: a limit sell waits through a halt", "holding": 100, "bars": {2: [10.2]}, "steps": [
        {"at": (1, 1), "sell": (100, 10.0), "fills": [], "available": 0},
        {"at": (2, 1), "fills": [(100, 10.2)], "holding": 0},
    ]},
]
