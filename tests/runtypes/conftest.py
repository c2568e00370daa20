"""A live run's variables and environment bound together, and bar matrices
built from (date-time, day position) columns."""
import numpy as np
import pytest

from velmoro.realtrade import runtypes
from velmoro.tframe.runtypesbase import KData, gv
from velmoro.tframe.utils.datetimefunc import datetime_to_mft


@pytest.fixture
def run():
    """(variables, environment) of a fresh live run; the environment reads these variables."""
    var = runtypes.RealTradeVar()
    env = runtypes.RealTradeEnv()
    env.vr = var
    return var, env


@pytest.fixture
def bar_matrix():
    """bar_matrix([(datetime, day_pos), ...]) -> a bar matrix with those columns."""

    def build(columns):
        m = np.zeros((gv.KMatrix_Rows, len(columns)))
        for c, (moment, day_pos) in enumerate(columns):
            m[gv.KMatrixPos_TimeLine, c] = datetime_to_mft(moment)
            m[gv.KMatrixPos_DayPos, c] = day_pos
        return m

    return build


@pytest.fixture
def minute_run(run, bar_matrix):
    """A run on minute bars; `use(columns)` installs its first bar-data record."""
    var, env = run
    var.g_VelmoroInputInfo.update(KFrequency="min", KFrequencyI=gv.KFreq_Min)

    def use(columns, order="C"):
        matrix = np.asarray(bar_matrix(columns), order=order)
        var.g_VelmoroKDataList[:] = [KData("min", 1, matrix)]
        return var, env

    return use
