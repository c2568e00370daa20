#include "vm/internals.hpp"

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#endif

namespace vm {
namespace internals {

Py_ssize_t plain_slot_offset(PyObject* descr, PyObject* o) {
#if !VM_TYPE_TAGS
    (void)descr;
    (void)o;
    return 0;
#else
    if (Py_TYPE(descr) != &PyMemberDescr_Type) return 0;
    const PyMemberDef* m = reinterpret_cast<PyMemberDescrObject*>(descr)->d_member;
#if PY_VERSION_HEX >= 0x030C0000
    const int kinds = Py_AUDIT_READ | Py_RELATIVE_OFFSET;
    const bool object_ex = m->type == Py_T_OBJECT_EX;
#else
    const int kinds = READ_RESTRICTED;
    const bool object_ex = m->type == T_OBJECT_EX;
#endif
    // the descriptor may come from another class: it reads only its own instances
    if (!object_ex || (m->flags & kinds) || !PyObject_TypeCheck(o, PyDescr_TYPE(descr))) return 0;
    return m->offset;
#endif
}

}  // namespace internals
}  // namespace vm
