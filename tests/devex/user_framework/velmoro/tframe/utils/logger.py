LINES = []


def write_log(message, level="info", console=False, use_args_for_console=False):
    LINES.append((level, message))


def write_syslog(message, level="info"):
    LINES.append((level, message))


def user_warning(message):
    LINES.append(("warn", message))


def user_info(message):
    LINES.append(("info", message))
