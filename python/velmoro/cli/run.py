"""`velmoro run`: run a strategy file live and write its report."""
import datetime as _dt
import importlib.util
import logging
import os
import sys

import velmoro.tframe.runtypesbase as cnt
from velmoro import report
from velmoro.cli.progress import Progress
from velmoro.tframe.utils.exceptions import VmReturnError

NAME = "run"
HELP = "run a strategy file (defining initialize(context) and on_data(context)) and write its report"
HISTORY_DAYS = 2  # days before --begin that the embedded terminal generates as the run's history
BARS_PER_DAY = 240


def configure(parser):
    from velmoro.simterm.serve import add_dataset_arguments

    parser.add_argument("strategy", metavar="STRATEGY.py",
                        help="the strategy file; optional module-level ACCOUNTS (handles traded, default every "
                             "account) and FACTORS (factor names its pushes may carry)")
    parser.add_argument("--targets", required=True,
                        help="comma-separated MARKET.CODE targets, e.g. sse.600000,szse.000001, or 'all': every "
                             "security of the terminal")
    parser.add_argument("--begin", required=True, type=date, help="first trading day of the run, YYYYMMDD")
    parser.add_argument("--end", required=True, type=date, help="last trading day of the run, YYYYMMDD")
    parser.add_argument("--terminal", default="embedded",
                        help="the terminal: 'embedded' (default: the simulated terminal, replaying the days) or "
                             "an address the terminal link understands (VELMORO_TERMINAL)")
    parser.add_argument("--out", default="velmoro-output", help="folder of the report (default velmoro-output/)")
    parser.add_argument("--accounts", help="comma-separated account handles (default: the strategy's ACCOUNTS)")
    parser.add_argument("--frequency", default="min", choices=("min", "day"), help="bar frequency (default min)")
    parser.add_argument("--idle-warning", type=float, default=30.0,
                        help="seconds without a push before a warning (default 30)")
    parser.add_argument("--language", help="language of the log messages: en (default) or zh")
    # the embedded terminal's dataset (default: the run's days and HISTORY_DAYS before them)
    add_dataset_arguments(parser)


def date(value):
    try:
        return int(_dt.datetime.strptime(value, "%Y%m%d").strftime("%Y%m%d"))
    except ValueError:
        raise ValueError("not a date YYYYMMDD: {!r}".format(value)) from None


def targets_of(text):
    """'sse.600000,szse.000001' as target records; None for 'all'."""
    if text.strip().lower() == "all":
        return None
    records = []
    for item in filter(None, (t.strip() for t in text.split(","))):
        market, dot, code = item.partition(".")
        if not dot or not market or not code:
            raise ValueError("a target is MARKET.CODE, e.g. sse.600000; got {!r}".format(item))
        records.append({"Market": market.lower(), "Code": code})
    if not records:
        raise ValueError("no targets given")
    return records


def load_strategy(path):
    """The strategy file as a module; it must define on_data(context)."""
    name = os.path.splitext(os.path.basename(path))[0]
    spec = importlib.util.spec_from_file_location(name, path)
    if spec is None:
        raise ValueError("not a Python file: {}".format(path))
    module = importlib.util.module_from_spec(spec)
    sys.path.insert(0, os.path.dirname(os.path.abspath(path)))
    spec.loader.exec_module(module)
    if not callable(getattr(module, "on_data", None)):
        raise ValueError("{} defines no on_data(context)".format(path))
    return module


def weekdays(begin, end):
    day, last = (_dt.datetime.strptime(str(d), "%Y%m%d").date() for d in (begin, end))
    days = []
    while day <= last:
        if day.weekday() < 5:
            days.append(day)
        day += _dt.timedelta(days=1)
    return days


def connect(address, begin, end, securities=None, first_day=None, days=None, store=None):
    """Connect the terminal; the embedded one gets the market store at
    `store`, or a generated dataset of `securities` from `first_day`, `days`
    long (by default of the run's days and HISTORY_DAYS weekdays before
    them). Returns the bars expected (None when the terminal decides)."""
    from velmoro.simterm.session import run_days
    from velmoro.tframe.comm import link

    if address != "embedded":
        if securities or first_day or days or store:
            raise ValueError("--securities, --first-day, --days and --store shape the embedded terminal's dataset; "
                             "a served terminal has its own (velmoro terminal serve --securities ...)")
        os.environ["VELMORO_TERMINAL"] = address
        link.disconnect()
        return None
    from velmoro.simterm import Terminal
    from velmoro.simterm.serve import dataset_of

    if store:
        if securities or first_day or days:
            raise ValueError("--store serves the store's own market: no --securities, --first-day or --days")
        data = dataset_of(store=store)
        try:
            replayed, _ = run_days(data.trading_days, begin, end)
        except ValueError:
            raise ValueError("the store {} holds the trading days {}..{}: a run needs one before --begin and one "
                             "from --begin to --end".format(store, data.trading_days[0], data.trading_days[-1])) from None
        link.connect(Terminal(data))
        return len(replayed)
    run = weekdays(begin, end)
    if not run:
        raise ValueError("no weekday from {} to {}".format(begin, end))
    start = run[0]
    for _ in range(HISTORY_DAYS):
        start -= _dt.timedelta(days=3 if start.weekday() == 0 else 1)
    first_day = first_day or int(start.strftime("%Y%m%d"))
    data = dataset_of(securities, first_day, days or len(weekdays(first_day, end)))
    if not data.trading_days or data.trading_days[-1] < end:
        raise ValueError("the dataset's days (--first-day {}, --days {}) end before --end {}".format(
            first_day, len(data.trading_days), end))
    try:
        run_days(data.trading_days, begin, end)
    except ValueError:
        raise ValueError("--first-day {} leaves no history day before --begin {}".format(first_day, begin)) from None
    link.connect(Terminal(data))
    return len(run)


def configure_logs(folder):
    """Everything into folder/velmoro.log; warnings also on the console."""
    os.makedirs(folder, exist_ok=True)
    log_file = logging.FileHandler(os.path.join(folder, "velmoro.log"), mode="w")
    log_file.setFormatter(logging.Formatter("%(asctime)s %(name)s %(levelname)s %(message)s"))
    console = logging.StreamHandler(sys.stderr)
    console.setLevel(logging.WARNING)
    console.setFormatter(logging.Formatter("velmoro: %(message)s"))
    root = logging.getLogger("velmoro")
    root.handlers[:] = [log_file, console]
    root.setLevel(logging.DEBUG)
    root.propagate = False


def finish(summary, out, stream=sys.stdout):
    """Collect, print and write the report of a finished run."""
    result = report.collect(summary)
    paths, note = report.write(result, out)
    print(report.text(result), file=stream)
    if summary.interrupted:
        print("the run was interrupted (Ctrl-C): the report covers the bars before it", file=stream)
    print("report: {}".format(", ".join(sorted(paths.values()))), file=stream)
    if note:
        print(note, file=stream)
    return result


def main(args):
    from velmoro.realtrade.runner import run_live
    from velmoro.tframe.comm import vmcmd
    from velmoro.tframe.language import set_language

    try:
        targets = targets_of(args.targets)
        if args.begin > args.end:
            raise ValueError("--begin {} is after --end {}".format(args.begin, args.end))
        if args.language:
            set_language(args.language)
        strategy = load_strategy(args.strategy)
    except (ValueError, OSError) as exc:
        print("velmoro run: {}".format(exc), file=sys.stderr)
        return 2
    configure_logs(args.out)
    try:
        days = connect(args.terminal, args.begin, args.end, args.securities, args.first_day, args.days,
                       args.store)
        if targets is None:
            targets = [{"Market": m.Market, "Code": m.Code} for m in vmcmd.vmSendCmdGetCodeList("Index", 0)]
    except ValueError as exc:
        print("velmoro run: {}".format(exc), file=sys.stderr)
        return 2
    accounts = ([int(h) for h in args.accounts.split(",")] if args.accounts
                else getattr(strategy, "ACCOUNTS", None))
    per_day = BARS_PER_DAY if args.frequency == "min" else 1
    progress = Progress(days * per_day if days else None)

    def on_data(context):
        strategy.on_data(context)
        progress.bar(context.now, len(cnt.vr.g_VMOrders.keys()))

    try:
        summary = run_live(targets, on_data, frequency=args.frequency, strategy_name=strategy.__name__,
                           begin_date=args.begin, end_date=args.end, initialize=getattr(strategy, "initialize", None),
                           accounts=accounts, factors=getattr(strategy, "FACTORS", ()),
                           idle_warning=args.idle_warning)
    except (VmReturnError, ConnectionError) as exc:
        print("\nvelmoro run: {}".format(exc), file=sys.stderr)
        return 1
    except KeyboardInterrupt as exc:
        summary = getattr(exc, "summary", None)
        if summary is None:  # before the loop: nothing to report
            raise
    progress.done()
    finish(summary, args.out)
    return 130 if summary.interrupted else 0

