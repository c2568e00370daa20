"""The loop's steps make their framework calls and reads in Python's order
(callee first, then the arguments left to right), so that the same calls
happen and the same error surfaces as in the Python they stand for."""
import datetime as dt
import types

import numpy as np
import pytest

from velmoro.realtrade.model.orders import VMRealOrder
from velmoro.tframe.runtypesbase import Account, gv
from velmoro.tframe.ufuncs import todotmc
from velmoro.tframe.utils.utilcls import DotDict


class Traced:
    """A record whose attribute and item reads are recorded as ("<label>.<name>",)."""

    def __init__(self, rec, label, **fields):
        self.__dict__.update(_rec=rec, _label=label, _fields=fields)

    def _read(self, name):
        self._rec.calls.append(("{}.{}".format(self._label, name), (), {}))
        return self._fields[name]

    def __getattr__(self, name):
        if name not in self._fields:
            raise AttributeError(name)
        return self._read(name)

    def __getitem__(self, key):
        return self._read(key)


class TracedGv:
    """gv with one operation recorded."""

    def __init__(self, fake):
        self.fq_to_int = fake

    def __getattr__(self, name):
        return getattr(gv, name)


def test_instrument_refresh_converts_start_end_then_adjustment(loop, monkeypatch):
    loop.minute_run([1.0, 2.0, 3.0, 4.0])
    loop.vr.g_VelmoroInputInfo.FQ = "forward"
    loop.patch("get_real_trade_date", effect=lambda t: int(t * 100))
    monkeypatch.setattr(loop.b, "gv", TracedGv(loop.rec.fake("fq_to_int", effect=gv.fq_to_int)))
    loop.vr.g_VelmoroInstrument.fetch_or_update = loop.rec.fake("fetch_or_update")
    lpc = loop.context(unfilled_begin_calc_pos=np.array([9, 3]), refresh_k_data_idx=1, end_fresh_time=4.0)
    loop.b._update_history_instrument(lpc)
    assert [(c[0], c[1]) for c in loop.rec.calls] == [
        ("get_real_trade_date", (3.0,)), ("get_real_trade_date", (4.0,)), ("fq_to_int", ("forward",)),
        ("fetch_or_update", (300, 400, gv.FQ_Forward))]


def test_fatal_check_formats_the_time_line_end_then_the_pushed_times(loop):
    loop.minute_run([1.0, 2.0, 3.0])
    for name in ("_expand_k_data_value_fresh_wrapper", "_expand_history_k_data_wrapper",
                 "_expand_k_data_value_fresh_adj_wrapper", "_expand_history_k_data_adj_wrapper",
                 "_expand_factor_data_value_fresh_wrapper", "_expand_user_calc_indices_wrapper",
                 "_update_target_main_contract", "get_real_trade_date"):
        loop.patch(name)
    loop.patch("mft_to_str_format", effect=lambda t: "T{}".format(np.asarray(t).tolist()))
    lpc = loop.context(pushed_latest_timeline=np.array([5.0]))
    step = [DotDict(more_time=np.array([4.0]), more_day_pos=np.array([4.0]), KFrequency="min")]
    loop.b.expand_time_line_by_one(lpc, step, np.array([gv.KFreq_Min]))
    assert [c[1] for c in loop.rec.of("mft_to_str_format")] == [(3.0,), (lpc.pushed_latest_timeline,)]
    assert lpc.loop_status.op_break and "T3.0" in lpc.loop_status.detail and "T[5.0]" in lpc.loop_status.detail


def test_order_registration_reads_in_python_order(loop, monkeypatch):
    loop.minute_run([1.0])
    rec = loop.rec
    acc = Traced(rec, "acc", handle_idx=1)
    loop.env.get_handle_account_map = rec.fake("get_handle_account_map", result={22: acc})
    loop.vr.g_VelmoroInputInfo.MainContractsTargets = Traced(rec, "targets", get=rec.fake("targets.get()", 0))
    book = Traced(rec, "book", size=5, keys=lambda: [], append=rec.fake("book.append()"),
                  snap_create_add=rec.fake("book.snap_create_add()"))
    loop.vr.g_VMOrders = book
    monkeypatch.setattr(loop.b, "todotmc", rec.fake("todotmc", effect=todotmc))
    monkeypatch.setattr(loop.b, "VMRealOrder", rec.fake("VMRealOrder", effect=VMRealOrder))
    order = Traced(rec, "order", order_id="B", account_handle=22, market="sse", code="600000")
    loop.command("vmSendCmdSTGetOrderInfoByDate", result=[order])
    loop.b.update_order_info()
    names = rec.names()
    assert names[names.index("get_handle_account_map") - 1:] == [
        "order.account_handle", "get_handle_account_map", "order.account_handle",
        # VMRealOrder(order_idx=..., order_id=..., handle_idx=..., target_idx=targets.get(todotmc({...})))
        "book.size", "order.order_id", "acc.handle_idx", "targets.get", "order.market", "order.code", "todotmc",
        "targets.get()", "VMRealOrder",
        "book.append", "book.append()", "book.snap_create_add", "acc.handle_idx", "book.snap_create_add()"]
    (_, _, kwargs), = rec.of("VMRealOrder")
    assert kwargs == {"order_idx": 5, "order_id": "B", "handle_idx": 1, "target_idx": 0}


@pytest.mark.parametrize(
    "step, args, missing",
    [
        ("_expand_history_k_data_wrapper", (types.SimpleNamespace(), [], []), "is_tick_freq"),
        ("_update_k_data_value_fresh_adj_wrapper", (types.SimpleNamespace(),), "unfilled_begin_calc_pos"),
        ("_update_user_indices_wrapper", (types.SimpleNamespace(),), "end_fresh_bar"),
        ("_update_factor_data_value_fresh_wrapper", (types.SimpleNamespace(),), "factor_data"),
    ],
)
def test_a_step_writes_its_log_line_before_reading_its_arguments(loop, step, args, missing):
    with pytest.raises(AttributeError, match=missing):
        getattr(loop.b, step)(*args)
    assert loop.rec.syslog() == [(step, "info")]


class Moment(float):
    """A bar time whose fraction of the day is recorded when taken."""

    taken = 0

    def __mod__(self, other):
        Moment.taken += 1
        return float(self) % other


@pytest.mark.parametrize("close, taken", [(None, 0), (0.5, 2)])
def test_a_bar_fraction_is_taken_only_with_a_daily_close(loop, close, taken):
    loop.minute_run([1.25, 2.25])
    loop.vr.g_VelmoroDataValueFresh = loop.vr.g_VelmoroDataValueFresh.astype(object)
    loop.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine, :] = [Moment(1.25), Moment(2.25)]
    loop.vr.g_VelmoroSettingInfo.DailyCloseTime = None if close is None else dt.time(12)
    loop.vr.g_VelmoroDailyCloseTime = close
    loop.patch("mft_to_datetime", result=[dt.datetime(2024, 1, 3)])
    loop.patch("mft_to_str_format", result="t")
    for name in ("update_account_position_info", "update_order_info"):
        loop.patch(name)
    loop.vr.g_VelmoroInputInfo.on_data_func = lambda utx: None
    loop.vr.g_VelmoroSimCurBarFresh = 0
    Moment.taken = 0
    loop.b.call_on_data_wrapper(loop.context(end_fresh_bar=1, is_first_time_do_fresh_loop=False))
    assert Moment.taken == taken


def test_end_of_pushed_data_is_an_int(loop):
    loop.minute_run([1.0, 2.0, 3.0, 4.0])
    lpc = loop.context(pushed_latest_timeline=np.array([2.5]))
    loop.b._update_end_fresh_bar_pos_wrapper(lpc)
    assert type(lpc.end_fresh_bar) is int and lpc.end_fresh_bar == 1 and lpc.end_fresh_time == 2.0
