"""A long replay runs as consecutive sessions of bounded days: the handler
sees every bar once, in order, with its state and orders carried over, while
the run's matrices never span more than a session and its history."""
import datetime as dt
import gc
import weakref

import numpy as np
import pytest

import velmoro.tframe.runtypesbase as cnt
from velmoro.api import market
from velmoro.realtrade.calc import QUANTITIES, quantity_block
from velmoro.realtrade.runner import run_live
from velmoro.simterm import Terminal
from velmoro.simterm.dataset import Dataset
from velmoro.tframe.comm import link, vmcmd
from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.utilfunc import load_mat

TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]


@pytest.fixture
def terminals(tmp_path):
    """A fresh terminal of five trading days (or `days`) per call (the first is history)."""
    made = []

    def connect(days=5):
        made.append(link.connect(Terminal(Dataset(start=dt.date(2024, 1, 2), days=days),
                                          result_dir=str(tmp_path / str(len(made))))))
        return made[-1]

    yield connect
    link.disconnect()


def replay(term, **sessions):
    seen = []

    def initialize(context):
        context.bars = 0
        # a setting made once holds in every session
        cnt.env.set_daily_close(dt.datetime(2024, 1, 3, 14, 50))

    def on_data(context):
        context.bars += 1
        seen.append((context.now, context.bars, market.current_bar().close.copy(),
                     max(k.Matrix.shape[1] for k in cnt.vr.g_VelmoroKDataList)))
        if context.bars % 400 == 1:
            vmcmd.vmSendCmdSTTradeOperation({"Handle": 1001, "Market": "sse", "Code": "600000", "Side": "buy",
                                             "Volume": 100})

    days = term.data.trading_days
    summary = run_live(TARGETS, on_data, initialize=initialize, accounts=[1001], begin_date=days[1],
                       end_date=days[-1], **sessions)
    return summary, seen


@pytest.mark.parametrize("session_days, history_days", [(1, 1), (3, 1)])
def test_sessions_replay_what_one_run_replays_in_bounded_matrices(terminals, session_days, history_days):
    whole, whole_seen = replay(terminals(), session_days=4, history_days=4)
    parts, parts_seen = replay(terminals(), session_days=session_days, history_days=history_days)
    assert [c[1:] for c in parts.calls] == [c[1:] for c in whole.calls] and 4 * 200 < len(parts.calls) < 4 * 240
    assert [s[:2] for s in parts_seen] == [s[:2] for s in whole_seen]  # the context lives on
    np.testing.assert_array_equal([s[2] for s in parts_seen], [s[2] for s in whole_seen])
    assert list(parts.orders) == list(whole.orders) and len(parts.orders) >= 3  # with the daily close's
    assert parts.equity == whole.equity and parts.start_equity == whole.start_equity
    # the minute record spans at most a session and its history
    assert max(s[3] for s in parts_seen) <= (session_days + history_days) * 240 < max(s[3] for s in whole_seen)


def test_sessions_are_checked(terminals):
    terminals()
    with pytest.raises(ValueError, match="session_days"):
        run_live(TARGETS, lambda ctx: None, session_days=0)


def test_a_session_hands_its_memory_to_the_next_unless_the_strategy_kept_a_view(terminals):
    """Without the cycle collector: the first session's refresh matrix, of
    which the strategy keeps a window, stays as it was and goes with the
    window; the second's serves the third and the fourth."""
    term = terminals()
    buffers, kept = [], []

    def on_data(context):
        buffer = cnt.vr.g_VelmoroDataValueFresh.base
        if not buffers or buffers[-1]() is not buffer:
            buffers.append(weakref.ref(buffer))
        if not kept:
            window = market.window("Close", 3)
            kept.append((window, window.copy()))

    days = term.data.trading_days
    gc.disable()
    try:
        run_live(TARGETS, on_data, accounts=[1001], begin_date=days[1], end_date=days[-1], session_days=1,
                 history_days=1)
        assert len(buffers) == 2
        np.testing.assert_array_equal(*kept[0])
        kept.clear()
        assert buffers[0]() is None and buffers[1]() is not None  # the last session's is the run's
    finally:
        gc.enable()


def test_a_served_run_grows_into_room_made_for_all_its_days(tmp_path, monkeypatch):
    """A served replay runs whole: its matrices are made with room for all
    its days, so that a new day never copies them to grow."""
    from serving import serving

    from velmoro.realtrade.calc import layout

    copies = []  # of matrices holding something
    monkeypatch.setattr(layout, "with_room", lambda array, room=None, made=layout.with_room: (
        np.size(array) and copies.append(np.shape(array))) or made(array, room))
    term = Terminal(Dataset(start=dt.date(2024, 1, 2), days=4), result_dir=str(tmp_path))
    with serving(term) as (_, address):
        link.connect(address)
        try:
            days = term.data.trading_days
            summary = run_live(TARGETS, lambda context: None, accounts=[1001], begin_date=days[2],
                               end_date=days[3], history_days=2)
        finally:
            link.disconnect()
    assert len(summary.calls) > 400 and copies == []


def _day_bars(context):
    """The day record's bars of the current day and the two before it."""
    records = cnt.vr.g_VelmoroKDataList
    day = records[records.find_pos(gv.KFreq_Day, 1)]
    col = int(day.CurrentBar[context._internal_bar_num])
    return quantity_block(day.Matrix)[:, :, max(col - 2, 0) : col + 1].copy()


@pytest.mark.parametrize("session_days, history_days", [(1, 3), (3, 2), (5, 5)])
def test_later_sessions_carry_their_history_and_show_what_one_session_shows(terminals, session_days, history_days):
    """Six replayed days: the strategy's windows reach back into the
    history a later session took from the earlier one's matrices, not from
    the terminal's bar files."""
    runs = []
    for sessions in ((6, 6), (session_days, history_days)):
        term = terminals(days=7)
        seen = []

        def on_data(context):
            seen.append((market.window("Amount", 240).copy(), market.window("Volume", 240).copy(),
                         _day_bars(context)))

        days = term.data.trading_days
        summary = run_live(TARGETS, on_data, accounts=[1001], begin_date=days[1], end_date=days[-1],
                           session_days=sessions[0], history_days=sessions[1])
        asked = [args for command, args in term.sent if command == "GetKData"]
        runs.append((summary, seen, asked))
    (whole, whole_seen, _), (parts, parts_seen, parts_asked) = runs
    assert [c[1:] for c in parts.calls] == [c[1:] for c in whole.calls] and parts.equity == whole.equity
    assert len(parts_seen) == len(whole_seen) > 6 * 200
    for got, want in zip(parts_seen, whole_seen):
        for g, w in zip(got, want):
            np.testing.assert_array_equal(g, w)
    assert len(parts_asked) == 2  # the first session's minute and day history only


def test_day_bars_of_the_history_equal_the_ones_the_pushes_formed(terminals):
    """To the bit: a session carrying day bars the pushes formed shows what a
    session reading them from the terminal shows."""
    term = terminals()
    formed = []

    def on_data(context):
        formed[:] = [_day_bars(context)]

    days = term.data.trading_days
    run_live(TARGETS, on_data, accounts=[1001], begin_date=days[1], end_date=days[-1])
    paths = vmcmd.vmSendCmdGetKData(TARGETS, "day", 1, days[-3], days[-1], 0, "NA", False)
    for target, path in enumerate(paths):
        bars = load_mat(path, error="raise")
        history = np.concatenate([np.reshape(bars[q], (1, -1)) for q in QUANTITIES])
        np.testing.assert_array_equal(history, formed[0][target])


def test_a_view_of_a_record_kept_by_the_strategy_keeps_its_values_when_the_next_session_carries_the_history(
        terminals):
    term = terminals()
    kept = []

    def on_data(context):
        if not kept:
            kept.append([context.now.date(), cnt.vr.g_VelmoroKDataList[0].Matrix[:, :300], None])
        if context.now.date() == kept[0][0]:
            kept[0][2] = kept[0][1].copy()  # as the first session left it

    days = term.data.trading_days
    run_live(TARGETS, on_data, accounts=[1001], begin_date=days[1], end_date=days[-1], session_days=1,
             history_days=1)
    np.testing.assert_array_equal(kept[0][1], kept[0][2])
