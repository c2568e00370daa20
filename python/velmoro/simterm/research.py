"""Research data of the simulated terminal: several factors at once,
fundamental sets, risk-model sets and the description of their fields.

- GetFactorMultiFilePath: one factor result file per factor name, as
  GetFactor writes it.
- GetFundamentalSet: category "income" or "balance"; a table file
  ("Fields", "Columns", as the fundamental queries' files) with the statement
  key columns and the asked items, the newest version of each report whose
  EndDate lies in the range.
- GetRiskModelSet: query "style_exposure" (a row per target and trading day:
  Market, Code, TradeDate and the asked RISK_FIELDS) or "factor_return" (a
  row per trading day: TradeDate and the asked fields); parameters as JSON
  text with "target_list", "begin_date", "end_date", "field".
- FdmtFieldInfo, RiskModelFieldInfo: the description comes as the answer's
  information text; unknown fields answer a warning.
"""
import json

import numpy as np

from velmoro.protocol import BAD_PARAMS, UNKNOWN_ITEM
from velmoro.simterm.factors import factor_series, get_factor
from velmoro.simterm.fundamental import (
    BALANCE_FIELDS, INCOME_FIELDS, LANGUAGES, STATEMENT_KEYS, statement_rows, table_variables,
)
from velmoro.simterm.market import security
from velmoro.simterm.commands import TerminalError, command, ok

__all__ = ["CATEGORIES", "RISK_FIELDS", "RISK_QUERIES"]

# fundamental category -> (statement, fields)
CATEGORIES = {"income": ("is", INCOME_FIELDS[""]), "balance": ("ledger", BALANCE_FIELDS[""])}
RISK_FIELDS = {
    "Beta": "sensitivity of the stock's return to the market's",
    "Size": "log of the traded value of the day",
    "Momentum": "five-day price momentum",
    "Volatility": "twenty-day return volatility",
}
RISK_QUERIES = ("style_exposure", "factor_return")


def _date(value, default):
    return int(value) if value else default


@command("GetFactorMultiFilePath", checks=[
    ("factor_names", 0, "factor_names"), ("targets", 1, "target_records"),
    ("begin_date..end_date", [2, 3], "factor_date_range"), ("day_before", 4, "count"),
])
def get_factor_multi_file_path(term, factor_names, targets, begin, end, days_before):
    return ok(listPaths=[get_factor(term, name, targets, begin, end, days_before).wstrFilePath
                         for name in factor_names])


def _category(cat_name):
    try:
        return CATEGORIES[cat_name]
    except (KeyError, TypeError):
        raise TerminalError(UNKNOWN_ITEM, "unknown fundamental category {!r}".format(cat_name)) from None


@command("GetFundamentalSet", checks=[("targets", 1, "known_targets"), ("begin_date..end_date", [3, 4], "date_range")])
def get_fundamental_set(term, cat_name, targets, items, begin_date, end_date):
    statement, fields = _category(cat_name)
    unknown = [i for i in items if i not in fields]
    if unknown:
        raise TerminalError(UNKNOWN_ITEM, "{} has no item {}".format(cat_name, ", ".join(map(str, unknown))))
    begin, end = _date(begin_date, 0), _date(end_date, 99991231)
    rows = []
    for target in targets:
        rows.extend(r for r in statement_rows(term, security(term, target), statement, "", "latest")
                    if begin <= r["EndDate"] <= end)
    path = term.write_mat("fundamental_set_" + cat_name, table_variables(list(STATEMENT_KEYS) + list(items), rows))
    return ok(wstrFilePath=path)


@command("IsMTFundmental")
def is_mt_fundamental(term, cat_name, item_name):
    return ok(IsMTFundmental=cat_name in CATEGORIES and item_name in CATEGORIES[cat_name][1])


def _field_info(fields, described):
    """A warning naming unknown fields, else the fields' descriptions as information."""
    unknown = [f for f in fields if f not in described]
    if unknown:
        return ok(2, UNKNOWN_ITEM, "unknown fields: " + ", ".join(map(str, unknown)))
    if not fields:
        return ok()
    return ok(3, 0, "; ".join("{}: {}".format(f, described[f]) for f in fields))


@command("FdmtFieldInfo")
def fdmt_field_info(term, fields):
    described = {f: "{} statement item".format(cat) for cat, (_, items) in CATEGORIES.items() for f in items}
    return _field_info(list(fields), described)


@command("RiskModelFieldInfo")
def risk_model_field_info(term, fields):
    return _field_info(list(fields), RISK_FIELDS)


def _day_returns(term, sec):
    close = term.data.bars(sec, "day")["Close"]
    return close / np.r_[close[0], close[:-1]] - 1.0


def _exposures(term, sec):
    """Style exposures of one security on every trading day of the dataset."""
    bars = term.data.bars(sec, "day")
    beta = np.random.default_rng([term.data.seed, int(sec.code)]).uniform(0.6, 1.4)
    return {
        "Beta": np.full(bars["Close"].size, round(beta, 4)),
        "Size": np.log(bars["Amount"]),
        "Momentum": factor_series(term.data, "momentum_5d", sec),
        "Volatility": factor_series(term.data, "volatility_20d", sec),
    }


def _risk_params(params_str):
    try:
        params = json.loads(params_str)
    except (TypeError, ValueError):
        raise TerminalError(BAD_PARAMS, "parameters are not JSON text: {!r}".format(params_str)) from None
    if not isinstance(params, dict):
        raise TerminalError(BAD_PARAMS, "parameters must be a JSON object")
    fields = params.get("field") or list(RISK_FIELDS)
    unknown = [f for f in fields if f not in RISK_FIELDS]
    if unknown:
        raise TerminalError(UNKNOWN_ITEM, "no risk field {}".format(", ".join(map(str, unknown))))
    return params, fields


@command("GetRiskModelSet")
def get_risk_model_set(term, lang, func, params_str):
    if lang not in LANGUAGES:
        raise TerminalError(BAD_PARAMS, "unsupported language {!r}".format(lang))
    if func not in RISK_QUERIES:
        raise TerminalError(UNKNOWN_ITEM, "unknown risk-model query {!r}".format(func))
    params, fields = _risk_params(params_str)
    begin, end = _date(params.get("begin_date"), 0), _date(params.get("end_date"), 99991231)
    days = [(i, d) for i, d in enumerate(term.data.trading_days) if begin <= d <= end]
    secs = [security(term, t) for t in params.get("target_list") or ()]
    exposures = [(sec, _exposures(term, sec)) for sec in secs]
    if func == "style_exposure":
        keys = ["Market", "Code", "TradeDate"]
        rows = [dict(Market=sec.market, Code=sec.code, TradeDate=d, **{f: float(x[f][i]) for f in fields})
                for sec, x in exposures for i, d in days]
    else:
        # a factor's return: the targets' day returns weighted by their exposures
        keys = ["TradeDate"]
        returns = np.array([_day_returns(term, sec) for sec in secs]).reshape(len(secs), -1)
        rows = []
        for i, d in days:
            row = {"TradeDate": d}
            for f in fields:
                x = np.nan_to_num([e[f][i] for _, e in exposures])
                weight = np.abs(x).sum()
                row[f] = float(x @ returns[:, i] / weight) if weight else 0.0
            rows.append(row)
    return ok(wstrFilePath=term.write_mat("risk_" + func, table_variables(keys + fields, rows)))
