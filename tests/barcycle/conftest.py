"""Recording fakes for the refresh loop: the run state is real (run variables
and environment), while the refresh calculations, the command channel and
the loggers it calls are replaced in the loop module's globals."""
import types

import numpy as np
import pytest

from velmoro.realtrade import barcycle
from velmoro.realtrade.calc.layout import new_matrix
from velmoro.realtrade.runtypes import RealRunTimeContext, RealTradeEnv, RealTradeVar
from velmoro.tframe.runtypesbase import KData, gv

COMMANDS = {
    "vmSendCmdPutLog": None,
    "vmSendCmdTransTradeTimeToTradeDate": 20240103,
    "vmSendCmdCloseOperation": None,
    "vmSendCmdGetAccountPositionAndCash": ([], []),
    "vmSendCmdSTGetOrderInfoByDate": [],
}


class Recorder:
    """Keeps every call of the fakes it makes, in order."""

    def __init__(self):
        self.calls = []

    def fake(self, name, result=None, effect=None):
        def call(*args, **kwargs):
            self.calls.append((name, args, kwargs))
            return effect(*args, **kwargs) if effect else result

        call.__name__ = name
        return call

    def names(self, *only):
        return [c[0] for c in self.calls if not only or c[0] in only]

    def of(self, name):
        return [c for c in self.calls if c[0] == name]

    def syslog(self):
        return [(c[1][0], c[2].get("level")) for c in self.of("write_syslog")]


class Loop:
    def __init__(self, monkeypatch):
        self.b = barcycle
        self.rec = Recorder()
        self._mp = monkeypatch
        self.vr = RealTradeVar()
        self.env = RealTradeEnv()
        self.env.vr = self.vr
        monkeypatch.setattr(barcycle, "cnt", types.SimpleNamespace(vr=self.vr, env=self.env))
        self.vmcmd = types.SimpleNamespace(**{n: self.rec.fake(n, result=r) for n, r in COMMANDS.items()})
        monkeypatch.setattr(barcycle, "vmcmd", self.vmcmd)
        for name in ("write_syslog", "write_log"):
            self.patch(name)

    def patch(self, name, result=None, effect=None):
        """Replace the loop module's global `name` by a recording fake."""
        self._mp.setattr(barcycle, name, self.rec.fake(name, result, effect))

    def command(self, name, result=None, effect=None):
        setattr(self.vmcmd, name, self.rec.fake(name, result, effect))

    def context(self, **fields):
        lpc = RealRunTimeContext()
        for k, v in fields.items():
            setattr(lpc, k, v)
        return lpc

    def minute_run(self, times, day_pos=None, targets=1, current_bar=None):
        """A minute run whose one bar record and refresh line hold `times`."""
        times = np.asarray(times, dtype=float)
        if day_pos is None:
            day_pos = np.arange(1, times.size + 1)
        kdata = KData("min", 1, new_matrix(times, day_pos, targets))
        kdata.CurrentBar = np.arange(times.size) if current_bar is None else np.asarray(current_bar)
        self.vr.g_VelmoroKDataList.append(kdata)
        self.vr.g_VelmoroDataValueFresh = new_matrix(times, day_pos, targets)
        info = self.vr.g_VelmoroInputInfo
        info.KFrequency, info.KFrequencyI, info.KFreNum = "min", gv.KFreq_Min, 1
        info.TargetList = [{"Market": "sse", "Code": "60000{}".format(i)} for i in range(targets)]
        info.StrategyName = "demo"
        return kdata


@pytest.fixture
def loop(monkeypatch):
    return Loop(monkeypatch)
