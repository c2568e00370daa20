"""Restricted-share float queries answering pandas DataFrames."""
import datetime
from typing import Any, List, Tuple, Union

import pandas as pd  # type: ignore[import-untyped]  # typed where pandas-stubs is installed

# target records ("Market", "Code"), as a list or tuple
_Targets = Union[List[Any], Tuple[Any, ...]]
# report types, fields and flags: a list or tuple, the empty tuple selecting nothing
_Selection = Union[List[Any], Tuple[Any, ...]]
# a date as YYYYMMDD (integer or text), 'YYYY-MM-DD' or a date; the empty string leaves the bound open
_Date = Union[int, str, datetime.date]

# ---- written by tools/stubgen from the declarations in src/fundamental/frame, src/fundamental/restricted: edit those, then run make stubs ----
def equ_ipo_float(
    target_list: _Targets, publish_date_begin: _Date = '', publish_date_end: _Date = '', field: _Selection = ()
) -> pd.DataFrame:
    """Float events of shares restricted at the initial public offering."""

def equ_shares_float(
    target_list: _Targets,
    float_date_begin: str = '',
    float_date_end: str = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Float events of restricted shares, by float date and publication date."""

def equ_share_float(
    target_list: _Targets, begin_date: _Date = '', end_date: _Date = '', field: _Selection = ()
) -> pd.DataFrame:
    """Float events of restricted shares, by event date."""

def equ_reform_float(
    target_list: _Targets, begin_date: _Date = '', end_date: _Date = '', field: _Selection = ()
) -> pd.DataFrame:
    """Float events of shares restricted by the share-structure reform, by event date."""
