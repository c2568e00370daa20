"""Your own market: a Parquet store of bars, securities, a trading calendar,
adjustment factors and the record of every import, with the import and its
checks. A layer beside the simulated terminal; the framework core never
imports it."""
from velmoro.data.store import MarketStore, StoreError

__all__ = ["MarketStore", "StoreError"]
