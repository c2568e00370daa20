"""Framework logging on Python's logging: framework log, system log, user messages."""
import logging

__all__ = ["user_warning", "user_info", "write_log", "write_syslog"]

framework_log = logging.getLogger("velmoro")
system_log = logging.getLogger("velmoro.sys")
user_log = logging.getLogger("velmoro.user")
console_log = logging.getLogger("velmoro.console")

_LEVELS = {
    "debug": logging.DEBUG,
    "info": logging.INFO,
    "warn": logging.WARNING,
    "warning": logging.WARNING,
    "error": logging.ERROR,
}


def _level(level):
    try:
        return _LEVELS[str(level).lower()]
    except KeyError:
        raise ValueError("unknown log level {!r}".format(level)) from None


def user_warning(message):
    """Show a message to the user at warning level."""
    user_log.warning("%s", message)


def user_info(message):
    """Show a message to the user at information level."""
    user_log.info("%s", message)


def write_log(message, level="info", console=False, use_args_for_console=False):
    """Write to the framework log; a truthy console flag also echoes to the console."""
    framework_log.log(_level(level), "%s", message)
    if console or use_args_for_console:
        console_log.log(_level(level), "%s", message)


def write_syslog(message, level="debug"):
    """Write to the framework's system log."""
    system_log.log(_level(level), "%s", message)
