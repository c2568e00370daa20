"""The 39 fundamental queries as the tests expect them: module, name, parameters.

A test taking `query` runs once per query; one taking `query_pair` once per
(query, date pair); one taking `query_param` once per (query, parameter);
one taking `module_queries` once per module, with its queries in order.
"""
import importlib

STATEMENT = ("target_list", "report_type", "begin_date", "end_date", "publish_date_begin", "publish_date_end", "field")
QUARTER = ("target_list", "report_type", "begin_date", "end_date", "field")
QUARTER_PIT = (
    "target_list", "report_type", "begin_date", "end_date",
    "publish_date_begin", "publish_date_end", "is_new", "is_calc", "field",
)
TRAILING = (
    "target_list", "begin_date", "end_date", "publish_date_begin", "publish_date_end", "is_new", "is_calc", "field",
)

EARNINGS = "velmoro.api.fundamental.fdmt.earnings"
LEDGER = "velmoro.api.fundamental.fdmt.ledger"
RESTRICTED = "velmoro.api.fundamental.company.restricted"

# in the order each module defines them
QUERIES = (
    [(EARNINGS, "is_{}pit".format(f), STATEMENT) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [(EARNINGS, "is_{}latest".format(f), STATEMENT) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [(EARNINGS, "is_{}q".format(f), QUARTER) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [(EARNINGS, "is_{}q_pit".format(f), QUARTER_PIT) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [(EARNINGS, "is_{}ttm_pit".format(f), TRAILING) for f in ("", "bank_", "indu_", "insu_", "secu_")]
    + [(LEDGER, "ledger_{}pit".format(f), STATEMENT) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [(LEDGER, "ledger_{}latest".format(f), STATEMENT) for f in ("", "bank_", "secu_", "indu_", "insu_")]
    + [
        (RESTRICTED, "equ_ipo_float", ("target_list", "publish_date_begin", "publish_date_end", "field")),
        (
            RESTRICTED,
            "equ_shares_float",
            ("target_list", "float_date_begin", "float_date_end", "publish_date_begin", "publish_date_end", "field"),
        ),
        (RESTRICTED, "equ_share_float", ("target_list", "begin_date", "end_date", "field")),
        (RESTRICTED, "equ_reform_float", ("target_list", "begin_date", "end_date", "field")),
    ]
)

SEQUENCES = ("report_type", "is_new", "is_calc", "field")
# begin -> end; report period, publication dates, float dates
PAIRS = {"begin_date": "end_date", "publish_date_begin": "publish_date_end", "float_date_begin": "float_date_end"}
BEGINS = tuple(PAIRS)
ENDS = tuple(PAIRS.values())
FLOAT_BOUNDS = ("float_date_begin", "float_date_end")


class Query:
    """One query function as expected: its module, name and parameter names."""

    def __init__(self, module_name, name, params):
        self.module_name = module_name
        self.name = name
        self.params = params

    @property
    def module(self):
        return importlib.import_module(self.module_name)

    @property
    def func(self):
        return getattr(self.module, self.name)

    @property
    def bounds(self):
        return [p for p in self.params if p in BEGINS or p in ENDS]

    @property
    def pairs(self):
        """(begin, end) pairs in the order they are tested."""
        return [(b, PAIRS[b]) for b in BEGINS if b in self.params]

    def default(self, param):
        if param == "target_list":
            return None
        return () if param in SEQUENCES else ""

    def __repr__(self):
        return self.name


ALL = [Query(*row) for row in QUERIES]


def pytest_generate_tests(metafunc):
    if "query" in metafunc.fixturenames:
        metafunc.parametrize("query", ALL, ids=repr)
    if "module_queries" in metafunc.fixturenames:
        modules = {}
        for q in ALL:
            modules.setdefault(q.module_name, []).append(q)
        metafunc.parametrize("module_queries", list(modules.items()), ids=[m.rsplit(".", 1)[1] for m in modules])
    if "query_pair" in metafunc.fixturenames:
        cases = [(q, pair) for q in ALL for pair in q.pairs]
        metafunc.parametrize("query_pair", cases, ids=["{}-{}".format(q.name, p[0]) for q, p in cases])
    if "query_param" in metafunc.fixturenames:
        cases = [(q, p) for q in ALL for p in q.params]
        metafunc.parametrize("query_param", cases, ids=["{}-{}".format(q.name, p) for q, p in cases])
