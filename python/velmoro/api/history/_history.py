"""Bar time lines of the terminal's trading calendar."""
import numpy as np

from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.utilfunc import load_mat

__all__ = ["get_trading_time", "trading_day_positions"]

_FIRST_MONDAY = 367  # numeric day of 0001-01-01, a Monday


def trading_day_positions(times):
    """Position of each time within its trading day (1 for the first), for an
    ascending array of numeric times. Times from 20:00 on belong to the next
    weekday's trading day (night sessions)."""
    times = np.asarray(times, dtype=float)
    day = np.floor(times)
    day = day + ((times - day) >= 20.0 / 24.0)
    weekday = (day - _FIRST_MONDAY) % 7
    day = day + np.where(weekday == 5, 2, 0) + np.where(weekday == 6, 1, 0)
    if day.size == 0:
        return np.zeros(0, dtype=np.int64)
    starts = np.flatnonzero(np.r_[True, day[1:] != day[:-1]])
    first = np.repeat(starts, np.diff(np.r_[starts, day.size]))
    return np.arange(day.size) - first + 1


def get_trading_time(targets, freq, begin, end, freq_num=1):
    """Bar times of `targets` at frequency `freq` from `begin` to `end`
    (YYYYMMDD), with `freq_num` periods per bar.

    Returns (times, day positions): the ascending numeric times of the bars,
    each ending at the last period it spans, and each bar's position within
    its trading day. Every `freq_num`-th period of the terminal's time line
    ends a bar; intraday bars restart at each trading day, whose last period
    always ends a bar.
    """
    from velmoro.tframe.comm import vmcmd

    freq_num = int(freq_num)
    if freq_num < 1:
        raise ValueError("freq_num must be at least 1, got {!r}".format(freq_num))
    path = vmcmd.vmSendCmdGetTradingTime(targets, freq, begin, end)
    times = np.sort(np.ravel(load_mat(path, error="raise")["Time"]).astype(float))
    if gv.frequency_to_int(freq) < gv.KFreq_Day:
        pos = trading_day_positions(times)
        keep = (pos % freq_num == 0) | np.r_[pos[1:] == 1, True]
    else:
        keep = np.arange(1, times.size + 1) % freq_num == 0
    times = times[keep]
    return times, trading_day_positions(times)
