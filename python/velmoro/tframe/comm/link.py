"""The link between the framework and the host terminal.

A terminal is any object with `handle(command, args)` that returns the answer
object of the command (or None for commands without an answer). Terminal-side
failures come back as answers at error level; a failure of the link itself is
a TransportError.
"""
import os
import threading

__all__ = ["Status", "Answer", "TransportError", "connect", "disconnect", "current", "send", "recv_serial", "receive_push"]


class TransportError(ConnectionError):
    """The terminal could not be reached or did not answer."""


class Status:
    """Status record of an answer."""

    __slots__ = ("errLevel", "errCode", "errInfo")

    def __init__(self, errLevel=0, errCode=0, errInfo=""):
        self.errLevel = errLevel
        self.errCode = errCode
        self.errInfo = errInfo

    def __repr__(self):
        return "Status(errLevel={!r}, errCode={!r}, errInfo={!r})".format(self.errLevel, self.errCode, self.errInfo)


class Answer:
    """An answer of the terminal: `result` plus the command's payload attributes."""

    def __init__(self, result=None, **payload):
        self.result = result
        self.__dict__.update(payload)

    def __repr__(self):
        return "Answer({})".format(", ".join("{}={!r}".format(k, v) for k, v in self.__dict__.items()))


class _Link:
    def __init__(self):
        self.terminal = None
        self.local = threading.local()


_link = _Link()


def connect(terminal):
    """Route every command to `terminal`; returns the terminal."""
    _link.terminal = terminal
    return terminal


def disconnect():
    """Drop the terminal; the next command connects the embedded default again."""
    _link.terminal = None


def current():
    """The connected terminal. Without one, the embedded simulated terminal is
    started unless VELMORO_TERMINAL asks for another ("none" refuses)."""
    if _link.terminal is None:
        if os.environ.get("VELMORO_TERMINAL", "embedded") != "embedded":
            raise TransportError("no terminal is connected")
        from velmoro.simterm import Terminal

        connect(Terminal())
    return _link.terminal


def send(command, args):
    """Hand one command to the terminal; its answer waits for recv_serial."""
    answer = current().handle(command, args)
    _link.local.pending = (command, answer)


def recv_serial(func_name):
    """The answer to the command just sent on this thread."""
    pending = getattr(_link.local, "pending", None)
    _link.local.pending = None
    if pending is None or pending[1] is None:
        raise TransportError("no answer from the terminal for {}".format(func_name))
    return pending[1]


def receive_push(timeout=1.0):
    """The terminal's next push of new data, or None after `timeout` seconds of quiet."""
    return current().next_push(timeout)
