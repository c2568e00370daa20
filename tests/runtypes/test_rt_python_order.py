"""The environment's operations make their framework calls and reads in the
order, and as many times, as the Python they stand for, so that the same
error surfaces; and they accept what Python accepts."""
import datetime as dt

import numpy as np
import pytest

from velmoro.realtrade import runtypes
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.ufuncs import todotmc
from velmoro.tframe.utils.exceptions import InvalidParamError

D = dt.datetime
TWO_DAYS = [(D(2024, 1, 4, 9, 31), 1), (D(2024, 1, 4, 9, 32), 2), (D(2024, 1, 4, 14, 59), 3),
            (D(2024, 1, 5, 9, 31), 1), (D(2024, 1, 5, 9, 32), 2)]


class CountingEnv(runtypes.RealTradeEnv):
    """An environment whose `vr` property counts its reads."""

    def __init__(self, variables):
        super().__init__()
        self.variables, self.vr_reads = variables, 0

    @property
    def vr(self):
        self.vr_reads += 1
        return self.variables


@pytest.mark.parametrize("close", [dt.date(2024, 1, 4), 1450, "14:50"], ids=["date", "int", "str"])
def test_a_close_time_without_hour_names_hour(minute_run, close):
    var, env = minute_run(TWO_DAYS)
    with pytest.raises(AttributeError, match="'hour'"):
        env.set_daily_close(close)
    assert var.g_VelmoroSettingInfo.DailyCloseTime is None


@pytest.mark.parametrize("frequency, reads", [("min", 4), ("day", 2)])
def test_daily_close_reads_the_variables_where_python_does(minute_run, frequency, reads):
    var, _ = minute_run(TWO_DAYS)
    var.g_VelmoroInputInfo.update(KFrequency=frequency, KFrequencyI=gv.frequency_to_int(frequency))
    env = CountingEnv(var)
    env.set_daily_close(D(2024, 1, 1, 14, 0))
    assert env.vr_reads == reads


@pytest.mark.parametrize(
    "convert",
    [lambda m: m.astype(">f8"), lambda m: m.astype(object), lambda m: m.astype(np.longdouble),
     lambda m: m.astype(np.float64)[:, ::-1][:, ::-1]],
    ids=["big-endian", "object", "longdouble", "reversed-view"],
)
@pytest.mark.parametrize("close, accepted", [(D(2024, 3, 1, 9, 31, 1), True), (D(2024, 3, 1, 9, 31), False)])
def test_daily_close_reads_any_matrix_numpy_compares(minute_run, convert, close, accepted):
    var, env = minute_run(TWO_DAYS)
    kdata = var.g_VelmoroKDataList[0]
    kdata.Matrix = convert(kdata.Matrix)
    if accepted:
        env.set_daily_close(close)
        assert var.g_VelmoroSettingInfo.DailyCloseTime is close
    else:
        with pytest.raises(InvalidParamError):
            env.set_daily_close(close)


def test_rows_out_of_the_matrix_fail_as_numpy_does(minute_run, monkeypatch):
    var, env = minute_run(TWO_DAYS)
    monkeypatch.setattr(gv, "KMatrixPos_DayPos", 99)
    with pytest.raises(IndexError, match="99"):
        env.set_daily_close(D(2024, 1, 1, 14, 0))


@pytest.mark.parametrize("code", [(1, 2), None, "minute"])
def test_unknown_frequency_is_a_key_error_of_that_code(run, monkeypatch, code):
    var, env = run
    var.g_VelmoroInputInfo.update(TargetList=[], KFrequency="min", KFrequencyI=code, KFreNum=1, BeginDate=20240102)
    monkeypatch.setattr(runtypes, "get_trading_time", lambda *a: (np.array([1.0, 2.0]), None))
    with pytest.raises(KeyError) as info:
        env.get_all_trading_time(5.0)
    assert info.value.args == (code,)


@pytest.fixture
def traced(run, monkeypatch):
    """(variables, environment, calls): todotmc and the terminal command recorded in one list."""
    var, env = run
    calls = []

    def command(market, code, begin, end):
        calls.append(("command", market, code))
        return [{"TargetIns": "rb2405", "Day": 1}] if code == "RB888" else []

    def traced_todotmc(target):
        calls.append(("todotmc", dict(target)))
        return todotmc(target)

    monkeypatch.setattr(vmcmd, "vmSendCmdGetTargetIns_20190830", command)
    monkeypatch.setattr(runtypes, "todotmc", traced_todotmc)
    return var, env, calls


def test_contracts_call_todotmc_where_python_does(traced):
    var, env, calls = traced
    rb, ag = {"Market": "shfe", "Code": "RB888"}, {"Market": "shfe", "Code": "ag"}
    env.collect_contracts([rb, ag], 1, 2)
    assert calls == [
        ("command", "shfe", "RB888"), ("todotmc", rb), ("command", "shfe", "ag"), ("todotmc", ag),
        # resolved: looked up, then keyed by its contract; unresolved: looked up, then keyed by itself
        ("todotmc", rb), ("todotmc", {"Market": "shfe", "Code": "rb2405"}), ("todotmc", ag), ("todotmc", ag),
    ]


@pytest.mark.parametrize("record, missing", [({}, "Market"), ({"Code": "ag"}, "Market"), ({"Market": "shfe"}, "Code")])
def test_a_bad_record_raises_the_key_python_reads_first(traced, record, missing):
    var, env, calls = traced
    with pytest.raises(KeyError) as info:
        env.collect_contracts([record], 1, 2)
    assert info.value.args == (missing,) and calls == []


def test_text_that_utf8_cannot_carry_is_upper_cased_as_python_does(traced, monkeypatch):
    var, env, calls = traced
    monkeypatch.setattr(vmcmd, "vmSendCmdGetTargetIns_20190830", lambda *a: [{"TargetIns": "rb\udc80", "Day": 1}])
    records, positions = env.collect_contracts([{"Market": "sh\udc81", "Code": "RB888"}], 1, 2)
    assert records == [{"Market": "SH\udc81", "Code": "RB\udc80"}]
