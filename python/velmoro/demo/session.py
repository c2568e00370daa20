"""A live trading session on the embedded simulated terminal (or a terminal
server, given its address).

The terminal replays its trading days after the first two as minute pushes;
the example strategy (velmoro/demo/strategy.py) trades them through the
refresh loop. Prints a progress line during the replay and a summary at the
end; the logs and the run's report go to demo-output/ (of the current folder).
"""
import collections
import dataclasses
import logging
import os
import sys
import time

import velmoro.tframe.runtypesbase as cnt
from velmoro import report as run_report
from velmoro.demo import strategy
from velmoro.realtrade.runner import run_live
from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.replay import Replay
from velmoro.tframe.comm import link, vmcmd

OUTPUT = "demo-output"


@dataclasses.dataclass
class Session:
    """What a session did, as the terminal and the run report it."""

    summary: object  # the runner's RunSummary
    replayed: int  # minutes pushed
    orders: list  # the terminal's order records of the strategy's account
    placed: list  # order ids the strategy placed
    positions: list
    cash: object
    start_asset: float
    stopped: bool  # the run ended on the terminal's stop push
    seconds: float
    log_path: str
    report: object  # velmoro.report.Report of the run


def _configure_logs(folder):
    os.makedirs(folder, exist_ok=True)
    handler = logging.FileHandler(os.path.join(folder, "velmoro.log"), mode="w")
    handler.setFormatter(logging.Formatter("%(asctime)s %(name)s %(levelname)s %(message)s"))
    root = logging.getLogger("velmoro")
    root.handlers[:] = [handler]
    root.setLevel(logging.DEBUG)
    root.propagate = False


HISTORY_DAYS, LIVE_DAYS = 2, 3


class _ServedReplay:
    """The replay a terminal server makes for this session: `pushed` counts
    the pushes taken."""

    def __init__(self, term, targets, days):
        self.term = term
        self.base = term.consumed
        term.replay(targets, days)

    @property
    def pushed(self):
        return self.term.consumed - self.base


def run_session(output=OUTPUT, progress=None, address=None):
    """Run the example strategy: the terminal's first days are the run's
    history, the following ones are replayed live. With `address`, on the
    terminal server there (started with as many days)."""
    _configure_logs(output)
    if address is None:
        term = link.connect(Terminal(Dataset(days=HISTORY_DAYS + LIVE_DAYS),
                                     result_dir=os.path.join(output, "files")))
        days = term.data.trading_days
        replay = Replay(term, strategy.TARGETS, days[HISTORY_DAYS:])
    else:
        term = link.connect(address)
        days = vmcmd.vmSendCmdGetTradingDays()
        replay = _ServedReplay(term, strategy.TARGETS, days[HISTORY_DAYS:])
    live_days = days[HISTORY_DAYS:]
    total = 240 * len(live_days)
    start_asset = vmcmd.vmSendCmdGetAccountCash([strategy.ACCOUNT])[0].total_asset

    def on_data(context):
        strategy.on_data(context)
        if progress is not None:
            progress(replay.pushed, total, len(context.orders))

    started = time.perf_counter()
    summary = run_live(strategy.TARGETS, on_data, strategy_name=strategy.STRATEGY, begin_date=days[0],
                       end_date=days[HISTORY_DAYS - 1], initialize=strategy.initialize, accounts=[strategy.ACCOUNT],
                       factors=[strategy.FACTOR])
    seconds = time.perf_counter() - started
    vmcmd.vmSendCmdStopTaskRealTrade(summary.task_id, strategy.STRATEGY, [strategy.ACCOUNT])
    orders = vmcmd.vmSendCmdSTGetOrderInfoByDate([strategy.ACCOUNT], live_days)
    cash, positions = vmcmd.vmSendCmdGetAccountPositionAndCash([strategy.ACCOUNT], [])
    log_path = os.path.join(output, "terminal.log")
    with open(log_path, "w") as f:
        f.writelines(str(line) + "\n" for line in term.log)
    context = cnt.vr.g_VelmoroUserContext
    return Session(summary, replay.pushed, list(orders), list(context.orders), list(positions), cash[0],
                   start_asset, replay.pushed == total + 1, seconds, log_path, run_report.collect(summary))


def _progress(pushed, total, placed):
    if pushed % 20 and pushed < total:
        return
    sys.stdout.write("\rreplay: bars {:4d}/{}  orders placed {:3d}".format(min(pushed, total), total, placed))
    sys.stdout.flush()


def report(session):
    """The summary a user reads at the end of the session."""
    status = collections.Counter(o.status for o in session.orders)
    lines = [
        "",
        "Session of {}: {} bars replayed, {} handler calls, ended on the stop push: {} ({:.1f} s)".format(
            session.summary.strategy, session.replayed - 1, len(session.summary.calls), session.stopped,
            session.seconds),
        "",
        "Orders  placed {:3d} by the strategy, {:d} by the daily close;  filled {:3d}  cancelled {:3d}  "
        "open {:3d}".format(len(session.placed), len(session.orders) - len(session.placed), status["filled"],
                             status["cancelled"], status["pending"] + status["partial"]),
        "",
        "{:<14s}{:>10s}{:>12s}{:>14s}{:>14s}".format("position", "shares", "avg price", "last price", "value"),
    ]
    for p in session.positions:
        lines.append("{:<14s}{:>10.0f}{:>12.2f}{:>14.2f}{:>14.2f}".format(
            "{}.{}".format(p.market, p.code), p.position, p.avg_price, p.last_price, p.market_value))
    if not session.positions:
        lines.append("  (no positions)")
    cash = session.cash
    lines += [
        "",
        "cash available {:,.2f}  frozen {:,.2f}  total asset {:,.2f}".format(
            cash.available, cash.frozen, cash.total_asset),
        "P&L {:+,.2f}".format(cash.total_asset - session.start_asset),
        "",
        run_report.text(session.report),
        "",
        "terminal log: {}".format(session.log_path),
    ]
    return "\n".join(lines)


def main(output=OUTPUT, address=None):
    session = run_session(output, progress=_progress, address=address)
    if address is not None:
        link.disconnect()
    print(report(session))
    _, note = run_report.write(session.report, os.path.join(output, "report"))
    print("report files: {}".format(os.path.join(output, "report")))
    if note:
        print(note)


if __name__ == "__main__":
    main()
