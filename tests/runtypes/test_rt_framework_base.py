"""The framework's run-state base module as the live run uses it."""
import datetime as dt
import math

import numpy as np
import pytest

from velmoro.tframe import runtypesbase as cnt
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.runtypesbase import (Account, KData, KDataAdj, KDataList, SystemBaseEnv, SystemBaseVar, gv,
                                         publish_run, smm)


def test_frequency_codes_grow_with_the_period():
    names = ["tick", "min", "day", "week", "month", "year"]
    codes = [gv.frequency_to_int(n) for n in names]
    assert codes == sorted(codes) and len(set(codes)) == 6
    assert codes[1:4] == [gv.KFreq_Min, gv.KFreq_Day, gv.KFreq_Week]
    assert gv.frequency_to_int(" MIN ") == gv.frequency_to_int("minute") == gv.frequency_to_int(gv.KFreq_Min)


@pytest.mark.parametrize("convert, value", [(gv.frequency_to_int, "hour"), (gv.frequency_to_int, 99),
                                            (gv.frequency_to_int, True), (gv.fq_to_int, "sideways"),
                                            (gv.fq_to_int, 7)])
def test_unknown_codes_are_refused(convert, value):
    with pytest.raises(ValueError):
        convert(value)


@pytest.mark.parametrize("setting, code", [(None, gv.FQ_NA), ("NA", gv.FQ_NA), ("Forward", gv.FQ_Forward),
                                           ("backward", gv.FQ_Backward), (gv.FQ_Backward, gv.FQ_Backward)])
def test_price_adjustment_codes(setting, code):
    assert gv.fq_to_int(setting) == code


def test_enter_phase_runs_inside_the_phase_and_restores_it():
    seen = []

    def handler(context):
        seen.append((smm.phase, context))
        raise RuntimeError("strategy failed")

    wrapped = smm.enter_phase(gv.RUMMODE_PHASE_ONDATA)(handler)
    before = smm.phase
    with pytest.raises(RuntimeError):
        wrapped("ctx")
    assert seen == [(gv.RUMMODE_PHASE_ONDATA, "ctx")] and smm.phase == before
    assert wrapped.__name__ == "handler"


def test_a_handler_wrapped_again_runs_in_the_phase_asked_each_time():
    def phase_of(tag):
        return lambda: (tag, smm.phase)

    first, second = phase_of("first"), phase_of("second")
    calls = [(first, gv.RUMMODE_PHASE_ONDATA), (first, gv.RUMMODE_PHASE_ONDATA), (second, gv.RUMMODE_PHASE_ONDATA),
             (first, gv.RUMMODE_PHASE_INIT), (first, gv.RUMMODE_PHASE_ONDATA)]
    for func, phase in calls:
        assert smm.enter_phase(phase)(func)() == (func()[0], phase)


def test_find_pos_matches_code_and_bar_count():
    records = KDataList([KData("min", 1), KData("min", 5), KDataAdj("day", 1)])
    assert [records.find_pos(gv.KFreq_Min, 5), records.find_pos(gv.KFreq_Day, 1), records.find_pos(gv.KFreq_Day, 2)] == [1, 2, -1]
    adj = records[2]
    assert (adj.AdjCalcPos, adj.LastSynBaseTimeLinePos, adj.LastSynTimeLinePos) == ({}, 0, 0)
    assert records[0].Matrix.shape == (gv.KMatrix_Rows, 0) and records[0].CurrentBar.dtype == np.int64


def test_account_keeps_its_own_positions():
    acc = Account(5, 0)
    positions = [{"account_handle": 5, "code": "a"}, {"account_handle": 6, "code": "b"}, {"code": "c"}]
    acc.update_info({"cash": 1.0}, positions)
    assert acc.cash == {"cash": 1.0} and [p["code"] for p in acc.positions] == ["a", "c"]


@pytest.fixture
def base_run():
    var, env = SystemBaseVar(), SystemBaseEnv()
    var.g_VelmoroAccounts = [Account(100, 0), Account(200, 1)]
    env.vr = var
    return var, env


@pytest.mark.parametrize("idx, handle", [(0, 100), (1, 200), (2, None)])
def test_account_index_and_handle_map_both_ways(base_run, idx, handle):
    var, env = base_run
    assert env.account_idx_to_handle(idx) == handle
    if handle is not None:
        assert env.account_handle_to_idx(handle) == idx
    assert env.account_handle_to_idx(999) is None


def test_environment_account_views(base_run):
    var, env = base_run
    assert env.account_handles == [100, 200] and env.account_handles is not env.account_handles
    found = env.get_handle_account_map([200, 300])
    assert list(found) == [200] and found[200] is var.g_VelmoroAccounts[1]


@pytest.mark.parametrize("close, fraction", [(None, None), (dt.datetime(2024, 1, 2, 14, 45), 14.75 / 24),
                                             (dt.time(0, 0, 1), 1 / 86400)])
def test_daily_close_setting_and_its_fraction_of_a_day(base_run, close, fraction):
    var, env = base_run
    var.g_VelmoroSettingInfo.DailyCloseTime = close
    assert env.exist_daily_close_time_setting() is (close is not None)
    if fraction is None:
        assert math.isnan(var.g_VelmoroDailyCloseTime)
    else:
        assert var.g_VelmoroDailyCloseTime == pytest.approx(fraction, abs=1e-8)  # within a millisecond
        # written as a fraction it names the same time of day
        var.g_VelmoroDailyCloseTime = var.g_VelmoroDailyCloseTime
        assert var.g_VelmoroSettingInfo.DailyCloseTime.strftime("%H%M%S") == close.strftime("%H%M%S")


@pytest.mark.parametrize("fraction", [1.0, -0.1])
def test_daily_close_fraction_outside_a_day_is_refused(base_run, fraction):
    with pytest.raises(ValueError):
        base_run[0].g_VelmoroDailyCloseTime = fraction


def test_fresh_bar_gate_and_preparation(base_run):
    var, env = base_run
    var.g_VelmoroDataValueFresh = np.array([[1.0, 2.0], [1, 2]])
    assert env.fresh_bar_timeline.tolist() == [1.0, 2.0]
    assert env.in_fresh_bar()
    assert smm.enter_phase(gv.RUMMODE_PHASE_ONDATA)(env.in_fresh_bar)() is False
    env.before_new_fresh_bar()
    assert var.g_VelmoroLastHeartBeat.beats == 1
    var.g_VelmoroLastHeartBeat.reset()
    assert var.g_VelmoroLastHeartBeat.beats == 0 and var.g_VelmoroLastHeartBeat.elapsed() >= 0


def test_publish_run_binds_the_environment(monkeypatch):
    monkeypatch.setattr(cnt, "vr", None)
    monkeypatch.setattr(cnt, "env", None)
    var, env = SystemBaseVar(), SystemBaseEnv()
    publish_run(var, env)
    assert cnt.vr is var and cnt.env is env and env.vr is var
    # an unbound environment reads the published variables
    assert SystemBaseEnv().vr is var


def test_instrument_table_asks_only_for_what_it_lacks(monkeypatch):
    calls = []

    def fetch(targets, begin, end, fq_type):
        calls.append((begin, end, fq_type))
        return {"SSE.600000": (begin, end)}

    monkeypatch.setattr(vmcmd, "vmSendCmdGetHistoryInstruments", fetch, raising=False)
    table = cnt.InstrumentTable([{"Market": "sse", "Code": "600000"}])
    table.fetch_or_update(20240105, 20240110, gv.FQ_NA)
    table.fetch_or_update(20240106, 20240110, gv.FQ_NA)
    table.fetch_or_update(20240101, 20240108, gv.FQ_NA)
    data = table.fetch_or_update(20240101, 20240108, gv.FQ_Forward)
    assert calls == [(20240105, 20240110, "NA"), (20240101, 20240110, "NA"), (20240101, 20240108, "forward")]
    assert data == {"SSE.600000": (20240101, 20240108)}


def test_cache_round_trip():
    cache = cnt.Cache()
    assert cache.get_cache("k") is None and cache.get_cache("k", 3) == 3
    cache.set_cache("k", [1])
    assert cache.get_cache("k") == [1]
    cache.clear()
    assert cache.get_cache("k") is None
