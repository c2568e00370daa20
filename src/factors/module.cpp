// velmoro.api.bpfactor._factors: factor values by factor, by code and by day.
#include "factors.hpp"

namespace factors {

PyObject* g_ndarray = nullptr;

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(ask_factor_by_targets, "item_name, targets, date_begin, date_end, date_before=0",
                "Ask the terminal to prepare one factor (or item) for the targets, announcing it in the terminal's "
                "log."),
    VM_FUNCTION(get_factor_by_factor, "factor, targets, begin_date, end_date, day_before=0",
                "One factor for many targets: {\"MARKET.CODE\": flattened series, ..., \"date\": dates}.\n\n"
                "Targets the terminal does not cover have no key."),
    VM_FUNCTION(get_factor_by_code, "factor_list, targets, begin_date, end_date",
                "Many factors for the first target: an ordered dict of \"date\" (date-times), then each factor's "
                "series.\n\nThe dates are the first factor's; a factor that does not cover the target gets None "
                "values; the result is None when the first factor has no dates."),
    VM_FUNCTION(get_factor_by_day, "factor_list, targets, date",
                "Many factors for every target on one day: an ordered dict of \"code\" (target keys), then each "
                "factor's values.\n\nA target a factor does not cover gets None; the result is None when a factor "
                "has no dates."),
};

void exec(vm::Module& m) {
    m.from_import("velmoro.tframe.comm", {"vmcmd"});
    m.import_as("velmoro.tframe.runtypesbase", "cnt");
    m.from_import("velmoro.tframe.language.chinese", {"text"});
    m.from_import("velmoro.tframe.utils.utilcls", {"DotDict", "OrderedDict"});
    m.from_import("velmoro.tframe.ufuncs", {"todotmc"});
    m.from_import("velmoro.tframe.utils.utilfunc", {"load_mat"});
    m.import_as("velmoro.tframe.utils.datetimefunc", "utils_dt");
    // the type only: which values may be flattened lazily
    Ref numpy = vm::own(PyImport_ImportModule("numpy"));
    g_ndarray = vm::own(PyObject_GetAttrString(numpy, "ndarray")).release();
    m.add(kFunctions);
}

}  // namespace
}  // namespace factors

VM_MODULE(_factors, "Factor queries: factor values by factor, by code and by day, prepared by the terminal.",
          factors::exec)
