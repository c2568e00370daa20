// RealRunTimeContext: per-run scratch state of the refresh loop. Its fields
// are instance attributes, kept where a plain class's instance keeps them, so
// that the loop and the framework's refresh calculations replace them, and
// add their own, freely.
#include "runtypes.hpp"
#include "shared_keys.hpp"
#include "vm/nativetype.hpp"
#include "vm/numpy.hpp"

#include <structmember.h>

#include <iterator>
#include <utility>
#include <vector>

namespace runtypes {
namespace {

vm::Name n_array{"array"};
vm::Name n_LoopStatus{"LoopStatus"};

// From 3.13 the interpreter keeps the instance dict, and the fields inline in
// the instance until something asks for the dict, as for a plain class.
#if PY_VERSION_HEX >= 0x030D0000
#define RT_MANAGED_DICT 1
#endif

struct ContextObject {
    PyObject_HEAD
#if !RT_MANAGED_DICT
    vm::Ref dict;
#endif
};

#if RT_MANAGED_DICT
using Lifetime = vm::NativeType<ContextObject>;

int context_traverse(PyObject* self, visitproc visit, void* arg) {
    if (int rc = PyObject_VisitManagedDict(self, visit, arg)) return rc;
    return Lifetime::traverse(self, visit, arg);
}

int context_clear(PyObject* self) {
    PyObject_ClearManagedDict(self);
    return 0;
}

void context_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    PyObject_ClearManagedDict(self);
    Lifetime::dealloc(self);
}
#else
using Lifetime = vm::NativeType<ContextObject, &ContextObject::dict>;
#endif

enum class Init { Array, List, Int0, Float0, EmptyText, False, True, Status };

struct Field {
    vm::Name name;
    Init init;
};

// In the order the constructor sets them.
Field kFields[] = {
    {vm::Name("min_fresh_data"), Init::Array},
    {vm::Name("day_fresh_data"), Init::Array},
    {vm::Name("factor_data"), Init::List},
    {vm::Name("idx_fresh_array"), Init::Array},
    {vm::Name("unfilled_begin_calc_pos"), Init::Array},
    {vm::Name("end_fresh_bar"), Init::Int0},
    {vm::Name("end_fresh_time"), Init::Float0},
    {vm::Name("last_log"), Init::EmptyText},
    {vm::Name("target_list_len"), Init::Int0},
    {vm::Name("factor_list_len"), Init::Int0},
    {vm::Name("refresh_k_data_idx"), Init::Int0},
    {vm::Name("is_tick_freq"), Init::False},
    {vm::Name("is_first_time_do_fresh_loop"), Init::True},
    {vm::Name("pushed_latest_timeline"), Init::Array},
    {vm::Name("loop_status"), Init::Status},
};


// numpy's own module and array(), kept for the process.
PyObject* numpy_module = nullptr;
PyObject* numpy_array = nullptr;

// numpy's array([]) is an empty float64 array reached the long way round (a
// list, then its element types): made here as numpy makes it.
vm::Ref numpy_empty_array() { return vm::numpy::empty(NPY_DOUBLE, 0); }

// Whether np.array([]) of a construction may be made as numpy_empty_array():
// the module's np is numpy itself and its array() numpy's own. Read once for
// all the arrays of a plain construction, where no Python runs between them.
bool numpy_arrays() {
    vm::Ref np = vm::global(n_np);
    return np.get() == numpy_module && vm::attr(np, n_array).get() == numpy_array;
}

// Whether each context gets a new object for the field (arrays, the list,
// the status) rather than the value all share (numbers, text, flags).
bool per_context(Init init) { return init == Init::Array || init == Init::List || init == Init::Status; }

// The value every context shares; empty for a per-context field.
vm::Ref shared(Init init) {
    switch (init) {
    case Init::Int0: return vm::integer(0);
    case Init::Float0: return vm::floating(0.0);
    case Init::EmptyText: return vm::text("");
    case Init::False: return vm::boolean(false);
    case Init::True: return vm::boolean(true);
    case Init::Array: case Init::List: case Init::Status: break;
    }
    return vm::Ref();
}

// A field's new value; `arrays` tells that np.array([]) may take the shortcut.
vm::Ref initial(Init init, bool arrays) {
    switch (init) {
    case Init::Array: return arrays ? numpy_empty_array() : empty_array();
    case Init::List: return vm::new_list();
    case Init::Status: return new_loop_status(vm::global(n_LoopStatus).get());
    default: return shared(init);
    }
}

// The places in kFields of the fields that each context gets a new object for.
std::vector<size_t> own_fields;

PyTypeObject* context_type = nullptr;
// Where the class's instances keep the fields, each with its shared value, or
// None where each context gets its own.
SharedKeys shared_keys;
#if !RT_MANAGED_DICT
// The same as a dict: where a plain construction starts from when the
// interpreter keeps the fields otherwise (kept for the process).
PyObject* field_template = nullptr;
#endif
// The class's version when it last defined none of the field names.
unsigned int checked_version = 0;

bool defines_no_field(PyTypeObject* type) {
    for (const Field& f : kFields)
        if (vm::internals::type_lookup(type, f.name)) return false;
    return true;
}

// A plain new context, whose class nobody changed since, takes its fields
// straight into where its attributes live; a subclass, or a name the class
// now defines, goes through setattr as Python's would. Any change to the
// class gives it a new version, so one unchanged since its last check still
// defines none.
bool stores_directly(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type != context_type || type->tp_setattro != PyObject_GenericSetAttr) return false;
    const unsigned int version = vm::internals::type_version(type);
    if (version != 0 && version == checked_version) return true;
    if (!defines_no_field(type)) return false;
    checked_version = vm::internals::type_version(type);  // the lookups gave the class a version where they could
    return true;
}

// The own fields of a fresh context whose shared ones are in place, each
// stored by put(k, value). Only None is dropped while they fill: no finalizer
// runs between the arrays.
template <class Put>
void fill_own_fields(Put put) {
    const bool arrays = numpy_arrays();
    for (size_t k : own_fields) put(k, initial(kFields[k].init, arrays));
}

// The constructor's body, its arguments checked.
void set_fields(PyObject* self) {
    if (stores_directly(self)) {
        if (PyObject** values = shared_keys.fill(self)) {
            fill_own_fields([&](size_t k, vm::Ref value) {
                vm::Ref none = vm::Ref::steal(std::exchange(values[shared_keys.index(k)], value.release()));
            });
            return;
        }
#if !RT_MANAGED_DICT
        vm::Ref& dict = reinterpret_cast<ContextObject*>(self)->dict;
        if (!dict) {
            dict = vm::own(PyDict_Copy(field_template));
            fill_own_fields([&](size_t k, vm::Ref value) { vm::dict_set(dict, kFields[k].name, value); });
            return;
        }
#endif
    }
    for (const Field& f : kFields) {
        vm::Ref value = initial(f.init, false);
        vm::set_attr(self, f.name, value);
    }
}

int context_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (!no_arguments("RealRunTimeContext", args, kwargs)) return -1;
    return vm::guard_int([&] { set_fields(self); });
}

#if PY_VERSION_HEX >= 0x03090000  // a class's own vectorcall
// RealRunTimeContext() as type.__call__ makes it (its __new__, then its
// __init__), without the argument tuple; a subclass, a replaced __new__ or
// __init__, or arguments take type.__call__ itself.
PyObject* context_vectorcall(PyObject* cls, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    return vm::guard([&] {
        if (type == context_type && type->tp_new == PyType_GenericNew && type->tp_init == context_init &&
            nargs == 0 && !kwnames) {
            vm::Ref self = vm::own(type->tp_alloc(type, 0));  // PyType_GenericNew
            set_fields(self);
            return self;
        }
        vm::Ref positional = vm::own(PyTuple_New(nargs));
        for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(positional.get(), i, vm::borrow(args[i]).release());
        vm::Ref keywords;
        if (kwnames) {
            keywords = vm::new_dict(PyTuple_GET_SIZE(kwnames));
            for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k)
                vm::dict_set(keywords, PyTuple_GET_ITEM(kwnames, k), args[nargs + k]);
        }
        return vm::own(PyType_Type.tp_call(cls, positional, keywords));
    });
}
#endif

#if !RT_MANAGED_DICT
PyMemberDef kContextMembers[] = {
    {"__dictoffset__", T_PYSSIZET, offsetof(ContextObject, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};
#endif

PyGetSetDef kContextProperties[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kContextSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "RealRunTimeContext()\n--\n\n"
                    "Scratch state of one live run's refresh loop.\n\n"
                    "Received data: min_fresh_data, day_fresh_data, factor_data, pushed_latest_timeline.\n"
                    "Refresh positions: idx_fresh_array, unfilled_begin_calc_pos, end_fresh_bar, end_fresh_time.\n"
                    "Counters and flags: target_list_len, factor_list_len, refresh_k_data_idx, is_tick_freq,\n"
                    "is_first_time_do_fresh_loop, last_log.\n"
                    "The pass verdict: loop_status (a LoopStatus).\n"
                    "Every attribute may be replaced or added.")},
    {Py_tp_new, reinterpret_cast<void*>(&PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(&context_init)},
    {Py_tp_getset, kContextProperties},
#if RT_MANAGED_DICT
    {Py_tp_traverse, reinterpret_cast<void*>(&context_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&context_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&context_dealloc)},
#else
    {Py_tp_members, kContextMembers},
    VM_NATIVE_TYPE_SLOTS(Lifetime),
#endif
    {0, nullptr},
};

PyType_Spec kContextSpec = {"velmoro.realtrade.runtypes.RealRunTimeContext", sizeof(ContextObject), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC
#if RT_MANAGED_DICT
                                | Py_TPFLAGS_MANAGED_DICT
#endif
                            , kContextSlots};


}  // namespace

vm::Ref empty_array() {
    vm::Ref np = vm::global(n_np);
    vm::Ref array = vm::attr(np.get(), n_array);
    if (array.get() == numpy_array) return numpy_empty_array();
    return vm::call(array.get(), vm::new_list());
}

void register_context(vm::Module& m) {
    vm::Ref type = vm::make_type(m, &kContextSpec);
    context_type = reinterpret_cast<PyTypeObject*>(type.get());
#if PY_VERSION_HEX >= 0x03090000
    context_type->tp_vectorcall = context_vectorcall;
#endif
    vm::Ref np = vm::global(n_np);
    numpy_module = vm::Ref(np).release();
    numpy_array = vm::attr(np.get(), n_array).release();
#if PY_VERSION_HEX < 0x03090000
    // before 3.9 a spec cannot name the dict offset
    context_type->tp_dictoffset = offsetof(ContextObject, dict);
#endif
    std::vector<vm::Ref> values;
    std::vector<SharedKeys::Field> fields;
    for (size_t k = 0; k < std::size(kFields); ++k) {
        vm::Ref value = shared(kFields[k].init);
        values.push_back(value ? value : vm::none());
        fields.push_back({kFields[k].name, values.back()});
        if (per_context(kFields[k].init)) own_fields.push_back(k);
    }
    shared_keys.learn(context_type, fields);
#if !RT_MANAGED_DICT
    vm::Ref dict = vm::new_dict(std::size(kFields));
    for (const SharedKeys::Field& f : fields) vm::dict_set(dict, f.name, f.value);
    field_template = dict.release();
#endif
}

}  // namespace runtypes
