"""An example strategy, written as a framework user writes one.

Each trading day it reads yesterday's momentum factor and buys the strongest
of its targets that made a profit in the latest income statement; it also
parks a limit bid under the 30-minute low and withdraws it if it is still
open an hour later; shares bought on an earlier day are sold in the
afternoon. The run stops dispatching at the daily close time, 14:50.

It trades the run's targets (`context.targets`: the demo's TARGETS, or those
given to `velmoro run`) on the account ACCOUNT.
"""
import datetime as dt

import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.api import market
from velmoro.api.bpfactor._factors import get_factor_by_day
from velmoro.api.fundamental.fdmt.earnings import is_pit
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError

STRATEGY = "momentum-demo"
ACCOUNT = 1001
TARGETS = [
    {"Market": "sse", "Code": "600000"},
    {"Market": "sse", "Code": "600519"},
    {"Market": "szse", "Code": "000001"},
    {"Market": "szse", "Code": "000002"},
]
FACTOR = "momentum_5d"
ACCOUNTS = [ACCOUNT]  # the accounts the run trades (read by `velmoro run`)
FACTORS = [FACTOR]  # the factors its pushes may carry
LOT = 100
CLOSE_TIME = dt.time(14, 50)


def initialize(context):
    """Subscribe the targets and the factor, read the fundamentals, set the daily close."""
    targets = context.targets
    vmcmd.vmSendCmdSubscribeIns(targets, "min")
    vmcmd.vmSendCmdSubscribeFactor(targets, [FACTOR])
    income = is_pit(targets, field=("NetProfit",))
    latest = income.sort_values("EndDate").groupby(["Market", "Code"]).tail(1)
    profitable = {(r.Market, r.Code) for r in latest.itertuples() if r.NetProfit > 0}
    context.universe = [i for i, t in enumerate(targets) if (t["Market"], t["Code"]) in profitable]
    context.pick = None
    context.resting = None  # (order id, time placed) of the parked limit bid
    context.bought = []  # (trading date, target index, volume)
    context.orders = []  # every order id the strategy placed
    first_day = cnt.vr.g_VelmoroKDataList[0].Matrix[0, 0]
    day = dt.date(1, 1, 1) + dt.timedelta(days=int(first_day) - 367)
    cnt.env.set_daily_close(dt.datetime.combine(day, CLOSE_TIME))


def closes(target_idx, count):
    """The last `count` closes of a target up to the current refresh position."""
    return market.window("Close", count)[target_idx]


def order(context, target_idx, side, volume, price=None):
    """Place an order on the strategy's account; returns its id, or None when refused."""
    request = dict(context.targets[target_idx], Handle=ACCOUNT, Side=side, Volume=volume, StrategyName=STRATEGY)
    if price is not None:
        request["Price"] = round(price, 2)
    try:
        order_id = vmcmd.vmSendCmdSTTradeOperation(request)
    except VmReturnError:
        return None
    context.orders.append(order_id)
    return order_id


def on_data(context):
    """Called once per refresh position (one minute bar)."""
    now = context.now
    if context.day_begin:
        yesterday = int((now - dt.timedelta(days=1 if now.weekday() else 3)).strftime("%Y%m%d"))
        targets = [context.targets[i] for i in context.universe]
        factor = get_factor_by_day([FACTOR], targets, yesterday) if targets else None
        values = factor[FACTOR] if factor else []
        known = [(v, i) for v, i in zip(values, context.universe) if v is not None and np.isfinite(v)]
        context.pick = max(known)[1] if known else None

    hhmm = (now.hour, now.minute)
    if hhmm == (10, 0) and context.pick is not None:
        if order(context, context.pick, "buy", LOT) is not None:
            context.bought.append((now.date(), context.pick, LOT))
        # a bid under the 30-minute low: kept for an hour at most
        bid = order(context, context.pick, "buy", LOT, price=closes(context.pick, 30).min() * 0.998)
        if bid is not None:
            context.resting = (bid, now)
    if context.resting and now - context.resting[1] >= dt.timedelta(hours=1):
        vmcmd.vmSendCmdCancelOrder(STRATEGY, ACCOUNT, context.resting[0])
        context.resting = None
    if hhmm == (14, 30):
        for day, target_idx, volume in [b for b in context.bought if b[0] < now.date()]:
            if order(context, target_idx, "sell", volume) is not None:
                context.bought.remove((day, target_idx, volume))
