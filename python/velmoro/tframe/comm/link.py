"""The link between the framework and the host terminal.

A terminal is any object with `handle(command, args)` that returns the answer
object of the command (or None for commands without an answer). Terminal-side
failures come back as answers at error level; a failure of the link itself is
a TransportError: NotConnectedError when the command was certainly not
transmitted, OutcomeUnknownError when it was sent and no answer came.

The terminal is the embedded one unless `connect` is given a terminal or an
address ("unix:PATH" or "tcp://HOST:PORT"), or VELMORO_TERMINAL holds an
address or another terminal's name. Terminals run in this process are found by
name among the TERMINALS entry points (a terminal package registers its class
there; the simulated terminal registers "embedded"), so that the framework
imports no terminal of its own.
"""
import os
import threading
from importlib import metadata
from typing import Any, Dict, Tuple, Union

# the records and failures of the link are the protocol's; they are named here too, where callers find them
from velmoro.protocol import (IN_PROGRESS, NEVER_ARRIVED, Answer, NotConnectedError, OutcomeUnknownError,
                              PushGapError, Status, TransportError)

__all__ = ["Status", "Answer", "TransportError", "NotConnectedError", "OutcomeUnknownError", "PushGapError",
           "NEVER_ARRIVED", "IN_PROGRESS", "TERMINALS", "connect", "disconnect", "current", "send", "recv_serial",
           "receive_push"]


# the entry point group terminals run in this process register in: name -> class
TERMINALS = "velmoro.terminals"


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
    """The connected terminal. Without one, VELMORO_TERMINAL decides: an
    address connects to that terminal server, "none" refuses, and a name
    (default "embedded") starts the terminal registered under it."""
    if _link.terminal is None:
        where = os.environ.get("VELMORO_TERMINAL", "embedded")
        if where.startswith(("unix:", "tcp://")):
            connect(where)
        elif where == "none":
            raise NotConnectedError("no terminal is connected (VELMORO_TERMINAL is none)")
        else:
            connect(_registered(where)())
    return _link.terminal


def _registered(name: str) -> Any:
    """The terminal class registered as `name` in TERMINALS."""
    found = metadata.entry_points()
    if hasattr(found, "select"):
        group = found.select(group=TERMINALS)
    else:  # 3.8 and 3.9 answer a dict of groups
        group = found.get(TERMINALS, ())  # type: ignore[attr-defined]
    entries: Dict[str, Any] = {}
    for entry in group:
        entries.setdefault(entry.name, entry)  # the first on sys.path wins, as for imports
    if name not in entries:
        raise NotConnectedError("no terminal named {!r} is installed (installed: {}); VELMORO_TERMINAL takes a "
                                "terminal's name, unix:PATH, tcp://HOST:PORT or none".format(
                                    name, ", ".join(sorted(entries)) or "none"))
    try:
        return entries[name].load()
    except Exception as exc:
        raise NotConnectedError("the terminal {!r} ({}) does not load: {}".format(name, entries[name].value, exc)) \
            from exc


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
