"""Errors a user causes, worded as one line: the user's own file and line first."""
import argparse
import os
import sys
import sysconfig
import traceback
from typing import Optional, TextIO, Tuple

import velmoro

__all__ = ["UserError", "user_frame", "describe", "report", "add_traceback"]

# frames in these folders are the framework's or Python's, not the user's
_NOT_USERS = tuple(os.path.normcase(os.path.abspath(p)) + os.sep for p in filter(None, {
    os.path.dirname(velmoro.__file__), sysconfig.get_paths()["stdlib"], sysconfig.get_paths()["purelib"],
    sysconfig.get_paths()["platlib"]}))


class UserError(Exception):
    """A mistake of the user's, shown as one line; `status` is the exit status."""

    def __init__(self, message: str, status: int = 2):
        super().__init__(message)
        self.status = status


def user_frame(exc: BaseException) -> Optional[Tuple[str, Optional[int], str]]:
    """(file, line, function) of the innermost frame of the user's own code
    in the exception's traceback, or None when it has none."""
    found = None
    for frame in traceback.extract_tb(exc.__traceback__):
        if not os.path.normcase(os.path.abspath(frame.filename)).startswith(_NOT_USERS) \
                and not frame.filename.startswith("<"):
            found = (frame.filename, frame.lineno, frame.name)
    return found


def describe(exc: BaseException) -> str:
    """The exception as one line, led by the user's file and line when it
    comes from the user's code (a syntax error: the line it points at)."""
    what = "{}: {}".format(type(exc).__name__, exc) if str(exc) else type(exc).__name__
    if isinstance(exc, SyntaxError) and exc.filename:
        return "{}:{}: {}: {}".format(_short(exc.filename), exc.lineno, type(exc).__name__, exc.msg)
    where = user_frame(exc)
    if where is None:
        return what
    return "{}:{} in {}: {}".format(_short(where[0]), where[1], where[2], what)


def _short(path: str) -> str:
    relative = os.path.relpath(path)
    return path if relative.startswith(os.pardir) else relative


def report(command: str, exc: BaseException, show_traceback: bool, stream: Optional[TextIO] = None) -> None:
    """Print `exc` for `command`: one line, or the whole chain with --traceback."""
    stream = stream if stream is not None else sys.stderr
    if show_traceback:
        traceback.print_exception(type(exc), exc, exc.__traceback__, file=stream)
    line = str(exc) if isinstance(exc, UserError) else describe(exc)
    hint = "" if show_traceback or isinstance(exc, UserError) else " (--traceback shows the whole chain)"
    print("velmoro {}: {}{}".format(command, line, hint), file=stream)


def add_traceback(parser: argparse.ArgumentParser, default: object = False) -> None:
    """Give `parser` and the parsers of its own subcommands (`velmoro terminal
    serve`) the --traceback option; a subcommand's leaves an earlier one set."""
    parser.add_argument("--traceback", action="store_true", default=default,
                        help="on an error, print the whole chain too")
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for sub in {id(p): p for p in action.choices.values()}.values():
                add_traceback(sub, argparse.SUPPRESS)
