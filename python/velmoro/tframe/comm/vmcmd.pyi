"""Command channel to the host trading terminal: one function per terminal command."""
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

# a target record: "Market" (lower-case exchange code such as "sse") and "Code" ("000001")
_Target = Mapping[str, Any]
_Targets = Sequence[_Target]
# task ids come back as numpy int64; a float NaN id makes the task commands do nothing
_TaskId = Union[int, float, np.integer[Any]]
# a loaded MAT file: variable name to array
_MatVariables = Mapping[str, np.ndarray[Any, Any]]

ERROR_LEVEL_NO_ERROR: int
ERROR_LEVEL_ERROR: int
ERROR_LEVEL_WARNING: int
ERROR_LEVEL_INFO: int

class GeneralRes:
    """Status record of a terminal answer: errLevel, errCode, errInfo."""

    errLevel: int
    """Level of the answer: 0 no error, 1 error, 2 warning, 3 information."""
    errCode: Any
    """The terminal's error code."""
    errInfo: str
    """The terminal's error text; empty when there is nothing to report."""

# ---- written by tools/stubgen from the declarations in src/vmcmd: edit those, then run make stubs ----
# The answer checker: an ERROR answer raises, WARNING and INFO texts are shown.
def vmReturnChecker(func_name: str, result: GeneralRes) -> None:
    """Check the status record of an answer: raise VmReturnError at ERROR level, show WARNING and INFO texts to the user."""


# Market-data commands: bar data, TDP data, snapshots, bar time lines, sets.
def vmSendCmdGetKData(
    targets: _Targets,
    kFreq: str,
    kFreNum: int,
    beginDate: int,
    endDate: int,
    filledUp: int,
    fqType: str,
    noReturn: bool,
) -> List[str]:
    """Fetch bar data of the targets; returns the paths of the MAT files the terminal wrote."""

def vmSendCmdGetKDataMulti(
    targetList: _Targets, kFreq: str, beginDate: int, endDate: int, filledUp: int, fqType: str
) -> str:
    """Fetch bar data of several targets into one MAT file; returns its path."""

def vmSendCmdGetKDataMultiFilePath(
    targetList: _Targets, kFreq: str, beginDate: int, endDate: int, filledUp: int, fqType: str
) -> str:
    """Fetch bar data of several targets into one MAT file; returns its path."""

def vmSendCmdGetNKDataMulti(
    targetList: _Targets, kFreq: str, kFreNum: int, nCount: int, endDate: int, filledUp: int, fqType: str
) -> str:
    """Fetch the last nCount bars up to endDate of several targets; returns the MAT file path."""

def vmSendCmdGetRtData(targetList: _Targets) -> List[Any]:
    """Real-time snapshots of the targets."""

def vmSendCmdGetTDPData(
    market: str, code: str, date: int, fqType: str, no_return: bool, check_permission: bool = True
) -> str:
    """TDP data of one security on one date; returns the MAT file path."""

def vmSendCmdGetTDPDataMulti(targetList: _Targets, beginDate: int, endDate: int, fqType: str) -> str:
    """TDP data of several securities over a date range; returns the MAT file path."""

def vmSendCmdGetTDPDataMultiFilePath(targetList: _Targets, beginDate: int, endDate: int, fqType: str) -> str:
    """TDP data of several securities over a date range; returns the MAT file path."""

def vmSendCmdGetTradingTime(targetList: _Targets, kFreq: str, beginDay: int, endDay: int) -> str:
    """Bar times of a frequency between two days; returns the MAT file path (variable Time)."""

def vmSendCmdGetHistorySet(
    Market: str, Code: str, CatName: str, ItemName: str, BeginDate: int, EndDate: int
) -> _MatVariables:
    """A history data set of one security, loaded from the terminal's MAT file."""

def vmSendCmdGetMarketSet(wstrCat: str, listItem: Sequence[str], iBeginDate: int, iEndDate: int) -> _MatVariables:
    """A market-wide data set, loaded from the terminal's MAT file."""

def vmSendCmdGetHistoryInstruments(
    targets: _Targets, begin_date: int, end_date: int, fq_type: str = 'NA'
) -> Dict[str, np.ndarray[Any, Any]]:
    """Real instruments behind the targets over a date range, keyed MARKET.CODE."""

def vmSendCmdGetDatePeriodBarTime(
    allTargetLists: _Targets, KFrequency: str, KFreNum: int, endtm: float
) -> Optional[np.ndarray[Any, Any]]:
    """The bar time line of a frequency for the targets' sessions (the Time variable of the result file)."""


# Calendar and reference commands: dates, trading days, code lists, contracts.
def vmSendCmdGetCodeList(block: str, date: int) -> List[Any]:
    """Members of a block (index, sector or board) on a date, as records with Code, Market, Weight, Name, BlockName."""

def vmSendCmdGetCodeListSet(block: str, begin_date: int, end_date: int) -> List[Any]:
    """Members of a block over a date range."""

def vmSendCmdConvertTargets(listMC: _Targets = [], wstrOpFlags: str = 'czce') -> List[Any]:
    """Targets converted by the terminal according to wstrOpFlags."""

def vmSendCmdGetCurDate() -> int:
    """The terminal's current date."""

def vmSendCmdGetCurTradeDate() -> int:
    """The current trading date."""

def vmSendCmdGetPreTradeDate() -> int:
    """The previous trading date."""

def vmSendCmdGetTradingDays() -> Any:
    """The trading days the terminal knows."""

def vmSendCmdGetTradingDaysCondition(market: str, begin_day: int, end_day: int) -> List[int]:
    """Trading days of a market between two days."""

def vmSendCmdGetTargetIns(Market: str, Code: str, BeginDate: int, EndDate: int) -> List[Any]:
    """Real instruments behind a target over a date range, as records with TargetIns and Day."""

def vmSendCmdGetTargetIns_20190830(Market: str, Code: str, BeginDate: int, EndDate: int) -> List[Any]:
    """Real instruments behind a target over a date range, as records with TargetIns and Day."""

def vmSendCmdGetFutureContracts(i64Date: int, wstrMarket: str, wstrVarieties: str) -> List[Any]:
    """Future contracts of varieties of a market on a date."""

def vmSendCmdGetFutureInfo_20190920(listMkCode: _Targets) -> List[Any]:
    """Information on future contracts."""

def vmSendCmdGetFutureInfoExculusively(targets: _Targets) -> List[Any]:
    """Information on future contracts."""

def vmSendCmdGetFutureInfoExculusively_20190918(targets: _Targets) -> List[Any]:
    """Information on future contracts."""

def vmSendCmdGetStockInfoExculusively(targets: _Targets) -> List[Any]:
    """Information on stocks."""

def vmSendCmdGetOptionData(market: str, code: str) -> Any:
    """Data of an option."""

def vmSendCmdGetOptionInfo(market: str, code: str) -> Any:
    """Information on an option."""

def vmSendCmdGetOptionPos(market: str, code: str) -> Any:
    """Option positions of a security."""

def vmSendCmdGetToolBoxRootofCacheDir() -> str:
    """The terminal's cache directory."""

def vmSendCmdGetStrategyID() -> List[Any]:
    """The strategies the terminal knows."""

def vmSendCmdGetOptionCode(varargin: Sequence[Any]) -> Any:
    """Option codes from a sequence of 8 or 5 values; any other count raises ValueError."""

def vmSendCmdTransTradeTimeToTradeDate(checkTime: float) -> int:
    """The trading date a framework date-time belongs to."""


# Trading and account commands: orders, executions, accounts, cash, positions.
def vmSendCmdSTTradeOperation(params: Mapping[str, Any]) -> Any:
    """Place an order; returns its client id."""

def vmSendCmdSTTradeStopOrder(params: Mapping[str, Any]) -> Any:
    """Place a stop order; returns its client id."""

def vmSendCmdCancelOrder(strategyName: str, handle: int, orderID: Any) -> None:
    """Cancel an order."""

def vmSendCmdCancelStopOrder(strategyName: str, handle: int, orderID: Any) -> bool:
    """Cancel a stop order; returns whether the terminal cancelled it."""

def vmSendCmdCancelFrozen(Handle: int) -> None:
    """Release the frozen amounts of an account."""

def vmSendCmdCloseOperation(strategy_name: str, i64Handle: int) -> None:
    """Close the strategy's operation on an account."""

def vmSendCmdSTOrderInfo(handles: Sequence[int], order_ids: Sequence[Any]) -> List[Any]:
    """Orders of the accounts with the given ids."""

def vmSendCmdSTUnFinishedOrderInfo(handles: Sequence[int], order_dates: Sequence[int]) -> List[Any]:
    """Unfinished orders of the accounts."""

def vmSendCmdSTGetOrderInfoByDate(handles: Sequence[int], order_dates: Sequence[int]) -> List[Any]:
    """Orders of the accounts on the given dates (all of today for none)."""

def vmSendCmdSTGetLastOrderInfo(handle: int, targets: Any, order_side: Any, position_effect: Any) -> List[Any]:
    """The last orders of an account on the targets."""

def vmSendCmdSTGetExecutionInfo(handles: Sequence[int], dates: Sequence[int]) -> List[Any]:
    """Executions of the accounts on the given dates."""

def vmSendCmdSTGetLastExecutionInfo(handle: int, target: Any, side: Any, position_effect: Any) -> List[Any]:
    """The last executions of an account on a target."""

def vmSendCmdGetStopOrderInfo(account_handle: int, stop_order_id_s: Any) -> List[Any]:
    """Stop orders of an account."""

def vmSendCmdGetTradeAccountHandle(name: str) -> int:
    """The handle of the account with this name."""

def vmSendCmdSTTradeGetAccountList() -> Any:
    """The trading accounts of the terminal."""

def vmSendCmdIsAccountValid(handle: int) -> bool:
    """Whether the handle names a usable account."""

def vmSendCmdGetAccountCash(handles: Sequence[int]) -> List[Any]:
    """Cash records of the accounts."""

def vmSendCmdGetAccountTargetGrossPosition(handles: Sequence[int], targets: _Targets) -> List[Any]:
    """Position records of the accounts on the targets."""

def vmSendCmdGetAccountConfig(strategyName: str, handle: int) -> Any:
    """The strategy's configuration of an account."""

def vmSendCmdSetAccountConfigTo(strategyName: str, handle: int, target_configs: Iterable[Mapping[str, Any]]) -> None:
    """Set the strategy's per-target configuration of an account."""

def vmSendCmdGetAccountInfo(handleList: Iterable[int]) -> List[Any]:
    """Account records of the handles, each stamped with Handle64, in the order of handleList."""

def vmSendCmdSTGetAccountPosition(Handle: int, Market: str, Code: str, LongShort: Any = None) -> Tuple[Any, Any, Any]:
    """Position of one security in an account, as (Position, Frozen, AvgPrice)."""

def vmSendCmdGetAccountPositionAndCash(handles: Sequence[int], targets: _Targets) -> Tuple[List[Any], List[Any]]:
    """Cash and position records of the accounts, as (cash records, position records)."""


# Task, notification and subscription commands: task control, link upkeep,
# the terminal's log, version check, subscriptions.
def vmSendCmdCreateTaskBackTest(HandleList: Sequence[int], TargetList: _Targets, params: Mapping[str, Any]) -> np.int64:
    """Create a back-test task; returns its id as numpy int64."""

def vmSendCmdStartTaskBackTest(i64TaskId: _TaskId) -> None:
    """Start a back-test task (nothing for a NaN id)."""

def vmSendCmdStartTaskRealTrade(i64TaskId: _TaskId) -> None:
    """Start a real-trade task (nothing for a NaN id)."""

def vmSendCmdStopTaskRealTrade(i64TaskID: _TaskId, strategy_name: str, handles: Sequence[int]) -> None:
    """Stop a real-trade task."""

def vmSendCmdCreateTaskRunFactor(params: Mapping[str, Any]) -> np.int64:
    """Create a factor-run task; returns its id as numpy int64."""

def vmSendCmdStartTaskRunFactor(i64TaskId: _TaskId) -> None:
    """Start a factor-run task (nothing for a NaN id)."""

def vmSendCmdStopTaskRunFactor(i64TaskId: _TaskId, record_dir: str) -> None:
    """Stop a factor-run task (nothing for a NaN id)."""

def vmSendCmdGetBackTestPerformance(i64TaskID: _TaskId) -> List[Any]:
    """Performance records of a back test."""

def vmSendCmdKeepActive() -> None:
    """Keep the link to the terminal alive."""

def vmSendCmdRtNotifyReceived() -> None:
    """Acknowledge a real-time data notification."""

def vmSendCmdAccountNotifyReceived() -> None:
    """Acknowledge an account notification."""

def vmSendCmdRiseError(i64TaskId: _TaskId, e: object) -> None:
    """Report an error of a task to the terminal (nothing for a NaN id)."""

def vmSendCmdTest(cmd_name: str, params: List[Any]) -> List[Any]:
    """Run a test command on the terminal."""

def vmSendCmdSubscribeAccount(accountID: Any) -> None:
    """Subscribe to an account's notifications."""

def vmSendCmdUnsubscribeAccount(accountIDs: Any) -> None:
    """Unsubscribe from accounts' notifications."""

def vmSendCmdSubscribeIns(marketCode: _Targets, kFreq: str) -> None:
    """Subscribe to bars of the targets at a frequency."""

def vmSendCmdUnsubscribeIns(marketCode: _Targets, kFreq: str) -> None:
    """Unsubscribe from bars of the targets at a frequency."""

def vmSendCmdSubscribeInstrument(MarketCodes: _Targets) -> None:
    """Subscribe to real-time data of the targets."""

def vmSendCmdUnsubscribeInstrument() -> None:
    """Unsubscribe from all real-time data."""

def vmSendCmdUnsubscribeFactor(marketCode: _Targets, FactorName: str) -> None:
    """Unsubscribe from a factor of the targets."""

def vmSendCmdCheckSubscribeNum(Frequency: Any, SubscribeNum: int) -> None:
    """Check a subscription count with the terminal (only the status matters)."""

def vmSendCmdStopTaskBackTest(
    i64TaskId: _TaskId, targetList: _Targets, positionList: Iterable[Mapping[str, Any]], params: Mapping[str, Any]
) -> None:
    """Stop a back-test task with its final targets and positions (nothing for a NaN id)."""

def vmSendCmdCreateTaskRealTrade(params: Mapping[str, Any]) -> np.int64:
    """Create a real-trade task from params (HandleList, TargetList, ...); returns its id as numpy int64."""

def vmSendCmdPutLog(i64TaskId: _TaskId, log: str) -> None:
    """Write a line to the terminal's log and the framework log (nothing for a NaN id)."""

def vmSendCmdSubscribeFactor(MarketCodes: _Targets, Factors: Sequence[str]) -> None:
    """Subscribe to factors of the targets; nothing is sent when either list is empty."""

def vmSendCmdToolboxCheck(wstrLanguage: str, wstrToolboxVer: str, listSupportedCore: Sequence[str]) -> Any:
    """Check that this framework version suits the terminal; returns the terminal's answer."""


# Factor, fundamental and risk-model commands: result files and field information.
def vmSendCmdGetFactor(FactorName: str, targetList: _Targets, BeginDate: int, EndDate: int, NDaysBefore: int) -> str:
    """Values of one factor; returns the MAT file path."""

def vmSendCmdGetFactorMultiFilePath(
    list_factor_name: Sequence[str], TargetList: _Targets, BeginDate: int, EndDate: int, DaysBefore: int = 0
) -> List[str]:
    """Values of several factors; returns the MAT file paths."""

def vmSendCmdAskFactor(ItemName: str, TargetList: _Targets, dateBegin: int, dateEnd: int, dateBefore: int) -> None:
    """Ask the terminal to prepare factor data; its answer is not looked at."""

def vmSendCmdGetFundamentalSet(
    targetList: _Targets, CatName: str, ItemList: Sequence[str], BeginDate: int, EndDate: int
) -> _MatVariables:
    """A fundamental data set of the targets, loaded from the terminal's MAT file."""

def vmSendCmdGetFdmt(lang: str, func: str, params_str: str) -> str:
    """Run a fundamental query function; returns the MAT file path."""

def vmSendCmdFdmtFieldInfo(fdmt_fields: List[str]) -> None:
    """Ask for the description of fundamental fields (shown as the answer's message)."""

def vmSendCmdIsMTFundmental(CatName: str, ItemName: str) -> bool:
    """Whether a fundamental item is served by the terminal's fundamental tables."""

def vmSendCmdGetRiskModel(lang: str, func: str, params_str: str) -> str:
    """Run a risk-model query function; returns the MAT file path."""

def vmSendCmdRiskModelFieldInfo(fdmt_fields: List[str]) -> None:
    """Ask for the description of risk-model fields (shown as the answer's message)."""
