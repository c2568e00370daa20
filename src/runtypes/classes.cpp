// What the classes of the module share: constructors without arguments and
// classes derived from the framework's base classes.
#include "runtypes.hpp"

namespace runtypes {
namespace {

vm::Name n___init__{"__init__"};


}  // namespace

void init_base(PyObject* cls, PyObject* self) {
    vm::Ref base = vm::call(reinterpret_cast<PyObject*>(&PySuper_Type), cls, self);
    vm::call(vm::attr(base, n___init__).get());
}

PyObject* derive_class(vm::Module& m, const char* name, const vm::Name& base, const char* doc,
                       const vm::FunctionSpec& init) {
    vm::Ref bases = vm::new_tuple({vm::global(base).get()});
    vm::Ref cls = vm::make_class(m, name, bases, doc);
    vm::add_methods(cls, &init, 1);
    return cls.release();
}

bool no_arguments(const char* cls, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) == 0 && (!kwargs || PyDict_GET_SIZE(kwargs) == 0)) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments", cls);
    return false;
}

}  // namespace runtypes
