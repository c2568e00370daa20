// GeneralRes, the status record of a terminal answer: three object slots.
#include "frame.hpp"

#include "vm/nativetype.hpp"

#include <structmember.h>

namespace vmcmd {
namespace {

// The members are exposed as object slots; an empty Ref is a NULL slot.
struct GeneralResObject {
    PyObject_HEAD
    vm::Ref errLevel;
    vm::Ref errCode;
    vm::Ref errInfo;
};
using Lifetime = vm::NativeType<GeneralResObject, &GeneralResObject::errLevel, &GeneralResObject::errCode,
                                &GeneralResObject::errInfo>;

PyMemberDef kGeneralResMembers[] = {
    {"errLevel", T_OBJECT_EX, offsetof(GeneralResObject, errLevel), 0,
     "Level of the answer: 0 no error, 1 error, 2 warning, 3 information."},
    {"errCode", T_OBJECT_EX, offsetof(GeneralResObject, errCode), 0, "The terminal's error code."},
    {"errInfo", T_OBJECT_EX, offsetof(GeneralResObject, errInfo), 0,
     "The terminal's error text; empty when there is nothing to report."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot kGeneralResSlots[] = {
    {Py_tp_doc, const_cast<char*>("Status record of a terminal answer: errLevel, errCode, errInfo.")},
    {Py_tp_members, kGeneralResMembers},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kGeneralResSpec = {"velmoro.tframe.comm.vmcmd.GeneralRes", sizeof(GeneralResObject), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, kGeneralResSlots};

}  // namespace

void register_general_res(vm::Module& m) {
    vm::make_type(m, &kGeneralResSpec, nullptr, {"errLevel", "errCode", "errInfo"});
}

}  // namespace vmcmd
