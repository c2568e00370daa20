"""The rules together: T+1 with a partial fill, a halt on a limit day, an
odd-lot sell after a partial fill, a fee rule crossing its date."""

LOCK_UP = (11.0, 11.0, 11.0, 11.0, 1000000)

SCENARIOS = [
    {"name": "combined: T+1 with a partial fill", "bars": {1: [(10.0, 800)], 2: [(10.0, 800), 10.0]}, "steps": [
        {"at": (1, 1), "buy": (400, 10.0), "fills": [(200, 10.0)], "available": 0},
        {"at": (1, 1), "sell": 200, "refused": "a sell of 200 shares of sse.600000: not enough sellable shares"},
        {"at": (2, 1), "fills": [(200, 10.0)], "holding": 400, "available": 200},
        {"at": (2, 2), "sell": 200, "fills": [(200, 10.0)], "holding": 200},
        {"at": (2, 2), "sell": 100, "refused": "not enough sellable shares"},
    ]},
    {"name": "combined: a halt after a limit day", "bars": {1: [LOCK_UP] * 2, 3: [10.8]}, "steps": [
        {"at": (1, 1), "buy": (100, 11.0), "fills": []},
        {"at": (2, 1), "buy": 100, "refused": "(halted)", "fills": []},
        {"at": (3, 1), "fills": [(100, 10.8)], "orders": {1: ("filled", 100)}},
    ]},
    {"name": "combined: an odd-lot rest sold after partial fills", "holding": 250,
     "bars": {1: [(10.0, 400)] * 3}, "steps": [
         {"at": (1, 1), "sell": (250, 10.0), "fills": [(100, 10.0)]},
         {"at": (1, 3), "fills": [(100, 10.0), (50, 10.0)], "orders": {1: ("filled", 250)}, "holding": 0},
     ]},
    {"name": "combined: stamp duty changes between two fills of one order", "start": 20230824, "holding": 2000,
     "bars": {1: [(10.0, 4000)], 2: [(10.0, 4000)]}, "steps": [
         {"at": (1, 1), "sell": (2000, 10.0), "fees": [(5.00, 10.00, 0.10)]},
         {"at": (2, 1), "fees": [(0, 5.00, 0.10)], "cash": 1019979.80, "holding": 0},
     ]},
    {"name": "combined: transfer fee changes between two fills of one order", "start": 20220427,
     "bars": {1: [(10.0, 40000)], 2: [(10.0, 40000)]}, "steps": [
         {"at": (1, 1), "buy": (20000, 10.0), "fees": [(25.00, 0, 2.00)]},
         {"at": (2, 1), "fees": [(25.00, 0, 1.00)], "cash": 799947.00, "holding": 20000},
     ]},
    {"name": "combined: bought before the stamp cut, sold after it", "start": 20230824,
     "bars": {1: [10.0], 2: [10.0]}, "steps": [
         {"at": (1, 1), "buy": 1000, "fees": [(5.00, 0, 0.10)]},
         {"at": (2, 1), "sell": 1000, "fees": [(5.00, 5.00, 0.10)], "cash": 999984.80},
     ]},
    {"name": "combined: a partial fill paused by a locked bar",
     "bars": {1: [(10.0, 800), (11.0, 11.0, 11.0, 11.0, 800), (10.5, 800)]}, "steps": [
         {"at": (1, 1), "buy": (600, 11.0), "fills": [(200, 10.0)]},
         {"at": (1, 3), "fills": [(200, 10.5)], "orders": {1: ("partial", 400)}},
     ]},
    {"name": "combined: special treatment locks at 5 %, then a partial fill",
     "facts": {"special": [(20240103, 20240103)]},
     "bars": {1: [(10.5, 10.5, 10.5, 10.5, 800), (10.4, 800)]}, "steps": [
         {"at": (1, 1), "buy": (400, 10.5), "fills": []},
         {"at": (1, 2), "fills": [(200, 10.4)], "orders": {1: ("partial", 200)}},
     ]},
    {"name": "combined: STAR partial buy, then every share held sold", "security": "sse.688001",
     "bars": {1: [(10.0, 1000)], 2: [10.0]}, "steps": [
         {"at": (1, 1), "buy": 300, "fills": [(250, 10.0)], "orders": {1: ("cancelled", 250)}},
         {"at": (2, 1), "sell": 100, "refused": "volume must be at least 200 or sell every share held"},
         {"at": (2, 1), "sell": 250, "fills": [(250, 10.0)], "holding": 0},
     ]},
    {"name": "combined: a pending order on a halted day waits, then meets a new limit",
     "bars": {1: [LOCK_UP], 3: [(12.0, 800), (11.9, 800)]}, "steps": [
         {"at": (1, 1), "buy": (400, 12.0), "refused": "outside the limits 9.00 to 11.00"},
         {"at": (1, 1), "buy": (400, 11.0), "fills": []},
         {"at": (2, 1), "fills": []},
         {"at": (3, 2), "fills": [], "orders": {1: ("pending", 0)}},
         {"at": (3, 2), "buy": (400, 12.0), "fills": [(200, 11.9)]},
     ]},
]
