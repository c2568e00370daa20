// The interned names that several files of the run-time types module use, each
// declared once here; a name that one file alone uses is declared in that file.
#pragma once

#include "vm/names.hpp"

namespace runtypes {

inline vm::Name n_date_format{"%Y%m%d"};
inline vm::Name n_get{"get"};
inline vm::Name n_gv{"gv"};
inline vm::Name n_g_VelmoroInputInfo{"g_VelmoroInputInfo"};
inline vm::Name n_KFrequency{"KFrequency"};
inline vm::Name n_KFrequencyI{"KFrequencyI"};
inline vm::Name n_mft_to_datetime{"mft_to_datetime"};
inline vm::Name n_np{"np"};
inline vm::Name n_g_VMOrders{"g_VMOrders"};
inline vm::Name n_g_VelmoroSettingInfo{"g_VelmoroSettingInfo"};
inline vm::Name n_g_VMStopOrders{"g_VMStopOrders"};
inline vm::Name n_vr{"vr"};
inline vm::Name n_year{"year"};

inline vm::Kw kw_fmt{"fmt"};

}  // namespace runtypes
