"""`velmoro run`: run a strategy file live and write its report."""
import argparse
import datetime as _dt
import importlib.util
import logging
import os
import sys
import types
from typing import TYPE_CHECKING, Any, Iterable, List, Optional, Sequence, Set, TextIO, Tuple

import velmoro.tframe.runtypesbase as cnt
from velmoro import report
from velmoro.cli.errors import UserError, describe
from velmoro.cli.progress import Progress
from velmoro.tframe.utils.logger import LEVELS, for_console

if TYPE_CHECKING:
    from velmoro.realtrade.runner import RunSummary

NAME = "run"
HELP = "run a strategy file (defining initialize(context) and on_data(context)) and write its report"
HISTORY_DAYS = 2  # days before --begin that the embedded terminal generates as the run's history
BARS_PER_DAY = 240
ADDRESSES = ("unix:", "tcp://")
RUN_FQ = {"none": "NA", "forward": "forward", "backward": "backward"}  # --fq as the run's price adjustment


def configure(parser: argparse.ArgumentParser) -> None:
    from velmoro.simterm.serve import add_dataset_arguments

    parser.add_argument("strategy", metavar="STRATEGY.py",
                        help="the strategy file; optional module-level ACCOUNTS (handles traded, default every "
                             "account), FACTORS (factor names its pushes may carry) and STRATEGY (the run's name, "
                             "default the file's name)")
    parser.add_argument("--targets", required=True,
                        help="comma-separated MARKET.CODE targets, e.g. sse.600000,szse.000001, or 'all': every "
                             "security of the terminal")
    parser.add_argument("--begin", required=True, type=date, help="first trading day of the run, YYYYMMDD")
    parser.add_argument("--end", required=True, type=date, help="last trading day of the run, YYYYMMDD")
    parser.add_argument("--terminal",
                        help="the terminal: 'embedded' (the simulated terminal, replaying the days), unix:PATH or "
                             "tcp://HOST:PORT (a terminal server); default $VELMORO_TERMINAL, else embedded")
    parser.add_argument("--token-file", help="token of a TCP terminal server (default "
                                             "$VELMORO_TERMINAL_TOKEN_FILE or ~/.velmoro/terminal.token)")
    parser.add_argument("--out", default="velmoro-output", help="folder of the report (default velmoro-output/)")
    parser.add_argument("--accounts", help="comma-separated account handles (default: the strategy's ACCOUNTS)")
    parser.add_argument("--frequency", default="min", choices=("min", "day"), help="bar frequency (default min)")
    parser.add_argument("--idle-warning", type=float, default=30.0,
                        help="seconds without a push before a warning (default 30)")
    parser.add_argument("--language", help="language of the log messages: en (default) or zh")
    parser.add_argument("--log-level", default="info", choices=("debug", "info", "warning", "error"),
                        help="least level written to OUT/velmoro.log (default info: lines grow with the days; "
                             "debug: every bar's steps)")
    # the embedded terminal's dataset (default: the run's days and HISTORY_DAYS before them)
    add_dataset_arguments(parser)


def date(value: str) -> int:
    """A YYYYMMDD option as an int; ValueError (argparse's one line) otherwise."""
    try:
        return int(_dt.datetime.strptime(value, "%Y%m%d").strftime("%Y%m%d"))
    except ValueError:
        raise ValueError("not a date YYYYMMDD: {!r}".format(value)) from None


def targets_of(text: str) -> Optional[List[dict]]:
    """'sse.600000,szse.000001' as target records; None for 'all'."""
    if text.strip().lower() == "all":
        return None
    records = []
    for item in filter(None, (t.strip() for t in text.split(","))):
        market, dot, code = item.partition(".")
        if not dot or not market or not code:
            raise UserError("a target is MARKET.CODE, e.g. sse.600000; got {!r}".format(item))
        records.append({"Market": market.lower(), "Code": code})
    if not records:
        raise UserError("no targets given")
    return records


def load_strategy(path: str) -> types.ModuleType:
    """The strategy file as a module; it must define on_data(context). A
    file that does not load is a UserError naming its file and line."""
    name = os.path.splitext(os.path.basename(path))[0]
    if not os.path.isfile(path):
        raise UserError("no strategy file {}".format(path))
    spec = importlib.util.spec_from_file_location(name, path)
    if spec is None or spec.loader is None:
        raise UserError("not a Python file: {}".format(path))
    module = importlib.util.module_from_spec(spec)
    sys.path.insert(0, os.path.dirname(os.path.abspath(path)))
    try:
        spec.loader.exec_module(module)
    except Exception as exc:
        raise UserError("the strategy file does not load: {}".format(describe(exc))) from exc
    if not callable(getattr(module, "on_data", None)):
        raise UserError("{} defines no on_data(context)".format(path))
    return module


def weekdays(begin: int, end: int) -> List[_dt.date]:
    """The weekdays from `begin` to `end` (YYYYMMDD, both included)."""
    day, last = (_dt.datetime.strptime(str(d), "%Y%m%d").date() for d in (begin, end))
    days = []
    while day <= last:
        if day.weekday() < 5:
            days.append(day)
        day += _dt.timedelta(days=1)
    return days


def _before(day: _dt.date, count: int) -> _dt.date:
    for _ in range(count):
        day -= _dt.timedelta(days=3 if day.weekday() == 0 else 1)
    return day


def terminal_address(given: Optional[str]) -> str:
    """The terminal the run uses: --terminal, else $VELMORO_TERMINAL, else embedded."""
    where = given or os.environ.get("VELMORO_TERMINAL") or "embedded"
    if where != "embedded" and not where.startswith(ADDRESSES):
        source = "--terminal" if given else "VELMORO_TERMINAL"
        raise UserError("{} {!r} is not a terminal: 'embedded', unix:PATH or tcp://HOST:PORT".format(source, where))
    return where


def _generated(begin: int, end: int, securities: Optional[int], first_day: Optional[int],
               days: Optional[int]) -> Tuple[Any, str]:
    """The generated dataset of a run on the embedded terminal and its first day."""
    from velmoro.simterm.serve import dataset_of

    run = weekdays(begin, end)
    if not run:
        raise UserError("no weekday from {} to {}".format(begin, end))
    first_day = first_day or int(_before(run[0], HISTORY_DAYS).strftime("%Y%m%d"))
    data = dataset_of(securities, first_day, days or len(weekdays(first_day, end)))
    if not data.trading_days or data.trading_days[-1] < end:
        raise UserError("the dataset's days (--first-day {}, --days {}) end before --end {}".format(
            first_day, len(data.trading_days), end))
    return data, "--first-day {} leaves no history day before --begin {}".format(first_day, begin)


def _stored(store: str, securities: Optional[int], first_day: Optional[int], days: Optional[int],
            fq: str = "none") -> Tuple[Any, str]:
    """The market store of a run on the embedded terminal."""
    from velmoro.data.store import StoreError
    from velmoro.simterm.serve import dataset_of

    if securities or first_day or days:
        raise UserError("--store serves the store's own market: no --securities, --first-day or --days")
    try:
        data = dataset_of(store=store, fq=fq)
    except StoreError as exc:
        raise UserError(str(exc)) from exc
    held = data.trading_days
    return data, "the store {} holds the trading days {}: a run needs one before --begin and one from --begin " \
                 "to --end".format(store, "{}..{}".format(held[0], held[-1]) if held else "(none)")


def connect(address: str, begin: int, end: int, securities: Optional[int] = None, first_day: Optional[int] = None,
            days: Optional[int] = None, store: Optional[str] = None, stream: TextIO = sys.stdout,
            fq: str = "none") -> List[int]:
    """Connect the terminal and say which it is. The embedded one gets the
    market store at `store`, or a generated dataset of `securities` from
    `first_day`, `days` long (by default the run's days and HISTORY_DAYS
    weekdays before them); a served one has its own and must hold the run's
    days. Returns the trading days replayed."""
    from velmoro.simterm.session import run_days
    from velmoro.tframe.comm import link

    if address == "embedded":
        from velmoro.simterm import Terminal

        data, missing = (_stored(store, securities, first_day, days, fq) if store
                         else _generated(begin, end, securities, first_day, days))
        try:
            replayed, history = run_days(data.trading_days, begin, end)
        except ValueError:
            raise UserError(missing) from None
        link.connect(Terminal(data))
        print("terminal: embedded{}, trading days {}..{} (history {}..{})".format(
            ", store " + store if store else "", replayed[0], replayed[-1], history[0], history[-1]), file=stream)
        return replayed
    if securities or first_day or days or store:
        raise UserError("--securities, --first-day, --days and --store shape the embedded terminal's dataset; a "
                        "served terminal has its own (velmoro terminal serve --securities ... or --store ...)")
    try:
        term = link.connect(address)
        held = list(term.handle("GetTradingDays", ()).result)
    except FileNotFoundError as exc:  # the token file
        raise UserError("terminal {}: no token file {} (the server's: --token-file or "
                        "VELMORO_TERMINAL_TOKEN_FILE)".format(address, exc.filename), status=1) from exc
    except (OSError, ValueError) as exc:  # no server there, a token file open to others, a bad address
        where = "" if address in str(exc) else "terminal {}: ".format(address)
        raise UserError(where + str(exc), status=1) from exc
    print("terminal: {}, trading days {}..{}".format(address, held[0], held[-1]), file=stream)
    try:
        replayed, _ = run_days(held, begin, end)
    except ValueError as exc:
        first = _before(_dt.datetime.strptime(str(begin), "%Y%m%d").date(), 1)
        needed = len(weekdays(int(first.strftime("%Y%m%d")), end))
        raise UserError("{}; a server for this run: velmoro terminal serve --listen {} --first-day {:%Y%m%d} "
                        "--days {}".format(exc, address, first, needed)) from exc
    return replayed


def configure_logs(folder: str, level: str = "info") -> None:
    """The log at `level` into folder/velmoro.log; warnings and the lines
    written for the console also on the console."""
    os.makedirs(folder, exist_ok=True)
    log_file = logging.FileHandler(os.path.join(folder, "velmoro.log"), mode="w")
    log_file.setFormatter(logging.Formatter("%(asctime)s %(name)s %(levelname)s %(message)s"))
    log_file.setLevel(LEVELS[level])
    console = logging.StreamHandler(sys.stderr)
    console.addFilter(for_console)
    console.setFormatter(logging.Formatter("velmoro: %(message)s"))
    root = logging.getLogger("velmoro")
    root.handlers[:] = [log_file, console]
    root.setLevel(LEVELS[level])
    root.propagate = False


def starting_state(accounts: Optional[Sequence[int]], days: Iterable[int]) -> Tuple[List[Any], Set[int]]:
    """What the run's accounts hold before it starts, left by earlier runs on
    a terminal server: their positions and the ids of their orders on the
    run's days (the run's report leaves those out)."""
    from velmoro.tframe.comm import vmcmd

    handles = list(accounts) if accounts else [a.Handle for a in vmcmd.vmSendCmdSTTradeGetAccountList()]
    book = list(vmcmd.vmSendCmdGetAccountTargetGrossPosition(handles, []))
    earlier = {o.order_id for o in vmcmd.vmSendCmdSTGetOrderInfoByDate(handles, list(days))}
    return book, earlier


def finish(summary: "RunSummary", out: str, book: Sequence[Any] = (), earlier: Iterable[int] = (),
           stream: TextIO = sys.stdout) -> report.Report:
    """Collect, print and write the report of a finished (or ended) run."""
    logging.getLogger("velmoro").info("run %s after %d bars", summary.ended, len(summary.calls))
    result = report.collect(summary, book, earlier)
    paths, note = report.write(result, out)
    print(report.text(result), file=stream)
    if summary.ended == "interrupted":
        print("the run was interrupted (Ctrl-C): the report covers the bars before it", file=stream)
    elif summary.ended == "error":
        print("the run failed: the report covers the bars before it", file=stream)
    print("report: {}".format(", ".join(sorted(paths.values()))), file=stream)
    if note:
        print(note, file=stream)
    return result


def main(args: argparse.Namespace) -> int:
    from velmoro.realtrade.runner import run_live
    from velmoro.tframe.comm import vmcmd
    from velmoro.tframe.language import set_language

    targets = targets_of(args.targets)
    if args.begin > args.end:
        raise UserError("--begin {} is after --end {}".format(args.begin, args.end))
    address = terminal_address(args.terminal)
    if args.language:
        set_language(args.language)
    if args.token_file:
        os.environ["VELMORO_TERMINAL_TOKEN_FILE"] = args.token_file
    strategy = load_strategy(args.strategy)
    name = getattr(strategy, "STRATEGY", strategy.__name__)
    accounts = ([int(h) for h in args.accounts.split(",")] if args.accounts
                else getattr(strategy, "ACCOUNTS", None))
    configure_logs(args.out, args.log_level)
    days = connect(address, args.begin, args.end, args.securities, args.first_day, args.days, args.store, fq=args.fq)
    if targets is None:
        targets = [{"Market": m.Market, "Code": m.Code} for m in vmcmd.vmSendCmdGetCodeList("Index", 0)]
    book, earlier = starting_state(accounts, days)
    per_day = BARS_PER_DAY if args.frequency == "min" else 1
    progress = Progress(len(days) * per_day)

    log = logging.getLogger("velmoro")
    log.info("run of %s on %s: %s..%s, %d targets, frequency %s", name, address, days[0], days[-1], len(targets),
             args.frequency)

    def orders() -> int:
        return len(set(cnt.vr.g_VMOrders.keys()) - earlier)

    def on_data(context: Any) -> None:
        if context.day_begin:
            log.info("day %s begins: %d orders so far", context.now.date(), orders())
        strategy.on_data(context)
        progress.bar(context.now, orders())

    try:
        summary = run_live(targets, on_data, frequency=args.frequency, strategy_name=name,
                           begin_date=args.begin, end_date=args.end, initialize=getattr(strategy, "initialize", None),
                           accounts=accounts, factors=getattr(strategy, "FACTORS", ()),
                           idle_warning=args.idle_warning, fq=RUN_FQ[args.fq])
    except BaseException as exc:
        so_far: Optional[RunSummary] = getattr(exc, "summary", None)
        if so_far is None:  # before the loop: nothing to report
            raise
        progress.done()
        try:
            finish(so_far, args.out, book, earlier)
        except Exception as failure:  # the terminal went with the run: the run's own error is the one to tell
            logging.getLogger("velmoro").warning("the report could not be written: %s", describe(failure))
        if so_far.ended == "interrupted":
            return 130
        raise
    progress.done()
    finish(summary, args.out, book, earlier)
    return 0
