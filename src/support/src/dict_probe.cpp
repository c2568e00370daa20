// The first probe of a dict's lookup, read from the dict's own table on the
// interpreter whose layout this file knows (3.13). Attribute names are
// interned, so the entry holding the very object asked for at the name's
// first slot is the entry the whole lookup finds, and an empty first slot
// ends the whole lookup too; anything else is left to it.
#include "dict_probe.hpp"

#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED) && \
    !defined(VM_PUBLIC_API) && !defined(VM_WITHOUT_DICT_PROBE) && __has_include(<internal/pycore_dict.h>)
#define Py_BUILD_CORE 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <internal/pycore_dict.h>
#pragma GCC diagnostic pop

namespace vm {
namespace detail {
namespace {

// The entry index at slot i of the table, in the width the table's size takes.
Py_ssize_t index_at(const PyDictKeysObject* keys, size_t i) noexcept {
    const int log2size = keys->dk_log2_size;
    if (log2size < 8) return reinterpret_cast<const int8_t*>(keys->dk_indices)[i];
    if (log2size < 16) return reinterpret_cast<const int16_t*>(keys->dk_indices)[i];
    if (log2size < 32) return reinterpret_cast<const int32_t*>(keys->dk_indices)[i];
    return reinterpret_cast<const int64_t*>(keys->dk_indices)[i];
}

}  // namespace

PyObject* first_probe(PyObject* dict, PyObject* name) noexcept {
    PyDictKeysObject* keys = reinterpret_cast<PyDictObject*>(dict)->ma_keys;
    const Py_hash_t hash = reinterpret_cast<PyASCIIObject*>(name)->hash;
    if (keys->dk_kind == DICT_KEYS_GENERAL || hash == -1) return undecided();
    const size_t mask = (size_t{1} << keys->dk_log2_size) - 1;
    const Py_ssize_t ix = index_at(keys, static_cast<size_t>(hash) & mask);
    if (ix == DKIX_EMPTY) return nullptr;
    if (ix < 0) return undecided();
    const PyDictUnicodeEntry* entry = DK_UNICODE_ENTRIES(keys) + ix;
    if (entry->me_key != name) return undecided();
    return keys->dk_kind == DICT_KEYS_SPLIT ? reinterpret_cast<PyDictObject*>(dict)->ma_values->values[ix]
                                            : entry->me_value;
}

}  // namespace detail
}  // namespace vm

#else

namespace vm {
namespace detail {

PyObject* first_probe(PyObject*, PyObject*) noexcept { return undecided(); }

}  // namespace detail
}  // namespace vm

#endif
