"""`velmoro data`: your own market in a Parquet store (import, check, generate)."""
import argparse
import sys
from typing import Any, Sequence, TextIO

NAME = "data"
HELP = "import your own history into a market store, check it, or generate a market into it"


def configure(parser: argparse.ArgumentParser) -> None:
    from velmoro.simterm.serve import add_dataset_arguments

    actions = parser.add_subparsers(dest="action", metavar="ACTION")
    actions.required = True
    imp = actions.add_parser("import", help="append CSV, Parquet or SQLite bars to the store, checked")
    imp.add_argument("sources", nargs="+", metavar="SOURCE",
                     help="CSV (any delimiter, a header row), Parquet or SQLite file (FILE:TABLE for one table); "
                          "one file per security (named by its code) or a table with a code column; or a table of "
                          "securities (code, name, board, listing and delisting dates)")
    imp.add_argument("--store", required=True, help="the store's folder (made when absent)")
    imp.add_argument("--columns", default="", help="NAME=COLUMN,... for columns not named in a common way "
                                                   "(names: time, date, open, high, low, close, volume, amount, "
                                                   "code, factor, name, board, listed, delisted)")
    imp.add_argument("--market", help="market of codes that name none (default: sse for 6..., 9..., else szse)")
    imp.add_argument("--frequency", help="1min, 5min, 60min or day (default: from the times)")
    imp.add_argument("--tz", default="Asia/Shanghai", help="zone of times that name none (default Asia/Shanghai)")
    imp.add_argument("--label", choices=("start", "end"), default="end",
                     help="which end of its interval a bar's time names (default end)")
    imp.add_argument("--adjusted", choices=("none", "forward", "backward"), default="none",
                     help="what the source's prices are (default none: raw prices); adjusted ones are stored as raw "
                          "prices by the source's factor column")
    imp.add_argument("--strict", action="store_true", help="refuse the import on any finding but halts")
    check = actions.add_parser("check", help="run the import's checks over the store and print the findings")
    check.add_argument("--store", required=True, help="the store's folder")
    check.add_argument("--strict", action="store_true", help="exit 1 on any finding but halts")
    gen = actions.add_parser("generate", help="write the generated market into the store")
    gen.add_argument("--store", required=True, help="the store's folder (made when absent)")
    add_dataset_arguments(gen, days=5, store=False)


def _print(findings: Sequence[Any], stream: TextIO = sys.stdout) -> None:
    if not findings:
        print("no findings", file=stream)
    for f in findings:
        print("  " + f.line(), file=stream)


def main(args: argparse.Namespace) -> int:
    from velmoro.data.ingest import (ImportOptions, ImportRefused, SourceError, StoreError, check_store,
                                     import_sources)
    from velmoro.data.sources import parse_columns

    try:
        if args.action == "import":
            options = ImportOptions(args.market, args.frequency, args.tz, args.label, args.adjusted,
                                    parse_columns(args.columns), args.strict)
            stored, findings = import_sources(args.store, args.sources, options)
            print("stored {} into {}".format(", ".join(
                "{} {}".format(n, "securities' rows" if f == "securities" else f + " bars") for f, n in stored.items()),
                args.store))
            _print(findings)
            return 0
        if args.action == "check":
            findings = check_store(args.store)
            _print(findings)
            return 1 if args.strict and any(not f.check.startswith("halted") for f in findings) else 0
        from velmoro.simterm.serve import dataset_of
        from velmoro.simterm.stored import write_generated

        data = dataset_of(args.securities, args.first_day, args.days)
        rows = write_generated(args.store, data)
        print("stored {} minute bars of {} securities over {} days into {}".format(
            rows, len(data.securities), len(data.trading_days), args.store))
        return 0
    except ImportRefused as exc:
        print("velmoro data: {}".format(exc), file=sys.stderr)
        _print(exc.findings, sys.stderr)
        return 1
    except (SourceError, StoreError, ValueError, OSError) as exc:
        print("velmoro data: {}".format(exc), file=sys.stderr)
        return 2
