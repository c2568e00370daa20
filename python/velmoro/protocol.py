"""What the framework and a terminal agree on, and nothing else.

The framework core and every terminal import this module; it imports neither
of them, so that a terminal package can be written, installed and tested
without the framework's own test double, and the framework without any
terminal. It holds the answer and status records, the failures of the link,
the outcomes of an order whose answer was lost, the kinds of the link's
messages, the columns of a push, the error codes terminals answer with, and
how a live run's days divide into replayed days and history.
"""

__all__ = [
    "Status", "Answer", "TransportError", "NotConnectedError", "OutcomeUnknownError", "PushGapError",
    "NEVER_ARRIVED", "IN_PROGRESS",
    "HELLO", "AUTH", "WELCOME", "CALL", "REPLY", "PUSH", "GAP", "ACK", "PING", "PONG", "BYE", "RESUME",
    "QUANTITIES", "PUSH_BAR_COLUMNS", "PUSH_FACTOR_COLUMNS", "run_days",
    "UNKNOWN_COMMAND", "UNKNOWN_TARGET", "BAD_FREQUENCY", "UNKNOWN_MARKET", "UNKNOWN_BAR_ITEM", "NEGATIVE_COUNT",
    "NOT_TRADED_YET", "WRONG_KIND", "UNKNOWN_BLOCK", "BAD_DATE", "BAD_COUNT", "BAD_FQ",
    "UNKNOWN_QUERY", "BAD_QUERY", "BAD_QUERY_LANGUAGE", "UNKNOWN_QUERY_FIELD",
    "UNKNOWN_ACCOUNT", "BAD_ORDER", "NO_PRICE", "SHORT_OF_CASH", "SHORT_OF_SHARES", "UNKNOWN_ORDER", "BAD_LOT",
    "BEYOND_LIMIT", "NO_BAR", "NOTHING_TO_FILL", "UNKNOWN_FACTOR", "BAD_FACTOR_DATE",
    "UNKNOWN_TASK", "BAD_LANGUAGE", "UNSUPPORTED_CORE", "TOO_MANY_SUBSCRIPTIONS", "UNKNOWN_ITEM", "BAD_PARAMS",
]


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

# kinds of the link's messages: a message is a list whose first item is its kind
HELLO, AUTH, WELCOME, CALL, REPLY, PUSH, GAP, ACK, PING, PONG, BYE, RESUME = range(1, 13)

QUANTITIES = ("Open", "High", "Low", "Close", "Volume", "Amount")
# one pushed bar per row: the target's index in the run, the bar's time, its quantities
PUSH_BAR_COLUMNS = ("Target", "Time") + QUANTITIES
# one pushed factor value per row
PUSH_FACTOR_COLUMNS = ("Factor", "Target", "Time", "Value")

# Error codes of answers at error level. A code means something within its
# command family: the factor commands' 301 and 302 are not the trading ones'.
UNKNOWN_COMMAND = -1
# requests of every family, checked before they are run, and market data
UNKNOWN_TARGET = 101
BAD_FREQUENCY = 102
UNKNOWN_MARKET = 103
UNKNOWN_BAR_ITEM = 104
NEGATIVE_COUNT = 105
NOT_TRADED_YET = 106
WRONG_KIND = 107  # a stock where a future is asked for, or the other way round
UNKNOWN_BLOCK = 108
BAD_DATE = 109
BAD_COUNT = 110
BAD_FQ = 111
# fundamental queries
UNKNOWN_QUERY = 201
BAD_QUERY = 202
BAD_QUERY_LANGUAGE = 203
UNKNOWN_QUERY_FIELD = 204
# trading
UNKNOWN_ACCOUNT = 301
BAD_ORDER = 302
NO_PRICE = 303
SHORT_OF_CASH = 304
SHORT_OF_SHARES = 305
UNKNOWN_ORDER = 306
BAD_LOT = 307
BEYOND_LIMIT = 308
NO_BAR = 309
NOTHING_TO_FILL = 310
# factors
UNKNOWN_FACTOR = 301
BAD_FACTOR_DATE = 302
# tasks and subscriptions
UNKNOWN_TASK = 401
BAD_LANGUAGE = 402
UNSUPPORTED_CORE = 403
TOO_MANY_SUBSCRIPTIONS = 404
# research queries
UNKNOWN_ITEM = 501
BAD_PARAMS = 502


def _days_text(days):
    return "{}..{}".format(days[0], days[-1]) if days else "none"


def run_days(trading_days, begin_date, end_date):
    """The days a live run replays and its history days (those before it), out
    of a terminal's `trading_days`. A begin or end date of 0 stands for the
    second or the last day; ValueError when no day is replayed or none is
    left before them."""
    days = list(trading_days)
    begin = int(begin_date) or (days[1] if len(days) > 1 else days[0])
    end = int(end_date) or days[-1]
    replayed = [d for d in days if begin <= d <= end]
    history = [d for d in days if d < begin]
    where = "the terminal's dataset holds the trading days {}".format(_days_text(days))
    if not replayed:
        raise ValueError("no trading day to replay from {} to {}: {}".format(begin, end, where))
    if not history:
        raise ValueError("a replay from {} has no history day before it: {}".format(begin, where))
    return replayed, history
