#include "shared_keys.hpp"

#include "vm/call.hpp"

#include <algorithm>
#include <cstdint>

namespace runtypes {
namespace {

namespace internals = vm::internals;

#if VM_SPLIT_DICT_VALUES || VM_INLINE_VALUES
// Where each marker sits among the values; empty when one is missing.
std::vector<size_t> places(PyObject* const* values, size_t count, const std::vector<vm::Ref>& markers) {
    std::vector<size_t> index;
    for (const vm::Ref& m : markers) {
        PyObject* const* at = std::find(values, values + count, m.get());
        if (at == values + count) return {};
        index.push_back(static_cast<size_t>(at - values));
    }
    return index;
}
#endif

}  // namespace

void SharedKeys::learn(PyTypeObject* type, const std::vector<Field>& fields) {
#if VM_SPLIT_DICT_VALUES || VM_INLINE_VALUES
#if VM_SPLIT_DICT_VALUES
    if (!internals::share_keys(type)) vm::raise();
#endif
    // a probe sets each field to a marker of its own, wherever the interpreter puts it
    vm::Ref probe = vm::own(type->tp_alloc(type, 0));
    std::vector<vm::Ref> markers;
    for (const Field& f : fields) {
        markers.push_back(vm::new_list());
        vm::check(PyObject_GenericSetAttr(probe, f.name, markers.back()));
    }
#if VM_SPLIT_DICT_VALUES
    PyObject** dict = internals::dict_ptr(probe);
    PyObject* split = dict ? *dict : nullptr;
    if (!split || !internals::split_values(split) || PyDict_GET_SIZE(split) != static_cast<Py_ssize_t>(fields.size()))
        return;
    std::vector<size_t> index = places(internals::split_values(split), fields.size(), markers);
    if (index.empty()) return;
    for (const Field& f : fields) vm::dict_set(*dict, f.name, f.value);
    // a copy shares the keys, its values in the same places
    vm::Ref copy = vm::own(PyDict_Copy(*dict));
    if (!internals::split_values(copy) || internals::dict_keys(copy) != internals::dict_keys(split)) return;
    template_ = vm::borrow(*dict).release();
#else
    if (!PyType_HasFeature(type, Py_TPFLAGS_INLINE_VALUES) || internals::managed_dict(probe)) return;
    internals::InlineValues* v = internals::inline_values(probe);
    if (!v->valid || v->size != fields.size()) return;
    std::vector<size_t> index = places(v->values, v->capacity, markers);
    if (index.empty() || !std::equal(index.begin(), index.end(), internals::insertion_order(v))) return;
    for (const Field& f : fields) values_.push_back(vm::borrow(f.value).release());
    keys_ = internals::class_keys(type);
    end_ = *std::max_element(index.begin(), index.end()) + 1;
#endif
    index_ = std::move(index);
#else
    (void)type;
    (void)fields;
#endif
}

PyObject** SharedKeys::fill(PyObject* self) const {
    if (index_.empty()) return nullptr;
#if VM_SPLIT_DICT_VALUES
    PyObject** dict = internals::dict_ptr(self);
    if (!dict || *dict) return nullptr;
    PyObject* copy = PyDict_Copy(template_);
    if (!copy) vm::raise();
    // a copy of values that hold no other object goes untracked; the fields will
    if (!internals::gc_tracked(copy)) PyObject_GC_Track(copy);
    *dict = copy;
    return internals::split_values(copy);
#elif VM_INLINE_VALUES
    if (internals::class_keys(Py_TYPE(self)) != keys_ || internals::managed_dict(self)) return nullptr;
    internals::InlineValues* v = internals::inline_values(self);
    if (!v->valid || v->size != 0 || v->capacity < end_) return nullptr;
    // what the interpreter's stores of the fields, in order, leave
    uint8_t* order = internals::insertion_order(v);
    for (size_t k = 0; k < index_.size(); ++k) {
        v->values[index_[k]] = vm::borrow(values_[k]).release();
        order[k] = static_cast<uint8_t>(index_[k]);
    }
    v->size = static_cast<uint8_t>(index_.size());
    return v->values;
#else
    (void)self;
    return nullptr;
#endif
}

}  // namespace runtypes
