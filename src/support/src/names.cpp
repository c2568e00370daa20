#include "vm/names.hpp"

#include <vector>

namespace vm {
namespace {

// Function-local so that statics of any translation unit can register
// themselves whatever the order of static initialisation.
std::vector<Name*>& names() {
    static std::vector<Name*> all;
    return all;
}
std::vector<Keywords*>& kws() {
    static std::vector<Keywords*> all;
    return all;
}

}  // namespace

Name::Name(const char* text) : text_(text) { names().push_back(this); }

void Name::intern() {
    if (obj_) return;
    obj_ = PyUnicode_InternFromString(text_);
    if (!obj_) raise();
}

// The names are read at build time only: the derived Kw fills them after this
// constructor has run.
Keywords::Keywords(const char* const* names, Py_ssize_t size) : names_(names), size_(size) { kws().push_back(this); }

void Keywords::build() {
    if (tuple_) return;
    Ref t = own(PyTuple_New(size_));
    for (Py_ssize_t i = 0; i < size_; ++i) {
        PyObject* s = PyUnicode_InternFromString(names_[i]);
        if (!s) raise();
        PyTuple_SET_ITEM(t.get(), i, s);
    }
    tuple_ = t.release();
}

void intern_all() {
    for (Name* n : names()) n->intern();
    for (Keywords* k : kws()) k->build();
}

}  // namespace vm
