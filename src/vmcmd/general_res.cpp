// GeneralRes, the status record of a terminal answer: three object slots.
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

}  // namespace

void register_general_res(vm::Module& m) {
    vm::make_type(m, &kGeneralResSpec, nullptr, {"errLevel", "errCode", "errInfo"});
}

}  // namespace vmcmd
