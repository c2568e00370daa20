"""Income-statement queries answering pandas DataFrames."""
import datetime
from typing import Any, List, Tuple, Union

import pandas as pd  # type: ignore[import-untyped]  # typed where pandas-stubs is installed

# target records ("Market", "Code"), as a list or tuple
_Targets = Union[List[Any], Tuple[Any, ...]]
# report types, fields and flags: a list or tuple, the empty tuple selecting nothing
_Selection = Union[List[Any], Tuple[Any, ...]]
# a date as YYYYMMDD (integer or text), 'YYYY-MM-DD' or a date; the empty string leaves the bound open
_Date = Union[int, str, datetime.date]

# ---- written by tools/stubgen from the declarations in src/fundamental/frame, src/fundamental/earnings: edit those, then run make stubs ----
def is_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (general format), point in time: every published version of each report."""

def is_bank_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (bank format), point in time: every published version of each report."""

def is_secu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (securities-firm format), point in time: every published version of each report."""

def is_indu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (industrial format), point in time: every published version of each report."""

def is_insu_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (insurance format), point in time: every published version of each report."""

def is_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (general format), latest values: the newest version of each report."""

def is_bank_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (bank format), latest values: the newest version of each report."""

def is_secu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (securities-firm format), latest values: the newest version of each report."""

def is_indu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (industrial format), latest values: the newest version of each report."""

def is_insu_latest(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (insurance format), latest values: the newest version of each report."""

def is_q(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (general format), single quarters, newest versions."""

def is_bank_q(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (bank format), single quarters, newest versions."""

def is_secu_q(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (securities-firm format), single quarters, newest versions."""

def is_indu_q(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (industrial format), single quarters, newest versions."""

def is_insu_q(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (insurance format), single quarters, newest versions."""

def is_q_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (general format), single quarters, point in time."""

def is_bank_q_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (bank format), single quarters, point in time."""

def is_secu_q_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (securities-firm format), single quarters, point in time."""

def is_indu_q_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (industrial format), single quarters, point in time."""

def is_insu_q_pit(
    target_list: _Targets,
    report_type: _Selection = (),
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (insurance format), single quarters, point in time."""

def is_ttm_pit(
    target_list: _Targets,
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (general format), trailing twelve months, point in time."""

def is_bank_ttm_pit(
    target_list: _Targets,
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (bank format), trailing twelve months, point in time."""

def is_indu_ttm_pit(
    target_list: _Targets,
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (industrial format), trailing twelve months, point in time."""

def is_insu_ttm_pit(
    target_list: _Targets,
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (insurance format), trailing twelve months, point in time."""

def is_secu_ttm_pit(
    target_list: _Targets,
    begin_date: _Date = '',
    end_date: _Date = '',
    publish_date_begin: _Date = '',
    publish_date_end: _Date = '',
    is_new: _Selection = (),
    is_calc: _Selection = (),
    field: _Selection = (),
) -> pd.DataFrame:
    """Income statements (securities-firm format), trailing twelve months, point in time."""
