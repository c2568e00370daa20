// Names of the factor queries.
// Every interned name and keyword tuple of the module, listed once: a name
// listed twice fails the build.
#pragma once

#include "vm/names.hpp"

#define FACTORS_NAMES(X) \
    X(ask_factor_by_targets, "ask_factor_by_targets") \
    X(astype, "astype") \
    X(cnt, "cnt") \
    X(Code, "Code") \
    X(code, "code") \
    X(Date, "Date") \
    X(date, "date") \
    X(dot, ".") \
    X(DotDict, "DotDict") \
    X(float, "float") \
    X(format, "format") \
    X(g_VelmoroModeTaskId, "g_VelmoroModeTaskId") \
    X(get_factor_by_factor, "get_factor_by_factor") \
    X(load_mat, "load_mat") \
    X(LOG_PREPARE_FACTORDATA, "LOG_PREPARE_FACTORDATA") \
    X(Market, "Market") \
    X(ndim, "ndim") \
    X(mft_to_datetime, "mft_to_datetime") \
    X(OrderedDict, "OrderedDict") \
    X(prefix, "bp_") \
    X(ravel, "ravel") \
    X(startswith, "startswith") \
    X(text, "text") \
    X(todotmc, "todotmc") \
    X(underscore, "_") \
    X(utils_dt, "utils_dt") \
    X(vmcmd, "vmcmd") \
    X(vmSendCmdAskFactor, "vmSendCmdAskFactor") \
    X(vmSendCmdGetFactor, "vmSendCmdGetFactor") \
    X(vmSendCmdPutLog, "vmSendCmdPutLog") \
    X(vr, "vr")

namespace factors {

FACTORS_NAMES(VM_NAME_DECLARE)
extern const vm::Kw<5> kw_log;

}  // namespace factors
