"""The data dispatch: positions walked, the strategy's clock, the daily stop,
terminal log lines, and the account and order refreshes."""
import datetime as dt

import numpy as np
import pytest

from velmoro.realtrade.model.orders import VMRealOrder
from velmoro.tframe.language import text
from velmoro.tframe.runtypesbase import Account
from velmoro.tframe.utils.datetimefunc import datetime_to_mft, mft_to_datetime
from velmoro.tframe.utils.utilcls import DotDict

DAY = datetime_to_mft(dt.datetime(2024, 1, 3))


def dispatch(loop, fractions, day_pos=None, saved=0, end=None, close=None, first_time=True, handles=(11, 22)):
    times = DAY + np.asarray(fractions, dtype=float)
    loop.minute_run(times, day_pos=day_pos)
    loop.vr.g_VelmoroAccounts.extend(Account(h, i) for i, h in enumerate(handles))
    if close is not None:
        loop.vr.g_VelmoroDailyCloseTime = close
    loop.vr.g_VelmoroSimCurBarFresh = saved
    seen = []
    loop.vr.g_VelmoroInputInfo.on_data_func = lambda utx: seen.append((utx._internal_bar_num, utx.now, utx.day_begin))
    for name in ("update_account_position_info", "update_order_info"):
        loop.patch(name)
    lpc = loop.context(end_fresh_bar=len(fractions) - 1 if end is None else end, is_first_time_do_fresh_loop=first_time)
    loop.b.call_on_data_wrapper(lpc)
    return lpc, seen


def test_first_dispatch_jumps_to_the_end_of_the_push(loop):
    lpc, seen = dispatch(loop, np.linspace(0.40, 0.45, 14), saved=10, end=13)
    assert [s[0] for s in seen] == [13] and loop.vr.g_VelmoroSimCurBarFresh == 14
    assert seen[0][1] == mft_to_datetime(DAY + 0.45)
    assert not lpc.is_first_time_do_fresh_loop


def test_later_dispatches_walk_every_position_once(loop):
    lpc, seen = dispatch(loop, np.linspace(0.40, 0.45, 6), saved=2, end=4, first_time=False)
    assert [s[0] for s in seen] == [2, 3, 4] and loop.vr.g_VelmoroSimCurBarFresh == 5
    assert loop.rec.names("update_account_position_info", "update_order_info") == [
        "update_account_position_info", "update_order_info"] * 3


def test_nothing_is_dispatched_before_the_current_position(loop):
    lpc, seen = dispatch(loop, [0.4, 0.41, 0.42], saved=2, end=1, first_time=False)
    assert seen == [] and loop.vr.g_VelmoroSimCurBarFresh == 2 and loop.rec.of("vmSendCmdPutLog") == []


def test_no_dispatch_outside_a_fresh_bar(loop):
    loop._mp.setattr(type(loop.env), "in_fresh_bar", lambda self: False)
    lpc, seen = dispatch(loop, [0.4, 0.41], saved=0)
    assert seen == [] and lpc.loop_status.op_continue and lpc.loop_status.detail == text.ERROR_IN_FRESHBAR
    assert lpc.is_first_time_do_fresh_loop and loop.vr.g_VelmoroSimCurBarFresh == 0


@pytest.mark.parametrize(
    "fractions, close, handled, closing_at",
    [
        ([0.59, 0.61, 0.62], 0.6, [0], [1]),
        ([0.59, 0.605, 0.875, 0.88], 0.6, [0], [1, 2, 3]),  # after 15:15 lifted and entered again at once
        ([0.59, 0.61, 0.62], None, [0, 1, 2], []),
        ([0.40, 0.62, 0.6354], 0.6, [0], [1]),  # still stopped just before 15:15
    ],
)
def test_daily_stop(loop, fractions, close, handled, closing_at):
    lpc, seen = dispatch(loop, fractions, close=close, first_time=False)
    assert [s[0] for s in seen] == handled
    closes = loop.rec.of("vmSendCmdCloseOperation")
    assert [c[1] for c in closes] == [("demo", h) for _ in closing_at for h in (11, 22)]
    assert loop.vr.g_VelmoroSimCurBarFresh == len(fractions)


@pytest.mark.parametrize(
    "template, expected",
    [
        ("bar {FreshNum} at {Pos}", ["bar 0 at T", "bar 1 at T", "bar 2 at T"]),
        ("bar at {Pos}", ["bar at T"]),  # equal consecutive lines go once
    ],
)
def test_log_lines_reach_the_terminal_once(loop, template, expected):
    loop.vr.g_VelmoroModeTaskId = 5
    loop.patch("mft_to_str_format", result="T")
    loop._mp.setattr(loop.b, "text", DotDict(LOG_REALFRESH_BAR=template, ERROR_IN_FRESHBAR="x"))
    lpc, _ = dispatch(loop, [0.4, 0.41, 0.42], first_time=False)
    assert [c[1] for c in loop.rec.of("vmSendCmdPutLog")] == [(5, line) for line in expected]
    assert lpc.last_log == expected[-1]


@pytest.mark.parametrize(
    "day_pos, current_bar, saved, expected",
    [
        ([1, 2, 3], [0, 1, 2], 0, [True, False, False]),
        ([239, 240, 1, 2], [0, 1, 2, 3], 1, [False, True, False]),
        ([1, 2, 1, 2], [0, 0, 3, 3], 1, [False, True, False]),  # a first bar passed between two positions
    ],
)
def test_day_begin(loop, day_pos, current_bar, saved, expected):
    n = len(day_pos)
    fractions = np.linspace(0.4, 0.5, n)
    loop.minute_run(DAY + fractions, day_pos=day_pos, current_bar=current_bar)
    loop.vr.g_VelmoroSimCurBarFresh = saved
    seen = []
    loop.vr.g_VelmoroInputInfo.on_data_func = lambda utx: seen.append(utx.day_begin)
    for name in ("update_account_position_info", "update_order_info"):
        loop.patch(name)
    loop.b.call_on_data_wrapper(loop.context(end_fresh_bar=n - 1, is_first_time_do_fresh_loop=False))
    assert seen == expected


def test_day_begin_the_same_where_numpy_any_is_replaced(loop):
    calls = []
    counted = DotDict(vars(np))
    counted.any = lambda a: calls.append(a) or np.any(a)
    loop._mp.setattr(loop.b, "np", counted)
    assert day_begins_seen(loop) == [False, True, False]
    assert len(calls) == 3


class Tagged(np.ndarray):
    """An array whose own indexing the dispatch must go through."""

    def __getitem__(self, key):
        return ("tagged", np.ndarray.__getitem__(self, key))


# One array in the layouts, element types and byte orders the dispatch reads
# from memory, and in those it leaves to numpy's indexing.
LAYOUTS = {
    "float64": lambda a: a.astype(np.float64),
    "fortran order": np.asfortranarray,
    "strided view": lambda a: np.repeat(a, 2, axis=-1)[..., ::2],
    "big-endian": lambda a: a.astype(a.dtype.newbyteorder(">")),
    "float32": lambda a: a.astype(np.float32),
    "int32": lambda a: np.nan_to_num(a).astype(np.int32),
    "uint8": lambda a: np.nan_to_num(a).astype(np.uint8),
    "object": lambda a: a.astype(object),
    "complex": lambda a: a.astype(complex),
    "subclass": lambda a: a.view(Tagged),
}


def read_times(loop, fresh, saved, end):
    """The bar times the dispatch hands on, and the log positions made of them."""
    loop.vr.g_VelmoroDataValueFresh = fresh
    loop.vr.g_VelmoroSimCurBarFresh = saved
    loop.patch("mft_to_datetime", result=[None])
    loop.patch("mft_to_str_format", result="T")
    for name in ("update_account_position_info", "update_order_info"):
        loop.patch(name)
    loop.vr.g_VelmoroInputInfo.on_data_func = lambda utx: None
    loop.b.call_on_data_wrapper(loop.context(end_fresh_bar=end, is_first_time_do_fresh_loop=False))
    return [c[1][0][0] for c in loop.rec.of("mft_to_datetime")]


@pytest.mark.parametrize("layout", sorted(LAYOUTS))
@pytest.mark.parametrize("saved", [1, np.int64(1), -3])
def test_bar_times_are_numpys_own_elements(loop, layout, saved):
    loop.minute_run(DAY + np.linspace(0.4, 0.5, 4), day_pos=[1, 2, 3, 4])
    fresh = LAYOUTS[layout](loop.vr.g_VelmoroDataValueFresh)
    times = read_times(loop, fresh, saved, end=saved + 2)
    expected = [fresh[0, saved + k] for k in range(3)]
    assert [repr(t) for t in times] == [repr(t) for t in expected]
    assert [type(t) for t in times] == [type(t) for t in expected]


@pytest.mark.parametrize("saved, index", [(4, 4), (-5, -5)])
def test_bar_time_out_of_range_is_numpys_error(loop, saved, index):
    loop.minute_run(DAY + np.linspace(0.4, 0.5, 4))
    fresh = loop.vr.g_VelmoroDataValueFresh
    with pytest.raises(IndexError) as expected:
        fresh[0, index]
    with pytest.raises(IndexError) as raised:
        read_times(loop, fresh, saved, end=saved)
    assert str(raised.value) == str(expected.value)


def day_begins_seen(loop, matrix=None, current_bar=None):
    rec = loop.minute_run(DAY + np.linspace(0.4, 0.5, 4), day_pos=[1, 2, 1, 2], current_bar=[0, 0, 3, 3])
    if matrix is not None:
        rec.Matrix = matrix(rec.Matrix)
    if current_bar is not None:
        rec.CurrentBar = current_bar(rec.CurrentBar)
    loop.vr.g_VelmoroSimCurBarFresh = 1
    seen = []
    loop.vr.g_VelmoroInputInfo.on_data_func = lambda utx: seen.append(utx.day_begin)
    for name in ("update_account_position_info", "update_order_info"):
        loop.patch(name)
    loop.b.call_on_data_wrapper(loop.context(end_fresh_bar=3, is_first_time_do_fresh_loop=False))
    return seen


@pytest.mark.parametrize("layout", sorted(set(LAYOUTS) - {"subclass"}))
def test_day_begin_for_every_matrix_layout(loop, layout):
    assert day_begins_seen(loop, matrix=LAYOUTS[layout]) == [False, True, False]


@pytest.mark.parametrize(
    "current_bar",
    [
        lambda a: a.astype(np.int32),
        lambda a: a.astype(np.uint64),
        lambda a: a.astype(">i8"),
        lambda a: np.repeat(a, 3)[::3],
        lambda a: a.astype(object),
        lambda a: a.view(Counted),
    ],
    ids=["int32", "uint64", "big-endian", "strided view", "object", "subclass"],
)
def test_day_begin_for_every_current_bar_layout(loop, current_bar):
    Counted.reads = []
    assert day_begins_seen(loop, current_bar=current_bar) == [False, True, False]
    if Counted.reads:
        assert Counted.reads == [0, 1, 1, 2, 2, 3]


class Counted(np.ndarray):
    """Current bars whose reads are seen."""

    reads = []

    def __getitem__(self, key):
        Counted.reads.append(key)
        return np.ndarray.__getitem__(self, key)


def test_current_bar_out_of_range_is_numpys_error(loop):
    short = np.array([0, 0])
    with pytest.raises(IndexError) as expected:
        short[2]
    with pytest.raises(IndexError) as raised:
        day_begins_seen(loop, current_bar=lambda a: short)
    assert str(raised.value) == str(expected.value)


@pytest.mark.parametrize("n_accounts, n_cash", [(2, 2), (3, 2), (1, 2), (0, 1)])
def test_account_refresh_pairs_cash_in_order(loop, n_accounts, n_cash):
    updates = []

    class Acc:
        def __init__(self, handle):
            self.handle = handle

        def update_info(self, cash, positions):
            updates.append((self.handle, cash, positions))

    loop.vr.g_VelmoroAccounts.extend(Acc(h) for h in range(n_accounts))
    positions = ["p1", "p2"]
    loop.command("vmSendCmdGetAccountPositionAndCash", result=(["c{}".format(i) for i in range(n_cash)], positions))
    loop.b.update_account_position_info()
    assert loop.rec.of("vmSendCmdGetAccountPositionAndCash")[0][1] == (list(range(n_accounts)), [])
    assert updates == [(i, "c{}".format(i), positions) for i in range(min(n_accounts, n_cash))]


@pytest.mark.parametrize("answer, error", [
    (([], [], []), "too many values to unpack"), ([[]], r"not enough values to unpack \(expected 2, got 1\)"),
    ((), r"not enough values to unpack \(expected 2, got 0\)"), (iter([[], [], []]), "too many values to unpack"),
])
def test_account_answer_must_unpack_into_two(loop, answer, error):
    loop.command("vmSendCmdGetAccountPositionAndCash", result=answer)
    with pytest.raises(ValueError, match=error):
        loop.b.update_account_position_info()


@pytest.mark.parametrize("answer", [(["c0"], ["p"]), [["c0"], ["p"]], iter([["c0"], ["p"]])])
def test_account_answer_unpacks_from_any_iterable(loop, answer):
    updates = []
    loop.vr.g_VelmoroAccounts.append(type("Acc", (), {"handle": 1, "update_info": lambda s, *a: updates.append(a)})())
    loop.command("vmSendCmdGetAccountPositionAndCash", result=answer)
    loop.b.update_account_position_info()
    assert updates == [("c0", ["p"])]


def order(order_id, handle, market="sse", code="600000"):
    return DotDict(order_id=order_id, account_handle=handle, market=market, code=code)


def test_order_refresh_registers_new_orders(loop):
    loop.minute_run([1.0])
    loop.vr.g_VelmoroAccounts.extend([Account(11, 0), Account(22, 1)])
    loop.vr.g_VelmoroInputInfo.MainContractsTargets = {"SSE.600000": 0}
    book = loop.vr.g_VMOrders
    book.append("A", VMRealOrder(0, "A", 0, 0))
    loop.command(
        "vmSendCmdSTGetOrderInfoByDate",
        result=[order("A", 11), order("B", 22), order("C", 11, "szse", "000001"), order("D", 99)],
    )
    loop.b.update_order_info()
    assert loop.rec.of("vmSendCmdSTGetOrderInfoByDate")[0][1] == ([11, 22], [])
    assert [(o.order_idx, o.order_id, o.handle_idx, o.target_idx) for o in book()] == [
        (0, "A", 0, 0), (1, "B", 1, 0), (2, "C", 0, None)]
    assert book.snapshots == {1: ["B"], 0: ["C"]}
    # the order of an unknown account is left for a later refresh, with a warning
    assert loop.rec.syslog() == [("order 'D' skipped: no account of the run has handle 99", "warn")]
    loop.rec.calls.clear()
    loop.vr.g_VelmoroAccounts.append(Account(99, 2))
    loop.b.update_order_info()
    assert [o.order_id for o in book()] == ["A", "B", "C", "D"] and book()[-1].handle_idx == 2
