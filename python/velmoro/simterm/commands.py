"""The terminal's commands: the handler registered for each, the checks run
before every one, and the answers and failures they give. Every handler
module registers here; the terminal dispatches from here."""
from velmoro.protocol import Answer, Status

__all__ = ["TerminalError", "command", "ok", "HANDLERS", "CHECKS"]

# send-function command name (without "Velmoro" and "_send") -> handler(terminal, *args)
HANDLERS = {}
# check(terminal, command, args) run before every handler; raises TerminalError
# to refuse the request (see validation.py)
CHECKS = []


class TerminalError(Exception):
    """A terminal-side failure, answered at error level."""

    def __init__(self, code, info):
        super().__init__(code, info)
        self.code = code
        self.info = info

    def __str__(self):
        return str(self.info)


def command(name):
    """Register the decorated function as the handler of one command."""

    def register(handler):
        HANDLERS[name] = handler
        return handler

    return register


def ok(level=0, code=0, info="", **payload):
    """A checked answer: a status record in `result` plus the payload."""
    return Answer(result=Status(level, code, info), **payload)
