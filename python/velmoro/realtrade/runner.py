"""Start a live run: create the run's variables and environment, load its
history matrices from the terminal, publish the run and hand it to the
refresh loop until the terminal asks it to stop.

    summary = run_live(targets, on_data, frequency="min", begin_date=20240103, end_date=20240104)

On a terminal that pushes live data the history covers
`begin_date`..`end_date` and the pushes then extend it trading day by
trading day. On the embedded simulated terminal with nothing pushing to it,
the terminal replays `begin_date`..`end_date` from its dataset instead, the
dataset's earlier days being the history. A run without pushes for
`idle_warning` seconds warns, naming the terminal, and again after each
further such wait. A replay runs as consecutive sessions of at most
`session_days` trading days, each with the `history_days` trading days
before it as history (a later session takes them over from the session
before instead of asking the terminal again), so that its matrices, and the memory they take, stay
bounded however many days it replays; the sessions share the accounts, the
order book and the strategy's context (its own module state lives on
anyway), and their summaries join into one. A terminal served by another
process replays the run's days as one session (bounded history still). Ctrl-C ends the run: it is logged, the replay is undone
and the KeyboardInterrupt reaches the caller with the run's summary so far
as its `summary` attribute.
"""
import dataclasses
import datetime as _dt
import math
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.api.history._history import get_trading_time
from velmoro.realtrade import barcycle
from velmoro.realtrade.calc import (
    QUANTITIES,
    UserIndicator,
    build_bars,
    current_bars,
    new_matrix,
    with_room,
    quantity_block,
    update_user_calc_indices,
)
from velmoro.realtrade.calc.layout import carry_columns, forget_buffers, index_or_slice, offer_buffers
from velmoro.realtrade.runtypes import RealTradeEnv, RealTradeVar
from velmoro.tframe.comm import link, vmcmd
from velmoro.tframe.language import text
from velmoro.tframe.runtypesbase import Account, KData, KDataAdj, KDataList, TargetColumns, gv, publish_run, smm
from velmoro.tframe.ufuncs import todotmc
from velmoro.tframe.utils.datetimefunc import mft_to_int_format
from velmoro.tframe.utils.logger import write_log
from velmoro.tframe.utils.utilfunc import load_mat

__all__ = ["RunSummary", "run_live"]


@dataclasses.dataclass
class RunSummary:
    """What a live run did: the handler's calls as (refresh position, bar
    date-time, day began), the ids of the orders in the run's book, the
    accounts' last cash records and the position the run stopped at."""

    strategy: str
    task_id: int
    calls: List[tuple]
    orders: list
    cash: list
    last_position: int
    accounts: List[int] = dataclasses.field(default_factory=list)
    start_equity: float = math.nan  # the accounts' total asset when the run started
    equity: List[tuple] = dataclasses.field(default_factory=list)  # (bar date-time, total asset) per handler call
    interrupted: bool = False  # ended by Ctrl-C (the summary KeyboardInterrupt carries), not by the stop push
    error: Optional[str] = None  # what ended a failed run (the summary its exception carries)

    @property
    def ended(self) -> str:
        """How the run ended: "completed" (the terminal's stop push), "interrupted" (Ctrl-C) or "error"."""
        return "interrupted" if self.interrupted else "error" if self.error is not None else "completed"


# bar files read before their bars go into the matrix together: the targets'
# bars are written whole instead of one target's scattered rows at a time
_LOAD_BATCH = 256


def _load_history(kdata: KData, targets: List[dict], begin: int, end: int, fq: str) -> None:
    """Fill a one-period record's quantities from the terminal's bar files
    (one per target, as the command answers)."""
    line = np.ascontiguousarray(kdata.Matrix[gv.KMatrixPos_TimeLine])
    block = quantity_block(kdata.Matrix)
    paths = vmcmd.vmSendCmdGetKData(targets, kdata.KFrequency, 1, begin, end, 0, fq, False)
    for first in range(0, len(paths), _LOAD_BATCH):
        # the batch's targets by the times their files hold: one group mostly
        groups: Dict[bytes, Tuple[np.ndarray, List[int], list]] = {}
        for target in range(first, min(first + _LOAD_BATCH, len(paths))):
            bars = load_mat(paths[target], error="raise")
            times = np.ravel(bars["Time"]).astype(float)
            members = groups.setdefault(times.tobytes(), (times, [], []))
            members[1].append(target)
            members[2].append(np.concatenate([np.reshape(bars[q], (1, -1)) for q in QUANTITIES]).astype(float))
        for times, rows, values in groups.values():
            cols = np.searchsorted(line, times)
            known = (cols < line.size) & (line[np.minimum(cols, line.size - 1)] == times)
            if not known.any():
                continue
            at = index_or_slice(np.array(rows))
            where = ((at, slice(None), index_or_slice(cols[known])) if isinstance(at, slice)
                     else np.ix_(rows, np.arange(len(QUANTITIES)), cols[known]))
            block[where] = np.stack(values)[:, :, known]
            kdata.wrote_columns(cols[known].max() + 1)


def _columns_of(matrix: np.ndarray, times: np.ndarray) -> Optional[int]:
    """The first of the consecutive columns of `matrix` whose times are
    `times`, None when it lacks any of them."""
    line = matrix[gv.KMatrixPos_TimeLine]
    first = int(np.searchsorted(line, times[0]))
    return first if np.array_equal(line[first : first + times.size], times) else None


def _record(targets: List[dict], frequency: str, freq_num: int, begin: int, end: int, room_days: int,
            earlier: Optional[KData] = None) -> Tuple[KData, bool]:
    """A record of the history from `begin` to `end`, with room for
    `room_days` more days at the history's bars a day (a session's days then
    never copy the matrix to grow it); and whether its bars are all there:
    taken from `earlier` (the previous session's record of the same bars,
    which ends where this history does) when it holds every one of them,
    else left empty for the terminal's."""
    times, day_pos = get_trading_time(targets, frequency, begin, end, freq_num)
    per_day = -(-np.size(times) // max(np.unique(np.floor(times)).size, 1))
    room = per_day * room_days
    first = _columns_of(earlier.Matrix, times) if earlier is not None and times.size else None
    if earlier is not None and first is not None:
        record = KData(frequency, freq_num, carry_columns(earlier.Matrix, first, times.size, room))
        record.DataEnd = None if earlier.DataEnd is None else min(max(earlier.DataEnd - first, 0), times.size)
        return record, True
    record = KData(frequency, freq_num, new_matrix(times, day_pos, len(targets), room))
    record.DataEnd = 0  # nothing written yet
    return record, False


def _bar_records(targets: List[dict], frequency: str, freq_num: int, begin: int, end: int, fq: str,
                 room_days: int, earlier: Optional[KDataList] = None) -> KDataList:
    """The run's bar records: the one-period record of its frequency, its own
    n-period record built from it, and day bars for an intraday run. The
    history the previous session's records (`earlier`) hold is carried over;
    only what they lack is asked of the terminal."""
    records = KDataList()
    frequencies = [frequency] + (["day"] if gv.frequency_to_int(frequency) < gv.KFreq_Day else [])
    for name in frequencies:
        at = earlier.find_pos(gv.frequency_to_int(name), 1) if earlier is not None else -1
        before = earlier[at] if earlier is not None and at >= 0 else None
        kdata, complete = _record(targets, name, 1, begin, end, room_days, before)
        if not complete:
            _load_history(kdata, targets, begin, end, fq)
        records.append(kdata)
    if freq_num > 1:
        own, _ = _record(targets, frequency, freq_num, begin, end, room_days)
        build_bars(own, records[0], 0, own.Matrix.shape[1] - 1)
        records.append(own)
    return records


def _adjusted(records: KDataList, keys: List[str]) -> KDataList:
    """Adjusted counterparts of the records (the terminal's bars carry no
    corporate actions: the same values)."""
    adjusted = KDataList()
    for kdata in records:
        last = kdata.Matrix.shape[1] - 1
        adj = KDataAdj(kdata.KFrequency, kdata.KFreqNum, with_room(kdata.Matrix), kdata.CurrentBar.copy(),
                       TargetColumns(keys, last))
        adj.DataEnd = kdata.DataEnd
        adjusted.append(adj)
    return adjusted


def _close_moment(daily_close: Any, day: int) -> Any:
    if isinstance(daily_close, _dt.time):
        return _dt.datetime.combine(_dt.datetime.strptime(str(day), "%Y%m%d").date(), daily_close)
    return daily_close


def run_live(
    targets: Sequence[dict],
    on_data: Callable,
    frequency: str = "min",
    freq_num: int = 1,
    strategy_name: str = "strategy",
    begin_date: int = 0,
    end_date: int = 0,
    initialize: Optional[Callable] = None,
    accounts: Optional[Sequence[int]] = None,
    daily_close: Any = None,
    factors: Sequence[str] = (),
    indicators: Optional[Dict[str, Callable]] = None,
    fq: str = "NA",
    idle_warning: float = 30.0,
    session_days: int = 5,
    history_days: int = 5,
) -> RunSummary:
    """Run a strategy live on the connected terminal.

    targets: records with "Market" and "Code" (the strategy finds them as
    `context.targets`); on_data(context) is called once per refresh position; frequency ("min" or "day") and freq_num give the
    run's bars; begin_date..end_date (YYYYMMDD) the history loaded before
    the live pushes; initialize(context), when given, runs once before them;
    accounts: the handles traded (every account of the terminal when None);
    daily_close: a time (or date-time) after which the strategy is not called
    and its positions are closed each day; factors: names of the factors the
    pushes may carry; indicators: name -> func(closes) (see UserIndicator),
    kept on the run's variables; fq: the price adjustment ("NA", "forward",
    "backward"); idle_warning: seconds without a push after which a warning
    is logged, and logged again after each further such wait (0: never).

    Returns the RunSummary of the run. An exception of the strategy or of
    the terminal ends the run: it is logged and reaches the caller with the
    summary so far (`ended` "error") as its `summary` attribute.

    On the embedded simulated terminal with nothing pushing to it,
    begin_date..end_date are the days replayed, in sessions of at most
    `session_days` trading days, each with at most `history_days` of the
    dataset's trading days before it as history. Ctrl-C ends the loop: the
    KeyboardInterrupt reaches the caller with a summary whose `interrupted`
    is true as its `summary` attribute.
    """
    if int(session_days) < 1 or int(history_days) < 1:
        raise ValueError("session_days and history_days must be at least 1, got {!r} and {!r}".format(
            session_days, history_days))
    targets = [dict(Market=t["Market"], Code=t["Code"]) for t in targets]
    keys = todotmc(targets)
    settings = (targets, keys, on_data, frequency, freq_num, strategy_name, initialize, accounts, daily_close,
                factors, indicators, fq, idle_warning)
    term = link.current()
    arranged = term.replay_for_run(targets, begin_date, end_date) if hasattr(term, "replay_for_run") else None
    if arranged is None:
        return _run(*settings, begin_date, end_date, None, 0)[0]
    # a replay that names its days is split into sessions (a served one runs whole)
    days = list(getattr(arranged[0], "days", ()))
    sessions = [days[i : i + int(session_days)] for i in range(0, len(days), int(session_days))]
    if len(sessions) > 1:
        arranged[0].detach()
    summary: Optional[RunSummary] = None
    carried: Optional[Dict[str, Any]] = None
    for n in range(max(len(sessions), 1)):
        replay, history_begin, history_end = (
            arranged if len(sessions) <= 1 else term.replay_for_run(targets, sessions[n][0], sessions[n][-1]))
        try:
            history_begin = _recent_days(targets, history_begin, history_end, int(history_days))
            room_days = len(sessions[n]) if sessions else getattr(replay, "room_days", 0)
            part, carried = _run(*settings, history_begin, history_end, carried, room_days)
        except BaseException as exc:
            # an interrupted or failed session carries the run so far
            exc.summary = _joined(summary, exc.summary) if hasattr(exc, "summary") else summary  # type: ignore[attr-defined]
            raise
        finally:
            replay.detach()
            forget_buffers()  # what the session's matrices did not take
        summary = _joined(summary, part)
        if n + 1 < len(sessions):
            # the next session's matrices, of the same shape, take this one's memory
            offer_buffers(_matrices(cnt.vr))
    assert summary is not None  # a run has one session at least
    return summary


def _matrices(vr: RealTradeVar) -> list:
    """The bar and refresh matrices of a session's run variables."""
    records = list(vr.g_VelmoroKDataList) + list(vr.g_VelmoroKDataList_Adj)
    return [k.Matrix for k in records] + [vr.g_VelmoroDataValueFresh, vr.g_VelmoroDataValueFresh_Adj]


def _recent_days(targets: List[dict], begin: int, end: int, count: int) -> int:
    """The first of the last `count` trading days from `begin` to `end`."""
    days, _ = get_trading_time(targets, "day", begin, end, 1)
    return mft_to_int_format(days[-count]) if days.size >= count else begin


def _joined(earlier: Optional[RunSummary], later: RunSummary) -> RunSummary:
    """One summary of consecutive sessions (the later one carries the order
    book of the earlier ones)."""
    if earlier is None:
        return later
    return dataclasses.replace(later, calls=earlier.calls + later.calls, start_equity=earlier.start_equity,
                               equity=earlier.equity + later.equity)


def _total_asset(cash_records: Any) -> float:
    return sum(float(getattr(cash, "total_asset", math.nan)) for cash in cash_records)


# what a session hands the next: the order book, the strategy's context, the
# settings it made (a daily close, margin rates) and the run's task; only
# these, so that a session's matrices are gone when the next one makes its own
_CARRIED = ("g_VMOrders", "g_VMStopOrders", "g_VMTrades", "g_VelmoroUserContext", "g_VelmoroSettingInfo",
            "g_VelmoroModeTaskId")


def _run(targets: List[dict], keys: List[str], on_data: Callable, frequency: str, freq_num: int, strategy_name: str,
         initialize: Optional[Callable], accounts: Optional[Sequence[int]], daily_close: Any, factors: Sequence[str],
         indicators: Optional[Dict[str, Callable]], fq: str, idle_warning: float, begin_date: int, end_date: int,
         carried: Optional[Dict[str, Any]], room_days: int) -> Tuple[RunSummary, Dict[str, Any]]:
    """One session: returns its summary and what it carries to the next
    session (see _CARRIED, and its bar records as "history", from which the
    next session takes its history; `carried` is the previous session's,
    None for the first, and gives its history up). The matrices have room
    for `room_days` replayed days."""
    vr, env = RealTradeVar(), RealTradeEnv()
    # taken out of `carried`: its matrices become this session's
    earlier = carried.pop("history", None) if carried is not None else None
    for name, value in (carried or {}).items():
        setattr(vr, name, value)
    publish_run(vr, env)

    if accounts is None:
        accounts = [a.Handle for a in vmcmd.vmSendCmdSTTradeGetAccountList()]
    vr.g_VelmoroAccounts = [Account(handle, idx) for idx, handle in enumerate(accounts)]
    vr.g_VelmoroSettingInfo.IdleWarning = float(idle_warning)
    start_equity = _total_asset(vmcmd.vmSendCmdGetAccountCash(list(accounts)))

    calls, equity = [], []

    def handler(context: Any) -> None:
        calls.append((context._internal_bar_num, context.now, context.day_begin))
        # the accounts as the loop refreshed them for this bar (the run's
        # variables read at call time: the handler they hold keeps no cycle)
        equity.append((context.now, _total_asset(a.cash for a in cnt.vr.g_VelmoroAccounts)))
        on_data(context)

    info = vr.g_VelmoroInputInfo
    info.update(
        StrategyName=strategy_name, TargetList=targets, TargetListDot=keys, RealTargetList=[],
        MainContractsTargets={k: i for i, k in enumerate(keys)}, FactorList=list(factors),
        BeginDate=begin_date, EndDate=end_date, KFrequency=frequency, KFrequencyI=gv.frequency_to_int(frequency),
        KFreNum=int(freq_num), FQ=fq, on_data_func=handler,
    )

    records = _bar_records(targets, frequency, int(freq_num), begin_date, end_date, fq, room_days, earlier)
    earlier = None  # its old views go: nothing shows the matrices moved but this session's
    # the instrument refresh reads refresh positions off the run's own record
    info.RefreshKDataIdx = records.find_pos(info.KFrequencyI, info.KFreNum)
    own = records[info.RefreshKDataIdx]
    refresh_times = own.Matrix[gv.KMatrixPos_TimeLine]
    for kdata in records:
        kdata.CurrentBar = current_bars(kdata.Matrix[gv.KMatrixPos_TimeLine], refresh_times)
    vr.g_VelmoroKDataList = records
    vr.g_VelmoroDataValueFresh = with_room(own.Matrix)
    if gv.fq_to_int(fq) != gv.FQ_NA:
        vr.g_VelmoroKDataList_Adj = _adjusted(records, keys)
        vr.g_VelmoroDataValueFresh_Adj = with_room(own.Matrix)
    positions = refresh_times.size
    vr.g_VelmoroFactorDataValueFresh = np.full((len(factors), len(targets), positions), np.nan)
    vr.g_VelmoroUserIndices = {
        name: UserIndicator(name, func, len(targets), positions) for name, func in (indicators or {}).items()
    }
    update_user_calc_indices(0, positions)
    vr.g_VelmoroRealTradeSaveFreshPosition = positions - 1

    # one task for the whole run: the terminal's daily close leaves the book
    # the run's first session began with
    task_id = carried["g_VelmoroModeTaskId"] if carried is not None else vmcmd.vmSendCmdCreateTaskRealTrade(
        {"StrategyName": strategy_name, "TargetList": targets, "HandleList": list(accounts)})
    vr.g_VelmoroModeTaskId = task_id
    if daily_close is not None:
        env.set_daily_close(_close_moment(daily_close, end_date))
    vr.g_VelmoroUserContext.targets = targets

    def summary(interrupted: bool, error: Optional[str] = None) -> RunSummary:
        cash = [a.cash for a in vr.g_VelmoroAccounts]
        return RunSummary(strategy_name, int(task_id), calls, vr.g_VMOrders.keys(), cash,
                          vr.g_VelmoroSimCurBarFresh, list(accounts), start_equity, equity, interrupted, error)

    try:
        if initialize is not None and carried is None:
            smm.enter_phase(gv.RUMMODE_PHASE_INIT)(initialize)(vr.g_VelmoroUserContext)
        vmcmd.vmSendCmdStartTaskRealTrade(task_id)
        barcycle.real_trade_k_fresh_loop()
    except KeyboardInterrupt as exc:
        write_log(text.LOG_RUN_INTERRUPTED.format(STRATEGYNAME=strategy_name, BARS=len(calls)),
                  level="warn", console=True)
        # the caller's own Ctrl-C: it goes on, carrying what the run did so far
        exc.summary = summary(True)  # type: ignore[attr-defined]
        raise
    except Exception as exc:
        error = "{}: {}".format(type(exc).__name__, exc)
        write_log(text.LOG_RUN_FAILED.format(STRATEGYNAME=strategy_name, BARS=len(calls), ERROR=error), level="error")
        # the failure goes on to the caller with what the run did before it
        exc.summary = summary(False, error)  # type: ignore[attr-defined]
        raise
    return summary(False), dict({name: getattr(vr, name) for name in _CARRIED}, history=vr.g_VelmoroKDataList)
