"""The `velmoro` command line.

Each module of this package is one subcommand: it defines NAME, HELP,
configure(parser) (adds its options to an argparse parser) and
main(args) -> exit status. A new module is a new subcommand. A mistake of
the user's ends a subcommand with one line on stderr and a non-zero exit
(`--traceback` prints the whole chain as well).
"""
import argparse
import importlib
import pkgutil
import sys
import types
from typing import Dict, Optional, Sequence

from velmoro.cli.errors import UserError, add_traceback, report

__all__ = ["main", "subcommands", "version"]


def version() -> str:
    """The installed package's version."""
    from importlib.metadata import version as installed

    return installed("velmoro")


def subcommands() -> Dict[str, types.ModuleType]:
    """The subcommand modules, by name."""
    found = {}
    for info in pkgutil.iter_modules(__path__):
        module = importlib.import_module("{}.{}".format(__name__, info.name))
        if hasattr(module, "NAME"):
            found[module.NAME] = module
    return dict(sorted(found.items()))


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog="velmoro", description="Run velmoro strategies on a trading terminal.")
    top.add_argument("--version", action="version", version="velmoro {} (Python {})".format(
        version(), sys.version.split()[0]))
    commands = top.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for name, module in subcommands().items():
        sub = commands.add_parser(name, help=module.HELP, description=module.HELP)
        module.configure(sub)
        add_traceback(sub)
        sub.set_defaults(run=module.main)
    return top


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except KeyboardInterrupt:
        print("velmoro {}: interrupted".format(args.command), file=sys.stderr)
        return 130
    except UserError as exc:
        report(args.command, exc, args.traceback)
        return exc.status
    except Exception as exc:
        report(args.command, exc, args.traceback)
        return 1
