"""Order and trade records of a live run."""
