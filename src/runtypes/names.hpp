// Every interned name of the run-time types module, declared once.
#pragma once

#include "vm/names.hpp"

namespace runtypes {

inline vm::Name kAccounts{"g_VelmoroAccounts"};
inline vm::Name kAppendFreshPosition{"g_VelmoroAppendFreshPosition"};
inline vm::Name kArray{"array"};
inline vm::Name kBeginDate{"BeginDate"};
inline vm::Name kCache{"g_VelmoroCache"};
inline vm::Name kCode{"Code"};
inline vm::Name kCountNonzero{"count_nonzero"};
inline vm::Name kDailyCloseTime{"DailyCloseTime"};
inline vm::Name kDateFormat{"%Y%m%d"};
inline vm::Name kDatetime{"datetime"};
inline vm::Name kDatetimeToInt{"datetime_to_int"};
inline vm::Name kDatetimeToMft{"datetime_to_mft"};
inline vm::Name kDay{"day"};
inline vm::Name kDayFreqTransEndTime{"g_VelmoroDayFreqTransEndTime"};
inline vm::Name kDayItem{"Day"};
inline vm::Name kDayPosRow{"KMatrixPos_DayPos"};
inline vm::Name kDot{"dot"};
inline vm::Name kErrorNonTrading{"ERROR_SET_NONTRADING_PERIOD"};
inline vm::Name kFlag{"flag"};
inline vm::Name kFlatnonzero{"flatnonzero"};
inline vm::Name kFormat{"format"};
inline vm::Name kFreqDay{"KFreq_Day"};
inline vm::Name kFreqGt1Day{"f_freq_gt_1day"};
inline vm::Name kFreqMonth{"KFreq_Month"};
inline vm::Name kFrequencyToInt{"frequency_to_int"};
inline vm::Name kFreqWeek{"KFreq_Week"};
inline vm::Name kFreqYear{"KFreq_Year"};
inline vm::Name kGet{"get"};
inline vm::Name kGetCache{"get_cache"};
inline vm::Name kGetMainContract{"_RealTradeEnv__get_main_contract"};
inline vm::Name kGetSpecificYearEnd{"get_specific_year_end"};
inline vm::Name kGetTradingTime{"get_trading_time"};
inline vm::Name kGv{"gv"};
inline vm::Name kHandle{"handle"};
inline vm::Name kHandleIdx{"handle_idx"};
inline vm::Name kHandleToIdx{"account_handle_to_idx"};
inline vm::Name kHour{"hour"};
inline vm::Name kIdxToHandle{"account_idx_to_handle"};
inline vm::Name kDunderInit{"__init__"};
inline vm::Name kInputInfo{"g_VelmoroInputInfo"};
inline vm::Name kInvalidParamError{"InvalidParamError"};
inline vm::Name kIsFresh{"is_fresh"};
inline vm::Name kKDataList{"g_VelmoroKDataList"};
inline vm::Name kKFreNum{"KFreNum"};
inline vm::Name kKFrequency{"KFrequency"};
inline vm::Name kKFrequencyI{"KFrequencyI"};
inline vm::Name kLongMargin{"LongMargin"};
inline vm::Name kLoopStatus{"LoopStatus"};
inline vm::Name kMarginRate{"MarginRate"};
inline vm::Name kMarket{"Market"};
inline vm::Name kMatrix{"Matrix"};
inline vm::Name kMatrixHasGt1Day{"matrix_has_gt_1day"};
inline vm::Name kMftToDatetime{"mft_to_datetime"};
inline vm::Name kMin{"min"};
inline vm::Name kMinute{"minute"};
inline vm::Name kMonth{"month"};
inline vm::Name kNan{"nan"};
inline vm::Name kNextNDay{"next_n_day"};
inline vm::Name kNFreqRealFresh{"g_VelmoroNFreqRealFresh"};
inline vm::Name kNFreqRealFreshOption{"g_VelmoroNFreqRealFreshOption"};
inline vm::Name kNp{"np"};
inline vm::Name kOrderId{"order_id"};
inline vm::Name kOrders{"g_VMOrders"};
inline vm::Name kRealTargetList{"RealTargetList"};
inline vm::Name kSaveFreshPosition{"g_VelmoroRealTradeSaveFreshPosition"};
inline vm::Name kSecond{"second"};
inline vm::Name kSetCache{"set_cache"};
inline vm::Name kSettingInfo{"g_VelmoroSettingInfo"};
inline vm::Name kShortMargin{"ShortMargin"};
inline vm::Name kStopOrders{"g_VMStopOrders"};
inline vm::Name kSystemBaseEnv{"SystemBaseEnv"};
inline vm::Name kSystemBaseVar{"SystemBaseVar"};
inline vm::Name kTargetIns{"TargetIns"};
inline vm::Name kTargetList{"TargetList"};
inline vm::Name kTargetListDot{"TargetListDot"};
inline vm::Name kTargetsInfo{"g_VelmoroTargetsInfo"};
inline vm::Name kText{"text"};
inline vm::Name kTimeLineRow{"KMatrixPos_TimeLine"};
inline vm::Name kTodotmc{"todotmc"};
inline vm::Name kToIntNowDate{"to_int_now_date"};
inline vm::Name kTrades{"g_VMTrades"};
inline vm::Name kUpper{"upper"};
inline vm::Name kUserWarning{"user_warning"};
inline vm::Name kVMOrders{"VMOrders"};
inline vm::Name kVMStopOrders{"VMStopOrders"};
inline vm::Name kVMTrades{"VMTrades"};
inline vm::Name kVr{"vr"};
inline vm::Name kWarnGreatDay{"WARN_FREQUENCY_GREAT_DAY"};
inline vm::Name kYear{"year"};

inline vm::Kw kDayOffset{"day", "in_fmt", "out_fmt"};
inline vm::Kw kFmt{"fmt"};
inline vm::Kw kFrequancy{"FREQUANCY"};

}  // namespace runtypes
