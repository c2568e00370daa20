"""Run states the cases and properties work on: a minute-bar run for the
run-time types, and a live run on the simulated terminal for the refresh
loop."""
import datetime as dt
import os

import numpy as np

import velmoro.tframe.runtypesbase as base
from harness.fakes import Boom, targets_copy
from velmoro.realtrade.model.orders import VMRealOrder
from velmoro.simterm import Terminal
from velmoro.simterm.replay import Replay
from velmoro.tframe.runtypesbase import Account, KData, gv
from velmoro.tframe.utils.datetimefunc import datetime_to_mft
from velmoro.tframe.utils.utilcls import DotDict


def minute_run(runtypes):
    """Variables and environment of a minute-bar run over two days, with
    accounts, orders and margins; and the time line of its bars."""
    var = runtypes.RealTradeVar()
    env = runtypes.RealTradeEnv()
    env.vr = var
    info = var.g_VelmoroInputInfo
    info.update(TargetList=targets_copy(), TargetListDot=["SSE.600000", "SZSE.000001"], KFrequency="min",
                KFrequencyI=gv.KFreq_Min, BeginDate=20240102)
    var.g_VelmoroTargetsInfo = {"SSE.600000": {"ShortMargin": 0.1, "LongMargin": 0.2}}
    columns = [(dt.datetime(2024, 1, 4, 9, 31), 1), (dt.datetime(2024, 1, 4, 9, 32), 2),
               (dt.datetime(2024, 1, 5, 9, 31), 1)]
    matrix = np.zeros((gv.KMatrix_Rows, len(columns)))
    for c, (moment, day_pos) in enumerate(columns):
        matrix[gv.KMatrixPos_TimeLine, c] = datetime_to_mft(moment)
        matrix[gv.KMatrixPos_DayPos, c] = day_pos
    var.g_VelmoroKDataList[:] = [KData("min", 1, matrix)]
    var.g_VelmoroAccounts = [Account(1001, 0), Account(2002, 1)]
    for i, (order_id, handle_idx) in enumerate([("A", 0), ("B", 1), ("C", 0)]):
        var.g_VMOrders.append(order_id, VMRealOrder(order_idx=i, order_id=order_id, handle_idx=handle_idx, target_idx=0))
        var.g_VMStopOrders.append(order_id, VMRealOrder(order_idx=i, order_id=order_id, handle_idx=handle_idx,
                                                        target_idx=0))
    return var, env, matrix[gv.KMatrixPos_TimeLine].copy()


class LiveRun:
    """A live run on a simulated terminal, its history loaded and published,
    that the refresh loop can take again and again from the same state: a
    case restores every field a pass replaces before it runs."""

    def __init__(self, box, barcycle):
        from velmoro.realtrade.runner import run_live  # loads the refresh loop

        self.term = term = Terminal(result_dir=os.path.join(box.files.folder, "terminal"))
        # one file per kind of result, rewritten: a long run leaves no trail
        term.write_mat = lambda stem, variables: box.files.write(stem + ".mat", variables)
        self.forward = lambda name, args: term.handle(name[len("Velmoro"):-len("_send")], args)
        box.transport.answer = self.forward
        days = term.data.trading_days
        self.handler_fails = False
        self.feed = [{"stop_run": True}]  # the run stops at once
        box.switch(barcycle, "receive_data", lambda: self.feed.pop(0))
        # on the embedded terminal the run replays days[1] after the history, days[0]; the feed above
        # stands in for the replay's pushes
        run_live(targets_copy(), self.on_data, begin_date=days[1], end_date=days[1], accounts=[1001])
        self.vr, self.env = base.vr, base.env
        # the runner's handler keeps a record of every call: the cases call ours
        self.vr.g_VelmoroInputInfo.on_data_func = self.on_data
        session = Replay(term, targets_copy(), [days[1]])._session()
        self.pushes = [next(session)[1] for _ in range(2)]
        self.day = days[1]
        self.saved = self._fields()

    def on_data(self, context):
        if self.handler_fails:
            raise Boom("strategy handler")

    def _fields(self):
        vr = self.vr
        records = list(vr.g_VelmoroKDataList) + list(vr.g_VelmoroKDataList_Adj) + list(vr.g_VelmoroAccounts)
        return [(o, dict(vars(o))) for o in [vr] + records]

    def restore(self, feed=(), handler_fails=False):
        for o, fields in self.saved:
            d = vars(o)
            d.clear()
            d.update(fields)
        self.term.sent.clear()
        self.term.log.clear()
        self.feed[:] = feed
        self.handler_fails = handler_fails


def barcycle_values(run):
    """Plausible arguments of the refresh steps, by parameter name."""
    from velmoro.realtrade.runtypes import RealRunTimeContext  # a native module

    line = run.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine]
    record = DotDict(more_time=line[-1:] + 1.0, more_day_pos=np.array([1.0]), KFrequency=gv.KFreq_Min)
    return {
        "lpc": RealRunTimeContext(),
        "unfilled_begin_calc_pos": np.zeros(len(run.vr.g_VelmoroKDataList), dtype=np.int64),
        "unique_i_freq": np.array([gv.KFreq_Min, gv.KFreq_Day]),
        "array_new_trading_time": [record],
        "new_trading_time": record,
        "trading_time": [record],
        "expend_fresh_bar_tl": line[-1:] + 1.0,
        "sum_idx_fresh_array": 1,
        "update_date": run.day,
        "minimum_time_point": float("nan"),
    }
