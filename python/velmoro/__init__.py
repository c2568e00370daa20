"""velmoro: a framework that runs quantitative-trading strategies against a host trading terminal."""
