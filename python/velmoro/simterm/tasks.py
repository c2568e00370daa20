"""Task, log, notification and subscription commands of the simulated terminal.

`session(term)` is a terminal's task state:

- `tasks`: task id -> Task (kind "backtest", "realtrade" or "factor";
  status "created", "running" or "stopped"). Ids count from TASK_ID_BASE.
- `notified`: how many KeepActive, RtNotifyReceived and
  AccountNotifyReceived commands arrived, by command name.
- subscriptions: `accounts` (account ids), `bars` (frequency -> set of
  "MARKET.CODE"), `instruments` (set of "MARKET.CODE"), `factors` (factor
  name -> set of "MARKET.CODE").

PutLog appends its text to `term.log`. RiseError keeps the text among the
task's `errors`. ToolboxCheck accepts the language "python" and answers a
warning when CORE_VERSION is not among the supported cores.
CheckSubscribeNum refuses more than SUBSCRIBE_LIMIT subscriptions.
Performance records (GetBackTestPerformance): Item, Value.
Strategy records (GetStrategyID): StrategyID, StrategyName, Status.
"""
import itertools
import weakref

from velmoro.protocol import BAD_LANGUAGE, TOO_MANY_SUBSCRIPTIONS, UNKNOWN_TASK, UNSUPPORTED_CORE
from velmoro.simterm.book import ACCOUNTS, book
from velmoro.simterm.commands import TerminalError, command, ok
from velmoro.simterm.trading import cash_records
from velmoro.tframe.utils.utilcls import DotDict

__all__ = ["TASK_ID_BASE", "CORE_VERSION", "SUBSCRIBE_LIMIT", "Task", "Session", "session"]

TASK_ID_BASE = 70000001
CORE_VERSION = "3.1.4"
LANGUAGE = "python"
SUBSCRIBE_LIMIT = 500


class Task:
    def __init__(self, task_id, kind, params, handles=(), targets=()):
        self.task_id = task_id
        self.kind = kind
        self.params = params
        self.handles = [int(h) for h in handles]
        self.targets = list(targets)
        self.status = "created"
        self.errors = []
        self.stopped_with = None  # what the stop command carried


class Session:
    def __init__(self):
        self.tasks = {}
        self.notified = {}
        self.accounts = set()
        self.bars = {}
        self.instruments = set()
        self.factors = {}
        self._ids = itertools.count(TASK_ID_BASE)

    def create(self, kind, params, handles=(), targets=()):
        task = Task(next(self._ids), kind, params, handles, targets)
        self.tasks[task.task_id] = task
        return ok(i64TaskID=task.task_id)

    def task(self, task_id, kind):
        task = self.tasks.get(task_id)
        if task is None or task.kind != kind:
            raise TerminalError(UNKNOWN_TASK, "no {} task {!r}".format(kind, task_id))
        return task


_sessions = weakref.WeakKeyDictionary()


def session(term):
    """The task state of a terminal."""
    state = _sessions.get(term)
    if state is None:
        state = _sessions[term] = Session()
    return state


TASK_COMMANDS = {
    "backtest": ("CreateTaskBackTest", "StartTaskBackTest", "StopTaskBackTest"),
    "realtrade": ("CreateTaskRealTrade", "StartTaskRealTrade", "StopTaskRealTrade"),
    "factor": ("CreateTaskRunFactor", "StartTaskRunFactor", "StopTaskRunFactor"),
}


def _task_commands(kind, create, start, stop):
    """Create answers the new task's id; start and stop set its status (a stop
    keeps what it carried in `stopped_with`)."""

    @command(create)
    def create_task(term, params, *lists):
        if kind == "realtrade":
            book(term).begin_run(params.get("StrategyName", ""), lists[0] if lists else ())
        return session(term).create(kind, params, *lists)

    @command(start)
    def start_task(term, task_id):
        session(term).task(task_id, kind).status = "running"
        return ok()

    @command(stop)
    def stop_task(term, task_id, *carried):
        task = session(term).task(task_id, kind)
        task.status, task.stopped_with = "stopped", carried
        return ok()


for _kind, _names in TASK_COMMANDS.items():
    _task_commands(_kind, *_names)
del _kind, _names


@command("GetBackTestPerformance")
def get_back_test_performance(term, task_id):
    """The task's accounts now against their starting cash."""
    task = session(term).task(task_id, "backtest")
    handles = task.handles or [spec.handle for spec in ACCOUNTS]
    start = sum(spec.cash for spec in ACCOUNTS if spec.handle in handles)
    total = sum(c.total_asset for c in cash_records(term, book(term), handles))
    detail = (("TaskID", task.task_id), ("Status", task.status), ("InitialAsset", start), ("TotalAsset", total),
              ("Return", total / start - 1.0 if start else 0.0))
    return ok(listDetail=[DotDict(Item=item, Value=value) for item, value in detail])


def _notified(name):
    def handler(term):
        counts = session(term).notified
        counts[name] = counts.get(name, 0) + 1

    return handler


for _name in ("KeepActive", "RtNotifyReceived", "AccountNotifyReceived"):
    command(_name)(_notified(_name))
del _name


@command("PutLog")
def put_log(term, task_id, text):
    term.log.append(text)


@command("RiseError")
def rise_error(term, task_id, text):
    task = session(term).tasks.get(task_id)
    if task is not None:
        task.errors.append(text)


@command("CmdTest")
def cmd_test(term, cmd_name, params):
    """Echoes the parameters."""
    return ok(listResult=list(params))


@command("ToolboxCheck")
def toolbox_check(term, language, toolbox_version, supported_cores):
    if str(language).lower() != LANGUAGE:
        raise TerminalError(BAD_LANGUAGE, "unsupported language {!r}".format(language))
    if CORE_VERSION not in list(supported_cores):
        return ok(2, UNSUPPORTED_CORE, "framework {} does not list core {}".format(toolbox_version, CORE_VERSION),
                  wstrCoreVersion=CORE_VERSION)
    return ok(wstrCoreVersion=CORE_VERSION)


def _keys(indexed):
    return {"{}.{}".format(str(r["Market"]).upper(), str(r["Code"]).upper()) for r in indexed}


@command("SubscribeAccount")
def subscribe_account(term, account_id):
    session(term).accounts.add(account_id)


@command("UnsubscribeAccount")
def unsubscribe_account(term, account_ids):
    session(term).accounts.difference_update(account_ids)


@command("SubscribeIns", checks=[("marketCode", 0, "known_targets"), ("kFreq", 1, "bar_frequency")])
def subscribe_ins(term, targets, kfreq):
    session(term).bars.setdefault(kfreq, set()).update(_keys(targets))


@command("UnsubscribeIns", checks=[("marketCode", 0, "target_records"), ("kFreq", 1, "bar_frequency")])
def unsubscribe_ins(term, targets, kfreq):
    session(term).bars.get(kfreq, set()).difference_update(_keys(targets))


@command("SubscribeInstrument", checks=[("MarketCodes", 0, "known_targets")])
def subscribe_instrument(term, targets):
    session(term).instruments.update(_keys(targets))


@command("UnsubscribeInstrument")
def unsubscribe_instrument(term):
    session(term).instruments.clear()


@command("SubscribeFactor", checks=[("MarketCodes", 0, "known_targets"), ("Factors", 1, "factor_records")])
def subscribe_factor(term, targets, factors):
    state = session(term)
    for factor in factors:
        state.factors.setdefault(factor["FactorName"], set()).update(_keys(targets))


@command("UnsubscribeFactor")
def unsubscribe_factor(term, targets, factor_name):
    session(term).factors.get(factor_name, set()).difference_update(_keys(targets))


@command("CheckSubscribeNum", checks=[("Frequency", 0, "bar_frequency"), ("SubscribeNum", 1, "count")])
def check_subscribe_num(term, frequency, subscribe_num):
    if int(subscribe_num) > SUBSCRIBE_LIMIT:
        raise TerminalError(TOO_MANY_SUBSCRIPTIONS, "{} subscriptions at {} exceed {}".format(
            subscribe_num, frequency, SUBSCRIBE_LIMIT))
    return ok()


@command("GetStrategyID")
def get_strategy_id(term):
    """The real-trade tasks' strategies."""
    return ok(listStrategyInfo=[
        DotDict(StrategyID=t.task_id, StrategyName=t.params.get("StrategyName", ""), Status=t.status)
        for t in session(term).tasks.values() if t.kind == "realtrade"
    ])
