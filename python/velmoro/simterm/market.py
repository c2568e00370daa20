"""Market-data commands of the simulated terminal.

Only bars stamped at or before the terminal's clock (`term.now`) exist; with
KFreNum n > 1 every n bars form one (intraday bars restart each day and the
day's last bar always closes one). Files of several targets hold, per target,
the variables of a one-target file prefixed "<market>_<code>_", plus
"Targets", the targets' MARKET.CODE keys. Bar fields: Time, DayPos, Open,
High, Low, Close, Volume, Amount (1 x n each).
"""
import os

import numpy as np

from velmoro.protocol import BAD_FREQUENCY, NEGATIVE_COUNT, NOT_TRADED_YET, UNKNOWN_BAR_ITEM, UNKNOWN_TARGET
from velmoro.simterm.calendar import as_day, bar_times, date_bounds, today, trade_date, unknown_target, weekdays
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.simterm.matfile import mat_bytes, write_atomic
from velmoro.simterm.reference import instrument_on
from velmoro.tframe.utils.datetimefunc import datetime_to_mft, mft_to_datetime
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["frequency", "security", "bars_now", "last_price", "kdata_files"]

FREQUENCIES = {
    "min": "min", "minute": "min", "1m": "min", "day": "day", "1d": "day",
    "week": "week", "month": "month", "year": "year",
}
BAR_FIELDS = ("Time", "DayPos", "Open", "High", "Low", "Close", "Volume", "Amount")


def frequency(kfreq, allowed=("min", "day")):
    """The terminal's name of a frequency; TerminalError when not allowed."""
    name = FREQUENCIES.get(str(kfreq).lower())
    if name not in allowed:
        raise TerminalError(BAD_FREQUENCY, "unsupported frequency {!r}".format(kfreq))
    return name


class _Priced:
    """The terminal as a request with an FQ sees it: its dataset's prices
    adjusted as the FQ asks, all else its own."""

    def __init__(self, term, fq):
        self._term, self.data = term, term.data.adjusted(fq)

    def __getattr__(self, name):
        return getattr(self._term, name)


def security(term, target):
    sec = term.data.security(target["Market"], target["Code"])
    if sec is None:
        raise TerminalError(UNKNOWN_TARGET, unknown_target(target["Market"], target["Code"]))
    return sec


def _date(value, default):
    return int(value) if value else default


def _bar_ends(day_pos, n, intraday):
    """Indexes of the bars that end a bar of n periods: intraday bars restart
    each day, whose last bar always ends one; longer bars group every n, the
    last (forming) group included."""
    size = day_pos.size
    if intraday:
        return np.flatnonzero((day_pos % n == 0) | np.r_[day_pos[1:] == 1, True])
    pos = np.arange(1, size + 1)
    return np.flatnonzero((pos % n == 0) | (pos == size))


def _group(bars, n, intraday):
    """Bars of n periods each; quantities may be (securities x bars) arrays."""
    if n <= 1 or bars["Time"].size == 0:
        return bars
    ends = _bar_ends(bars["DayPos"], n, intraday)
    starts = np.r_[0, ends[:-1] + 1]
    idx = np.arange(ends.size)
    new_day = bars["DayPos"][starts] == 1
    return {
        "Time": bars["Time"][ends],
        "DayPos": (idx - np.maximum.accumulate(np.where(new_day, idx, 0)) + 1).astype(float),
        "Open": bars["Open"][..., starts],
        "High": np.maximum.reduceat(bars["High"], starts, axis=-1),
        "Low": np.minimum.reduceat(bars["Low"], starts, axis=-1),
        "Close": bars["Close"][..., ends],
        "Volume": np.add.reduceat(bars["Volume"], starts, axis=-1),
        "Amount": np.add.reduceat(bars["Amount"], starts, axis=-1),
    }


def bars_now(term, sec, freq, begin=0, end=99991231, n=1):
    """Bars of one security that exist at the terminal's clock."""
    bars = term.data.bars(sec, freq, begin, end)
    if term.now is not None:
        keep = bars["Time"] <= term.now
        bars = {k: v[keep] for k, v in bars.items()}
    return _group(bars, int(n or 1), freq == "min")


def last_price(term, sec):
    """The close of the last minute bar at or before the clock, or None."""
    return term.data.close_at(sec, term.now)


def _row(values):
    return np.asarray(values, dtype=float).reshape(1, -1)


def _cells(values):
    cells = np.empty((1, len(values)), dtype=object)
    cells[0, :] = list(values)
    return cells


# bar files kept by this name are valid for any dataset of the same seed:
# raise it when the generated bars change
BAR_FILES_VERSION = 3
# securities generated at once for bar files: bounds the memory a request takes
FILE_BATCH = 256


def _kept(term, freq, days):
    """How many bars of `days` exist at the terminal's clock."""
    if freq == "min":
        times = np.concatenate([term.data.minute_times(d) for d in days]) if days else np.zeros(0)
    else:
        times = np.array([term.data.day_time(d) for d in days], dtype=float)
    return times.size if term.now is None else int(np.searchsorted(times, term.now, side="right"))


def kdata_files(term, secs, freq, begin, end, n=1):
    """The bar files of the securities (one each) between two dates, at the
    clock; returns their paths. A file depends only on its security, the
    frequency, n and the bars it holds, so it is written once under a name
    that says so and found again by every later request."""
    n = int(n or 1)
    data = term.data
    days = data.days_between(begin, end)
    kept = _kept(term, freq, days)
    span = "{}-{}".format(days[0], days[-1]) if days else "none"
    paths = [os.path.join(term.result_dir, "kdata_{}_{}_{}{}_{}_{}_v{}s{}.mat".format(
        sec.market, sec.code, freq, n, span, kept, BAR_FILES_VERSION, data.seed)) for sec in secs]
    missing = [i for i, path in enumerate(paths) if not os.path.exists(path)]
    for batch, bars in _batches(term, [secs[i] for i in missing], freq, days, kept, n):
        for row, i in enumerate(missing[batch]):
            variables = {k: (v[row] if v.ndim == 2 else v) for k, v in bars.items()}
            variables.update(Market=secs[i].market, Code=secs[i].code, KFrequency=freq)
            write_atomic(paths[i], mat_bytes(variables))
    return paths


def _batches(term, secs, freq, days, kept, n=1):
    """(slice of `secs`, their bars) a batch at a time: the first `kept` bars
    of `days`, of n periods each, quantities as (securities x bars) arrays."""
    data = term.data
    make = data.range_bars if freq == "min" else data.day_range_bars
    for first in range(0, len(secs), FILE_BATCH):
        batch = slice(first, first + FILE_BATCH)
        bars = make([data.row(sec) for sec in secs[batch]], days)
        yield batch, _group({k: v[..., :kept] for k, v in bars.items()}, n, freq == "min")


def _multi_file(term, stem, targets, series):
    """One file of several targets: series(sec) gives each target's variables."""
    variables = {}
    secs = [security(term, t) for t in targets]
    for sec in secs:
        prefix = "{}_{}_".format(sec.market, sec.code)
        variables.update((prefix + k, _row(v)) for k, v in series(sec).items())
    variables["Targets"] = _cells([sec.key for sec in secs])
    return term.write_mat(stem, variables)


@command("GetKData", checks=[
    ("targets", (0, "MarketCode"), "known_targets"), ("kFreq", (0, "KFrequency"), "bar_frequency"),
    ("kFreNum", (0, "KFreNum"), "periods"), ("beginDate..endDate", [(0, "BeginDate"), (0, "EndDate")], "date_range"),
    ("filledUp", (0, "FilledUp"), "flag"), ("fqType", (0, "FQ"), "fq_type"), ("noReturn", (0, "NoReturn"), "flag"),
])
def get_kdata(term, request):
    term = _Priced(term, request.FQ)
    freq = frequency(request.KFrequency)
    begin = _date(request.BeginDate, 0)
    end = _date(request.EndDate, 99991231)
    secs = [security(term, t) for t in request.MarketCode]
    if request.NoReturn:
        return ok(listPaths=[])
    return ok(listPaths=kdata_files(term, secs, freq, begin, end, request.KFreNum))


@command("GetKDataMulti", "GetKDataMultiFilePath", checks=[
    ("targetList", 1, "known_targets"), ("kFreq", (0, "KFrequency"), "bar_frequency"),
    ("beginDate..endDate", [(0, "BeginDate"), (0, "EndDate")], "date_range"), ("filledUp", (0, "FilledUp"), "flag"),
    ("fqType", (0, "FQ"), "fq_type"),
])
def get_kdata_multi(term, request, targets):
    term = _Priced(term, request.FQ)
    freq = frequency(request.KFrequency)
    begin, end = _date(request.BeginDate, 0), _date(request.EndDate, 99991231)
    path = _multi_file(term, "kdata_multi_" + freq, targets, lambda sec: bars_now(term, sec, freq, begin, end))
    return ok(wstrFilePath=path)


@command("GetNKDataMulti", checks=[
    ("targetList", 1, "known_targets"), ("kFreq", (0, "KFrequency"), "bar_frequency"),
    ("kFreNum", (0, "FreNum"), "periods"), ("nCount", (0, "NCount"), "count"), ("endDate", (0, "EndDate"), "date"),
    ("filledUp", (0, "FilledUp"), "flag"), ("fqType", (0, "FQ"), "fq_type"),
])
def get_nkdata_multi(term, request, targets):
    """The last NCount bars (of FreNum periods) up to EndDate."""
    term = _Priced(term, request.FQ)
    freq = frequency(request.KFrequency)
    count, end = int(request.NCount), _date(request.EndDate, 99991231)
    if count < 0:
        raise TerminalError(NEGATIVE_COUNT, "NCount must not be negative")

    def last_bars(sec):
        bars = bars_now(term, sec, freq, 0, end, request.FreNum)
        return {k: v[v.size - min(count, v.size):] for k, v in bars.items()}

    return ok(wstrFilePath=_multi_file(term, "nkdata_" + freq, targets, last_bars))


@command("GetRtData", checks=[("targetList", 0, "known_targets")])
def get_rt_data(term, targets):
    """Snapshots at the clock: the last price, the previous close and today's
    session so far (Open, High and Low are NaN before the first bar)."""
    day = today(term)
    day_start = datetime_to_mft(as_day(day))
    snapshots = []
    for target in targets:
        sec = security(term, target)
        session = bars_now(term, sec, "min", day, day)
        # the last close before the day (only the day it falls on is made)
        before = term.data.close_at(sec, min(day_start, np.inf if term.now is None else term.now))
        if session["Time"].size == 0 and before is None:
            raise TerminalError(NOT_TRADED_YET, "no trading yet for {}".format(sec.key))
        pre_close = before if before is not None else sec.price
        traded = session["Time"].size > 0
        snapshots.append(DotDict(
            Market=sec.market, Code=sec.code, TradeDate=day,
            Time=float(session["Time"][-1]) if traded else float("nan"),
            Price=float(session["Close"][-1]) if traded else pre_close, PreClose=pre_close,
            Open=float(session["Open"][0]) if traded else float("nan"),
            High=float(session["High"].max()) if traded else float("nan"),
            Low=float(session["Low"].min()) if traded else float("nan"),
            Volume=float(session["Volume"].sum()), Amount=float(session["Amount"].sum()),
        ))
    return ok(listRtData=snapshots)


def _tdp_series(term, sec, begin, end):
    """TDP data: the security's traded price and size, minute by minute."""
    bars = bars_now(term, sec, "min", begin, end)
    return {"Time": bars["Time"], "Price": bars["Close"], "Volume": bars["Volume"], "Amount": bars["Amount"]}


@command("GetTDPData", checks=[
    ("market, code", 0, "known_target"), ("date", (0, "Date"), "required_date"), ("fqType", (0, "FQ"), "fq_type"),
])
def get_tdp_data(term, request):
    term = _Priced(term, request.FQ)
    sec = security(term, request)
    if request.NoReturn:
        return ok(wstrFilePath="")
    day = int(request.Date)
    variables = {k: _row(v) for k, v in _tdp_series(term, sec, day, day).items()}
    return ok(wstrFilePath=term.write_mat("tdp_{}_{}_{}".format(sec.market, sec.code, day), variables))


@command("GetTDPDataMulti", "GetTDPDataMultiFilePath", checks=[
    ("targetList", 0, "known_targets"), ("beginDate..endDate", [1, 2], "date_range"), ("fqType", 3, "fq_type"),
])
def get_tdp_data_multi(term, targets, begin_date, end_date, fq_type):
    term = _Priced(term, fq_type)
    begin, end = _date(begin_date, 0), _date(end_date, 99991231)
    path = _multi_file(term, "tdp_multi", targets, lambda sec: _tdp_series(term, sec, begin, end))
    return ok(wstrFilePath=path)


@command("GetTradingTime", checks=[
    ("targetList", 1, "target_records"), ("kFreq", (0, "freq"), "calendar_frequency"),
    ("beginDay..endDay", [(0, "beginD"), (0, "endD")], "date_range"),
])
def get_trading_time(term, request, targets):
    """Bar times of the calendar (not bounded by the clock or the dataset)."""
    period = frequency(request.freq, allowed=("min", "day", "week", "month", "year"))
    times = bar_times(term, *date_bounds(term, request.beginD, request.endD), period)
    return ok(wstrFilePath=term.write_mat("trading_time_" + period, {"Time": _row(times)}))


def _check_item(item):
    if item not in BAR_FIELDS[2:]:
        raise TerminalError(UNKNOWN_BAR_ITEM, "unknown item {!r}".format(item))


def _set_item(term, sec, freq, item, begin, end):
    _check_item(item)
    return bars_now(term, sec, freq, begin, end)


@command("GetHistorySet", checks=[
    ("CatName", 0, "bar_frequency"), ("Market, Code", 2, "known_target"), ("BeginDate..EndDate", [3, 4], "date_range"),
])
def get_history_set(term, cat_name, item_name, target, begin_date, end_date):
    """CatName is a bar frequency, ItemName a bar field: variables Time and the item."""
    freq = frequency(cat_name)
    bars = _set_item(term, security(term, target), freq, item_name, _date(begin_date, 0), _date(end_date, 99991231))
    variables = {"Time": _row(bars["Time"]), item_name: _row(bars[item_name])}
    return ok(wstrFilePath=term.write_mat("history_set_" + item_name, variables))


@command("GetMarketSet", checks=[("wstrCat", 0, "bar_frequency"), ("iBeginDate..iEndDate", [2, 3], "date_range")])
def get_market_set(term, cat, items, begin_date, end_date):
    """Every security of the dataset: Targets, Time and one (securities x bars)
    matrix per item; `cat` is the bar frequency."""
    freq = frequency(cat)
    begin, end = _date(begin_date, 0), _date(end_date, 99991231)
    secs = term.data.securities
    variables = {"Targets": _cells([s.key for s in secs])}
    for item in items:
        _check_item(item)
    days = term.data.days_between(begin, end)
    kept = _kept(term, freq, days)
    if items:
        variables["Time"] = _row([])
        variables.update((item, np.zeros((len(secs), kept))) for item in items)
    for batch, bars in _batches(term, secs, freq, days, kept):
        variables["Time"] = _row(bars["Time"])
        for item in items:
            variables[item][batch] = bars[item]
    return ok(wstrFilePath=term.write_mat("market_set_" + freq, variables))


@command("GetHistoryInstruments", checks=[
    ("targets", 0, "target_records"), ("begin_date..end_date", [1, 2], "date_range"), ("fqType", 3, "fq_type"),
])
def get_history_instruments(term, targets, begin_date, end_date, fq_type):
    """Per known target, variable "<market>_<code>_<position>" (lower case): the
    codes of the instrument that traded for it on each day of the range (a
    stock's own code). Unknown targets get no variable."""
    begin, end = date_bounds(term, begin_date, end_date)
    days = weekdays(begin, end)
    variables = {}
    for idx, target in enumerate(targets):
        codes = [instrument_on(term, target["Market"], target["Code"], d) for d in days]
        if None not in codes:
            variables["{}_{}_{}".format(target["Market"], target["Code"], idx).lower()] = _cells(codes)
    return ok(wstrFilePath=term.write_mat("history_instruments", variables))


@command("BarTime", checks=[("KFrequency", 1, "bar_frequency"), ("allTargetLists", 3, "target_records")])
def bar_time(term, endtm, kfrequency, kfrenum, targets):
    """Variable Time: the bar time line (KFreNum periods a bar) of the dataset's
    days up to the trading date of endtm (of the clock for a falsy endtm)."""
    freq = frequency(kfrequency)
    last = trade_date(mft_to_datetime(endtm)) if endtm else today(term)
    days = [d for d in term.data.trading_days if d <= last]
    times = bar_times(term, days[0], days[-1], freq) if days else np.zeros(0)
    day_pos = np.ones(times.size)
    if freq == "min":
        day_pos = np.tile(np.arange(1.0, term.data.minute_times(last).size + 1), len(days))
    ends = _bar_ends(day_pos, int(kfrenum or 1), freq == "min") if times.size else np.zeros(0, dtype=int)
    return ok(wstrFileName=term.write_mat("bar_time_" + freq, {"Time": _row(times[ends])}))
