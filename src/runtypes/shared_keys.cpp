#include "shared_keys.hpp"

#include "vm/call.hpp"

#include <algorithm>
#include <cstdint>

namespace runtypes {
namespace {

#if RT_INLINE_VALUES
// An instance's inline values as 3.13 lays them out (its struct _dictvalues):
// the values by their names' places in the class's keys, then those places
// in the order the attributes were set.
struct InlineValues {
    uint8_t capacity;
    uint8_t size;
    uint8_t embedded;
    uint8_t valid;  // cleared once a dict of their own holds them
    PyObject* values[1];
};

// right after the object's header: the class has no other instance layout
InlineValues* inline_values(PyObject* o) noexcept {
    return reinterpret_cast<InlineValues*>(reinterpret_cast<char*>(o) + sizeof(PyObject));
}

uint8_t* insertion_order(InlineValues* v) noexcept { return reinterpret_cast<uint8_t*>(&v->values[v->capacity]); }

// The dict made for the instance once something asked for one, three words
// before the object.
PyObject* managed_dict(PyObject* o) noexcept {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(o) - 3 * sizeof(PyObject*));
}
#endif

#if RT_SPLIT_DICT_VALUES || RT_INLINE_VALUES
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
#if RT_SPLIT_DICT_VALUES || RT_INLINE_VALUES
    auto* heap = reinterpret_cast<PyHeapTypeObject*>(type);
#if RT_SPLIT_DICT_VALUES
    // 3.8 leaves them to the class: type() gives each Python class its own
    if (!heap->ht_cached_keys && !(heap->ht_cached_keys = _PyDict_NewKeysForClass())) vm::raise();
#endif
    // a probe sets each field to a marker of its own, wherever the interpreter puts it
    vm::Ref probe = vm::own(type->tp_alloc(type, 0));
    std::vector<vm::Ref> markers;
    for (const Field& f : fields) {
        markers.push_back(vm::new_list());
        vm::check(PyObject_GenericSetAttr(probe, f.name, markers.back()));
    }
#if RT_SPLIT_DICT_VALUES
    PyObject** dict = _PyObject_GetDictPtr(probe);
    auto* split = dict ? reinterpret_cast<PyDictObject*>(*dict) : nullptr;
    if (!split || !split->ma_values || split->ma_used != static_cast<Py_ssize_t>(fields.size())) return;
    std::vector<size_t> index = places(split->ma_values, fields.size(), markers);
    if (index.empty()) return;
    for (const Field& f : fields) vm::dict_set(*dict, f.name, f.value);
    // a copy shares the keys, its values in the same places
    vm::Ref copy = vm::own(PyDict_Copy(*dict));
    if (!reinterpret_cast<PyDictObject*>(copy.get())->ma_values ||
        reinterpret_cast<PyDictObject*>(copy.get())->ma_keys != split->ma_keys)
        return;
    template_ = vm::borrow(*dict).release();
#else
    if (!PyType_HasFeature(type, Py_TPFLAGS_INLINE_VALUES) || managed_dict(probe)) return;
    InlineValues* v = inline_values(probe);
    if (!v->valid || v->size != fields.size()) return;
    std::vector<size_t> index = places(v->values, v->capacity, markers);
    if (index.empty() || !std::equal(index.begin(), index.end(), insertion_order(v))) return;
    for (const Field& f : fields) values_.push_back(vm::borrow(f.value).release());
    keys_ = heap->ht_cached_keys;
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
#if RT_SPLIT_DICT_VALUES
    PyObject** dict = _PyObject_GetDictPtr(self);
    if (!dict || *dict) return nullptr;
    PyObject* copy = PyDict_Copy(template_);
    if (!copy) vm::raise();
    // a copy of values that hold no other object goes untracked; the fields will
    if (!_PyObject_GC_IS_TRACKED(copy)) PyObject_GC_Track(copy);
    *dict = copy;
    return reinterpret_cast<PyDictObject*>(copy)->ma_values;
#elif RT_INLINE_VALUES
    if (reinterpret_cast<PyHeapTypeObject*>(Py_TYPE(self))->ht_cached_keys != keys_ || managed_dict(self)) return nullptr;
    InlineValues* v = inline_values(self);
    if (!v->valid || v->size != 0 || v->capacity < end_) return nullptr;
    // what the interpreter's stores of the fields, in order, leave
    uint8_t* order = insertion_order(v);
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
