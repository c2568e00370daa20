"""Price limits: from the previous close, rounded half up to 0.01, by board,
date and special treatment; none on a listing's first days where the board
says so; a bar locked at the limit fills nothing against it."""

LOCK_UP = (11.0, 11.0, 11.0, 11.0, 1000000)
LOCK_DOWN = (9.0, 9.0, 9.0, 9.0, 1000000)

ROWS = [  # security, day 0, previous close, facts, side, limit price, refusal (None: accepted)
    ("sse.600000", 20240102, 10.0, {}, "buy", 11.00, None),
    ("sse.600000", 20240102, 10.0, {}, "buy", 11.01,
     "a buy of 100 shares of sse.600000 at 11.01: the price is outside the limits 9.00 to 11.00 of 20240103"),
    ("sse.600000", 20240102, 10.0, {}, "buy", 9.00, None),
    ("sse.600000", 20240102, 10.0, {}, "buy", 8.99, "outside the limits 9.00 to 11.00"),
    ("sse.600000", 20240102, 10.0, {}, "sell", 11.01, "outside the limits 9.00 to 11.00"),
    ("sse.600000", 20240102, 10.0, {}, "sell", 9.00, None),
    ("sse.600000", 20240102, 7.23, {}, "buy", 7.95, None),
    ("sse.600000", 20240102, 7.23, {}, "buy", 7.96, "outside the limits 6.51 to 7.95"),
    ("sse.600000", 20240102, 7.23, {}, "buy", 6.50, "outside the limits 6.51 to 7.95"),
    ("sse.600000", 20240102, 10.05, {}, "buy", 11.06, None),
    ("sse.600000", 20240102, 10.05, {}, "buy", 11.07, "outside the limits 9.05 to 11.06"),
    ("sse.600000", 20240102, 10.05, {}, "sell", 9.04, "outside the limits 9.05 to 11.06"),
    ("szse.300750", 20200819, 10.0, {}, "buy", 11.00, None),
    ("szse.300750", 20200819, 10.0, {}, "buy", 11.01, "outside the limits 9.00 to 11.00 of 20200820"),
    ("szse.300750", 20240102, 10.0, {}, "buy", 12.00, None),
    ("szse.301001", 20240102, 10.0, {}, "buy", 12.01, "outside the limits 8.00 to 12.00"),
    ("sse.688001", 20240102, 10.0, {}, "buy", 12.00, None),
    ("sse.688001", 20240102, 10.0, {}, "buy", 12.01, "outside the limits 8.00 to 12.00"),
    ("sse.688001", 20240102, 10.0, {}, "sell", 7.99, "outside the limits 8.00 to 12.00"),
    ("sse.600000", 20240102, 10.0, {"special": [(20240101, 20240131)]}, "buy", 10.50, None),
    ("sse.600000", 20240102, 10.0, {"special": [(20240101, 20240131)]}, "buy", 10.51,
     "outside the limits 9.50 to 10.50"),
    ("szse.000001", 20240102, 10.0, {"special": [(20240103, 20240103)]}, "sell", 9.49,
     "outside the limits 9.50 to 10.50"),
    ("sse.600000", 20240102, 10.0, {"special": [(20231201, 20240102)]}, "buy", 11.00, None),
    ("szse.300750", 20240102, 10.0, {"special": [(20240101, 20240131)]}, "buy", 12.00, None),
    ("szse.300750", 20200819, 10.0, {"special": [(20200101, 20201231)]}, "buy", 10.51,
     "outside the limits 9.50 to 10.50 of 20200820"),
    ("sse.688001", 20240102, 10.0, {"listed": 20240103}, "buy", 20.00, None),
    ("sse.688001", 20240102, 10.0, {"listed": 20231228}, "buy", 20.00, None),
    ("sse.688001", 20240102, 10.0, {"listed": 20231227}, "buy", 20.00, "outside the limits 8.00 to 12.00"),
    ("sse.600000", 20230103, 10.0, {"listed": 20230103}, "buy", 11.01, "outside the limits 9.00 to 11.00 of 20230104"),
    ("sse.600000", 20240102, 10.0, {"listed": 20240102}, "buy", 11.01, None),
    ("szse.300750", 20240102, 10.0, {"listed": 20231229}, "buy", 13.00, None),
    ("szse.300750", 20200819, 10.0, {"listed": 20200819}, "buy", 11.01, "outside the limits 9.00 to 11.00"),
]


def _fills_at_once(side, price, previous):
    return price >= previous if side == "buy" else price <= previous


def _row(security, start, previous, facts, side, price, refusal):
    volume = 200 if security.startswith("sse.688") else 100  # the STAR board's least
    step = {"at": (1, 1), side: (volume, price)}
    if refusal:
        step.update(refused=refusal, orders={})
    elif _fills_at_once(side, price, previous):
        step.update(fills=[(volume, previous)], orders={1: ("filled", volume)})
    else:
        step.update(fills=[], orders={1: ("pending", 0)})
    return {"name": "limit: {} {} at {:.2f} of {} from {} {}".format(side, security, price, start, previous, facts),
            "security": security, "start": start, "previous": previous, "facts": facts,
            "holding": volume if side == "sell" else 0, "bars": {1: [previous] * 3}, "steps": [step]}


SCENARIOS = [_row(*row) for row in ROWS] + [
    {"name": "limit: ChiNext widens to 20 % on 2020-08-24", "security": "szse.300750", "start": 20200819,
     "bars": {1: [10.0], 2: [10.0], 3: [10.0]}, "steps": [
         {"at": (1, 1), "buy": (100, 11.5), "refused": "outside the limits 9.00 to 11.00 of 20200820"},
         {"at": (3, 1), "buy": (100, 11.5), "fills": [(100, 10.0)]},
     ]},
    {"name": "limit: a day closing at the limit moves the next day's limits", "bars": {1: [LOCK_UP], 2: [11.0]},
     "steps": [
         {"at": (2, 1), "buy": (100, 12.11), "refused": "outside the limits 9.90 to 12.10 of 20240104"},
         {"at": (2, 1), "buy": (100, 12.10), "fills": [(100, 11.0)]},
     ]},
    {"name": "locked: a limit buy waits while the bar is locked at the upper limit",
     "bars": {1: [LOCK_UP, LOCK_UP, 10.9]}, "steps": [
         {"at": (1, 1), "buy": (100, 11.0), "fills": [], "orders": {1: ("pending", 0)}},
         {"at": (1, 2), "fills": []},
         {"at": (1, 3), "fills": [(100, 10.9)], "holding": 100},
     ]},
    {"name": "locked: a market buy on a bar locked at the upper limit is refused", "bars": {1: [LOCK_UP]},
     "steps": [{"at": (1, 1), "buy": 100, "refused":
                "a buy of 100 shares of sse.600000: the bar at 2024-01-03 09:31 is locked at the upper limit 11.00"}]},
    {"name": "locked: a sell fills on a bar locked at the upper limit", "holding": 100, "bars": {1: [LOCK_UP]},
     "steps": [{"at": (1, 1), "sell": 100, "fills": [(100, 11.0)], "holding": 0}]},
    {"name": "locked: a market sell on a bar locked at the lower limit is refused", "holding": 100,
     "bars": {1: [LOCK_DOWN]},
     "steps": [{"at": (1, 1), "sell": 100, "refused": "is locked at the lower limit 9.00", "holding": 100}]},
    {"name": "locked: a limit sell waits while the bar is locked at the lower limit", "holding": 100,
     "bars": {1: [LOCK_DOWN, LOCK_DOWN, 9.1]}, "steps": [
         {"at": (1, 1), "sell": (100, 9.0), "fills": []},
         {"at": (1, 3), "fills": [(100, 9.1)], "holding": 0},
     ]},
    {"name": "locked: a buy fills on a bar locked at the lower limit", "bars": {1: [LOCK_DOWN]},
     "steps": [{"at": (1, 1), "buy": 100, "fills": [(100, 9.0)]}]},
    {"name": "locked: a bar touching the limit but trading below it is not locked",
     "bars": {1: [(10.9, 11.0, 10.9, 11.0, 1000000)]},
     "steps": [{"at": (1, 1), "buy": 100, "fills": [(100, 11.0)]}]},
]
