// The interned names that several files of the run-time types module use, each
// declared once here; a name that one file alone uses is declared in that file.
#pragma once

#include "vm/names.hpp"

namespace runtypes {

inline vm::Name kDateFormat{"%Y%m%d"};
inline vm::Name kGet{"get"};
inline vm::Name kGv{"gv"};
inline vm::Name kInputInfo{"g_VelmoroInputInfo"};
inline vm::Name kKFrequency{"KFrequency"};
inline vm::Name kKFrequencyI{"KFrequencyI"};
inline vm::Name kMftToDatetime{"mft_to_datetime"};
inline vm::Name kNp{"np"};
inline vm::Name kOrders{"g_VMOrders"};
inline vm::Name kSettingInfo{"g_VelmoroSettingInfo"};
inline vm::Name kStopOrders{"g_VMStopOrders"};
inline vm::Name kVr{"vr"};
inline vm::Name kYear{"year"};

inline vm::Kw kFmt{"fmt"};

}  // namespace runtypes
