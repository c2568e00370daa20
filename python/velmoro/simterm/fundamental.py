"""Fundamental data of the simulated terminal: income statements, balance sheets
and restricted-share float events of the dataset's securities, generated from
the dataset's seed, answered as MAT files of statement rows.

A query is named `<statement>_<format>_<variant>` ("is_bank_q_pit") or is one of
the float-event queries; its parameters arrive as JSON text.
"""
import datetime as _dt
import json

import numpy as np

from velmoro.protocol import BAD_QUERY, BAD_QUERY_LANGUAGE, UNKNOWN_QUERY, UNKNOWN_QUERY_FIELD, UNKNOWN_TARGET
from velmoro.simterm.calendar import unknown_target
from velmoro.simterm.commands import TerminalError, command, ok

__all__ = ["get_fundamental_set2", "statement_rows", "float_rows"]

LANGUAGES = ("en", "cn")
FORMATS = ("", "bank", "secu", "indu", "insu")

# report periods: quarter ends from 2020Q1 to 2023Q3, each a cumulative report
PERIODS = tuple(y * 10000 + md for y in range(2020, 2024) for md in (331, 630, 930, 1231))[:-1]
REPORT_TYPES = {331: "Q1", 630: "S1", 930: "Q3", 1231: "A"}
# publication: (years after the period's year, month-day)
PUBLISHED = {331: (0, 428), 630: (0, 828), 930: (0, 1028), 1231: (1, 328)}
CORRECTED = (1, 828)  # annual reports are restated with the next interim report

INCOME_FIELDS = {
    "": ("Revenue", "OperatingCost", "OperatingProfit", "TotalProfit", "NetProfit"),
    "bank": ("NetInterestIncome", "FeeIncome", "OperatingExpense", "OperatingProfit", "NetProfit"),
    "secu": ("BrokerageIncome", "InvestmentBankingIncome", "OperatingExpense", "OperatingProfit", "NetProfit"),
    "indu": ("Revenue", "CostOfSales", "SellingExpense", "OperatingProfit", "NetProfit"),
    "insu": ("PremiumsEarned", "ClaimsPaid", "OperatingExpense", "OperatingProfit", "NetProfit"),
}
BALANCE_FIELDS = {
    "": ("Cash", "TotalAssets", "TotalLiabilities", "TotalEquity"),
    "bank": ("Loans", "Deposits", "TotalAssets", "TotalLiabilities", "TotalEquity"),
    "secu": ("ClientDeposits", "TradingAssets", "TotalAssets", "TotalLiabilities", "TotalEquity"),
    "indu": ("Inventories", "FixedAssets", "TotalAssets", "TotalLiabilities", "TotalEquity"),
    "insu": ("Investments", "InsuranceReserves", "TotalAssets", "TotalLiabilities", "TotalEquity"),
}
# query name -> (statement, format, variant): "is_bank_q_pit" -> ("is", "bank", "q_pit")
STATEMENT_QUERIES = {
    "_".join(filter(None, (statement, fmt, variant))): (statement, fmt, variant)
    for statement, variants in (("is", ("pit", "latest", "q", "q_pit", "ttm_pit")), ("ledger", ("pit", "latest")))
    for variant in variants
    for fmt in FORMATS
}
STATEMENT_KEYS = ("Market", "Code", "ReportType", "EndDate", "PublishDate")
PIT_KEYS = STATEMENT_KEYS + ("IsNew", "IsCalc")

FLOAT_QUERIES = {
    # name: (key columns, selectable fields, events per security, first and last year)
    "equ_ipo_float": (("Market", "Code", "PublishDate", "FloatDate"), ("FloatShares", "ShareType"), 1, (2010, 2019)),
    "equ_shares_float": (
        ("Market", "Code", "PublishDate", "FloatDate"),
        ("FloatShares", "FloatRatio", "HolderType"),
        4,
        (2021, 2024),
    ),
    "equ_share_float": (("Market", "Code", "EndDate"), ("FloatShares", "TotalFloatShares"), 3, (2020, 2023)),
    "equ_reform_float": (("Market", "Code", "EndDate"), ("FloatShares", "HolderName"), 2, (2006, 2008)),
}
TEXT_COLUMNS = ("Market", "Code", "ReportType", "ShareType", "HolderType", "HolderName")
INTEGER_COLUMNS = ("EndDate", "PublishDate", "FloatDate", "IsNew", "IsCalc")
SHARE_TYPES = ("IPO placement", "strategic investor", "executive", "private placement")
LATEST_DATE = 99991231


def _period_date(period, offset):
    years, month_day = offset
    return (period // 10000 + years) * 10000 + month_day


def _rng(term, sec, *salt):
    return np.random.default_rng([term.data.seed, int(sec.code), *salt])


def _versions(term, sec, salt, fields, cumulative):
    """period -> [(publish date, values)], oldest first; income figures add up
    within the year, balance figures are levels."""
    rng = _rng(term, sec, *salt)
    weights = np.sort(rng.uniform(0.2, 1.0, size=len(fields)))[::-1]  # first field largest
    out = {}
    running = np.zeros(len(fields))
    for k, period in enumerate(PERIODS):
        month_day = period % 10000
        level = sec.price * 1e6 * weights * (1.02 ** k) * rng.uniform(0.95, 1.05, size=len(fields))
        if cumulative:
            running = level if month_day == 331 else running + level
            values = running.copy()
        else:
            values = level
        values = np.round(values, 2)
        out[period] = [(_period_date(period, PUBLISHED[month_day]), values)]
        if month_day == 1231:
            restated = np.round(values * rng.uniform(0.98, 1.02, size=len(fields)), 2)
            out[period].append((_period_date(period, CORRECTED), restated))
    return out


def _as_of(versions, period, date):
    """The values of `period` known on `date` (the newest version published by then)."""
    known = [v for d, v in versions.get(period, ()) if d <= date]
    return known[-1] if known else None


def _period_of_year(year, month_day):
    """The report period of `year` ending on month_day, if the data reaches it."""
    period = year * 10000 + month_day
    return period if period in PERIODS else None


def _single_quarter(versions, period, date, values):
    """A quarter's own figures: the cumulative report less the one before it."""
    if period % 10000 == 331:
        return values, 0
    return values - _as_of(versions, PERIODS[PERIODS.index(period) - 1], date), 1


def _trailing(versions, period, date, values):
    """Twelve months to `period`: this year so far, plus last year's annual report
    less last year's report of the same period."""
    if period % 10000 == 1231:
        return values, 0
    last_annual = _period_of_year(period // 10000 - 1, 1231)
    last_year = _period_of_year(period // 10000 - 1, period % 10000)
    if last_annual is None or last_year is None:
        return None, 1
    return values + _as_of(versions, last_annual, date) - _as_of(versions, last_year, date), 1


def statement_rows(term, sec, statement, fmt, variant):
    """Rows (key columns, then the format's fields) of one security's statements."""
    income = statement == "is"
    fields = (INCOME_FIELDS if income else BALANCE_FIELDS)[fmt]
    versions = _versions(term, sec, (0 if income else 1, FORMATS.index(fmt)), fields, income)
    rows = []
    for period, history in versions.items():
        for n, (published, values) in enumerate(history):
            newest = n == len(history) - 1
            if variant in ("latest", "q") and not newest:
                continue
            row = {"Market": sec.market, "Code": sec.code, "ReportType": REPORT_TYPES[period % 10000],
                   "EndDate": period, "PublishDate": published}
            if variant in ("q", "q_pit"):
                values, calc = _single_quarter(versions, period, published, values)
            elif variant == "ttm_pit":
                values, calc = _trailing(versions, period, published, values)
                if values is None:
                    continue  # no full year before it
            if variant in ("q_pit", "ttm_pit"):
                row.update(IsNew=int(newest), IsCalc=calc)
            row.update(zip(fields, np.round(values, 2).tolist()))
            rows.append(row)
    return rows


def _add_days(date, days):
    d = _dt.datetime.strptime(str(date), "%Y%m%d") + _dt.timedelta(days=days)
    return d.year * 10000 + d.month * 100 + d.day


def float_rows(term, sec, func):
    """Float events of one security for one float-event query."""
    keys, fields, count, (first, last) = FLOAT_QUERIES[func]
    rng = _rng(term, sec, 2, list(FLOAT_QUERIES).index(func))
    start = _dt.date(first, 1, 1).toordinal()
    days = sorted(rng.integers(0, _dt.date(last, 12, 31).toordinal() - start, size=count))
    rows = []
    for i, offset in enumerate(days):
        d = _dt.date.fromordinal(start + int(offset))
        event = d.year * 10000 + d.month * 100 + d.day
        shares = float(np.round(rng.uniform(1e6, 5e8), 0))
        row = {"Market": sec.market, "Code": sec.code}
        if "FloatDate" in keys:
            row.update(PublishDate=_add_days(event, -7), FloatDate=event)
        else:
            row["EndDate"] = event
        values = {
            "FloatShares": shares,
            "ShareType": SHARE_TYPES[0],
            "FloatRatio": round(float(rng.uniform(0.001, 0.2)), 4),
            "HolderType": SHARE_TYPES[1 + i % 3],
            "TotalFloatShares": shares * (i + 2),
            "HolderName": "holder {} of {}".format(i + 1, sec.code),
        }
        row.update((f, values[f]) for f in fields)
        rows.append(row)
    return rows


def _query(func):
    """(row builder, key columns, fields) of a query name."""
    if func in FLOAT_QUERIES:
        keys, fields = FLOAT_QUERIES[func][:2]
        return (lambda term, sec: float_rows(term, sec, func)), keys, fields
    try:
        statement, fmt, variant = STATEMENT_QUERIES[func]
    except KeyError:
        raise TerminalError(UNKNOWN_QUERY, "unknown fundamental query {!r}".format(func)) from None
    keys = PIT_KEYS if variant in ("q_pit", "ttm_pit") else STATEMENT_KEYS
    fields = (INCOME_FIELDS if statement == "is" else BALANCE_FIELDS)[fmt]
    return (lambda term, sec: statement_rows(term, sec, statement, fmt, variant)), keys, fields


def _date(value, default):
    if value in ("", None):
        return default
    try:
        return int(value)
    except (TypeError, ValueError):
        raise TerminalError(BAD_QUERY, "not a date: {!r}".format(value)) from None


def _selection(params, key):
    values = params.get(key, [])
    if not isinstance(values, list):
        raise TerminalError(BAD_QUERY, "{} must be a list, got {!r}".format(key, values))
    return values


def _in_range(row, column, params, begin_key, end_key):
    if column not in row:
        return True
    return _date(params.get(begin_key), 0) <= row[column] <= _date(params.get(end_key), LATEST_DATE)


def _keep(row, params):
    for column, begin_key, end_key in (
        ("EndDate", "begin_date", "end_date"),
        ("PublishDate", "publish_date_begin", "publish_date_end"),
        ("FloatDate", "float_date_begin", "float_date_end"),
    ):
        if begin_key in params and not _in_range(row, column, params, begin_key, end_key):
            return False
    for column, key in (("ReportType", "report_type"), ("IsNew", "is_new"), ("IsCalc", "is_calc")):
        wanted = _selection(params, key)
        if wanted and column in row and row[column] not in wanted:
            return False
    return True


def _column(name, values):
    if name in TEXT_COLUMNS:
        column = np.empty((1, len(values)), dtype=object)
        column[0, :] = values
        return column
    dtype = np.int64 if name in INTEGER_COLUMNS else np.float64
    return np.asarray(values, dtype=dtype).reshape(1, -1)


def table_variables(columns, rows):
    """The MAT variables of a table: `Fields` (names) and `Columns` (one row each)."""
    fields = np.empty((1, len(columns)), dtype=object)
    fields[0, :] = list(columns)
    data = np.empty((1, len(columns)), dtype=object)
    for j, name in enumerate(columns):
        data[0, j] = _column(name, [row[name] for row in rows])
    return {"Fields": fields, "Columns": data}


@command("GetFundamentalSet2")
def get_fundamental_set2(term, lang, func, params_str):
    if lang not in LANGUAGES:
        raise TerminalError(BAD_QUERY_LANGUAGE, "unsupported language {!r}".format(lang))
    build, keys, fields = _query(func)
    try:
        params = json.loads(params_str)
    except (TypeError, ValueError):
        raise TerminalError(BAD_QUERY, "parameters are not JSON text: {!r}".format(params_str)) from None
    if not isinstance(params, dict):
        raise TerminalError(BAD_QUERY, "parameters must be a JSON object")
    wanted = _selection(params, "field")
    unknown = [f for f in wanted if f not in fields]
    if unknown:
        raise TerminalError(UNKNOWN_QUERY_FIELD, "{} has no field {}".format(func, ", ".join(map(str, unknown))))
    rows = []
    for target in params.get("target_list") or ():
        sec = term.data.security(target.get("Market"), target.get("Code"))
        if sec is None:
            raise TerminalError(UNKNOWN_TARGET, unknown_target(target.get("Market"), target.get("Code")))
        rows.extend(r for r in build(term, sec) if _keep(r, params))
    columns = list(keys) + [f for f in (wanted or fields) if f not in keys]
    path = term.write_mat("fdmt_{}".format(func), table_variables(columns, rows))
    return ok(wstrFilePath=path)
