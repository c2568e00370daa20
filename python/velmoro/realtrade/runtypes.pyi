"""State types of the live refresh loop and the live run's variables and environment."""
import datetime
from typing import Any, Dict, List, Optional, Tuple

import numpy as np
from velmoro.realtrade.model.orders import VMOrders, VMStopOrders, VMTrades
from velmoro.tframe.runtypesbase import SystemBaseEnv, SystemBaseVar

class LoopStatus:
    """Verdict of one refresh pass: ok, continue or break, with the text of its last change."""

    def __init__(self) -> None: ...
    @property
    def op_ok(self) -> bool:
        """True while the verdict is ok; assigning sets ok."""
    @op_ok.setter
    def op_ok(self, detail: object) -> None: ...
    @property
    def op_continue(self) -> bool:
        """True while the verdict is continue; assigning sets continue."""
    @op_continue.setter
    def op_continue(self, detail: object) -> None: ...
    @property
    def op_break(self) -> bool:
        """True while the verdict is break; assigning sets break."""
    @op_break.setter
    def op_break(self, detail: object) -> None: ...
    @property
    def detail(self) -> Any:
        """Text of the last verdict change (read-only)."""

class RealRunTimeContext:
    """Scratch state of one live run's refresh loop."""

    min_fresh_data: np.ndarray[Any, Any]
    day_fresh_data: np.ndarray[Any, Any]
    factor_data: List[Any]
    idx_fresh_array: np.ndarray[Any, Any]
    unfilled_begin_calc_pos: np.ndarray[Any, Any]
    end_fresh_bar: int
    end_fresh_time: float
    last_log: str
    target_list_len: int
    factor_list_len: int
    refresh_k_data_idx: int
    is_tick_freq: bool
    is_first_time_do_fresh_loop: bool
    pushed_latest_timeline: np.ndarray[Any, Any]
    loop_status: LoopStatus
    def __init__(self) -> None: ...

class RealTradeVar(SystemBaseVar):
    """Variables of a live run: the base run fields plus order books and refresh bookkeeping."""

    g_VMOrders: VMOrders
    g_VMStopOrders: VMStopOrders
    g_VMTrades: VMTrades
    g_VelmoroRealTradeSaveFreshPosition: int
    g_VelmoroAppendFreshPosition: float
    g_VelmoroNFreqRealFresh: np.ndarray[Any, Any]
    g_VelmoroDayFreqTransEndTime: Dict[str, Any]
    g_VelmoroNFreqRealFreshOption: Dict[str, bool]
    def __init__(self) -> None:
        """Run the base constructor, then set up fresh order books and the refresh bookkeeping."""
    @property
    def account_handles(self) -> List[int]:
        """A new list of the handles of the run's accounts, in order."""

class RealTradeEnv(SystemBaseEnv):
    """Environment of a live run, working on the run's variables `vr`."""

    def __init__(self) -> None:
        """Run the base constructor; nothing else is added."""
    def get_margin_rate(self, target_idx: int, side: int = 0) -> float:
        """Margin rate of the target with that index, times the run's MarginRate."""
    def order_id_relevant_account_handle(self, order_id: Any) -> Optional[int]:
        """Handle of the account owning the ordinary order, or None when not exactly one order has that id."""
    def stop_order_id_relevant_account_handle(self, stop_order_id: Any) -> Optional[int]:
        """Handle of the account owning the stop order, or None when not exactly one stop order has that id."""
    def get_order_by_order_id(self, order_id: Any) -> Optional[Any]:
        """The first ordinary order with that id, or None."""
    def account_handle_relevant_all_order_id(self, handle: int) -> List[Any]:
        """Ids of all ordinary orders of the account with that handle (empty for no such account)."""
    def set_daily_close(self, close_time: datetime.datetime) -> None:
        """Set the run's daily close time from close_time's hour, minute and second."""
    def get_all_trading_time(self, new_time: Optional[float] = None) -> np.ndarray[Any, Any]:
        """The run's bar time line, cached per frequency and bar count."""
    def collect_contracts(
        self,
        targets: List[Any],
        begin_date: Optional[int] = None,
        end_date: Optional[int] = None,
    ) -> Tuple[List[Dict[str, str]], Dict[Any, int]]:
        """Resolve each target record to its current real contract; returns (records, {dotted key: position})."""
