"""The link between the framework and the host terminal.

A terminal is any object with `handle(command, args)` that returns the answer
object of the command (or None for commands without an answer). Terminal-side
failures come back as answers at error level; a failure of the link itself is
a TransportError: NotConnectedError when the command was certainly not
transmitted, OutcomeUnknownError when it was sent and no answer came.

The terminal is the embedded simulated one unless `connect` is given an
address ("unix:PATH" or "tcp://HOST:PORT") or VELMORO_TERMINAL holds one.
"""
import os
import threading
from typing import Any, Tuple, Union

__all__ = ["Status", "Answer", "TransportError", "NotConnectedError", "OutcomeUnknownError", "PushGapError",
           "NEVER_ARRIVED", "IN_PROGRESS", "connect", "disconnect", "current", "send", "recv_serial", "receive_push"]


class TransportError(ConnectionError):
    """The terminal could not be reached or did not answer."""


class NotConnectedError(TransportError):
    """No terminal is connected or the link is down: the command was not sent."""


class OutcomeUnknownError(TransportError):
    """The command was sent but its answer did not come (time-out or the link
    died). `key` is the idempotency key of an order or cancel (else None): its
    outcome can be asked with the remote terminal's `outcome(key)`."""

    def __init__(self, message, key=None):
        super().__init__(message)
        self.key = key


class PushGapError(TransportError):
    """Pushes of the live run were lost and cannot be delivered again."""


class _Outcome:
    """An outcome of an order or cancel that is not its answer."""

    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


# The terminal never received the order or cancel (and no connection that
# could still deliver it is left): sending it again is safe.
NEVER_ARRIVED = _Outcome("NEVER_ARRIVED")
# The terminal may still be running it: ask again later.
IN_PROGRESS = _Outcome("IN_PROGRESS")


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


def connect(terminal: Union[str, Any]) -> Any:
    """Route every command to `terminal` (a terminal object, or the address of
    a terminal server: "unix:PATH" or "tcp://HOST:PORT"); returns the terminal."""
    if isinstance(terminal, str):
        from velmoro.tframe.comm.netlink import RemoteTerminal

        terminal = RemoteTerminal(terminal)
    previous, _link.terminal = _link.terminal, terminal
    if previous is not None and previous is not terminal:
        _close(previous)
    return terminal


def _close(terminal):
    close = getattr(terminal, "close", None)
    if close is not None:
        close()


def disconnect() -> None:
    """Drop the terminal (closing a link to a server); the next command
    connects the default again."""
    previous, _link.terminal = _link.terminal, None
    if previous is not None:
        _close(previous)


def current() -> Any:
    """The connected terminal. Without one, VELMORO_TERMINAL decides:
    "embedded" (the default) starts the embedded simulated terminal, an
    address connects to that terminal server, "none" refuses."""
    if _link.terminal is None:
        where = os.environ.get("VELMORO_TERMINAL", "embedded")
        if where == "embedded":
            from velmoro.simterm import Terminal

            connect(Terminal())
        elif where.startswith(("unix:", "tcp://")):
            connect(where)
        else:
            raise NotConnectedError("no terminal is connected")
    return _link.terminal


def send(command: str, args: Tuple[Any, ...]) -> None:
    """Hand one command to the terminal; its answer waits for recv_serial."""
    answer = current().handle(command, args)
    _link.local.pending = (command, answer)


def recv_serial(func_name: str) -> Any:
    """The answer to the command just sent on this thread."""
    pending = getattr(_link.local, "pending", None)
    _link.local.pending = None
    if pending is None or pending[1] is None:
        raise NotConnectedError("no answer from the terminal for {}".format(func_name))
    return pending[1]


def receive_push(timeout: float = 1.0) -> Any:
    """The terminal's next push of new data, or None after `timeout` seconds of quiet."""
    return current().next_push(timeout)
