"""Options and body of `velmoro terminal serve` (and `python -m
velmoro.simterm serve`, the same command): the simulated terminal as a
server, running until it is interrupted or terminated."""
import collections
import datetime as _dt
import gc
import logging
import signal
import sys

from velmoro.tframe.comm import wire

__all__ = ["serve", "add_serve_arguments", "add_dataset_arguments", "dataset_of"]

SWITCH_INTERVAL = 0.0002


def add_serve_arguments(serve):
    """The server's options: address, state, clients, and the dataset's."""
    serve.add_argument("--listen", required=True, help="unix:PATH or tcp://HOST:PORT (HOST 127.0.0.1 if left out)")
    serve.add_argument("--state", help="folder of the terminal's state (SQLite); a restart keeps its orders")
    serve.add_argument("--token-file", help="token of TCP clients (made when absent; default "
                                            "$VELMORO_TERMINAL_TOKEN_FILE or ~/.velmoro/terminal.token)")
    serve.add_argument("--result-dir", help="folder of the result files (a temporary one by default)")
    serve.add_argument("--queue", type=int, default=None, help="pushes queued per client session at most")
    serve.add_argument("--heartbeat", type=float, default=1.0, help="seconds between signs of life")
    serve.add_argument("--dead-after", type=float, default=5.0, help="seconds of silence ending a connection")
    serve.add_argument("--max-frame", type=int, default=wire.MAX_FRAME, help="largest frame accepted, in bytes")
    add_dataset_arguments(serve, days=5)


def _count(text):
    value = int(text)
    if value < 1:
        raise ValueError(text)
    return value


_count.__name__ = "count (1 or more)"  # argparse names the type in its one-line error


def _day(text):
    return int(_dt.datetime.strptime(text, "%Y%m%d").strftime("%Y%m%d"))


_day.__name__ = "day (YYYYMMDD)"


def add_dataset_arguments(p, days=None, store=True):
    """The generated dataset's options: universe size, first day, length;
    with `store`, the market store served instead."""
    p.add_argument("--securities", type=_count, default=None,
                   help="securities of the generated market (default the four stocks sse.600000, sse.600519, "
                        "szse.000001, szse.000002; more come as sse.600001.., szse.000003..)")
    p.add_argument("--first-day", type=_day, default=None, help="the dataset's first trading day, YYYYMMDD")
    p.add_argument("--days", type=_count, default=days, help="trading days of the generated dataset"
                   + (" (default {})".format(days) if days else ""))
    if store:
        p.add_argument("--store", help="serve the market store at this folder (velmoro data import) instead of "
                                       "the generated market")
        p.add_argument("--fq", choices=("none", "forward", "backward"), default="none",
                       help="prices adjusted by the store's factors (default none: as stored): those of the "
                            "terminal's pushes and fills; a run's history asks for the same")


def dataset_of(securities=None, first_day=None, days=3, store=None, fq="none"):
    """The generated dataset of those options (None: the dataset's default),
    or the market store at `store`, its prices adjusted as `fq` asks."""
    from velmoro.simterm.dataset import Dataset, universe

    if store:
        from velmoro.simterm.stored import StoreDataset

        return StoreDataset(store, fq)
    options = {"days": days}
    if first_day:
        options["start"] = _dt.datetime.strptime(str(first_day), "%Y%m%d").date()
    if securities:
        options["securities"] = universe(securities)
    return Dataset(**options)


def serve(args):
    """Serve until interrupted or terminated and return 0; StartRefused when
    the server cannot start as asked."""
    from velmoro.simterm import Terminal
    from velmoro.simterm.server import QUEUE_CAP, Server
    from velmoro.simterm.store import Store

    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s %(levelname)s %(message)s")
    # a thread per connection, each doing little at a time: hand the
    # interpreter over sooner than the default 5 ms
    sys.setswitchinterval(SWITCH_INTERVAL)
    shape = {"securities": args.securities, "first_day": args.first_day, "days": args.days, "store": args.store,
             "fq": args.fq}
    if args.state:  # the state belongs to the dataset it was made on
        store = Store(args.state)
        shape = {name: store.setting(name, value) for name, value in shape.items()}
    term = Terminal(dataset_of(**shape), result_dir=args.result_dir)
    term.sent = collections.deque(maxlen=1000)  # a long-running terminal keeps the recent commands only
    server = Server(term, args.listen, state_dir=args.state, token_file=args.token_file,
                    queue_cap=args.queue or QUEUE_CAP, heartbeat=args.heartbeat, dead_after=args.dead_after,
                    max_frame=args.max_frame)
    signal.signal(signal.SIGTERM, lambda *_: server.listener.close())
    # the dataset and the rebuilt state live as long as the process: keep the
    # collector from walking them again and again between calls
    gc.freeze()
    held = term.data.trading_days
    # the address alone on the first line: scripts read it from there
    print("terminal serving at {}\ntrading days {}..{} ({} days)".format(server.address, held[0], held[-1], len(held)),
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    server.stop()
    return 0

