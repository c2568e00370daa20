"""The terminal's pushes: receiving them, checking what they carry and
keeping it in the loop's context until a refresh consumes it."""
import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.realtrade.calc.layout import PUSH_BAR_COLUMNS, PUSH_FACTOR_COLUMNS, repeats_first
from velmoro.tframe.comm.link import current, receive_push
from velmoro.tframe.language import text
from velmoro.tframe.utils.logger import write_log

__all__ = [
    "RECEIVE_TIMEOUT",
    "receive_data",
    "check_factor_data",
    "check_min_fresh_data",
    "check_day_fresh_data",
    "combine_pushed_timeline",
]

# seconds of quiet after which receive_data gives None
RECEIVE_TIMEOUT = 1.0
_TIME = PUSH_BAR_COLUMNS.index("Time")


# the heartbeat moment and the number of idle periods last warned about
_warned = {"beat": None, "periods": 0}


def _warn_when_idle(heartbeat):
    """Warn once per `IdleWarning` seconds (a run setting) without a sign of
    life, naming the terminal and what the run waits for."""
    idle = cnt.vr.g_VelmoroSettingInfo.get("IdleWarning") or 0.0
    quiet = heartbeat.elapsed()
    if idle <= 0 or quiet < idle:
        return
    if _warned["beat"] != heartbeat.last:
        _warned.update(beat=heartbeat.last, periods=0)
    periods = int(quiet // idle)
    if periods > _warned["periods"]:
        _warned["periods"] = periods
        term = current()
        write_log(text.WARN_NO_PUSH.format(TERMINAL=getattr(term, "name", repr(term)), SECONDS=quiet,
                                           STRATEGYNAME=cnt.vr.g_VelmoroInputInfo.StrategyName),
                  level="warn", console=True)


def receive_data(timeout=RECEIVE_TIMEOUT):
    """The terminal's next push, or None when none comes within `timeout`
    seconds. A push counts as a sign of life of the run (its heartbeat);
    a long quiet is warned about (see `_warn_when_idle`)."""
    push = receive_push(timeout)
    heartbeat = cnt.vr.g_VelmoroLastHeartBeat
    if push is not None:
        heartbeat.beat()
    else:
        _warn_when_idle(heartbeat)
    return push


def _size(data):
    """np.size(data), without numpy's dispatch for an array (a few times a push)."""
    return data.size if type(data) is np.ndarray else np.size(data)


def _well_formed(data, columns, what, lpc):
    """True for an empty array or one row per item with `columns` columns;
    otherwise the pass is broken off with the reason."""
    data = np.asarray(data)
    if data.size == 0 or (data.ndim == 2 and data.shape[1] == len(columns)):
        return True
    lpc.loop_status.op_break = "pushed {} must be an array of rows ({}), got shape {}".format(
        what, ", ".join(columns), data.shape
    )
    return False


def _kept(held, pushed):
    """Bars held in the context followed by the newly pushed ones."""
    pushed = np.asarray(pushed, dtype=float)
    if _size(held) == 0:
        return pushed.reshape(-1, len(PUSH_BAR_COLUMNS))
    return np.concatenate([held, pushed.reshape(-1, len(PUSH_BAR_COLUMNS))])


def check_factor_data(tmp_factor_data, lpc):
    """Keep a factor push (rows: factor index, target index, time, value) in
    `lpc.factor_data` for the next factor refresh."""
    if _well_formed(tmp_factor_data, PUSH_FACTOR_COLUMNS, "factor values", lpc) and _size(tmp_factor_data):
        lpc.factor_data.append(np.asarray(tmp_factor_data, dtype=float))


def check_min_fresh_data(tmp_min_data, lpc):
    """Keep pushed minute bars (rows as PUSH_BAR_COLUMNS) in `lpc.min_fresh_data`."""
    if _well_formed(tmp_min_data, PUSH_BAR_COLUMNS, "minute bars", lpc):
        lpc.min_fresh_data = _kept(lpc.min_fresh_data, tmp_min_data)


def check_day_fresh_data(tmp_day_data, lpc):
    """Keep pushed day bars (rows as PUSH_BAR_COLUMNS) in `lpc.day_fresh_data`."""
    if _well_formed(tmp_day_data, PUSH_BAR_COLUMNS, "day bars", lpc):
        lpc.day_fresh_data = _kept(lpc.day_fresh_data, tmp_day_data)


def combine_pushed_timeline(lpc):
    """Set `lpc.pushed_latest_timeline` to the times of the finest pushed bars
    (minute bars, else day bars) not earlier than the last refreshed time:
    a bar pushed again while it forms refreshes its position once more."""
    held = lpc.min_fresh_data if _size(lpc.min_fresh_data) else lpc.day_fresh_data
    if _size(held) == 0:
        times = np.zeros(0)
    else:
        times = held[:, _TIME]
        # a regular push is one time for every target: its unique time is its first
        times = times[:1].copy() if repeats_first(times) else np.unique(times)
    lpc.pushed_latest_timeline = times[times >= lpc.end_fresh_time]
