"""A live trading session on the embedded simulated terminal (velmoro/demo/session.py);
`velmoro demo` runs the same."""
from velmoro.demo.session import HISTORY_DAYS, LIVE_DAYS, main, report, run_session, strategy

__all__ = ["HISTORY_DAYS", "LIVE_DAYS", "report", "run_session", "strategy"]

if __name__ == "__main__":
    main()
