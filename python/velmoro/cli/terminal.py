"""`velmoro terminal serve`: the simulated terminal as a server for other processes."""
import argparse

NAME = "terminal"
HELP = "serve the simulated terminal over a Unix socket or TCP (velmoro terminal serve --listen ADDRESS)"


def configure(parser: argparse.ArgumentParser) -> None:
    from velmoro.simterm.serve import add_serve_arguments

    actions = parser.add_subparsers(dest="action", metavar="ACTION")
    actions.required = True
    add_serve_arguments(actions.add_parser("serve", help="serve the terminal until interrupted or terminated"))


def main(args: argparse.Namespace) -> int:
    from velmoro.cli.errors import UserError
    from velmoro.data.store import StoreError
    from velmoro.simterm.serve import serve
    from velmoro.simterm.server import StartRefused

    try:
        return serve(args)
    except StartRefused as exc:
        raise UserError("the terminal cannot start: {}".format(exc)) from exc
    except StoreError as exc:
        raise UserError(str(exc)) from exc
