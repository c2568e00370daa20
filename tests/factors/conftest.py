"""Fixtures of the factor query tests: a recording command channel in place of
`vmcmd`, the run's variables, and factor result files written with scipy."""
import types

import numpy as np
import pytest
import scipy.io

from velmoro.api.bpfactor import _factors

TASK_ID = 42


class Channel:
    """Stands in for the command channel: every command lands in `events`;
    GetFactor answers the path registered for the factor."""

    def __init__(self, events):
        self.events = events
        self.paths = {}

    def vmSendCmdPutLog(self, task_id, log):
        self.events.append(("PutLog", task_id, log))

    def vmSendCmdAskFactor(self, *args):
        self.events.append(("AskFactor",) + args)

    def vmSendCmdGetFactor(self, *args):
        self.events.append(("GetFactor",) + args)
        return self.paths[args[0]]


class Files:
    """Writes one factor's result file and registers it with the channel."""

    def __init__(self, directory, channel):
        self.directory = directory
        self.channel = channel

    def write(self, factor, entries, dates):
        path = str(self.directory / "{}.mat".format(factor))
        variables = {name: np.atleast_2d(np.asarray(v, dtype=float)) for name, v in entries.items()}
        variables["Date"] = np.asarray(dates, dtype=float).reshape(1, -1)
        scipy.io.savemat(path, variables)
        self.channel.paths[factor] = path
        return path


@pytest.fixture
def channel(monkeypatch):
    ch = Channel([])
    monkeypatch.setattr(_factors, "vmcmd", ch)
    monkeypatch.setattr(_factors, "cnt", types.SimpleNamespace(vr=types.SimpleNamespace(g_VelmoroModeTaskId=TASK_ID)))
    return ch


@pytest.fixture
def files(tmp_path, channel):
    return Files(tmp_path, channel)


@pytest.fixture
def spies(monkeypatch, channel):
    """Records the framework calls the queries make besides the channel's
    (load_mat, DotDict, todotmc, mft_to_datetime) in the channel's events."""
    events = channel.events

    def spy(name, real, describe=lambda arg: arg):
        def call(arg):
            events.append((name, describe(arg)))
            return real(arg)

        return call

    monkeypatch.setattr(_factors, "load_mat", spy("load_mat", _factors.load_mat))
    monkeypatch.setattr(_factors, "DotDict", spy("DotDict", _factors.DotDict, sorted))
    monkeypatch.setattr(_factors, "todotmc", spy("todotmc", _factors.todotmc))
    to_datetime = spy("mft_to_datetime", _factors.utils_dt.mft_to_datetime, list)
    monkeypatch.setattr(_factors, "utils_dt", types.SimpleNamespace(mft_to_datetime=to_datetime))
    return events
