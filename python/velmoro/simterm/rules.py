"""The exchanges' trading rules the simulated terminal applies to stocks of
"sse" and "szse": lots, price limits, partial fills and fees.

Every number is a `Dated` setting: a value and the trading days from which
it changed, so a rule that changed on a date applies before and after it.
`Rules()` holds the defaults; a terminal takes its own (`Terminal(rules=...)`).

- Lots (per board): a buy is at least `min_buy` shares in steps of `step`; a
  sell is too, or takes the whole odd remainder of the shares not yet being
  sold (main board), or every one of them (a rest below `min_buy`).
- Price limits: from the previous close, `limit` of it (`special_limit` for a
  security flagged special treatment), rounded half up to 0.01; none on the
  first `free_days` trading days of a listing, nor without a previous close.
- Partial fills: an order takes at most `volume_share` of a bar's volume,
  rounded down to the board's step.
- Fees, each rounded half up to 0.01 per fill: commission at
  `commission_rate` of the amount with `commission_min` per order (charged on
  the order's amount so far), stamp duty on sells, transfer fee on both sides.
"""
import dataclasses
import decimal
from typing import Mapping, NamedTuple, Optional, Tuple

__all__ = ["Dated", "Board", "Rules", "Fees", "BOARDS", "cents", "lot_problem", "price_band", "fees"]

CENT = decimal.Decimal("0.01")


class Dated:
    """A setting's value by trading day: `first` until the first change, then
    each value of `changes` (YYYYMMDD -> value) from its day on."""

    def __init__(self, first, changes: Optional[Mapping[int, object]] = None):
        self.first = first
        self.changes = tuple(sorted((changes or {}).items()))

    def on(self, day: int):
        """The value that applies on a trading day."""
        value = self.first
        for since, changed in self.changes:
            if day < since:
                break
            value = changed
        return value

    def __repr__(self):
        return "Dated({!r}, {!r})".format(self.first, dict(self.changes))


@dataclasses.dataclass(frozen=True)
class Board:
    """The lot and price-limit settings of one board."""

    min_buy: Dated
    step: Dated
    limit: Dated  # fraction of the previous close
    special_limit: Dated  # the same for a security flagged special treatment
    free_days: Dated  # first trading days of a listing without a limit


CHINEXT_REFORM = 20200824
STAR_OPENING = 20190722
MAIN_REGISTRATION = 20230410

BOARDS = {
    "main": Board(Dated(100), Dated(100), Dated(0.10), Dated(0.05), Dated(0, {MAIN_REGISTRATION: 5})),
    "chinext": Board(Dated(100), Dated(100), Dated(0.10, {CHINEXT_REFORM: 0.20}),
                     Dated(0.05, {CHINEXT_REFORM: 0.20}), Dated(0, {CHINEXT_REFORM: 5})),
    "star": Board(Dated(200), Dated(1), Dated(0.20), Dated(0.20), Dated(5)),
}


@dataclasses.dataclass(frozen=True)
class Rules:
    """The trading rules of a terminal; every number a dated setting."""

    boards: Mapping[str, Board] = dataclasses.field(default_factory=lambda: dict(BOARDS))
    volume_share: Dated = Dated(0.25)
    commission_rate: Dated = Dated(0.00025)
    commission_min: Dated = Dated(5.0)
    stamp_duty: Dated = Dated(0.001, {20230828: 0.0005})  # sells only
    transfer_fee: Dated = Dated(0.00002, {20220429: 0.00001})


class Fees(NamedTuple):
    commission: decimal.Decimal
    stamp_duty: decimal.Decimal
    transfer_fee: decimal.Decimal

    @property
    def total(self) -> decimal.Decimal:
        return self.commission + self.stamp_duty + self.transfer_fee


def cents(value) -> decimal.Decimal:
    """A number as a Decimal rounded half up to 0.01 (a float read by its shortest text)."""
    return decimal.Decimal(repr(value) if isinstance(value, float) else value).quantize(CENT, decimal.ROUND_HALF_UP)


def _rate(setting: Dated, day: int) -> decimal.Decimal:
    return decimal.Decimal(repr(float(setting.on(day))))


def lot_problem(board: Board, day: int, side: str, volume: int, free: int) -> Optional[str]:
    """What breaks the lot rule in an order of `volume` shares (`free`: the
    shares held and not yet being sold, for a sell), or None."""
    least, step = board.min_buy.on(day), board.step.on(day)
    if volume >= least and volume % step == 0:
        return None
    odd = free % step
    if side == "sell" and (volume == free or (odd and volume % step == odd)):
        return None
    if volume % step:
        whole = " or include the whole odd remainder of {} shares".format(odd) if side == "sell" and odd else ""
        return "volume must be a multiple of {}{}".format(step, whole)
    return "volume must be at least {}{}".format(least, " or sell every share held" if side == "sell" else "")


def price_band(board: Board, day: int, previous_close: Optional[float], special: bool,
               listed_days: Optional[int]) -> Optional[Tuple[float, float]]:
    """(lower, upper) limit prices on a trading day, or None for no limit
    (`listed_days`: the day's number in the listing, 1 for the first)."""
    if previous_close is None or (listed_days is not None and listed_days <= board.free_days.on(day)):
        return None
    share = _rate(board.special_limit if special else board.limit, day)
    close = decimal.Decimal(repr(float(previous_close)))
    return float(cents(close * (1 - share))), float(cents(close * (1 + share)))


def fees(rules: Rules, day: int, side: str, amount: decimal.Decimal, before: decimal.Decimal) -> Fees:
    """The fees of one fill of `amount` (CNY) on a trading day, the order
    having traded `before` already (its commission minimum is per order)."""

    def commission(traded):
        if not traded:
            return decimal.Decimal(0)
        return cents(max(traded * _rate(rules.commission_rate, day), _rate(rules.commission_min, day)))

    stamp = cents(amount * _rate(rules.stamp_duty, day)) if side == "sell" else decimal.Decimal("0.00")
    return Fees(commission(before + amount) - commission(before), stamp,
                cents(amount * _rate(rules.transfer_fee, day)))
