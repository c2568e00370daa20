// Interned names and keyword-name tuples, declared as statics where they are
// used and built once when the module initialises.
#pragma once

#include "vm/ref.hpp"

#include <initializer_list>

namespace vm {

class Name {
public:
    explicit Name(const char* text);
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    PyObject* get() const noexcept { return obj_; }
    operator PyObject*() const noexcept { return obj_; }
    const char* text() const noexcept { return text_; }

    void intern();

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};

// The names passed by keyword in one call shape, e.g. Kw{"level", "console"}.
class Kw {
public:
    Kw(std::initializer_list<const char*> names);
    Kw(const Kw&) = delete;
    Kw& operator=(const Kw&) = delete;

    PyObject* tuple() const noexcept { return tuple_; }
    Py_ssize_t size() const noexcept { return size_; }

    void build();

private:
    const char* names_[8];
    Py_ssize_t size_;
    PyObject* tuple_ = nullptr;
};

// Interns every Name and builds every Kw of this module (called at exec).
void intern_all();

}  // namespace vm
