"""Factor queries: factor values by factor, by code and by day, prepared by the terminal."""
from typing import Any, Dict, Iterable, List, Optional, OrderedDict

import numpy as np

# a list of target records ("Market", "Code"); the log line names the first and the last
_Targets = List[Any]

def ask_factor_by_targets(
    item_name: str, targets: _Targets, date_begin: int, date_end: int, date_before: int = 0
) -> None:
    """Announce the preparation in the terminal's log and ask the terminal to prepare one factor (or item) for the targets."""

def get_factor_by_factor(
    factor: str, targets: _Targets, begin_date: int, end_date: int, day_before: int = 0
) -> Dict[str, np.ndarray[Any, Any]]:
    """One factor for many targets: a dict from target key ("MARKET.CODE") to the flattened series, then "date" to the dates. Targets the terminal does not cover have no key."""

def get_factor_by_code(
    factor_list: Iterable[str], targets: _Targets, begin_date: int, end_date: int
) -> Optional[OrderedDict[str, Any]]:
    """Many factors for the first target: an ordered dict with "date" (date-times of the first factor), then each factor's series (None values where the target is not covered); None when the first factor has no dates."""

def get_factor_by_day(factor_list: Iterable[str], targets: _Targets, date: int) -> Optional[OrderedDict[str, List[Any]]]:
    """Many factors for every target on one day: an ordered dict with "code" (the targets' keys), then each factor's list of values (None where a target is not covered); None when a factor has no dates."""
