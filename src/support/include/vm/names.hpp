// Interned names and keyword-name tuples, declared as statics where they are
// used and built once when the module initialises.
#pragma once

#include "vm/internals.hpp"
#include "vm/ref.hpp"

#include <cstddef>
#include <cstdint>

namespace vm {

// What a read of a dict found while the dict kept one version (PEP 509):
// versions are unique to a dict and a state of it, so a matching version
// means the same dict, unchanged, and the same object found.
struct Seen {
    uint64_t version = 0;
    PyObject* value = nullptr;  // borrowed from the dict

    PyObject* at(uint64_t dict_version) const noexcept {
#if VM_DICT_VERSIONS
        return dict_version == version ? value : nullptr;
#else
        (void)dict_version;  // without versions nothing seen is known to hold
        return nullptr;
#endif
    }
};

// How a read of an attribute goes for objects of one type while the type
// keeps one version tag: tags are unique to a type and a state of it (its
// bases and their dicts included), so a matching tag means the same
// descriptor, or none, decides the read.
struct TypeSeen {
    static constexpr Py_ssize_t kGeneric = 0;        // the generic road
    static constexpr Py_ssize_t kInstanceDict = -1;  // the instance's dict, else the generic road
    static constexpr Py_ssize_t kClassValue = -2;    // the instance's dict, else `value`
    PyTypeObject* type = nullptr;
    unsigned int version = 0;  // never 0 once filled
    Py_ssize_t where = kGeneric;  // > 0: the offset of the object's slot
    PyObject* value = nullptr;  // kClassValue: what the type's lookup found (borrowed from the type)

    bool holds(PyTypeObject* t) const noexcept { return t == type && internals::type_version(t) == version; }
    // the slot's value (borrowed), null when unset
    PyObject* slot(PyObject* o) const noexcept {
        return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(o) + where);
    }
};

class Name {
public:
    explicit Name(const char* text);
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    PyObject* get() const noexcept { return obj_; }
    operator PyObject*() const noexcept { return obj_; }
    const char* text() const noexcept { return text_; }

    void intern();

    // The last reads of this name as a module global, as a module's
    // attribute, as another object's attribute and as an entry of an
    // object's own __dict__ (call.cpp).
    Seen& as_global() const noexcept { return as_global_; }
    Seen& as_attribute() const noexcept { return as_attribute_; }
    TypeSeen& as_instance() const noexcept { return as_instance_; }
    Seen& as_entry() const noexcept { return as_entry_; }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
    mutable Seen as_global_;
    mutable Seen as_attribute_;
    mutable TypeSeen as_instance_;
    mutable Seen as_entry_;
};

// The keyword names of one call shape, whatever their count: what a call
// needs at run time (the tuple), built once at initialisation.
class Keywords {
public:
    Keywords(const Keywords&) = delete;
    Keywords& operator=(const Keywords&) = delete;

    PyObject* tuple() const noexcept { return tuple_; }
    Py_ssize_t size() const noexcept { return size_; }

    void build();

protected:
    Keywords(const char* const* names, Py_ssize_t size);

private:
    const char* const* names_;
    Py_ssize_t size_;
    PyObject* tuple_ = nullptr;
};

// The names passed by keyword in one call shape, e.g. Kw{"level", "console"}:
// the count comes from the names given, so it can never overflow.
template <size_t N>
class Kw : public Keywords {
public:
    template <class... S>
    explicit Kw(const S&... names) : Keywords(names_, N), names_{names...} {
        static_assert(sizeof...(S) == N && N > 0, "a keyword tuple names at least one keyword");
    }

private:
    const char* names_[N];
};
template <class... S>
Kw(const S&...) -> Kw<sizeof...(S)>;

// Interns every Name and builds every Kw of this module (called at exec).
void intern_all();

}  // namespace vm

