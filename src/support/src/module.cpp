#include "vm/module.hpp"

#include <cstring>
#include <string>

namespace vm {
namespace detail {
extern PyObject* g_module;
extern PyObject* g_dict;
}  // namespace detail

Module::Module(PyObject* module) noexcept
    : module_(module), dict_(PyModule_GetDict(module)), name_(PyModule_GetName(module)) {}

void Module::set(const char* name, PyObject* value) { check(PyDict_SetItemString(dict_, name, value)); }

Ref Module::import_as(const char* dotted, const char* alias) {
    Ref mod = own(PyImport_ImportModule(dotted));
    set(alias, mod.get());
    return mod;
}

void Module::from_import(const char* dotted, std::initializer_list<const char*> names) {
    Ref fromlist = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* n : names) PyTuple_SET_ITEM(fromlist.get(), i++, text(n).release());
    Ref pkg = text(dotted);
    Ref mod = own(PyImport_ImportModuleLevelObject(pkg.get(), dict_, nullptr, fromlist.get(), 0));
    for (const char* n : names) {
        PyObject* v = PyObject_GetAttrString(mod.get(), n);
        if (!v) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise();
            PyErr_Clear();
            raise_format(PyExc_ImportError, "cannot import name '%s' from '%s'", n, dotted);
        }
        Ref value = Ref::steal(v);
        set(n, value.get());
    }
}

void Module::from_import_all(const char* dotted) {
    Ref mod = own(PyImport_ImportModule(dotted));
    Ref all = Ref::steal(PyObject_GetAttrString(mod.get(), "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise();
        PyErr_Clear();
    }
    if (all) {
        for_each(all.get(), [&](PyObject* name) { dict_set(dict_, name, attr(mod.get(), name).get()); });
        return;
    }
    // no __all__: every public name, as a wildcard import binds them
    PyObject* src = PyModule_GetDict(mod.get());
    PyObject* key;
    PyObject* value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(src, &pos, &key, &value)) {
        if (PyUnicode_Check(key) && PyUnicode_READ_CHAR(key, 0) != '_') dict_set(dict_, key, value);
    }
}

namespace {

// The parameters of a constructor signature heading a type's doc
// ("Name(a, b)\n--\n\n" gives "a, b"), or nullptr without one. Read from the
// spec: older interpreters do not publish a heap type's text signature.
const char* constructor_params(const PyType_Spec* spec) {
    static std::string params;
    const char* dot = std::strrchr(spec->name, '.');
    const std::string head = std::string(dot ? dot + 1 : spec->name) + "(";
    for (const PyType_Slot* slot = spec->slots; slot->slot; ++slot) {
        if (slot->slot != Py_tp_doc) continue;
        const std::string doc = static_cast<const char*>(slot->pfunc);
        const size_t end = doc.find(")\n--\n\n");
        if (doc.compare(0, head.size(), head) != 0 || end == std::string::npos) return nullptr;
        params = doc.substr(head.size(), end - head.size());
        if (!params.empty() && params[0] == '$') {  // "$type, /, a" -> "a"
            const size_t slash = params.find('/');
            params = slash == std::string::npos ? std::string() : params.substr(slash + 1);
            params.erase(0, params.find_first_not_of(", "));
        }
        return params.c_str();
    }
    return nullptr;
}

}  // namespace

Ref make_type(Module& m, PyType_Spec* spec, PyObject* base, std::initializer_list<const char*> slots) {
    Ref bases;
    if (base) bases = new_tuple({base});
    Ref type = own(PyType_FromSpecWithBases(spec, bases.get()));
    check(PyObject_SetAttrString(type.get(), "__module__", Ref(text(m.name())).get()));
    if (slots.size()) {
        Ref t = own(PyTuple_New(static_cast<Py_ssize_t>(slots.size())));
        Py_ssize_t i = 0;
        for (const char* s : slots) PyTuple_SET_ITEM(t.get(), i++, text(s).release());
        check(PyObject_SetAttrString(type.get(), "__slots__", t.get()));
    }
    if (const char* params = constructor_params(spec)) ensure_class_signature(type.get(), params);
    const char* dot = std::strrchr(spec->name, '.');
    m.set(dot ? dot + 1 : spec->name, type.get());
    return type;
}

Ref make_class(Module& m, const char* name, PyObject* bases, const char* doc) {
    Ref ns = new_dict();
    dict_set(ns.get(), Ref(text("__module__")).get(), Ref(text(m.name())).get());
    dict_set(ns.get(), Ref(text("__qualname__")).get(), Ref(text(name)).get());
    dict_set(ns.get(), Ref(text("__doc__")).get(), Ref(text(doc)).get());
    // the metaclass of the bases creates it, as a class statement would
    Ref meta = borrow(reinterpret_cast<PyObject*>(Py_TYPE(PyTuple_GET_ITEM(bases, 0))));
    Ref cls = call(meta.get(), Ref(text(name)), bases, ns);
    m.set(name, cls.get());
    return cls;
}

void add_properties(PyObject* type, const PropertySpec* specs, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        auto* def = new PyGetSetDef{specs[i].name, specs[i].get, specs[i].set, specs[i].doc, nullptr};
        Ref descr = own(PyDescr_NewGetSet(reinterpret_cast<PyTypeObject*>(type), def));
        check(PyObject_SetAttrString(type, specs[i].name, descr.get()));
    }
}

namespace detail {

int exec_module(PyObject* module, void (*body)(Module&), bool* done) noexcept {
    if (*done) {
        PyErr_Format(PyExc_ImportError, "module %s is already initialised in this process; it cannot be loaded twice",
                     PyModule_GetName(module));
        return -1;
    }
    return guard_int([&] {
        // the module lives as long as the process: its functions read their
        // globals from this dict
        Py_INCREF(module);
        g_module = module;
        g_dict = PyModule_GetDict(module);
        intern_all();
        Module m(module);
        body(m);
        *done = true;
    });
}

}  // namespace detail
}  // namespace vm
