// Garbage-collector hooks shared by native heap types: the type reference
// their instances hold, and deallocation around a type's own clear function.
#pragma once

#include "vm/ref.hpp"

namespace vm {

// Visits the instance's reference to its heap type (owned since 3.9).
inline int visit_type(PyObject* self, visitproc visit, void* arg) {
#if PY_VERSION_HEX >= 0x03090000
    Py_VISIT(Py_TYPE(self));
#else
    (void)self;
    (void)visit;
    (void)arg;
#endif
    return 0;
}

// tp_dealloc of a GC heap type whose fields `Release` drops.
template <void (*Release)(PyObject*)>
void gc_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Release(self);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace vm
