"""New bar times of the run's trading calendar and the refresh time line."""
import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.api.history._history import get_trading_time
from velmoro.realtrade.calc.layout import FREQUENCY_NAMES, append_columns, continue_day_positions
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.ufuncs import get_real_trade_date
from velmoro.tframe.utils.utilcls import DotDict

__all__ = [
    "synthetic_k_data_rule_map",
    "get_new_time_line_and_day_position",
    "expand_k_data_value_fresh",
    "expand_k_data_value_fresh_adj",
]


def synthetic_k_data_rule_map(code):
    """The frequency code whose one-period bars build bars of `code`: minute
    bars build minute bars, day bars build day and longer bars."""
    code = gv.frequency_to_int(code)
    if code > gv.KFreq_Day:
        return gv.KFreq_Day
    return code


def get_new_time_line_and_day_position(trade_date, unique_i_freq, targets, last_time):
    """The bar times after `last_time` up to the end of the trading date
    `trade_date`, one record per frequency code of `unique_i_freq` (in that
    order): `more_time`, `more_day_pos` and the frequency name `KFrequency`."""
    begin = get_real_trade_date(last_time)
    records = []
    for code in unique_i_freq:
        name = FREQUENCY_NAMES[int(code)]
        times, day_pos = get_trading_time(targets, name, begin, int(trade_date), 1)
        keep = times > last_time
        records.append(DotDict(more_time=times[keep], more_day_pos=np.asarray(day_pos)[keep], KFrequency=name))
    return records


def _expand_fresh(name, expend_fresh_bar_tl):
    matrix = getattr(cnt.vr, name)
    tl = matrix[gv.KMatrixPos_TimeLine]
    day_pos = continue_day_positions(tl, matrix[gv.KMatrixPos_DayPos], expend_fresh_bar_tl)
    setattr(cnt.vr, name, append_columns(matrix, expend_fresh_bar_tl, day_pos))


def expand_k_data_value_fresh(expend_fresh_bar_tl):
    """Append new refresh positions, at the given times, to the refresh matrix."""
    _expand_fresh("g_VelmoroDataValueFresh", expend_fresh_bar_tl)


def expand_k_data_value_fresh_adj(expend_fresh_bar_tl):
    """Append new refresh positions to the adjusted refresh matrix."""
    _expand_fresh("g_VelmoroDataValueFresh_Adj", expend_fresh_bar_tl)
