// LoopStatus: the verdict of one refresh pass (ok, continue, break) with the
// text of its last change.
#include "runtypes.hpp"
#include "vm/nativetype.hpp"

#include <structmember.h>

namespace runtypes {
namespace {

enum Code : int { kOk = 0, kContinue = 1, kBreak = 2 };

struct LoopStatusObject {
    PyObject_HEAD
    int code;
    vm::Ref detail;  // any object; "" at start
};

using Lifetime = vm::NativeType<LoopStatusObject, &LoopStatusObject::detail>;

LoopStatusObject* as_status(PyObject* self) { return reinterpret_cast<LoopStatusObject*>(self); }

// "", the one empty str, without decoding it each time
vm::Name n_no_detail{""};
vm::Ref no_detail() { return vm::borrow(n_no_detail); }

PyObject* status_new(PyTypeObject* type, PyObject*, PyObject*) {
    return vm::guard([&] {
        vm::Ref self = vm::own(type->tp_alloc(type, 0));
        as_status(self.get())->detail = no_detail();
        return self;
    });
}

int status_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!no_arguments("LoopStatus", args, kwargs)) return -1;
    return vm::guard_int([&] {
        as_status(self)->code = kOk;
        as_status(self)->detail = no_detail();
    });
}

template <int C>
vm::Ref is_code(PyObject* self) {
    return vm::boolean(as_status(self)->code == C);
}

// Writing a verdict: None keeps the detail, anything else replaces it.
template <int C>
void set_code(PyObject* self, PyObject* detail) {
    auto* o = as_status(self);
    o->code = C;
    if (!vm::is_none(detail)) o->detail = vm::borrow(detail);
}

vm::Ref get_detail(PyObject* self) {
    const vm::Ref& d = as_status(self)->detail;
    return d ? d : no_detail();
}

PyGetSetDef kStatusProperties[] = {
    {"op_ok", VM_GETTER(is_code<kOk>), VM_SETTER(set_code<kOk>),
     "True while the verdict is ok; assigning sets ok.\n\nAn assigned detail other than None replaces the text.",
     nullptr},
    {"op_continue", VM_GETTER(is_code<kContinue>), VM_SETTER(set_code<kContinue>),
     "True while the verdict is continue; assigning sets continue.\n\nAn assigned detail other than None replaces the "
     "text.",
     nullptr},
    {"op_break", VM_GETTER(is_code<kBreak>), VM_SETTER(set_code<kBreak>),
     "True while the verdict is break; assigning sets break.\n\nAn assigned detail other than None replaces the "
     "text.",
     nullptr},
    {"detail", VM_GETTER(get_detail), nullptr, "Text of the last verdict change (read-only).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef kStatusMembers[] = {
    {"_code", T_INT, offsetof(LoopStatusObject, code), READONLY, "Status code: 0 ok, 1 continue, 2 break."},
    {"_detail", T_OBJECT, offsetof(LoopStatusObject, detail), READONLY, "Text of the last verdict change."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot kStatusSlots[] = {
    {Py_tp_doc, const_cast<char*>("LoopStatus()\n--\n\n"
                                  "Verdict of one refresh pass: ok, continue or break, with the text of its last "
                                  "change.\n\nContinue cuts the rest of the pass quietly, break cuts it with a "
                                  "warning; neither ends the loop.")},
    {Py_tp_new, reinterpret_cast<void*>(&status_new)},
    {Py_tp_init, reinterpret_cast<void*>(&status_init)},
    {Py_tp_getset, kStatusProperties},
    {Py_tp_members, kStatusMembers},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
    {0, nullptr},
};

PyType_Spec kStatusSpec = {"velmoro.realtrade.runtypes.LoopStatus", sizeof(LoopStatusObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, kStatusSlots};

PyTypeObject* status_type = nullptr;

}  // namespace

vm::Ref new_loop_status(PyObject* cls) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    // the class as built here: what its __new__ and __init__ would do, without
    // the argument tuple of a generic class call
    if (type == status_type && type->tp_new == status_new && type->tp_init == status_init) {
        vm::Ref self = vm::own(type->tp_alloc(type, 0));
        as_status(self.get())->code = kOk;
        as_status(self.get())->detail = no_detail();
        return self;
    }
    return vm::call(cls);
}

void register_loop_status(vm::Module& m) {
    status_type = reinterpret_cast<PyTypeObject*>(vm::make_type(m, &kStatusSpec).get());
}

}  // namespace runtypes
