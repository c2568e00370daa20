"""Fundamental data: financial statements and company events, answered as pandas DataFrames."""
