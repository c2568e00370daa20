"""Command line of the terminal server (`python -m velmoro.simterm serve`, and
`velmoro terminal serve`): the simulated terminal as a server, running until
it is interrupted or terminated."""
import argparse
import collections
import gc
import logging
import signal
import sys

from velmoro.tframe.comm import wire

__all__ = ["main", "parser"]

SWITCH_INTERVAL = 0.0002


def parser(prog="python -m velmoro.simterm"):
    p = argparse.ArgumentParser(prog=prog, description="The simulated terminal.")
    commands = p.add_subparsers(dest="command", required=True)
    serve = commands.add_parser("serve", help="serve the terminal to other processes")
    add_serve_arguments(serve)
    return p


def add_serve_arguments(serve):
    serve.add_argument("--listen", required=True, help="unix:PATH or tcp://HOST:PORT (HOST 127.0.0.1 if left out)")
    serve.add_argument("--state", help="folder of the terminal's state (SQLite); a restart keeps its orders")
    serve.add_argument("--token-file", help="token of TCP clients (made when absent; default "
                                            "$VELMORO_TERMINAL_TOKEN_FILE or ~/.velmoro/terminal.token)")
    serve.add_argument("--days", type=int, default=5, help="trading days of the generated dataset")
    serve.add_argument("--result-dir", help="folder of the result files (a temporary one by default)")
    serve.add_argument("--queue", type=int, default=None, help="pushes queued per client session at most")
    serve.add_argument("--heartbeat", type=float, default=1.0, help="seconds between signs of life")
    serve.add_argument("--dead-after", type=float, default=5.0, help="seconds of silence ending a connection")
    serve.add_argument("--max-frame", type=int, default=wire.MAX_FRAME, help="largest frame accepted, in bytes")


def serve(args):
    """Serve until interrupted or terminated; 0, or 2 (one line on stderr)
    when the server cannot start as asked."""
    from velmoro.simterm import Dataset, Terminal
    from velmoro.simterm.server import QUEUE_CAP, Server, StartRefused
    from velmoro.simterm.store import Store

    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s %(levelname)s %(message)s")
    # a thread per connection, each doing little at a time: hand the
    # interpreter over sooner than the default 5 ms
    sys.setswitchinterval(SWITCH_INTERVAL)
    days = args.days
    if args.state:
        days = Store(args.state).setting("days", days)  # the state belongs to the dataset it was made on
    term = Terminal(Dataset(days=days), result_dir=args.result_dir)
    term.sent = collections.deque(maxlen=1000)  # a long-running terminal keeps the recent commands only
    try:
        server = Server(term, args.listen, state_dir=args.state, token_file=args.token_file,
                        queue_cap=args.queue or QUEUE_CAP, heartbeat=args.heartbeat, dead_after=args.dead_after,
                        max_frame=args.max_frame)
    except StartRefused as exc:
        print("the terminal cannot start: {}".format(exc), file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: server.listener.close())
    # the dataset and the rebuilt state live as long as the process: keep the
    # collector from walking them again and again between calls
    gc.freeze()
    print("terminal serving at {}".format(server.address), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    server.stop()
    return 0


def main(argv=None):
    return serve(parser().parse_args(sys.argv[1:] if argv is None else argv))
