"""Lots: a buy is a multiple of 100 shares (STAR: at least 200, in steps of
1); a sell of an odd number of shares takes the whole odd remainder."""

ROWS = [  # security, shares held, side, volume, refusal (None: accepted, filled at once at 10.00)
    ("sse.600000", 0, "buy", 100, None),
    ("sse.600000", 0, "buy", 150, "a buy of 150 shares of sse.600000: volume must be a multiple of 100"),
    ("sse.600000", 0, "buy", 50, "volume must be a multiple of 100"),
    ("sse.600000", 0, "buy", 1, "volume must be a multiple of 100"),
    ("sse.600000", 0, "buy", 12300, None),
    ("szse.300750", 0, "buy", 100, None),
    ("szse.300750", 0, "buy", 250, "a buy of 250 shares of szse.300750: volume must be a multiple of 100"),
    ("szse.000001", 0, "buy", 199, "volume must be a multiple of 100"),
    ("sse.688001", 0, "buy", 200, None),
    ("sse.688001", 0, "buy", 201, None),
    ("sse.688001", 0, "buy", 150, "a buy of 150 shares of sse.688001: volume must be at least 200"),
    ("sse.688001", 0, "buy", 199, "volume must be at least 200"),
    ("sse.600000", 150, "sell", 50, None),
    ("sse.600000", 150, "sell", 150, None),
    ("sse.600000", 150, "sell", 100, None),
    ("sse.600000", 150, "sell", 30, "volume must be a multiple of 100 or include the whole odd remainder of 50 shares"),
    ("sse.600000", 250, "sell", 150, None),
    ("sse.600000", 250, "sell", 120, "include the whole odd remainder of 50 shares"),
    ("sse.600000", 1000, "sell", 50, "a sell of 50 shares of sse.600000: volume must be a multiple of 100"),
    ("sse.600000", 1000, "sell", 1000, None),
    ("sse.600000", 37, "sell", 37, None),
    ("sse.600000", 37, "sell", 20, "include the whole odd remainder of 37 shares"),
    ("sse.688001", 150, "sell", 150, None),
    ("sse.688001", 150, "sell", 100, "volume must be at least 200 or sell every share held"),
    ("sse.688001", 500, "sell", 201, None),
    ("sse.688001", 500, "sell", 199, "volume must be at least 200"),
]


def _step(held, side, volume, refusal):
    if refusal:
        return {"at": (1, 1), side: volume, "refused": refusal, "holding": held}
    after = held + volume if side == "buy" else held - volume
    return {"at": (1, 1), side: volume, "fills": [(volume, 10.0)], "holding": after}


SCENARIOS = [
    {"name": "lot: {} {} of {} holding {}".format(side, volume, security, held), "security": security,
     "holding": held, "steps": [_step(held, side, volume, refusal)]}
    for security, held, side, volume, refusal in ROWS
] + [
    {"name": "lot: the odd remainder already being sold is not odd any more", "holding": 150, "steps": [
        {"at": (1, 1), "sell": (50, 10.5), "fills": [], "orders": {1: ("pending", 0)}},
        {"at": (1, 2), "sell": 50, "refused": "a sell of 50 shares of sse.600000: volume must be a multiple of 100"},
        {"at": (1, 2), "sell": 100, "fills": [(100, 10.0)], "holding": 50},
        {"at": (1, 3), "cancel": 1, "orders": {1: ("cancelled", 0)}, "holding": 50},
    ]},
]
