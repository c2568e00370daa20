"""Factor values of a live run on the refresh time line.

`cnt.vr.g_VelmoroFactorDataValueFresh` holds one value per factor (axis 0,
in the order of the run's FactorList), target (axis 1) and refresh position
(axis 2).
"""
import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.realtrade.calc.layout import PUSH_FACTOR_COLUMNS, extend_last_axis
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.logger import write_syslog

__all__ = ["update_factor_data_value_fresh", "expand_factor_data_value_fresh"]


def update_factor_data_value_fresh(factor_data):
    """Write pushed factor values (rows as PUSH_FACTOR_COLUMNS) at the refresh
    position each time belongs to (the first at or after it); values naming
    an unknown factor, target or position are left out and reported."""
    values = cnt.vr.g_VelmoroFactorDataValueFresh
    line = cnt.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine]
    factor, target, time, value = np.asarray(factor_data, dtype=float).reshape(-1, len(PUSH_FACTOR_COLUMNS)).T
    pos = np.searchsorted(line, time, side="left")
    known = (factor >= 0) & (factor < values.shape[0]) & (target >= 0) & (target < values.shape[1])
    known &= (factor == np.floor(factor)) & (target == np.floor(target)) & (pos < min(line.size, values.shape[2]))
    values[factor[known].astype(int), target[known].astype(int), pos[known]] = value[known]
    if not known.all():
        write_syslog(
            "pushed factor values outside the run, left out: {!r}".format(
                np.asarray(factor_data).reshape(-1, len(PUSH_FACTOR_COLUMNS))[~known].tolist()
            ),
            level="warn",
        )


def expand_factor_data_value_fresh(sum_idx_fresh_array):
    """Append `sum_idx_fresh_array` refresh positions (NaN) to the factor values."""
    values = cnt.vr.g_VelmoroFactorDataValueFresh
    cnt.vr.g_VelmoroFactorDataValueFresh = extend_last_axis(values, int(sum_idx_fresh_array))
