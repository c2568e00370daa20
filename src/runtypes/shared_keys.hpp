// The attributes of instances whose class shares their names, as a plain
// Python class's instances keep them: one values array per instance, indexed
// by the names' places in the class's keys, in a dict split from those keys
// (3.8) or inline in the instance (3.13). A native class that knows where its
// fields sit there writes a new instance's fields in place, leaving what the
// interpreter's own attribute stores would leave; elsewhere it stores them as
// usual.
#pragma once

#include "vm/internals.hpp"
#include "vm/ref.hpp"

#include <cstddef>
#include <vector>

namespace runtypes {

class SharedKeys {
public:
    struct Field {
        PyObject* name;
        PyObject* value;  // what every new instance starts with
    };

    // Gives `type` (a heap type with an instance dict, none of whose
    // instances has set an attribute yet) keys shared by its instances, then
    // learns where an instance that sets `fields` in this order keeps each.
    // Nothing is learnt where the interpreter keeps them otherwise.
    void learn(PyTypeObject* type, const std::vector<Field>& fields);

    // The values array of `self`, an instance of the type that has no
    // attribute and no dict yet, now holding every field's value (new
    // references, at index(k) for field k); null, with `self` unchanged,
    // where the fields are to be stored as usual.
    PyObject** fill(PyObject* self) const;

    size_t index(size_t field) const noexcept { return index_[field]; }

private:
    std::vector<size_t> index_;  // empty until learnt
    // kept for the process
#if VM_SPLIT_DICT_VALUES
    PyObject* template_ = nullptr;  // the dict an instance's is copied from
#elif VM_INLINE_VALUES
    std::vector<PyObject*> values_;
    void* keys_ = nullptr;  // the class's keys the indices belong to
    size_t end_ = 0;        // past the highest index
#endif
};

}  // namespace runtypes
