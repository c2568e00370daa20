// Names of the factor queries.
// Every interned name and keyword tuple of the module, declared once: a name
// declared twice fails the build.
#pragma once

#include "vm/names.hpp"

namespace factors {

inline vm::Name n_ask_factor_by_targets{"ask_factor_by_targets"};
inline vm::Name n_astype{"astype"};
inline vm::Name n_cnt{"cnt"};
inline vm::Name n_Code{"Code"};
inline vm::Name n_code{"code"};
inline vm::Name n_Date{"Date"};
inline vm::Name n_date{"date"};
inline vm::Name n_dot{"."};
inline vm::Name n_DotDict{"DotDict"};
inline vm::Name n_float{"float"};
inline vm::Name n_format{"format"};
inline vm::Name n_g_VelmoroModeTaskId{"g_VelmoroModeTaskId"};
inline vm::Name n_get_factor_by_factor{"get_factor_by_factor"};
inline vm::Name n_load_mat{"load_mat"};
inline vm::Name n_LOG_PREPARE_FACTORDATA{"LOG_PREPARE_FACTORDATA"};
inline vm::Name n_Market{"Market"};
inline vm::Name n_ndim{"ndim"};
inline vm::Name n_mft_to_datetime{"mft_to_datetime"};
inline vm::Name n_OrderedDict{"OrderedDict"};
inline vm::Name n_prefix{"bp_"};
inline vm::Name n_ravel{"ravel"};
inline vm::Name n_startswith{"startswith"};
inline vm::Name n_text{"text"};
inline vm::Name n_todotmc{"todotmc"};
inline vm::Name n_underscore{"_"};
inline vm::Name n_utils_dt{"utils_dt"};
inline vm::Name n_vmcmd{"vmcmd"};
inline vm::Name n_vmSendCmdAskFactor{"vmSendCmdAskFactor"};
inline vm::Name n_vmSendCmdGetFactor{"vmSendCmdGetFactor"};
inline vm::Name n_vmSendCmdPutLog{"vmSendCmdPutLog"};
inline vm::Name n_vr{"vr"};

inline const vm::Kw kw_log{"ITEMNAME", "MARKET", "CODE", "MARKET2", "CODE2"};

}  // namespace factors
