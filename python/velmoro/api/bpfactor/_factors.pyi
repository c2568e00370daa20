"""Factor queries: factor values by factor, by code and by day, prepared by the terminal."""
from typing import Any, Dict, Iterable, List, Optional, OrderedDict

import numpy as np

# a list of target records ("Market", "Code"); the log line names the first and the last
_Targets = List[Any]

# ---- written by tools/stubgen from the declarations in src/factors: edit those, then run make stubs ----
# Asking the terminal to prepare factor data, announced in its log.
def ask_factor_by_targets(
    item_name: str, targets: _Targets, date_begin: int, date_end: int, date_before: int = 0
) -> None:
    """Ask the terminal to prepare one factor (or item) for the targets, announcing it in the terminal's log."""


# The queries: one factor by target, many factors for the first target, many
# factors for every target on one day.
def get_factor_by_factor(
    factor: str, targets: _Targets, begin_date: int, end_date: int, day_before: int = 0
) -> Dict[str, np.ndarray[Any, Any]]:
    """One factor for many targets: {"MARKET.CODE": flattened series, ..., "date": dates}."""

def get_factor_by_code(
    factor_list: Iterable[str], targets: _Targets, begin_date: int, end_date: int
) -> Optional[OrderedDict[str, Any]]:
    """Many factors for the first target: an ordered dict of "date" (date-times), then each factor's series."""

def get_factor_by_day(
    factor_list: Iterable[str], targets: _Targets, date: int
) -> Optional[OrderedDict[str, List[Any]]]:
    """Many factors for every target on one day: an ordered dict of "code" (target keys), then each factor's values."""
