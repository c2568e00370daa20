"""Framework logging on Python's logging: framework log, system log, user messages.

Each event is one record. A record of `write_log` says whether it is meant
for the console as well (its `console` attribute); `for_console` tells a
console handler which records to show. The system log is the refresh
loop's step trace: below warning it is written at debug, so that the log at
info grows with the run's days, not its bars. For the same reason the line
the loop puts in the terminal's log at each bar (echoed here at info) is
kept at debug.
"""
import functools
import logging
import re

from velmoro.tframe.language import text

__all__ = ["user_warning", "user_info", "write_log", "write_syslog", "for_console", "LEVELS"]

framework_log = logging.getLogger("velmoro")
system_log = logging.getLogger("velmoro.sys")
user_log = logging.getLogger("velmoro.user")

LEVELS = {
    "debug": logging.DEBUG,
    "info": logging.INFO,
    "warn": logging.WARNING,
    "warning": logging.WARNING,
    "error": logging.ERROR,
}


def _level(level):
    try:
        return LEVELS[str(level).lower()]
    except KeyError:
        raise ValueError("unknown log level {!r}: one of {}".format(level, ", ".join(LEVELS))) from None


def for_console(record: logging.LogRecord) -> bool:
    """Whether a console handler shows `record`: a warning or an error, and
    of those a record of `write_log` only when it was told so. Lines below
    (the terminal's log lines echoed at info among them) stay in the log."""
    return record.levelno >= logging.WARNING and getattr(record, "console", True)


def user_warning(message):
    """Show a message to the user at warning level."""
    user_log.warning("%s", message)


def user_info(message):
    """Show a message to the user at information level."""
    user_log.info("%s", message)


@functools.lru_cache(maxsize=4)
def _filled(template):
    """A pattern matching the texts `template` makes, whatever its fields hold."""
    return re.compile(".*?".join(re.escape(part) for part in re.split(r"\{[^}]*\}", template)), re.S)


def _bar_line(message):
    """Whether `message` is the refresh loop's line for one bar, in the chosen language."""
    return isinstance(message, str) and _filled(text.LOG_REALFRESH_BAR).fullmatch(message) is not None


def write_log(message, level="info", console=False, use_args_for_console=False):
    """Write `message` to the framework log at `level` ("debug", "info",
    "warn", "warning" or "error"); a truthy console flag marks the record
    for the console as well. ValueError for another level. The refresh
    loop's line for each bar stays at debug."""
    number = _level(level)
    if number == logging.INFO:
        # the bar's line comes once a push: where info is not written, neither
        # is debug, and the line need not be recognised
        if not framework_log.isEnabledFor(logging.INFO):
            return
        if _bar_line(message):
            number = logging.DEBUG
    framework_log.log(number, "%s", message, extra={"console": bool(console or use_args_for_console)})


# the system log's level of each level name: the loop logs several steps a
# push, so its names are looked up once here
_SYSLOG_LEVELS = {name: (number if number >= logging.WARNING else logging.DEBUG) for name, number in LEVELS.items()}


def _syslog_level(level):
    number = _SYSLOG_LEVELS.get(level) if type(level) is str else None
    if number is None:
        # another spelling, or the error of an unknown level
        number = _level(level)
        number = number if number >= logging.WARNING else logging.DEBUG
    return number


def write_syslog(message, level="debug"):
    """Write to the framework's system log (the loop's trace): warnings and
    errors at their level, anything below at debug."""
    # most calls (a dozen a push) are dropped: the level is looked up and
    # checked before anything else
    number = _SYSLOG_LEVELS.get(level) if type(level) is str else None
    if number is None:
        number = _syslog_level(level)
    if system_log.isEnabledFor(number):
        system_log.log(number, "%s", message)


def _syslog_writes(level="debug") -> bool:
    """Whether `write_syslog` at `level` writes a record: a caller may leave
    out building a message that would be dropped."""
    return system_log.isEnabledFor(_syslog_level(level))


write_syslog.writes = _syslog_writes  # type: ignore[attr-defined]
