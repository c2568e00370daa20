"""A bar stamped exactly at the daily close counts as reaching it."""
import datetime as dt

import pytest

from velmoro.tframe.runtypesbase import SystemBaseVar
from velmoro.tframe.utils.datetimefunc import datetime_to_mft


@pytest.mark.parametrize("hh,mm", [(14, 50), (14, 57), (11, 30), (9, 31), (15, 0)])
def test_bar_at_the_close_reaches_it(hh, mm):
    vr = SystemBaseVar()
    vr.g_VelmoroSettingInfo.DailyCloseTime = dt.datetime(2024, 1, 2, hh, mm)
    for day in range(2, 30):
        at_close = datetime_to_mft(dt.datetime(2024, 1, day, hh, mm))
        before = datetime_to_mft(dt.datetime(2024, 1, day, hh, mm) - dt.timedelta(seconds=1))
        assert at_close % 1 >= vr.g_VelmoroDailyCloseTime
        assert before % 1 < vr.g_VelmoroDailyCloseTime


def test_fraction_round_trips_to_the_same_time():
    vr = SystemBaseVar()
    vr.g_VelmoroDailyCloseTime = (14 * 3600 + 50 * 60) / 86400.0
    close = vr.g_VelmoroSettingInfo.DailyCloseTime
    assert (close.hour, close.minute, close.second) == (14, 50, 0)
    vr.g_VelmoroDailyCloseTime = vr.g_VelmoroDailyCloseTime
    assert vr.g_VelmoroSettingInfo.DailyCloseTime == close
