"""The simulated terminal refuses requests that make no sense, naming the
parameter, as a real terminal does; sensible requests still get their data."""
import inspect

import pytest

from velmoro.simterm import validation
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError

SEC = {"Market": "sse", "Code": "600000"}
T = [SEC]
ORDER = dict(SEC, Handle=1001, Side="buy", Volume=100)


def without(record, key):
    return {k: v for k, v in record.items() if k != key}


# (call, errCode, words the errInfo holds)
REFUSED = [
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 1, 20241345, 0, 0, "NA", False), 109, ["beginDate", "20241345"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 1, 0, "2024-01-03", 0, "NA", False), 109, ["endDate"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 1, 20240104, 20240102, 0, "NA", False), 109, ["later than"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 0, 0, 0, 0, "NA", False), 110, ["kFreNum", "at least 1"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "hour", 1, 0, 0, 0, "NA", False), 102, ["kFreq", "'hour'", "min"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 1, 0, 0, 0, "sideways", False), 111,
     ["fqType", "NA, forward, backward"]),
    (lambda: vmcmd.vmSendCmdGetKData(T, "day", 1, 0, 0, 2, "NA", False), 110, ["filledUp"]),
    (lambda: vmcmd.vmSendCmdGetKData([{"Market": "sse", "Code": "999999"}], "day", 1, 0, 0, 0, "NA", False), 101,
     ["unknown target sse.999999"]),
    (lambda: vmcmd.vmSendCmdGetKData([{"Market": "moon", "Code": "1"}], "day", 1, 0, 0, 0, "NA", False), 103,
     ["unknown market 'moon'"]),
    (lambda: vmcmd.vmSendCmdGetNKDataMulti(T, "min", 1, -1, 0, 0, "NA"), 110, ["nCount"]),
    (lambda: vmcmd.vmSendCmdGetTDPData("sse", "600000", 0, "NA", False), 109, ["date"]),
    (lambda: vmcmd.vmSendCmdGetTDPDataMulti(T, 20240102, 20240103, "both"), 111, ["fqType"]),
    (lambda: vmcmd.vmSendCmdGetTradingTime(T, "decade", 0, 0), 102, ["kFreq"]),
    (lambda: vmcmd.vmSendCmdGetCodeListSet("Index", 20240230, 0), 109, ["begin_date"]),
    (lambda: vmcmd.vmSendCmdGetTradingDaysCondition("sse", 20240105, 20240102), 109, ["later than"]),
    (lambda: vmcmd.vmSendCmdGetFactor("momentum_5d", T, 20240102, 20240103, -2), 110, ["before", "-2"]),
    (lambda: vmcmd.vmSendCmdSTGetOrderInfoByDate([1001], [20241345]), 109, ["order_dates"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Prise=3.6)), 302,
     ["unknown key 'Prise'", "accepted keys: Handle, Market, Code, Side, Volume, OrderType, Price"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(without(ORDER, "Volume")), 302, ["missing key 'Volume'"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Side="hold")), 302, ["Side 'hold'", "buy, sell"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, OrderType="iceberg")), 302, ["OrderType"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, PositionEffect="flip")), 302, ["PositionEffect"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Volume=0)), 302, ["Volume 0"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Volume=12.5)), 302, ["Volume 12.5"]),
    (lambda: vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Price=-1.0)), 302, ["Price -1.0"]),
    (lambda: vmcmd.vmSendCmdSTTradeStopOrder(dict(ORDER, StopPrice=7.0, Price=7.1)), 302, ["unknown key 'Price'"]),
    (lambda: vmcmd.vmSendCmdSTTradeStopOrder(ORDER), 302, ["missing key 'StopPrice'"]),
]


@pytest.mark.parametrize("call,code,words", REFUSED)
def test_nonsense_is_refused_at_error_level_naming_the_parameter(terminal, call, code, words):
    with pytest.raises(VmReturnError, match="code {}".format(code)) as info:
        call()
    for word in words:
        assert word in str(info.value)
    assert terminal.sent  # the terminal saw the request: the refusal is the terminal's


def test_unchecked_answers_carry_the_error_status(terminal):
    for block, date, code in (("Nope", 0, 108), ("Index", "2024-13-45", 109)):
        status = vmcmd.vmSendCmdGetCodeList(block, date)
        assert (status.errLevel, status.errCode) == (1, code) and "GetCodeList" in status.errInfo
    assert [m.Code for m in vmcmd.vmSendCmdGetCodeList("SSE", 20240103)] == ["600000", "600519"]


def within_limits(share):
    """A limit price of `share` of the previous close: inside the day's price limits."""
    return round(vmcmd.vmSendCmdGetRtData([SEC])[0].PreClose * share, 2)


def test_cancels_of_orders_never_placed_are_refused(terminal):
    assert vmcmd.vmSendCmdCancelStopOrder("s", 1001, 77) is False
    answer = terminal.handle("CancelStopOrder", ("s", 1001, 77))
    assert answer.result.errLevel == 1 and "no stop order 77" in answer.result.errInfo
    assert terminal.handle("CancelOrder", ("s", 1001, 5)).result.errInfo == "CancelOrder: account 1001 has no order 5"
    placed = vmcmd.vmSendCmdSTTradeOperation(dict(ORDER, Price=within_limits(0.95)))  # waits: under the market
    assert terminal.handle("CancelOrder", ("s", 1001, placed)) is None


def test_sensible_requests_in_every_accepted_form_still_answer(terminal):
    assert len(vmcmd.vmSendCmdGetKData(T, "Day", 1, "20240102", 20240103, True, "forward", False)) == 1
    assert vmcmd.vmSendCmdGetKData(T, "min", 5, 0, 0, 0, "backward", True) == []
    factor = vmcmd.vmSendCmdGetFactor("momentum_5d", T, "2024-01-02", "", 0)
    assert factor.endswith(".mat")
    order = dict(ORDER, Side=1, OrderType="LIMIT", Price=within_limits(1.05), PositionEffect="open", StrategyName="s")
    assert vmcmd.vmSendCmdSTTradeOperation(order) >= 1


def test_every_declared_check_reads_an_argument_its_handler_takes():
    # a check placed at an argument the handler lacks would refuse every request of its command
    from velmoro.simterm import HANDLERS
    from velmoro.simterm.commands import REQUESTS

    for name, checks in REQUESTS.items():
        takes = inspect.signature(HANDLERS[name]).parameters
        fixed = len([p for p in takes.values() if p.kind is p.POSITIONAL_OR_KEYWORD]) - 1  # after the terminal
        for label, where, rule in checks:
            for place in where if isinstance(where, list) else [where]:
                index = place if isinstance(place, int) else place[0]
                assert index < fixed, (name, label)
            assert rule in validation.RULES, (name, label)
    assert [k for k, spec in validation.ORDER_KEYS.items() if spec[0]] == ["Handle", "Market", "Code", "Side", "Volume"]
