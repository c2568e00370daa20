"""Runs one conformance scenario through the command channel and checks
it step by step, then reconciles its ledger to the cent."""
import decimal
import tempfile

from scripted import ScriptedDataset

from velmoro.simterm import Terminal
from velmoro.simterm.instruments import InstrumentFacts
from velmoro.simterm.book import Holding, book
from velmoro.tframe.comm import link, vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError

HANDLE = 1001
CENT = decimal.Decimal("0.01")
# the fee schedule, restated here from the exchanges' notices, not from the terminal's settings
COMMISSION, COMMISSION_MIN = decimal.Decimal("0.00025"), decimal.Decimal(5)
STAMP = ((0, "0.001"), (20230828, "0.0005"))
TRANSFER = ((0, "0.00002"), (20220429, "0.00001"))


def _on(schedule, day):
    return decimal.Decimal([rate for since, rate in schedule if day >= since][-1])


def _cents(value):
    return decimal.Decimal(value).quantize(CENT, decimal.ROUND_HALF_UP)


def _money(value):
    return _cents(repr(value))


def terminal_for(scenario, folder=None):
    """The scenario's terminal: its bars, facts and starting account."""
    key = scenario.get("security", "sse.600000")
    bars = scenario.get("bars", {1: [10.0] * 3, 2: [10.0] * 3})
    data = ScriptedDataset(scenario.get("start", 20240102), max(bars), {key: bars},
                           {key: scenario.get("previous", 10.0)})
    facts = scenario.get("facts", {})
    upper = key.upper()
    term = Terminal(data, result_dir=folder or tempfile.mkdtemp(prefix="vmt-conformance-"), facts=InstrumentFacts(
        listed={upper: facts["listed"]} if "listed" in facts else None,
        special={upper: facts.get("special", ())}, halted={upper: facts.get("halted", ())}))
    account = book(term).accounts[HANDLE]
    account.cash = scenario.get("cash", 1000000.0)
    if scenario.get("holding"):
        holding = account.holdings[tuple(key.split("."))] = Holding()
        holding.volume, holding.cost = scenario["holding"], scenario.get("previous", 10.0)
    return term


def _moment(term, at):
    day_no, minute = at
    day = term.data.trading_days[day_no]
    return term.data.day_time(day) - 6 / 24 if minute == 0 else float(term.data.minute_times(day)[minute - 1])


def _act(scenario, step):
    market, code = scenario.get("security", "sse.600000").split(".")
    for side in ("buy", "sell"):
        if side in step:
            volume, *price = step[side] if isinstance(step[side], (list, tuple)) else (step[side],)
            request = dict(Handle=HANDLE, Market=market, Code=code, Side=side, Volume=volume)
            if price:
                request["Price"] = price[0]
            return vmcmd.vmSendCmdSTTradeOperation(request)
    if "cancel" in step:
        return vmcmd.vmSendCmdCancelOrder("conformance", HANDLE, step["cancel"])
    return None


def _executions(term):
    return list(vmcmd.vmSendCmdSTGetExecutionInfo([HANDLE], term.data.trading_days[1:]))


def run(scenario, term):
    """Play the scenario's steps on `term` (connected to the link); returns
    every execution and the account's cash and holdings at the end."""
    key = tuple(scenario.get("security", "sse.600000").split("."))
    seen = 0
    for number, step in enumerate(scenario["steps"], 1):
        where = "{}, step {}".format(scenario["name"], number)
        term.now = _moment(term, step["at"])
        if "refused" in step:
            try:
                _act(scenario, step)
            except VmReturnError as exc:
                assert step["refused"] in str(exc), "{}: {}".format(where, exc)
            else:
                raise AssertionError("{}: not refused".format(where))
        else:
            _act(scenario, step)
        executions = _executions(term)
        new, seen = executions[seen:], len(executions)
        if "fills" in step:
            assert [(e.volume, e.price) for e in new] == [tuple(f) for f in step["fills"]], where
        if "fees" in step:
            got = [tuple(_money(e[k]) for k in ("commission", "stamp_duty", "transfer_fee")) for e in new]
            assert got == [tuple(_money(f) for f in fee) for fee in step["fees"]], where
        (cash,) = vmcmd.vmSendCmdGetAccountCash([HANDLE])
        if "cash" in step:
            assert _money(cash.balance) == _money(step["cash"]), "{}: cash {}".format(where, cash.balance)
        position = vmcmd.vmSendCmdSTGetAccountPosition(HANDLE, *key)
        if "holding" in step:
            assert position[0] == step["holding"], "{}: holding {}".format(where, position)
        orders = {o.order_id: o for o in vmcmd.vmSendCmdSTOrderInfo([HANDLE], [])}
        for order_id, expected in step.get("orders", {}).items():
            order = orders[order_id]
            got = (order.status, order.filled_volume, round(order.avg_price, 4))[:len(expected)]
            assert got == tuple(expected), "{}: order {} is {}".format(where, order_id, got)
        if "available" in step:
            (gross,) = vmcmd.vmSendCmdGetAccountTargetGrossPosition([HANDLE], [dict(Market=key[0], Code=key[1])])
            assert gross.available == step["available"], where
    return _executions(term), cash, position[0], orders


def reconcile(scenario, executions, cash, holding, orders):
    """Cash at the end = cash at the start - buys + sells - all fees, to the
    cent; holdings = start + buys - sells; each order's fees as the
    schedule says; nothing frozen once no order works."""
    buys = sum(_money(e.amount) for e in executions if e.side == "buy")
    sells = sum(_money(e.amount) for e in executions if e.side == "sell")
    fees = sum(_money(e.fees) for e in executions)
    start = _money(scenario.get("cash", 1000000.0))
    assert _money(cash.balance) == start - buys + sells - fees, scenario["name"]
    bought = sum(e.volume for e in executions if e.side == "buy")
    sold = sum(e.volume for e in executions if e.side == "sell")
    assert holding == scenario.get("holding", 0) + bought - sold, scenario["name"]
    for order_id, order in orders.items():
        mine = [e for e in executions if e.order_id == order_id]
        assert sum(e.volume for e in mine) == order.filled_volume, scenario["name"]
        amounts = [_money(e.amount) for e in mine]
        for e, amount in zip(mine, amounts):
            assert amount == _cents(decimal.Decimal(repr(e.price)) * e.volume)
            assert _money(e.fees) == _money(e.commission) + _money(e.stamp_duty) + _money(e.transfer_fee)
            assert _money(e.transfer_fee) == _cents(amount * _on(TRANSFER, e.exec_date))
            stamp = _cents(amount * _on(STAMP, e.exec_date)) if e.side == "sell" else 0
            assert _money(e.stamp_duty) == stamp, scenario["name"]
        if mine:
            commission = max(_cents(sum(amounts) * COMMISSION), COMMISSION_MIN)
            assert sum(_money(e.commission) for e in mine) == commission, scenario["name"]
    if all(o.status in ("filled", "cancelled") for o in orders.values()):
        assert cash.frozen == 0, scenario["name"]


def play(scenario):
    """Run and reconcile a scenario on a fresh embedded terminal."""
    term = link.connect(terminal_for(scenario))
    try:
        reconcile(scenario, *run(scenario, term))
    finally:
        link.disconnect()
