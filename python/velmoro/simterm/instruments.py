"""What the trading rules need to know of a security: its board, by its
code, and a terminal's `InstrumentFacts` (listing and delisting dates,
special-treatment spans, halted days: a setting for the generated dataset,
the store's own for a market store; a day without bars is a halt whatever
they say)."""
from typing import Iterable, Mapping, Optional, Tuple

__all__ = ["board", "InstrumentFacts"]


def board(code: str) -> str:
    """The board of a stock's code: "star", "chinext" or "main"."""
    if code.startswith(("688", "689")):
        return "star"
    if code.startswith(("300", "301")):
        return "chinext"
    return "main"


class InstrumentFacts:
    """Listing and delisting dates, special-treatment spans and halted days
    of securities, keyed "MARKET.CODE" (as `Security.key`); unknown ones are
    listed long ago, never delisted, never flagged and never halted. A
    delisting date is the security's first day off the market."""

    def __init__(self, listed: Optional[Mapping[str, int]] = None,
                 special: Optional[Mapping[str, Iterable[Tuple[int, int]]]] = None,
                 halted: Optional[Mapping[str, Iterable[int]]] = None,
                 delisted: Optional[Mapping[str, int]] = None):
        self.listed = dict(listed or {})
        self.delisted = dict(delisted or {})
        self.special = {key: tuple(spans) for key, spans in (special or {}).items()}
        self.halted = {key: frozenset(days) for key, days in (halted or {}).items()}

    def listing_date(self, key: str) -> Optional[int]:
        return self.listed.get(key)

    def off_market(self, key: str, day: int) -> Optional[str]:
        """Why the security does not trade on the day (not listed yet,
        delisted), or None when it may."""
        listed, delisted = self.listed.get(key), self.delisted.get(key)
        if listed is not None and day < listed:
            return "not listed until {}".format(listed)
        if delisted is not None and day >= delisted:
            return "delisted on {}".format(delisted)
        return None

    def is_special(self, key: str, day: int) -> bool:
        """Whether the security is flagged special treatment on the day (spans include both ends)."""
        return any(first <= day <= last for first, last in self.special.get(key, ()))

    def is_halted(self, key: str, day: int) -> bool:
        return day in self.halted.get(key, ())
