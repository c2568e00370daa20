"""Run-time state of a strategy run: constants (`gv`), the run-phase manager
(`smm`), the base classes of a run's variables and environment, and the records
they hold.

A run creates one variables object and one environment object and publishes
them with `publish_run`; from then on the module-level `vr` and `env` name them.
Until a run publishes them they are placeholders: reading a field raises
RuntimeError saying that no live run is active and how to start one, except
the task id of `vr`, 0 (no task), which lets factor queries log outside a run. Other modules import this module
whole (as `cnt`) and read `cnt.vr` / `cnt.env` at call time.
"""
import datetime as _dt
import functools
import math
import time
from typing import Any

import numpy as np

from velmoro.tframe.utils.utilcls import DotDict

__all__ = [
    "GlobalValues",
    "gv",
    "PhaseManager",
    "smm",
    "KData",
    "KDataAdj",
    "KDataList",
    "HeartBeat",
    "InstrumentTable",
    "Cache",
    "Account",
    "UserContext",
    "SystemBaseVar",
    "SystemBaseEnv",
    "publish_run",
    "NoRunVar",
    "NoRunEnv",
    "vr",
    "env",
]


class GlobalValues:
    """The framework's constants.

    Bar matrices hold one column per bar and one row per quantity; the
    `KMatrixPos_*` constants are the row indexes. Frequency codes grow with the
    period (`KFreq_Tick` < `KFreq_Min` < ... < `KFreq_Year`).
    """

    KMatrixPos_TimeLine = 0  # bar time, framework numeric time
    KMatrixPos_DayPos = 1  # position of the bar within its trading day, 1 for the first
    KMatrixPos_Open = 2
    KMatrixPos_High = 3
    KMatrixPos_Low = 4
    KMatrixPos_Close = 5
    KMatrixPos_Volume = 6
    KMatrixPos_Amount = 7
    KMatrix_Rows = 8

    KFreq_Tick = 0
    KFreq_Min = 1
    KFreq_Day = 2
    KFreq_Week = 3
    KFreq_Month = 4
    KFreq_Year = 5

    FQ_NA = 0  # no price adjustment
    FQ_Forward = 1
    FQ_Backward = 2

    RUMMODE_PHASE_NONE = 0
    RUMMODE_PHASE_INIT = 1
    RUMMODE_PHASE_ONDATA = 2

    _FREQUENCIES = {
        "tick": KFreq_Tick,
        "min": KFreq_Min,
        "minute": KFreq_Min,
        "day": KFreq_Day,
        "week": KFreq_Week,
        "month": KFreq_Month,
        "year": KFreq_Year,
    }
    _FQ = {"na": FQ_NA, "none": FQ_NA, "": FQ_NA, "forward": FQ_Forward, "backward": FQ_Backward}

    @staticmethod
    def frequency_to_int(name):
        """The integer code of a frequency name ("tick", "min", "day", "week",
        "month", "year"; case ignored). A valid code is returned as it is."""
        if type(name) is int and GlobalValues.KFreq_Tick <= name <= GlobalValues.KFreq_Year:
            return name  # a code, as the loop passes it several times a push
        return GlobalValues._code(name, GlobalValues._FREQUENCIES, "frequency")

    @staticmethod
    def fq_to_int(setting):
        """The integer code of a price-adjustment setting ("NA", "forward",
        "backward"; None means "NA"). A valid code is returned as it is."""
        return GlobalValues._code("" if setting is None else setting, GlobalValues._FQ, "price adjustment")

    @staticmethod
    def _code(value, table, what):
        if type(value) is int and value in table.values():
            return value  # a code, as the loop passes it several times a push
        if isinstance(value, (int, np.integer)) and not isinstance(value, bool):
            if int(value) in table.values():
                return int(value)
        elif isinstance(value, str) and value.strip().lower() in table:
            return table[value.strip().lower()]
        raise ValueError("unknown {} {!r}".format(what, value))


gv = GlobalValues()


class PhaseManager:
    """Tracks the phase a run is in (a `gv.RUMMODE_PHASE_*` code)."""

    def __init__(self):
        self.phase = gv.RUMMODE_PHASE_NONE
        # (callable, phase, its wrapped callable) last made: the loop wraps its
        # handler again at every push
        self._last_wrapped = None

    def enter_phase(self, phase):
        """A wrapper: applied to a callable it gives a callable that runs it
        inside `phase` and restores the previous phase afterwards."""

        def wrapper(func):
            last = self._last_wrapped
            if last is not None and last[0] is func and last[1] == phase:
                return last[2]

            @functools.wraps(func)
            def run_in_phase(*args, **kwargs):
                previous = self.phase
                self.phase = phase
                try:
                    return func(*args, **kwargs)
                finally:
                    self.phase = previous

            self._last_wrapped = (func, phase, run_in_phase)
            return run_in_phase

        return wrapper


smm = PhaseManager()


def _empty_matrix():
    return np.zeros((gv.KMatrix_Rows, 0))


class KData:
    """Bar data of one frequency.

    Fields: `KFrequency` (frequency name), `KFrequencyI` (its code), `KFreqNum`
    (periods per bar), `Matrix` (rows indexed by `gv.KMatrixPos_*`, one column
    per bar), `CurrentBar` (per refresh position, the column of `Matrix` that
    is current then; negative before the first bar), `DataEnd` (one past the
    last column that quantities were written to, so that later columns are
    known to be empty; None when unknown: any column may hold data).
    """

    def __init__(self, frequency, freq_num=1, matrix=None, current_bar=None):
        self.KFrequency = frequency
        self.KFrequencyI = gv.frequency_to_int(frequency)
        self.KFreqNum = int(freq_num)
        self.Matrix = _empty_matrix() if matrix is None else matrix
        self.CurrentBar = np.zeros(0, dtype=np.int64) if current_bar is None else current_bar
        self.DataEnd = None

    def wrote_columns(self, stop):
        """Note that quantities were written to columns before `stop`."""
        if self.DataEnd is not None:
            self.DataEnd = max(self.DataEnd, int(stop))

    def __repr__(self):
        return "{}({!r}, {}, {} bars)".format(type(self).__name__, self.KFrequency, self.KFreqNum, self.Matrix.shape[1])


class TargetColumns(dict):
    """Dotted target key -> one-element integer array holding a column of
    that target. Every element lives in one array, `array` (in the order of
    `keys_in_order`), of which each value is a view: the run reads and moves
    every target's column at once, and a value set through `[key][0]` is
    seen there."""

    def __init__(self, keys, columns):
        self.keys_in_order = list(keys)
        self.array = np.zeros(len(self.keys_in_order), dtype=np.int64)
        self.array[:] = columns
        super().__init__(zip(self.keys_in_order, np.split(self.array, np.arange(1, self.array.size))))


class KDataAdj(KData):
    """Price-adjusted bar data of one frequency.

    Besides the fields of `KData`: `AdjCalcPos` (dotted target key -> integer
    array whose element 0 is the column from which adjusted values are
    calculated again), `LastSynBaseTimeLinePos` and `LastSynTimeLinePos`
    (positions up to which bars built from the base frequency are in sync).
    """

    def __init__(self, frequency, freq_num=1, matrix=None, current_bar=None, adj_calc_pos=None):
        super().__init__(frequency, freq_num, matrix, current_bar)
        self.AdjCalcPos = {} if adj_calc_pos is None else adj_calc_pos
        self.LastSynBaseTimeLinePos = 0
        self.LastSynTimeLinePos = 0


class KDataList(list):
    """The bar-data records of a run, one per frequency and bar count."""

    def find_pos(self, frequency_i, freq_num):
        """Index of the record with that frequency code and bar count, or -1."""
        for i, kdata in enumerate(self):
            if kdata.KFrequencyI == frequency_i and kdata.KFreqNum == freq_num:
                return i
        return -1


class HeartBeat:
    """Liveness of a run: when it last showed activity and how often since the
    last reset."""

    def __init__(self):
        self.reset()

    def reset(self):
        """Start counting afresh from now."""
        self.last = time.monotonic()
        self.beats = 0

    def beat(self):
        """Note one sign of activity."""
        self.last = time.monotonic()
        self.beats += 1

    def elapsed(self):
        """Seconds since the last beat or reset."""
        return time.monotonic() - self.last


class InstrumentTable:
    """Per-target instrument information of a run (contract details per day),
    fetched from the terminal for a date range and price adjustment.

    `data` maps MARKET.CODE to what the terminal gave for that target;
    `begin`, `end` and `fq` describe what `data` covers.
    """

    _FQ_NAMES = {gv.FQ_NA: "NA", gv.FQ_Forward: "forward", gv.FQ_Backward: "backward"}

    def __init__(self, targets=()):
        self.targets = list(targets)
        self.data = {}
        self.begin = None
        self.end = None
        self.fq = None

    def covers(self, begin_date, end_date, fq):
        """True when the held data already covers that range and adjustment."""
        return self.fq == fq and self.begin is not None and self.begin <= begin_date and end_date <= self.end

    def fetch_or_update(self, begin_date, end_date, fq):
        """Make the table cover the trading dates `begin_date`..`end_date`
        (YYYYMMDD) with adjustment code `fq`, asking the terminal only when the
        held data does not already cover them. Returns `data`."""
        if not self.covers(begin_date, end_date, fq):
            if self.fq == fq and self.begin is not None:
                # widen to the union so that nothing held is lost
                begin_date, end_date = min(begin_date, self.begin), max(end_date, self.end)
            from velmoro.tframe.comm import vmcmd

            self.data = dict(
                vmcmd.vmSendCmdGetHistoryInstruments(self.targets, begin_date, end_date, self._FQ_NAMES[fq])
            )
            self.begin, self.end, self.fq = begin_date, end_date, fq
        return self.data


class Cache:
    """Key-value cache of a run."""

    def __init__(self):
        self._items = {}

    def get_cache(self, key, default=None):
        """The value stored under `key`, or `default`."""
        return self._items.get(key, default)

    def set_cache(self, key, value):
        """Store `value` under `key`, replacing an earlier one."""
        self._items[key] = value

    def clear(self):
        """Forget every entry."""
        self._items.clear()


class Account:
    """One trading account of a run.

    `handle` is the terminal's account handle, `handle_idx` the account's index
    in the run. `cash` holds the last cash record and `positions` the position
    records of this account from the last refresh.
    """

    def __init__(self, handle, handle_idx, name=""):
        self.handle = handle
        self.handle_idx = handle_idx
        self.name = name
        self.cash = None
        self.positions = []

    def update_info(self, cash_info, position_info_list):
        """Take this account's cash record and, from the positions of all the
        run's accounts, those of this account (records naming another handle
        under "account_handle" are left out)."""
        self.cash = cash_info
        self.positions = [p for p in position_info_list if _field(p, "account_handle", self.handle) == self.handle]

    def __repr__(self):
        return "Account(handle={!r}, handle_idx={!r})".format(self.handle, self.handle_idx)


def _field(record, name, default):
    getter = getattr(record, "get", None)
    if getter is not None:
        return getter(name, default)
    return getattr(record, name, default)


class UserContext:
    """The strategy's context: the data handler's only argument. The run sets
    `now` (date-time of the bar), `_internal_bar_num` (refresh position) and
    `day_begin` (first bar of a trading day) before each call; the strategy
    may keep its own attributes on it."""

    def __init__(self):
        self.now = None
        self._internal_bar_num = 0
        self.day_begin = False


def _input_info():
    return DotDict(
        StrategyName="",
        TargetList=[],  # target records {"Market", "Code"}
        TargetListDot=[],  # their dotted keys, same order
        RealTargetList=[],  # resolved real contracts, same order (empty: none)
        MainContractsTargets={},  # dotted key of a resolved contract -> target index
        FactorList=[],
        BeginDate=0,  # YYYYMMDD
        EndDate=0,
        KFrequency="day",
        KFrequencyI=gv.KFreq_Day,
        KFreNum=1,
        FQ="NA",
        RefreshKDataIdx=0,
        on_data_func=None,  # the strategy's data handler, called with the user context
    )


def _setting_info():
    # DailyCloseTime: a date-time (or time) whose hour, minute and second are
    # the daily close; None when the run has none
    return DotDict(MarginRate=1.0, DailyCloseTime=None)


class SystemBaseVar:
    """Variables of a run (built without arguments).

    Fields:
      g_VelmoroInputInfo: input settings (dot-access record, see `_input_info`)
      g_VelmoroSettingInfo: run settings `MarginRate`, `DailyCloseTime`
      g_VelmoroTargetsInfo: dotted target key -> target information
        ("LongMargin", "ShortMargin", ...)
      g_VelmoroAccounts: list of `Account`
      g_VelmoroKDataList / g_VelmoroKDataList_Adj: `KDataList` of `KData` /
        `KDataAdj`
      g_VelmoroDataValueFresh / g_VelmoroDataValueFresh_Adj: refresh matrices;
        their time-line row holds the time of each refresh position
      g_VelmoroSimCurBarFresh: current refresh position (next one not dispatched)
      g_VelmoroModeTaskId: the run's task id
      g_VelmoroCache: `Cache`
      g_VelmoroLastHeartBeat: `HeartBeat`
      g_VelmoroInstrument: `InstrumentTable`
      g_VelmoroUserContext: `UserContext`
      g_VelmoroDailyCloseTime: the daily close as a fraction of a day (NaN
        when none), derived from g_VelmoroSettingInfo.DailyCloseTime
      g_VelmoroFactorDataValueFresh: factor values, factors x targets x
        refresh positions
      g_VelmoroUserIndices: the user's indicators, name -> indicator
    """

    def __init__(self):
        self.g_VelmoroInputInfo = _input_info()
        self.g_VelmoroSettingInfo = _setting_info()
        self.g_VelmoroTargetsInfo = {}
        self.g_VelmoroAccounts = []
        self.g_VelmoroKDataList = KDataList()
        self.g_VelmoroKDataList_Adj = KDataList()
        self.g_VelmoroDataValueFresh = _empty_matrix()
        self.g_VelmoroDataValueFresh_Adj = _empty_matrix()
        self.g_VelmoroSimCurBarFresh = 0
        self.g_VelmoroModeTaskId = 0
        self.g_VelmoroCache = Cache()
        self.g_VelmoroLastHeartBeat = HeartBeat()
        self.g_VelmoroInstrument = InstrumentTable()
        self.g_VelmoroUserContext = UserContext()
        self.g_VelmoroFactorDataValueFresh = np.zeros((0, 0, 0))
        self.g_VelmoroUserIndices = {}

    @property
    def g_VelmoroDailyCloseTime(self):
        close = self.g_VelmoroSettingInfo.DailyCloseTime
        if close is None:
            return math.nan
        # half a millisecond early: bar times are float day counts whose
        # fraction can fall a hair below the exact close moment
        return (close.hour * 3600 + close.minute * 60 + close.second - 0.0005) / 86400.0

    @g_VelmoroDailyCloseTime.setter
    def g_VelmoroDailyCloseTime(self, fraction):
        # a fraction of a day becomes the time it stands for; NaN or None clears it
        if fraction is None or math.isnan(fraction):
            self.g_VelmoroSettingInfo.DailyCloseTime = None
            return
        if not 0.0 <= fraction < 1.0:
            raise ValueError("a daily close time is a fraction of a day in [0, 1), got {!r}".format(fraction))
        seconds = min(int(round(fraction * 86400.0)), 86399)
        self.g_VelmoroSettingInfo.DailyCloseTime = _dt.time(seconds // 3600, seconds // 60 % 60, seconds % 60)


class SystemBaseEnv:
    """Environment of a run (built without arguments): operations on the run's
    variables, reached through `vr` (the published run's variables unless
    some are bound to this environment)."""

    def __init__(self):
        self._vr = None

    @property
    def vr(self):
        return self._vr if self._vr is not None else vr

    @vr.setter
    def vr(self, variables):
        self._vr = variables

    def account_idx_to_handle(self, idx):
        """Handle of the account with that index, or None."""
        for account in self.vr.g_VelmoroAccounts:
            if account.handle_idx == idx:
                return account.handle
        return None

    def account_handle_to_idx(self, handle):
        """Index of the account with that handle, or None."""
        for account in self.vr.g_VelmoroAccounts:
            if account.handle == handle:
                return account.handle_idx
        return None

    @property
    def account_handles(self):
        """A new list of the handles of the run's accounts, in order."""
        return [account.handle for account in self.vr.g_VelmoroAccounts]

    def get_handle_account_map(self, handles):
        """Handle -> account record, for those of `handles` that belong to the run."""
        wanted = set(handles)
        return {a.handle: a for a in self.vr.g_VelmoroAccounts if a.handle in wanted}

    def in_fresh_bar(self):
        """True when refreshed bars may be dispatched now: not while the
        strategy's data handler is running (a refresh it triggers must not
        dispatch bars inside it)."""
        return smm.phase != gv.RUMMODE_PHASE_ONDATA

    def before_new_fresh_bar(self):
        """Per-bar preparation before the data handler: the run shows activity."""
        self.vr.g_VelmoroLastHeartBeat.beat()

    def exist_daily_close_time_setting(self):
        """True when the run has a daily close time."""
        return self.vr.g_VelmoroSettingInfo.DailyCloseTime is not None

    @property
    def fresh_bar_timeline(self):
        """The time of each refresh position (time-line row of the refresh matrix)."""
        return self.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine]


NO_RUN_HELP = (
    "no live run is active: {what} needs one. Start a run with "
    "velmoro.realtrade.runner.run_live(targets, on_data, initialize=..., begin_date=..., end_date=...) "
    "or from the command line: velmoro run STRATEGY.py --targets ... --begin ... --end ..."
)


class _NoRun:
    """A placeholder of the run's state while no run is published: any public
    field raises RuntimeError saying how to start a run."""

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        raise RuntimeError(NO_RUN_HELP.format(what="reading {}".format(name)))

    def __setattr__(self, name, value):
        raise RuntimeError(NO_RUN_HELP.format(what="setting {}".format(name)))

    def __repr__(self):
        return "<no live run>"


class NoRunVar(_NoRun):
    """The run's variables while no run is published. Research calls that
    log to the terminal read the task id: 0 (no task) here."""

    g_VelmoroModeTaskId = 0


class NoRunEnv(_NoRun):
    """The run's environment while no run is published."""


# the current run's variables and environment; placeholders until a run is published
vr: Any = NoRunVar()
env: Any = NoRunEnv()


def publish_run(variables, environment):
    """Make `variables` and `environment` the current run's `vr` and `env`;
    the environment is bound to those variables."""
    global vr, env
    environment.vr = variables
    vr, env = variables, environment
