"""Query services of the framework: history, fundamental data, factors."""
