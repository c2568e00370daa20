"""Balance-sheet queries answering pandas DataFrames."""
import datetime
from typing import Any, List, Tuple, Union

import pandas as pd  # type: ignore[import-untyped]  # typed where pandas-stubs is installed

# target records ("Market", "Code"), as a list or tuple
_Targets = Union[List[Any], Tuple[Any, ...]]
# report types, fields and flags: a list or tuple, the empty tuple selecting nothing
_Selection = Union[List[Any], Tuple[Any, ...]]
# a date as YYYYMMDD (integer or text), 'YYYY-MM-DD' or a date; the empty string leaves the bound open
_Date = Union[int, str, datetime.date]

# ---- written by tools/stubgen from the declarations in src/fundamental/frame, src/fundamental/ledger: edit those, then run make stubs ----
def ledger_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (general format), point in time: every published version of each report."""

def ledger_bank_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (bank format), point in time: every published version of each report."""

def ledger_secu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (securities-firm format), point in time: every published version of each report."""

def ledger_indu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (industrial format), point in time: every published version of each report."""

def ledger_insu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (insurance format), point in time: every published version of each report."""

def ledger_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (general format), latest values: the newest version of each report."""

def ledger_bank_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (bank format), latest values: the newest version of each report."""

def ledger_secu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (securities-firm format), latest values: the newest version of each report."""

def ledger_indu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (industrial format), latest values: the newest version of each report."""

def ledger_insu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Balance sheets (insurance format), latest values: the newest version of each report."""
