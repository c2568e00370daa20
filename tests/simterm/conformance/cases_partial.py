"""Partial fills: an order takes at most 25 % of a bar's volume, rounded
down to the lot; the rest of a limit order waits for later bars (and days),
the rest of a market order is cancelled; orders on one bar share it."""

SCENARIOS = [
    {"name": "partial: a limit buy fills a quarter of each bar's volume", "bars": {
        1: [(10.0, 1000)] * 3, 2: [(10.0, 1000)] * 2}, "steps": [
        {"at": (1, 1), "buy": (1000, 10.0), "fills": [(200, 10.0)], "orders": {1: ("partial", 200)}},
        {"at": (1, 3), "fills": [(200, 10.0)] * 2, "orders": {1: ("partial", 600)}},
        {"at": (2, 2), "fills": [(200, 10.0)] * 2, "orders": {1: ("filled", 1000)}, "holding": 1000},
    ]},
    {"name": "partial: a market buy's rest is cancelled", "bars": {1: [(10.0, 1000)] * 2}, "steps": [
        {"at": (1, 1), "buy": 1000, "fills": [(200, 10.0)], "orders": {1: ("cancelled", 200)}, "holding": 200},
        {"at": (1, 2), "fills": []},
    ]},
    {"name": "partial: two market orders share one bar", "bars": {1: [(10.0, 2000)]}, "steps": [
        {"at": (1, 1), "buy": 300, "fills": [(300, 10.0)]},
        {"at": (1, 1), "buy": 300, "fills": [(200, 10.0)], "orders": {2: ("cancelled", 200)}},
        {"at": (1, 1), "buy": 100, "refused": "the bar at 2024-01-03 09:31 has no volume left for it"},
    ]},
    {"name": "partial: waiting orders share a bar in the order placed",
     "bars": {1: [(10.3, 2000), (10.0, 2000), (10.0, 2000)]}, "steps": [
         {"at": (1, 1), "buy": (300, 10.0), "fills": []},
         {"at": (1, 1), "buy": (300, 10.0), "fills": []},
         {"at": (1, 2), "fills": [(300, 10.0), (200, 10.0)], "orders": {1: ("filled", 300), 2: ("partial", 200)}},
         {"at": (1, 3), "fills": [(100, 10.0)], "orders": {2: ("filled", 300)}},
     ]},
    {"name": "partial: cancelling keeps what filled", "bars": {1: [(10.0, 800)] * 3}, "steps": [
        {"at": (1, 1), "buy": (600, 10.0), "fills": [(200, 10.0)]},
        {"at": (1, 1), "cancel": 1, "orders": {1: ("cancelled", 200)}, "holding": 200, "cash": 997994.98},
        {"at": (1, 3), "fills": [], "holding": 200},
    ]},
    {"name": "partial: the STAR board fills in steps of one share", "security": "sse.688001",
     "bars": {1: [(10.0, 1000)] * 2}, "steps": [
         {"at": (1, 1), "buy": (300, 10.0), "fills": [(250, 10.0)]},
         {"at": (1, 2), "fills": [(50, 10.0)], "orders": {1: ("filled", 300)}},
     ]},
    {"name": "partial: a market sell's rest is cancelled, the odd rest sold after", "holding": 150,
     "bars": {1: [(10.0, 400)] * 2}, "steps": [
         {"at": (1, 1), "sell": 150, "fills": [(100, 10.0)], "orders": {1: ("cancelled", 100)}, "holding": 50},
         {"at": (1, 2), "sell": 50, "fills": [(50, 10.0)], "holding": 0},
     ]},
    {"name": "partial: the average price is over the fills",
     "bars": {1: [(10.0, 800), (10.1, 800), (10.2, 800)]}, "steps": [
         {"at": (1, 1), "buy": (600, 10.2), "fills": [(200, 10.0)], "orders": {1: ("partial", 200, 10.0)}},
         {"at": (1, 3), "fills": [(200, 10.1), (200, 10.2)], "orders": {1: ("filled", 600, 10.1)}},
     ]},
    {"name": "partial: a bar without volume fills nothing", "bars": {1: [(10.0, 0), 10.0]}, "steps": [
        {"at": (1, 1), "buy": 100, "refused": "the bar at 2024-01-03 09:31 has no volume left for it"},
        {"at": (1, 1), "buy": (100, 10.0), "fills": []},
        {"at": (1, 2), "fills": [(100, 10.0)]},
    ]},
    {"name": "partial: a quarter below one lot fills nothing", "bars": {1: [(10.0, 300), (10.0, 400)]}, "steps": [
        {"at": (1, 1), "buy": (100, 10.0), "fills": []},
        {"at": (1, 2), "fills": [(100, 10.0)]},
    ]},
    {"name": "partial: a quarter is rounded down to the lot", "bars": {1: [(10.0, 700), (10.0, 400)]}, "steps": [
        {"at": (1, 1), "buy": (200, 10.0), "fills": [(100, 10.0)]},
        {"at": (1, 2), "fills": [(100, 10.0)]},
    ]},
    {"name": "partial: the last fill takes only the rest", "bars": {1: [(10.0, 800)] * 2}, "steps": [
        {"at": (1, 1), "buy": (300, 10.0), "fills": [(200, 10.0)]},
        {"at": (1, 2), "fills": [(100, 10.0)], "orders": {1: ("filled", 300)}},
    ]},
    {"name": "partial: bars the limit does not allow are skipped",
     "bars": {1: [(10.0, 800), (10.3, 800), (10.0, 800)]}, "steps": [
         {"at": (1, 1), "buy": (600, 10.1), "fills": [(200, 10.0)]},
         {"at": (1, 3), "fills": [(200, 10.0)], "orders": {1: ("partial", 400)}},
     ]},
    {"name": "partial: a limit order keeps working the next day", "bars": {1: [(10.0, 800)], 2: [(10.0, 800)]},
     "steps": [
         {"at": (1, 1), "buy": (400, 10.0), "fills": [(200, 10.0)]},
         {"at": (2, 1), "fills": [(200, 10.0)], "orders": {1: ("filled", 400)}},
     ]},
    {"name": "partial: a large market sell takes a quarter of the bar", "holding": 10000,
     "bars": {1: [(10.0, 8000)]}, "steps": [
         {"at": (1, 1), "sell": 10000, "fills": [(2000, 10.0)], "orders": {1: ("cancelled", 2000)},
          "holding": 8000, "available": 8000},
     ]},
]
