// Asking the terminal to prepare factor data, announced in its log.
#include "factors.hpp"

namespace factors {
namespace {

Name n_text{"text"};
Name n_LOG_PREPARE_FACTORDATA{"LOG_PREPARE_FACTORDATA"};
Name n_format{"format"};
Name n_Market{"Market"};
Name n_Code{"Code"};
Name n_vmcmd{"vmcmd"};
Name n_vmSendCmdPutLog{"vmSendCmdPutLog"};
Name n_vmSendCmdAskFactor{"vmSendCmdAskFactor"};
Name n_cnt{"cnt"};
Name n_vr{"vr"};
Name n_g_VelmoroModeTaskId{"g_VelmoroModeTaskId"};
const vm::Kw kw_log{"ITEMNAME", "MARKET", "CODE", "MARKET2", "CODE2"};

// The log line names the first and the last target; an empty list fails at
// targets[0] before anything is sent.
Ref preparation_log(PyObject* item_name, PyObject* targets) {
    Ref format = vm::attr(vm::attr(vm::global(n_text), n_LOG_PREPARE_FACTORDATA), n_format);
    Ref first = vm::item(targets, Py_ssize_t{0});
    Ref market = vm::item(first, n_Market);
    Ref code = vm::item(first, n_Code);
    Ref last = vm::item(targets, Py_ssize_t{-1});
    Ref market2 = vm::item(last, n_Market);
    Ref code2 = vm::item(last, n_Code);
    return vm::call(format, kw_log, item_name, market, code, market2, code2);
}

}  // namespace

Ref ask_factor_by_targets(Args a) {
    Ref log = preparation_log(a[0], a[1]);
    Ref put_log = vm::attr(vm::global(n_vmcmd), n_vmSendCmdPutLog);
    Ref task_id = vm::attr(vm::attr(vm::global(n_cnt), n_vr), n_g_VelmoroModeTaskId);
    vm::call(put_log, task_id, log);
    Ref ask = vm::attr(vm::global(n_vmcmd), n_vmSendCmdAskFactor);
    vm::call(ask, a[0], a[1], a[2], a[3], a[4]);
    return vm::none();
}

}  // namespace factors
