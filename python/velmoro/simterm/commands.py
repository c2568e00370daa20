"""The terminal's commands: the handler registered for each with the checks
its requests pass first, the checks run before every command, and the
answers and failures they give. Every handler module registers here; the
terminal dispatches from here."""
from typing import Any, Callable, Dict, List, Sequence, Tuple, TypeVar

from velmoro.protocol import Answer, Status

__all__ = ["TerminalError", "command", "ok", "HANDLERS", "REQUESTS", "CHECKS"]

# a request check: (parameter, where its value sits in the command's arguments
# (an index, (index, record key) or a list of them), name of a rule of
# validation.RULES)
Check = Tuple[str, Any, str]
Handler = TypeVar("Handler", bound=Callable[..., Any])

# send-function command name (without "Velmoro" and "_send") -> handler(terminal, *args)
HANDLERS: Dict[str, Callable[..., Any]] = {}
# command -> the request checks declared with its handler
REQUESTS: Dict[str, Tuple[Check, ...]] = {}
# check(terminal, command, args) run before every handler; raises TerminalError
# to refuse the request (see validation.py)
CHECKS: List[Callable[[Any, str, Tuple[Any, ...]], None]] = []


class TerminalError(Exception):
    """A terminal-side failure, answered at error level."""

    def __init__(self, code, info):
        super().__init__(code, info)
        self.code = code
        self.info = info

    def __str__(self):
        return str(self.info)


def command(*names: str, checks: Sequence[Check] = ()) -> Callable[[Handler], Handler]:
    """Register the decorated function as the handler of the named commands,
    each of whose requests passes `checks` before it is answered."""

    def register(handler: Handler) -> Handler:
        for name in names:
            HANDLERS[name] = handler
            REQUESTS[name] = tuple(checks)
        return handler

    return register


def ok(level=0, code=0, info="", **payload):
    """A checked answer: a status record in `result` plus the payload."""
    return Answer(result=Status(level, code, info), **payload)
