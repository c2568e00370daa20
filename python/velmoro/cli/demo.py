"""`velmoro demo`: the demo session on the embedded simulated terminal."""
NAME = "demo"
HELP = "run the example strategy on the embedded simulated terminal and print its summary"


def configure(parser):
    parser.add_argument("--out", default="demo-output", help="folder of the logs and the report (default demo-output/)")


def main(args):
    from velmoro.demo.session import main as run_demo

    run_demo(args.out)
    return 0
