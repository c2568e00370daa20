"""Every command end to end against the simulated terminal, and the
terminal's market data and calendar."""
import datetime as dt
import os

import numpy as np
import pytest

from command_table import COMMANDS, T, mat
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import datetime_to_mft, mft_to_datetime
from velmoro.tframe.utils.exceptions import VmReturnError

# (command, arguments (or a function of the terminal giving them), check of the result)
E2E = [(c.name, *c.live) for c in COMMANDS]


@pytest.mark.parametrize("name,args,check", E2E, ids=[r[0] for r in E2E])
def test_command_end_to_end(terminal, name, args, check):
    if callable(args):
        args = args(terminal)
    got = getattr(vmcmd, name)(*args)
    assert check(got, terminal), got


def minute(term, day_index, position):
    """The time of a minute bar: day of the dataset, position in the day (1 = 09:31)."""
    return term.data.minute_times(term.data.trading_days[day_index])[position - 1]


def test_bars_exist_up_to_the_clock(terminal):
    terminal.now = minute(terminal, 1, 120)  # day 2, 11:30
    day = vmcmd.vmSendCmdGetKData(T[:1], "day", 1, 0, 0, 0, "NA", False)[0]
    mins = vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 0, 0, 0, "NA", False)[0]
    assert mat(day)["Time"].size == 1 and mat(mins)["Time"].size == 240 + 120
    assert mat(mins)["Time"][0, -1] == terminal.now


def test_bars_of_several_periods(terminal):
    one = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 20240102, 20240102, 0, "NA", False)[0])
    five = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 5, 20240102, 20240102, 0, "NA", False)[0])
    assert five["Time"].shape == (1, 48)
    np.testing.assert_array_equal(five["Time"][0], one["Time"][0, 4::5])
    np.testing.assert_array_equal(five["DayPos"][0], np.arange(1, 49))
    assert five["Open"][0, 1] == one["Open"][0, 5] and five["Close"][0, 1] == one["Close"][0, 9]
    assert five["High"][0, 1] == one["High"][0, 5:10].max() and five["Volume"][0, 1] == one["Volume"][0, 5:10].sum()
    seven = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 7, 20240102, 20240103, 0, "NA", False)[0])
    assert seven["Time"].size == 2 * 35 and seven["Time"][0, 34] == one["Time"][0, -1]  # the day's last bar closes


def test_last_bars_up_to_an_end_date(terminal):
    path = vmcmd.vmSendCmdGetNKDataMulti(T, "day", 1, 2, 20240103, 0, "NA")
    times = mat(path)["szse_000001_Time"][0]
    assert [mft_to_datetime(t).day for t in times] == [2, 3]


@pytest.mark.parametrize(
    "freq,begin,end,count,first,last",
    [
        ("min", 20240105, 20240109, 3 * 240, "2024-01-05 09:31", "2024-01-09 15:00"),
        ("day", 20240106, 20240107, 0, None, None),
        ("day", 20241230, 20250103, 5, "2024-12-30 15:00", "2025-01-03 15:00"),
        ("week", 20240101, 20240131, 5, "2024-01-05 15:00", "2024-01-31 15:00"),
        ("month", 20240115, 20240430, 4, "2024-01-31 15:00", "2024-04-30 15:00"),
        ("year", 20230601, 20241231, 2, "2023-12-29 15:00", "2024-12-31 15:00"),
    ],
)
def test_trading_time_covers_every_weekday(terminal, freq, begin, end, count, first, last):
    times = mat(vmcmd.vmSendCmdGetTradingTime(T, freq, begin, end))["Time"]
    assert times.shape == (1, count)
    if count:
        stamps = [mft_to_datetime(t).strftime("%Y-%m-%d %H:%M") for t in times[0, [0, -1]]]
        assert stamps == [first, last]
        assert (np.diff(times[0]) > 0).all()


def test_trading_time_matches_the_bars(terminal):
    bars = mat(vmcmd.vmSendCmdGetKData(T[:1], "min", 1, 0, 0, 0, "NA", False)[0])["Time"]
    line = mat(vmcmd.vmSendCmdGetTradingTime(T, "min", 20240102, 20240104))["Time"]
    np.testing.assert_array_equal(bars, line)
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdGetTradingTime(T, "tick", 20240102, 20240104)


@pytest.mark.parametrize(
    "when,expected",
    [
        (dt.datetime(2024, 1, 3, 14, 0), 20240103),
        (dt.datetime(2024, 1, 3, 20, 0), 20240104),
        (dt.datetime(2024, 1, 5, 21, 30), 20240108),
        (dt.datetime(2024, 1, 6, 10, 0), 20240108),
        (dt.datetime(2024, 1, 7, 23, 0), 20240108),
    ],
)
def test_trade_date_of_a_date_time(terminal, when, expected):
    assert vmcmd.vmSendCmdTransTradeTimeToTradeDate(datetime_to_mft(when)) == expected


def test_the_clock_sets_today(terminal):
    terminal.now = minute(terminal, 0, 10)
    assert vmcmd.vmSendCmdGetCurTradeDate() == 20240102
    assert vmcmd.vmSendCmdGetPreTradeDate() == 20240101  # every weekday trades
    assert [r.TradeDate for r in vmcmd.vmSendCmdGetRtData(T)] == [20240102] * 2


def test_main_contract_rolls_over(terminal):
    records = vmcmd.vmSendCmdGetTargetIns_20190830("czce", "SR888", 20240410, 20240419)
    codes = [r["TargetIns"] for r in records]
    assert codes[0] == "SR405" and codes[-1] == "SR409" and codes == sorted(codes)
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdGetTargetIns_20190830("czce", "XX888", 20240410, 20240419)


def test_bar_time_line_is_loaded_then_removed(terminal):
    times = vmcmd.vmSendCmdGetDatePeriodBarTime(T, "day", 1, 0)
    assert times.shape == (1, 3)
    assert [f for f in os.listdir(terminal.result_dir) if f.startswith("bar_time")] == []
    vmcmd.vmSendCmdGetDatePeriodBarTime(T, "min", 1, minute(terminal, 0, 1))
    assert len([f for f in os.listdir(terminal.result_dir) if f.startswith("bar_time")]) == 1


def test_field_information_comes_as_messages(terminal, monkeypatch):
    shown = []
    monkeypatch.setattr(vmcmd, "user_info", lambda m: shown.append(("info", m)))
    monkeypatch.setattr(vmcmd, "user_warning", lambda m: shown.append(("warning", m)))
    vmcmd.vmSendCmdFdmtFieldInfo(["Revenue"])
    vmcmd.vmSendCmdRiskModelFieldInfo(["Beta", "Shoe size"])
    vmcmd.vmSendCmdToolboxCheck("python", "1.0", ["2.0"])
    assert [kind for kind, _ in shown] == ["info", "warning", "warning"]
    assert "Revenue" in shown[0][1] and "Shoe size" in shown[1][1]
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdToolboxCheck("matlab", "1.0", ["3.1.4"])
