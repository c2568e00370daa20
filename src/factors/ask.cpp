// Asking the terminal to prepare factor data, announced in its log.
#include "factors.hpp"

namespace factors {
namespace {

// The log line names the first and the last target, each item read as
// Python reads targets[0]["Market"], targets[0]["Code"], ...: an empty list
// fails at targets[0] before anything is sent.
Ref preparation_log(PyObject* item_name, PyObject* targets) {
    return vm::global(n_text).attr(n_LOG_PREPARE_FACTORDATA).attr(n_format).call(
        kw_log, {item_name, vm::item(targets, Py_ssize_t{0}).item(n_Market),
                 vm::item(targets, Py_ssize_t{0}).item(n_Code), vm::item(targets, Py_ssize_t{-1}).item(n_Market),
                 vm::item(targets, Py_ssize_t{-1}).item(n_Code)});
}

}  // namespace

Ref ask_factor_by_targets(Params<5> p) {
    auto [item_name, targets, date_begin, date_end, date_before] = p.take<5>();
    Ref log = preparation_log(item_name, targets);
    vm::global(n_vmcmd).attr(n_vmSendCmdPutLog).call(
        {vm::global(n_cnt).attr(n_vr).attr(n_g_VelmoroModeTaskId), log});
    vm::global(n_vmcmd).attr(n_vmSendCmdAskFactor).call({item_name, targets, date_begin, date_end, date_before});
    return vm::none();
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(ask_factor_by_targets, "item_name: str, targets: _Targets, date_begin: int, date_end: int, "
                                       "date_before: int = 0 -> None",
                "Ask the terminal to prepare one factor (or item) for the targets, announcing it in the terminal's "
                "log.\n\n"
                "Parameters\n"
                "  item_name: the factor's (or item's) name, text.\n"
                "  targets: the securities, a non-empty list of {\"Market\": ..., \"Code\": ...};\n"
                "      the log line names the first and the last.\n"
                "  date_begin, date_end: the first and the last trading day, YYYYMMDD.\n"
                "  date_before: trading days before date_begin also prepared (0: none).\n\n"
                "Returns\n"
                "  None; the terminal's refusal raises VmReturnError."),
};

}  // namespace

void register_ask(vm::Module& m) { m.add(kFunctions); }

}  // namespace factors
