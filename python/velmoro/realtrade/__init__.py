"""Live trading: run-time types, order model and the refresh loop."""
