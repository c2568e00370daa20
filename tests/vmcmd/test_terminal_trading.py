"""The simulated terminal's accounts, orders and tasks, through the commands."""
import pytest

from velmoro.simterm.tasks import session
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.runtypesbase import Account
from velmoro.tframe.utils.exceptions import VmReturnError

SEC = {"Market": "sse", "Code": "600000"}


def order(side="buy", volume=100, handle=1001, **extra):
    return vmcmd.vmSendCmdSTTradeOperation(dict(SEC, Handle=handle, Side=side, Volume=volume, **extra))


def closes(term):
    return term.data.bars(term.data.security("sse", "600000"), "min")


def cash(handle=1001):
    return vmcmd.vmSendCmdGetAccountCash([handle])[0]


def buy_fees(amount):
    """Commission (at least 5 CNY) and transfer fee of one buy filled at once, 2024 rates."""
    return max(round(amount * 0.00025, 2), 5.0) + round(amount * 0.00001, 2)


def test_market_order_fills_at_the_close_at_or_before_the_clock(terminal):
    bars = closes(terminal)
    terminal.now = bars["Time"][100] + 0.5 / 1440  # half a minute after bar 101
    client_id = order(volume=1000)
    (execution,) = vmcmd.vmSendCmdSTGetExecutionInfo([1001], [])
    price = bars["Close"][100]
    assert (execution.order_id, execution.price, execution.volume) == (client_id, price, 1000)
    assert cash().balance == pytest.approx(1e6 - 1000 * price - buy_fees(1000 * price))
    assert vmcmd.vmSendCmdSTGetAccountPosition(1001, "sse", "600000") == (1000, 0, price)


def test_limit_order_waits_until_the_price_allows(terminal):
    bars = closes(terminal)
    terminal.now = bars["Time"][0]
    later = bars["Close"][1:]
    limit = later.min()
    order_id = order(Price=limit)
    (waiting,) = vmcmd.vmSendCmdSTUnFinishedOrderInfo([1001], [])
    assert waiting.order_id == order_id and waiting.status == "pending"
    assert cash().frozen == pytest.approx(100 * limit + buy_fees(100 * limit))
    terminal.now = bars["Time"][1 + later.argmin()]
    (filled,) = vmcmd.vmSendCmdSTOrderInfo([1001], [order_id])
    assert (filled.status, filled.avg_price) == ("filled", limit)
    assert cash().frozen == 0


def test_cancelling_releases_what_the_order_froze(terminal):
    terminal.now = closes(terminal)["Time"][0]
    first, second = order(Price=0.01), order(Price=0.02)
    vmcmd.vmSendCmdCancelOrder("s", 1001, first)
    assert [o.status for o in vmcmd.vmSendCmdSTOrderInfo([1001], [])] == ["cancelled", "pending"]
    vmcmd.vmSendCmdCancelFrozen(1001)
    assert vmcmd.vmSendCmdSTUnFinishedOrderInfo([], []) == [] and cash().frozen == 0
    assert cash().available == cash().balance == 1e6


@pytest.mark.parametrize(
    "request_,code",
    [
        (dict(SEC, Handle=9, Side="buy", Volume=100), 301),
        (dict(SEC, Handle=1001, Side="sell", Volume=100), 305),
        (dict(SEC, Handle=1001, Side="buy", Volume=10 ** 7), 304),
        (dict(SEC, Handle=1001, Side="buy", Volume=0), 302),
        (dict(SEC, Handle=1001, Side="hold", Volume=100), 302),
        (dict(Market="sse", Code="000000", Handle=1001, Side="buy", Volume=100), 101),
    ],
)
def test_rejected_orders_raise(terminal, request_, code):
    with pytest.raises(VmReturnError, match=str(code)):
        vmcmd.vmSendCmdSTTradeOperation(request_)
    assert vmcmd.vmSendCmdSTOrderInfo([], []) == []


def test_no_price_before_the_first_bar(terminal):
    terminal.now = closes(terminal)["Time"][0] - 1.0
    with pytest.raises(VmReturnError, match="303"):
        order()


def test_shares_bought_today_are_sold_from_the_next_trading_date(terminal):
    bars = closes(terminal)
    terminal.now = bars["Time"][10]
    order(volume=300)
    with pytest.raises(VmReturnError, match="305"):
        order("sell", 100)
    (position,) = vmcmd.vmSendCmdGetAccountTargetGrossPosition([1001], [SEC])
    assert (position.position, position.available, position.today_position) == (300, 0, 300)
    terminal.now = bars["Time"][250]  # next day
    order("sell", 100)
    assert vmcmd.vmSendCmdSTGetAccountPosition(1001, "sse", "600000")[0] == 200
    assert [e.side for e in vmcmd.vmSendCmdSTGetExecutionInfo([1001], [])] == ["sell"]  # today's only


def test_stop_order_triggers_a_market_order(terminal):
    bars = closes(terminal)
    terminal.now = bars["Time"][0]
    order(volume=500)
    now = 300  # the next day: the shares can be sold
    terminal.now = bars["Time"][now]
    trigger = now + 1 + int((bars["Close"][now + 1:] < bars["Close"][now]).argmax())
    stop_price = float(bars["Close"][trigger])
    kept, dropped = (vmcmd.vmSendCmdSTTradeStopOrder(dict(SEC, Handle=1001, Side="sell", Volume=500,
                                                          StopPrice=stop_price)) for _ in range(2))
    assert vmcmd.vmSendCmdCancelStopOrder("s", 1001, dropped) is True
    assert vmcmd.vmSendCmdCancelStopOrder("s", 1001, dropped) is False
    assert [s.status for s in vmcmd.vmSendCmdGetStopOrderInfo(1001, [])] == ["waiting", "cancelled"]
    terminal.now = bars["Time"][trigger]
    (stop,) = vmcmd.vmSendCmdGetStopOrderInfo(1001, kept)
    assert stop.status == "triggered"
    (sold,) = vmcmd.vmSendCmdSTOrderInfo([1001], [stop.order_id])
    assert (sold.side, sold.status, sold.avg_price) == ("sell", "filled", stop_price)


def test_close_operation_sells_what_can_be_sold(terminal):
    bars = closes(terminal)
    terminal.now = bars["Time"][0]
    order(volume=400, StrategyName="s")
    order(Price=0.01, StrategyName="s")
    order(Price=0.01, StrategyName="other")
    terminal.now = bars["Time"][250]
    vmcmd.vmSendCmdCloseOperation("s", 1001)
    assert vmcmd.vmSendCmdSTGetAccountPosition(1001, "sse", "600000") == (0, 0, 0.0)
    statuses = [(o.strategy_name, o.side, o.status) for o in vmcmd.vmSendCmdSTOrderInfo([1001], [])]
    assert statuses == [("s", "buy", "filled"), ("s", "buy", "cancelled"), ("other", "buy", "pending"),
                        ("s", "sell", "filled")]


@pytest.mark.parametrize("book_day, close_day, held", [
    (0, 1, 600),  # the run's own buys wait for the next day; the book stays
    (0, 2, 400),  # the next day the run's buys go, the book stays
    (1, 1, 600),  # a book bought earlier the same day stays too
    (1, 2, 400),
])
def test_close_operation_leaves_the_book_the_run_began_with(terminal, book_day, close_day, held):
    times = closes(terminal)["Time"]
    day_starts = [i for i in range(len(times)) if i == 0 or int(times[i]) != int(times[i - 1])]
    terminal.now = times[day_starts[book_day] + 5]
    order(volume=400, StrategyName="s")
    terminal.now = times[day_starts[1] + 10]
    vmcmd.vmSendCmdCreateTaskRealTrade({"StrategyName": "s", "HandleList": [1001], "TargetList": [SEC]})
    order(volume=200, StrategyName="s")
    terminal.now = times[day_starts[close_day] + 200]
    vmcmd.vmSendCmdCloseOperation("s", 1001)
    assert vmcmd.vmSendCmdSTGetAccountPosition(1001, "sse", "600000")[0] == held


def test_records_feed_the_refresh_loop_and_accounts(terminal):
    terminal.now = closes(terminal)["Time"][5]
    order(volume=100, handle=1001)
    order(volume=200, handle=1002)
    orders = vmcmd.vmSendCmdSTGetOrderInfoByDate([1001, 1002], [])
    assert [(o.order_id, o.account_handle, o["market"], o["code"]) for o in orders] == [
        (1, 1001, "sse", "600000"), (2, 1002, "sse", "600000")]
    cash_list, positions = vmcmd.vmSendCmdGetAccountPositionAndCash([1001, 1002], [])
    accounts = [Account(1001, 0), Account(1002, 1)]
    for account, cash_info in zip(accounts, cash_list):
        account.update_info(cash_info, positions)
    assert [[p.position for p in a.positions] for a in accounts] == [[100], [200]]
    for c in cash_list:
        assert c.total_asset == pytest.approx(c.balance + c.market_value)
    assert vmcmd.vmSendCmdSTGetOrderInfoByDate([], [20240103]) == []


def test_last_order_and_execution_filters(terminal):
    terminal.now = closes(terminal)["Time"][0]
    order(volume=100)
    order(Price=0.01)
    assert [o.order_id for o in vmcmd.vmSendCmdSTGetLastOrderInfo(1001, [SEC], "buy", "")] == [2]
    assert [o.order_id for o in vmcmd.vmSendCmdSTGetLastOrderInfo(1001, SEC, "sell", "")] == []
    assert [e.order_id for e in vmcmd.vmSendCmdSTGetLastExecutionInfo(1001, SEC, 1, "open")] == [1]


def test_task_life_cycle(terminal):
    task_id = vmcmd.vmSendCmdCreateTaskRealTrade({"StrategyName": "rt", "HandleList": [1001], "TargetList": [SEC]})
    task = session(terminal).tasks[task_id]
    assert (task.kind, task.handles, task.status) == ("realtrade", [1001], "created")
    vmcmd.vmSendCmdStartTaskRealTrade(task_id)
    assert task.status == "running"
    vmcmd.vmSendCmdPutLog(task_id, "bar 1")
    vmcmd.vmSendCmdRiseError(task_id, ValueError("broken"))
    vmcmd.vmSendCmdStopTaskRealTrade(task_id, "rt", [1001])
    assert (task.status, task.errors, terminal.log) == ("stopped", ["broken"], ["bar 1"])
    with pytest.raises(VmReturnError, match="401"):
        vmcmd.vmSendCmdStartTaskBackTest(task_id)  # not a back test
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdCheckSubscribeNum("min", 501)
    assert vmcmd.vmSendCmdCreateTaskRealTrade({"HandleList": [], "TargetList": []}) == task_id + 1


def test_subscriptions(terminal):
    targets = [SEC, {"Market": "szse", "Code": "000001"}]
    vmcmd.vmSendCmdSubscribeIns(targets, "min")
    vmcmd.vmSendCmdUnsubscribeIns(targets[:1], "min")
    vmcmd.vmSendCmdSubscribeFactor(targets, ["momentum_5d", "turnover"])
    vmcmd.vmSendCmdUnsubscribeFactor(targets[1:], "turnover")
    vmcmd.vmSendCmdSubscribeInstrument(targets)
    vmcmd.vmSendCmdUnsubscribeInstrument()
    state = session(terminal)
    assert state.bars == {"min": {"SZSE.000001"}} and state.instruments == set()
    assert state.factors == {"momentum_5d": {"SSE.600000", "SZSE.000001"}, "turnover": {"SSE.600000"}}
