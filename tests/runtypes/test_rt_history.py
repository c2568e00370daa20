import datetime as dt

import numpy as np
import pytest
import scipy.io

from velmoro.api.history import _history
from velmoro.api.history._history import get_trading_time, trading_day_positions
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import datetime_to_mft

TARGETS = [{"Market": "sse", "Code": "600000"}]


def minutes(day, count, start=dt.time(9, 30)):
    first = dt.datetime.combine(day, start)
    return [datetime_to_mft(first + dt.timedelta(minutes=i + 1)) for i in range(count)]


@pytest.fixture
def calendar(tmp_path, monkeypatch):
    """The command answers a MAT file holding the given times (shuffled: the result sorts them)."""
    sent = []

    def install(times):
        path = str(tmp_path / "tt.mat")
        scipy.io.savemat(path, {"Time": np.random.default_rng(1).permutation(np.asarray(times)).reshape(1, -1)})

        def command(targets, freq, begin, end):
            sent.append((targets, freq, begin, end))
            return path

        monkeypatch.setattr(vmcmd, "vmSendCmdGetTradingTime", command, raising=False)
        return sent

    return install


def test_minute_bars_restart_each_trading_day(calendar):
    day1, day2 = minutes(dt.date(2024, 1, 4), 7), minutes(dt.date(2024, 1, 5), 7)
    sent = calendar(day1 + day2)
    times, pos = get_trading_time(TARGETS, "min", 20240104, 20240105, 3)
    assert sent == [(TARGETS, "min", 20240104, 20240105)]
    # every third minute, and the last minute of each day closes a shorter bar
    assert times.tolist() == [day1[2], day1[5], day1[6], day2[2], day2[5], day2[6]]
    assert pos.tolist() == [1, 2, 3, 1, 2, 3]


@pytest.mark.parametrize("num, kept", [(1, [0, 1, 2, 3, 4]), (2, [1, 3]), (5, [4]), (6, [])])
def test_longer_bars_take_every_nth_period(calendar, num, kept):
    days = [datetime_to_mft(dt.datetime(2024, 1, d, 15)) for d in (8, 9, 10, 11, 12)]
    calendar(days)
    times, pos = get_trading_time(TARGETS, "day", 20240108, 20240112, num)
    assert times.tolist() == [days[i] for i in kept]
    assert pos.tolist() == [1] * len(kept)


def test_bar_count_below_one_is_refused(calendar):
    calendar([1.0])
    with pytest.raises(ValueError):
        get_trading_time(TARGETS, "day", 1, 2, 0)


def test_night_session_belongs_to_the_next_weekday():
    friday_night = datetime_to_mft(dt.datetime(2024, 1, 5, 21, 0))
    monday = minutes(dt.date(2024, 1, 8), 2)
    friday_day = minutes(dt.date(2024, 1, 5), 2)
    assert trading_day_positions(friday_day + [friday_night] + monday).tolist() == [1, 2, 1, 2, 3]
    assert trading_day_positions([]).tolist() == []


def test_history_module_leaves_the_command_channel_alone_until_called():
    assert "vmcmd" not in vars(_history)
