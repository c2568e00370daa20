"""Reference commands of the simulated terminal: block members, the real
instruments behind targets, future and stock information, target conversion,
options, the cache directory.

Besides the dataset's stocks the terminal knows a few future contracts (no
bars). A continuous future target "<variety>888" stands for the variety's main
contract: on a day, the listed contract expiring first among those with at
least MAIN_MIN_DAYS days left. Records are DotDicts:

- member (GetCodeList): Code, Market, Weight, Name, BlockName; GetCodeListSet
  adds Day.
- contract day (GetTargetIns, GetTargetIns_20190830): TargetIns, Day.
- future (GetFutureContracts): Market, Code, Variety, ListDate, LastTradeDate;
  future information adds Multiplier, PriceTick, LongMargin, ShortMargin.
- stock information: Market, Code, Name, LotSize, PriceTick, Multiplier,
  LongMargin, ShortMargin, ListDate and DelistDate (YYYYMMDD, 0: not known).
"""
import collections
import datetime as _dt
import os
import re

from velmoro.protocol import UNKNOWN_BLOCK, UNKNOWN_MARKET, UNKNOWN_TARGET, WRONG_KIND, Answer
from velmoro.simterm.calendar import MARKETS, as_day, date_bounds, today, unknown_target, weekdays
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.simterm.dataset import BLOCKS
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["FUTURES", "Future", "known", "instrument_on", "main_contract"]

Future = collections.namedtuple(
    "Future", "market code variety list_date last_trade_date multiplier price_tick long_margin short_margin"
)


def _contracts(variety, multiplier, tick, margin):
    months = ((2401, 20230116, 20240112), (2405, 20230516, 20240514), (2409, 20230915, 20240912),
              (2501, 20240116, 20250114))
    return tuple(
        Future("czce", "{}{}".format(variety, ym % 1000), variety, listed, last, multiplier, tick, margin, margin)
        for ym, listed, last in months
    )


FUTURES = _contracts("SR", 10, 1.0, 0.07) + _contracts("CF", 5, 5.0, 0.08)
CONTINUOUS_SUFFIX = "888"
MAIN_MIN_DAYS = 30


def _future(market, code):
    for f in FUTURES:
        if f.market == str(market).lower() and f.code == str(code).upper():
            return f
    return None


def _trading(f, day):
    return f.list_date <= day <= f.last_trade_date


def main_contract(variety, day):
    """The main contract of a variety on a day, or None."""
    horizon = int((as_day(day) + _dt.timedelta(days=MAIN_MIN_DAYS)).strftime("%Y%m%d"))
    live = [f for f in FUTURES if f.variety == variety and _trading(f, day) and f.last_trade_date >= horizon]
    return min(live, key=lambda f: f.last_trade_date) if live else None


def _continuous_variety(market, code):
    """The variety a continuous target stands for, or None."""
    code = str(code).upper()
    variety = code[: -len(CONTINUOUS_SUFFIX)]
    listed = any(f.market == str(market).lower() and f.variety == variety for f in FUTURES)
    if code.endswith(CONTINUOUS_SUFFIX) and listed:
        return variety
    return None


def known(term, market, code):
    """Whether the terminal knows the target: a stock, a future or a continuous future."""
    return bool(term.data.security(market, code) or _future(market, code) or _continuous_variety(market, code))


def instrument_on(term, market, code, day):
    """The code of the instrument trading for a target on a day, or None."""
    if term.data.security(market, code) is not None:
        return code
    f = _future(market, code)
    if f is not None:
        return f.code if _trading(f, day) else None
    variety = _continuous_variety(market, code)
    main = main_contract(variety, day) if variety else None
    return main.code if main else None


def _members(term, block, day=None):
    """The block's members (on `day`: those trading, neither before their
    listing nor delisted)."""
    if block not in BLOCKS:
        raise TerminalError(UNKNOWN_BLOCK, "unknown block {!r}".format(block))
    members = [sec for sec in term.data.securities if BLOCKS[block](sec)
               and (day is None or term.facts.off_market(sec.key, day) is None)]
    return [DotDict(Code=sec.code, Market=sec.market, Weight=round(1.0 / len(members), 6), Name=sec.name,
                    BlockName=block) for sec in members]


@command("GetCodeList", checks=[("block", 0, "block"), ("date", 1, "date")])
def get_code_list(term, block, date):
    """The members of a block (on the date, when given); an unknown block is
    refused (validation.py)."""
    return Answer(result=_members(term, block, int(date) if date else None))


@command("GetCodeListSet", checks=[("block", 0, "block"), ("begin_date..end_date", [1, 2], "date_range")])
def get_code_list_set(term, block, begin_date, end_date):
    days = weekdays(*date_bounds(term, begin_date, end_date))
    return ok(listCodelist=[DotDict(m, Day=day) for day in days for m in _members(term, block, day)])


_CZCE_LONG = re.compile(r"^([A-Z]+)\d(\d{3})$")


@command("ConvertTargets")
def convert_targets(term, targets, op_flags):
    """Markets in lower case, codes in upper case; with "czce" in the flags a
    czce code with a four-digit month ("SR2405") takes the exchange's
    three-digit form ("SR405")."""
    out = []
    for t in targets:
        market, code = str(t["Market"]).lower(), str(t["Code"]).upper()
        if market == "czce" and "czce" in str(op_flags).lower():
            code = _CZCE_LONG.sub(r"\1\2", code)
        out.append(DotDict(Market=market, Code=code))
    return ok(listMC=out)


@command("GetTargetIns", "GetTargetIns_20190830", checks=[
    ("Market", 0, "market"), ("BeginDate..EndDate", [2, 3], "date_range"),
])
def get_target_ins(term, market, code, begin_date, end_date):
    if not known(term, market, code):
        raise TerminalError(UNKNOWN_TARGET, unknown_target(market, code))
    records = []
    for day in weekdays(*date_bounds(term, begin_date, end_date)):
        ins = instrument_on(term, market, code, day)
        if ins is not None:
            records.append(DotDict(TargetIns=ins, Day=day))
    return ok(listIns=records)


def _varieties(value):
    if isinstance(value, str):
        return [v.strip().upper() for v in value.split(",") if v.strip()]
    return [str(v).upper() for v in value]


@command("GetFutureContracts", checks=[("i64Date", 0, "date"), ("wstrMarket", 1, "market")])
def get_future_contracts(term, date, market, varieties):
    """Contracts of the varieties (all for none) trading on the date."""
    if str(market).lower() not in MARKETS:
        raise TerminalError(UNKNOWN_MARKET, "unknown market {!r}".format(market))
    wanted = _varieties(varieties)
    day = int(date) if date else today(term)
    return ok(listComp=[
        DotDict(Market=f.market, Code=f.code, Variety=f.variety, ListDate=f.list_date, LastTradeDate=f.last_trade_date)
        for f in FUTURES
        if f.market == str(market).lower() and (not wanted or f.variety in wanted) and _trading(f, day)
    ])


def _future_info(term, target):
    code = instrument_on(term, target["Market"], target["Code"], today(term))
    f = _future(target["Market"], code) if code else _future(target["Market"], target["Code"])
    if f is None:
        raise TerminalError(WRONG_KIND, "not a future: {}.{}".format(target["Market"], target["Code"]))
    return DotDict(
        Market=f.market, Code=str(target["Code"]).upper(), Variety=f.variety, ListDate=f.list_date,
        LastTradeDate=f.last_trade_date, Multiplier=f.multiplier, PriceTick=f.price_tick,
        LongMargin=f.long_margin, ShortMargin=f.short_margin,
    )


# the exclusive future queries take the request of the general one
_FUTURE_INFO_CHECKS = [("listMkCode", 0, "target_records")]


@command("GetFutureInfo_20190920", checks=_FUTURE_INFO_CHECKS)
def get_future_info(term, targets):
    return ok(listInfo=[_future_info(term, t) for t in targets])


@command("GetFutureInfoExculusively", "GetFutureInfoExculusively_20190918", checks=_FUTURE_INFO_CHECKS)
def get_future_info_exclusively(term, targets):
    return ok(listFutureInfoExcu=[_future_info(term, t) for t in targets])


@command("GetStockInfoExculusively", checks=[("targets", 0, "target_records")])
def get_stock_info_exclusively(term, targets):
    records = []
    for t in targets:
        sec = term.data.security(t["Market"], t["Code"])
        if sec is None:
            raise TerminalError(WRONG_KIND, "not a stock: {}.{}".format(t["Market"], t["Code"]))
        records.append(DotDict(
            Market=sec.market, Code=sec.code, Name=sec.name, LotSize=100, PriceTick=0.01, Multiplier=1,
            LongMargin=1.0, ShortMargin=1.0, ListDate=term.facts.listed.get(sec.key, 0),
            DelistDate=term.facts.delisted.get(sec.key, 0),
        ))
    return ok(listStockInfoExcu=records)


# The dataset lists no options: the option queries answer empty lists.
@command("GetOptionCode")
def get_option_code(term, request):
    return Answer(result=[])


@command("GetOptionData", "GetOptionInfo", "GetOptionPos")
def get_option_records(term, market, code):
    return Answer(result=[])


@command("GetToolBoxRootofCacheDir")
def get_cache_dir(term):
    path = os.path.join(term.result_dir, "cache")
    os.makedirs(path, exist_ok=True)
    return ok(wstrRootCacheDir=path)
