// velmoro.api.bpfactor._factors: factor values by factor, by code and by day.
#include "factor_file.hpp"
#include "vm/numpy.hpp"

namespace factors {

namespace {

void exec(vm::Module& m) {
    m.from_import("velmoro.tframe.comm", {"vmcmd"});
    m.import_as("velmoro.tframe.runtypesbase", "cnt");
    m.from_import("velmoro.tframe.language.chinese", {"text"});
    m.from_import("velmoro.tframe.utils.utilcls", {"DotDict", "OrderedDict"});
    m.from_import("velmoro.tframe.ufuncs", {"todotmc"});
    m.from_import("velmoro.tframe.utils.utilfunc", {"load_mat"});
    m.import_as("velmoro.tframe.utils.datetimefunc", "utils_dt");
    // ndarrays are flattened and read through numpy's C API
    vm::numpy::import();
    make_zero_indexes();
    register_ask(m);
    register_queries(m);
}

}  // namespace
}  // namespace factors

VM_MODULE(_factors, "Factor queries: factor values by factor, by code and by day, prepared by the terminal.",
          factors::exec)
