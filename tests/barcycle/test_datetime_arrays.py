"""Whole-array time conversions against converting element by element."""
import datetime as dt

import numpy as np
import pytest

from velmoro.tframe.utils import datetimefunc as dtf


@pytest.mark.parametrize("seed", range(4))
def test_arrays_convert_as_their_elements_do(seed):
    rng = np.random.default_rng(seed)
    # whole minutes of recent days, odd moments, and days long before 1970
    days = np.r_[rng.integers(738000, 740000, 40), rng.integers(400, 700000, 10)]
    times = days + np.r_[rng.integers(0, 1440, 40) / 1440.0, rng.random(10)]
    moments = dtf.mft_to_datetime(times)
    assert moments == [dtf._one_to_datetime(t) for t in times]
    stamps = np.array(moments, dtype="datetime64[us]")
    assert dtf.datetime_to_mft(stamps).tolist() == [dtf.datetime_to_mft(m) for m in moments]


@pytest.mark.parametrize("times", [[], [np.nan], [1.0, 739000.5]])
def test_arrays_outside_the_calendar_take_the_one_by_one_way(times):
    if not times:
        assert dtf.mft_to_datetime(np.array(times)) == []
        return
    with pytest.raises((ValueError, OverflowError)):
        dtf.mft_to_datetime(times)


def test_a_day_of_minutes_converts_at_once():
    start = np.datetime64("2024-01-04T09:31")
    minutes = start + np.arange(240).astype("timedelta64[m]")
    expected = [dtf.datetime_to_mft(dt.datetime(2024, 1, 4, 9, 31) + dt.timedelta(minutes=m)) for m in range(240)]
    assert dtf.datetime_to_mft(minutes).tolist() == expected


@pytest.mark.parametrize("fmt", [dtf.DEFAULT_FORMAT, "%Y%m%d", "%H:%M"])
def test_texts_and_moments_of_single_times_as_strftime_gives_them(fmt):
    """Repeated conversions (the loop's, kept) and new ones, years before 1000 included."""
    times = [739254.4375, 739254.4375, 739254.4381944444, 365.0 + 20.5, 3652424.999988426, np.float64(739254.5)]
    for t in times * 2:
        moment = dtf._one_to_datetime(t)
        assert dtf.mft_to_str_format(t, fmt) == moment.strftime(fmt)
        assert dtf.mft_to_datetime([t]) == [moment] == dtf.mft_to_datetime(np.array([t]))
    with pytest.raises(TypeError):
        dtf.mft_to_str_format(times[0], 7)
