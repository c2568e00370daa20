"""The live refresh loop: from the terminal's push to the strategy's data handler."""
from typing import Any, List

import numpy as np
from velmoro.realtrade.runtypes import RealRunTimeContext

_Array = np.ndarray[Any, Any]
# one dot-access record per frequency: more_time, more_day_pos, KFrequency
_NewTimes = List[Any]

# ---- written by tools/stubgen from the declarations in src/barcycle: edit those, then run make stubs ----
# The loop itself: start-up from the saved position, one pass per push, and
# the driver-level decisions of a pass (new refresh positions, end of the
# pushed data, order of the refresh steps).
def _reset_base_adj_matrix_calc_pos(unfilled_begin_calc_pos: _Array) -> None:
    """Set the calculation positions of the adjusted bar records to the starting columns of their base records."""

def real_trade_k_fresh_loop() -> None:
    """Run the live refresh loop from the saved refresh position until a push asks the run to stop."""

def expand_by_time_line_wrapper(lpc: RealRunTimeContext) -> None:
    """Append the pushed times later than the time line as new refresh positions."""

def update_by_time_line_wrapper(lpc: RealRunTimeContext) -> None:
    """Run the refresh steps of a pass in order."""

def _update_end_fresh_bar_pos_wrapper(lpc: RealRunTimeContext) -> None:
    """Find the last refresh position that the pushed data reach."""


# The data dispatch: the strategy's handler once per new refresh position,
# with the daily stop, and the account and order refreshes before each call.
def update_account_position_info() -> None:
    """Refresh the cash and positions of the run's accounts from the terminal."""

def update_order_info() -> None:
    """Register the terminal's orders of the day that the run's order book lacks."""

def call_on_data_wrapper(lpc: RealRunTimeContext) -> None:
    """Call the strategy's data handler once for every refresh position up to the end of the pushed data."""


# Time-line expansion: new times split into one step per new trading day,
# each step appended to the refresh time line and every matrix.
def _extract_expand_time_line_loop(array_new_trading_time: _NewTimes, unique_i_freq: _Array) -> List[_NewTimes]:
    """Split the new times of every frequency into one expansion step per new trading day."""

def expand_time_line_by_one(lpc: RealRunTimeContext, new_trading_time: _NewTimes, unique_i_freq: _Array) -> None:
    """Apply one expansion step to the refresh time line and every matrix."""

def _update_target_main_contract(update_date: int) -> None:
    """Resolve the run's main contracts of a trading date."""


# Factor and indicator updaters: pushed factor values into the factor
# matrices, the user's indicators over the refreshed span, and their
# expansion steps.
def _expand_user_calc_indices_wrapper(_lpc: RealRunTimeContext, expend_fresh_bar_tl: _Array) -> None:
    """Extend the user's indicators by the new refresh positions."""

def _update_user_indices_wrapper(lpc: RealRunTimeContext) -> None:
    """Recalculate the user's indicators from the current refresh position to the end of the pushed data."""

def _expand_factor_data_value_fresh_wrapper(_lpc: RealRunTimeContext, sum_idx_fresh_array: int) -> None:
    """Append new refresh positions to the factor matrices."""

def _update_factor_data_value_fresh_wrapper(lpc: RealRunTimeContext) -> None:
    """Write every received factor push into the factor matrices, then forget them."""


# Bar matrix updaters: pushed bars into the matrices, the history from the
# earliest pushed time on, the forming bars, the instrument table, and the
# per-matrix expansion steps.
def _expand_history_k_data_wrapper(lpc: RealRunTimeContext, unique_i_freq: _Array, trading_time: _NewTimes) -> None:
    """Append the new times to the bar matrices."""

def _update_history_k_data_wrapper(lpc: RealRunTimeContext) -> None:
    """Put the pushed bars into the matrices and bring the history up to date."""

def _get_k_matrix_update_begin() -> int:
    """Column of the run's base bar record that is current at the current refresh position."""

def _update_history_instrument(lpc: RealRunTimeContext) -> None:
    """Make the instrument table cover the trading dates of the refreshed positions."""

def _expand_k_data_value_fresh_wrapper(expend_fresh_bar_tl: _Array) -> None:
    """Append the new refresh positions to the refresh time-line matrix."""

def _update_k_data_value_fresh_wrapper(lpc: RealRunTimeContext) -> None:
    """Refresh the values of the forming bars."""

def _expand_history_k_data_adj_wrapper(
    _lpc: RealRunTimeContext, _unique_i_freq: _Array, _trading_time: _NewTimes
) -> None:
    """Append the new times to the adjusted bar matrices."""

def _update_history_k_data_adj_wrapper(minimum_time_point: float) -> None:
    """Bring the adjusted bar matrices up to date from a time on."""

def _expand_k_data_value_fresh_adj_wrapper(_lpc: RealRunTimeContext, expend_fresh_bar_tl: _Array) -> None:
    """Append the new refresh positions to the adjusted refresh matrix, when the run keeps one."""

def _update_k_data_value_fresh_adj_wrapper(_lpc: RealRunTimeContext) -> None:
    """Refresh the adjusted values of the forming bars."""
