"""The store's tables, declared once: every part of a table is written with
its schema here, and every read casts to it."""
import pyarrow as pa

__all__ = ["FREQUENCIES", "TABLES", "BARS", "SECURITIES", "QUANTITIES", "frequency_name"]

# stored name -> length of a bar in minutes (a day bar: the whole session)
FREQUENCIES = {"1min": 1, "5min": 5, "60min": 60, "day": 0}
_SPELLINGS = {"1m": "1min", "min": "1min", "minute": "1min", "1min": "1min", "5m": "5min", "5min": "5min",
              "60m": "60min", "60min": "60min", "1h": "60min", "hour": "60min", "d": "day", "1d": "day", "day": "day",
              "daily": "day"}
QUANTITIES = ("open", "high", "low", "close", "volume", "amount")

# one row a bar; time is the END of the bar's interval (UTC); day is the
# exchange-local trading day YYYYMMDD the bar belongs to
BARS = pa.schema([
    ("market", pa.string()), ("code", pa.string()), ("day", pa.int32()), ("time", pa.timestamp("ms", tz="UTC")),
    *((q, pa.float64()) for q in QUANTITIES),
])
# a security's last row counts (a later import may tell more of it); listed:
# its first trading day, delisted: its first day off the market (YYYYMMDD)
SECURITIES = pa.schema([
    ("market", pa.string()), ("code", pa.string()), ("name", pa.string()), ("board", pa.string()),
    ("listed", pa.int32()), ("delisted", pa.int32()),
])
CALENDAR = pa.schema([("market", pa.string()), ("day", pa.int32())])
# the cumulative factor of the security on that day: raw price x factor is
# the backward-adjusted price
FACTORS = pa.schema([("market", pa.string()), ("code", pa.string()), ("day", pa.int32()), ("factor", pa.float64())])
# one row a finding of an import (check "source" rows name the sources read)
RECORD = pa.schema([
    ("import_id", pa.string()), ("at", pa.timestamp("ms", tz="UTC")), ("source", pa.string()),
    ("sha256", pa.string()), ("frequency", pa.string()), ("adjusted", pa.string()), ("check", pa.string()),
    ("count", pa.int64()), ("examples", pa.string()), ("action", pa.string()),
])
TABLES = {"securities": SECURITIES, "calendar": CALENDAR, "factors": FACTORS, "record": RECORD}
TABLES.update(("bars/" + f, BARS) for f in FREQUENCIES)


def frequency_name(text: str) -> str:
    """The stored name of a frequency spelling; ValueError when unknown."""
    name = _SPELLINGS.get(str(text).strip().lower())
    if name is None:
        raise ValueError("unknown frequency {!r} (1min, 5min, 60min or day)".format(text))
    return name
