// Multi-phase module initialisation, imports into the module's globals and
// class creation.
#pragma once

#include "vm/function.hpp"

#include <initializer_list>

namespace vm {

// The module being initialised: imports, constants, classes and functions are
// stored in its __dict__ in the order the exec function creates them.
class Module {
public:
    explicit Module(PyObject* module) noexcept;

    PyObject* object() const noexcept { return module_; }
    PyObject* dict() const noexcept { return dict_; }
    const char* name() const noexcept { return name_; }

    void set(const char* name, PyObject* value);
    // import a.b.c as alias (binds the leaf module)
    Ref import_as(const char* dotted, const char* alias);
    // from a.b import x, y (submodules included, as Python's import does)
    void from_import(const char* dotted, std::initializer_list<const char*> names);
    // from a.b import *
    void from_import_all(const char* dotted);

    template <size_t N>
    void add(const FunctionSpec (&specs)[N]) {
        add_functions(module_, specs, N);
    }

private:
    PyObject* module_;
    PyObject* dict_;
    const char* name_;
};

// Native type from a spec (name given without the module path); its
// __module__ is set to this module. `slots` lists names shown as __slots__.
Ref make_type(Module& m, PyType_Spec* spec, PyObject* base = nullptr,
              std::initializer_list<const char*> slots = {});

// A class derived from Python bases, created as `class name(bases): ...`
// would create it; methods are then attached with add_methods.
Ref make_class(Module& m, const char* name, PyObject* bases, const char* doc);

// Properties backed by C++ getters (and setters) on any class.
using Getter = Ref (*)(PyObject* self);
using Setter = void (*)(PyObject* self, PyObject* value);
struct PropertySpec {
    const char* name;
    getter get;
    setter set;
    const char* doc;
};
namespace detail {
template <Getter G>
PyObject* get_entry(PyObject* self, void*) {
    return guard([&] { return G(self); });
}
template <Setter S>
int set_entry(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
        return -1;
    }
    return guard_int([&] { S(self, value); });
}
}  // namespace detail
#define VM_GETTER(fn) &::vm::detail::get_entry<fn>
#define VM_SETTER(fn) &::vm::detail::set_entry<fn>

void add_properties(PyObject* type, const PropertySpec* specs, size_t count);
template <size_t N>
void add_properties(PyObject* type, const PropertySpec (&specs)[N]) {
    add_properties(type, specs, N);
}

namespace detail {
int exec_module(PyObject* module, void (*body)(Module&), bool* done) noexcept;
}

}  // namespace vm

// Defines PyInit_<short_name> for a module whose exec function builds it.
// A second initialisation in one process is refused with ImportError. The
// entry is exported explicitly: everything else of the module stays hidden.
#define VM_MODULE(short_name, doc, exec_fn)                                                   \
    static bool vm_module_done_ = false;                                                      \
    static int vm_module_exec_(PyObject* m) { return ::vm::detail::exec_module(m, exec_fn, &vm_module_done_); } \
    static PyModuleDef_Slot vm_module_slots_[] = {                                            \
        {Py_mod_exec, reinterpret_cast<void*>(&vm_module_exec_)}, {0, nullptr}};              \
    static PyModuleDef vm_module_def_ = {PyModuleDef_HEAD_INIT, #short_name, doc, 0, nullptr, \
                                         vm_module_slots_, nullptr, nullptr, nullptr};        \
    extern "C" __attribute__((visibility("default"))) PyObject* PyInit_##short_name(void) {   \
        return PyModuleDef_Init(&vm_module_def_);                                             \
    }
