// Native heap types whose instances own Python objects: a struct that starts
// with PyObject_HEAD and holds its objects in vm::Ref members. The type's
// traverse, clear and dealloc come from the member list:
//
//     using Lifetime = vm::NativeType<StatusObject, &StatusObject::detail>;
//     PyType_Slot slots[] = {..., VM_NATIVE_TYPE_SLOTS(Lifetime), {0, nullptr}};
//
// One lifetime for every such type: tp_alloc zero-fills an instance, and a
// zeroed Ref is an empty one, so members start empty whoever allocates the
// instance (the type, object.__new__, a subclass); they are only assigned,
// and clear and dealloc empty them again.
#pragma once

#include "vm/ref.hpp"

#include <type_traits>

namespace vm {

template <class T, Ref T::*... Members>
struct NativeType {
    static_assert(std::is_standard_layout_v<T>, "an instance is PyObject_HEAD followed by its members");
    static_assert(sizeof(Ref) == sizeof(PyObject*), "a zero-filled Ref is an empty one");

    // Visits every member, then (since 3.9, where instances own it) the type.
    static int traverse(PyObject* self, visitproc visit, void* arg) {
        [[maybe_unused]] T* o = reinterpret_cast<T*>(self);  // unused by a type without members
        int rc = 0;
        ((rc = rc ? rc : visit_member((o->*Members).get(), visit, arg)), ...);
        if (rc) return rc;
#if PY_VERSION_HEX >= 0x03090000
        Py_VISIT(Py_TYPE(self));
#endif
        return 0;
    }

    // Empties every member; each is emptied before its object is released,
    // so code that the release runs sees the instance already cleared.
    static int clear(PyObject* self) {
        [[maybe_unused]] T* o = reinterpret_cast<T*>(self);  // unused by a type without members
        ((o->*Members = Ref()), ...);
        return 0;
    }

    static void dealloc(PyObject* self) {
        PyTypeObject* type = Py_TYPE(self);
        PyObject_GC_UnTrack(self);
        clear(self);
        type->tp_free(self);
        Py_DECREF(type);  // heap types: every instance holds its type
    }

private:
    static int visit_member(PyObject* member, visitproc visit, void* arg) {
        return member ? visit(member, arg) : 0;
    }
};

}  // namespace vm

// The traverse, clear and dealloc slots of a NativeType, for a PyType_Slot list.
#define VM_NATIVE_TYPE_SLOTS(Lifetime)                                  \
    {Py_tp_traverse, reinterpret_cast<void*>(&Lifetime::traverse)},     \
        {Py_tp_clear, reinterpret_cast<void*>(&Lifetime::clear)},       \
        {Py_tp_dealloc, reinterpret_cast<void*>(&Lifetime::dealloc)}
