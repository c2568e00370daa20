"""`velmoro demo`: the demo session on the embedded simulated terminal."""
import argparse

NAME = "demo"
HELP = "run the example strategy on the embedded simulated terminal and print its summary"


def configure(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--out", default="demo-output", help="folder of the logs and the report (default demo-output/)")
    parser.add_argument("--connect", metavar="ADDRESS",
                        help="run on the terminal server at unix:PATH or tcp://HOST:PORT (started with --days 5)")


def main(args: argparse.Namespace) -> int:
    from velmoro.demo.session import main as run_demo

    run_demo(args.out, address=args.connect)
    return 0
