"""The `velmoro` command line.

Each module of this package is one subcommand: it defines NAME, HELP,
configure(parser) (adds its options to an argparse parser) and
main(args) -> exit status. A new module is a new subcommand.
"""
import argparse
import importlib
import pkgutil
import sys

__all__ = ["main", "subcommands"]


def subcommands():
    """The subcommand modules, by name."""
    found = {}
    for info in pkgutil.iter_modules(__path__):
        module = importlib.import_module("{}.{}".format(__name__, info.name))
        if hasattr(module, "NAME"):
            found[module.NAME] = module
    return dict(sorted(found.items()))


def parser():
    top = argparse.ArgumentParser(prog="velmoro", description="Run velmoro strategies on a trading terminal.")
    commands = top.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for name, module in subcommands().items():
        sub = commands.add_parser(name, help=module.HELP, description=module.HELP)
        module.configure(sub)
        sub.set_defaults(run=module.main)
    return top


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130

