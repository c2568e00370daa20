// The command channel: one function per terminal command.
#include "frame.hpp"

#include "vm/heaptype.hpp"

#include <structmember.h>

namespace vmcmd {
namespace {

// The members are exposed as object slots; an empty Ref is a NULL slot
// (tp_alloc zero-fills the instance).
struct GeneralResObject {
    PyObject_HEAD
    vm::Ref errLevel;
    vm::Ref errCode;
    vm::Ref errInfo;
};
static_assert(sizeof(vm::Ref) == sizeof(PyObject*), "slots are exposed as object members");

PyMemberDef kGeneralResMembers[] = {
    {"errLevel", T_OBJECT_EX, offsetof(GeneralResObject, errLevel), 0,
     "Level of the answer: 0 no error, 1 error, 2 warning, 3 information."},
    {"errCode", T_OBJECT_EX, offsetof(GeneralResObject, errCode), 0, "The terminal's error code."},
    {"errInfo", T_OBJECT_EX, offsetof(GeneralResObject, errInfo), 0,
     "The terminal's error text; empty when there is nothing to report."},
    {nullptr, 0, 0, 0, nullptr},
};

int general_res_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* o = reinterpret_cast<GeneralResObject*>(self);
    Py_VISIT(o->errLevel.get());
    Py_VISIT(o->errCode.get());
    Py_VISIT(o->errInfo.get());
    return vm::visit_type(self, visit, arg);
}

void general_res_release(PyObject* self) {
    auto* o = reinterpret_cast<GeneralResObject*>(self);
    o->errLevel = vm::Ref();
    o->errCode = vm::Ref();
    o->errInfo = vm::Ref();
}

int general_res_clear(PyObject* self) {
    general_res_release(self);
    return 0;
}

PyType_Slot kGeneralResSlots[] = {
    {Py_tp_doc, const_cast<char*>("Status record of a terminal answer: errLevel, errCode, errInfo.")},
    {Py_tp_members, kGeneralResMembers},
    {Py_tp_traverse, reinterpret_cast<void*>(&general_res_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&general_res_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&vm::gc_dealloc<general_res_release>)},
    {0, nullptr},
};

PyType_Spec kGeneralResSpec = {"velmoro.tframe.comm.vmcmd.GeneralRes", sizeof(GeneralResObject), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, kGeneralResSlots};

const vm::FunctionSpec kFrameFunctions[] = {
    VM_FUNCTION(vmReturnChecker, "func_name, result",
                "Check the status record of an answer: raise VmReturnError at ERROR level, show WARNING and INFO "
                "texts to the user."),
};

void exec(vm::Module& m) {
    m.import_as("os", "os");
    m.import_as("numpy", "np");
    m.from_import("math", {"isnan"});
    m.from_import("velmoro.tframe.ufuncs", {"todotdict"});
    m.from_import("velmoro.tframe.language", {"text"});
    m.from_import("velmoro.tframe.utils.exceptions", {"VmReturnError", "check_vm_return_error"});
    m.from_import("velmoro.tframe.utils.utilfunc", {"load_mat", "run_ignore_exception"});
    m.from_import("velmoro.tframe.utils.datetimefunc", {"mft_to_str_format"});
    m.from_import("velmoro.tframe.utils.logger", {"user_warning", "user_info", "write_log"});
    m.from_import("velmoro.tframe.comm", {"vmserial", "recv_serial"});

    m.set("ERROR_LEVEL_NO_ERROR", vm::integer(0));
    m.set("ERROR_LEVEL_ERROR", vm::integer(1));
    m.set("ERROR_LEVEL_WARNING", vm::integer(2));
    m.set("ERROR_LEVEL_INFO", vm::integer(3));

    vm::make_type(m, &kGeneralResSpec, nullptr, {"errLevel", "errCode", "errInfo"});
    m.add(kFrameFunctions);

    register_market(m);
    register_calendar(m);
    register_trading(m);
    register_tasks(m);
    register_factor(m);
}

}  // namespace
}  // namespace vmcmd

VM_MODULE(vmcmd,
          "Command channel to the host trading terminal: one function per terminal command.\n\n"
          "Each vmSendCmd<Command> sends one request through vmserial and, where the command has an answer, "
          "takes it from recv_serial. Checked commands pass the answer's status to vmReturnChecker first: an "
          "ERROR level raises VmReturnError, a WARNING or INFO text is shown to the user. Families: market data, "
          "calendar and reference, trading and accounts, tasks and subscriptions, factor, fundamental and "
          "risk-model data.",
          vmcmd::exec)
