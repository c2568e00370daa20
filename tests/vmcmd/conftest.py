"""A recording transport put into the command channel's globals; the
command tests share command_table (a row per command)."""
import os
import sys

import pytest

from serving import serving
from velmoro.tframe.comm import link, vmcmd

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


class Status:
    def __init__(self, level=0, code=0, info=""):
        self.errLevel, self.errCode, self.errInfo = level, code, info


class Reply:
    """An answer: `result` plus payload attributes."""

    def __init__(self, result, **payload):
        self.result = result
        self.__dict__.update(payload)


class Wire:
    """Stands for `vmserial` (records every send) and `recv_serial` (hands out
    the queued replies, recording the func_name it was asked with)."""

    def __init__(self):
        self.sent = []
        self.asked = []
        self.replies = []

    def __getattr__(self, name):
        if not name.endswith("_send"):
            raise AttributeError(name)
        return lambda *args: self.sent.append((name, args))

    def receive(self, func_name):
        self.asked.append(func_name)
        return self.replies.pop(0)

    def reply(self, level=0, **payload):
        """Queue an answer at `level` (a payload named "result" replaces the status)."""
        payload.setdefault("result", Status(level, 77, "terminal says so" if level else ""))
        self.replies.append(Reply(**payload))

    @staticmethod
    def same(actual, expected):
        """Equal values of the same types, dicts with the same key order (so a
        missing todotdict or a reordered record shows)."""
        if type(actual) is not type(expected):
            return False
        if isinstance(expected, dict):
            return list(actual) == list(expected) and all(Wire.same(actual[k], expected[k]) for k in expected)
        if isinstance(expected, (list, tuple)):
            return len(actual) == len(expected) and all(Wire.same(a, e) for a, e in zip(actual, expected))
        return actual == expected


@pytest.fixture
def wire(monkeypatch):
    w = Wire()
    monkeypatch.setattr(vmcmd, "vmserial", w)
    monkeypatch.setattr(vmcmd, "recv_serial", w.receive)
    return w


@pytest.fixture(params=["embedded", "served"])
def terminal(request, tmp_path):
    """A fresh simulated terminal, reached in this process or over a socket
    through its server: the commands behave the same either way."""
    from velmoro.simterm import Terminal

    term = Terminal(result_dir=str(tmp_path / "terminal"))
    if request.param == "embedded":
        yield link.connect(term)
    else:
        with serving(term) as (_, address):
            link.connect(address)
            yield term
    link.disconnect()
