// What the wire module hands the codec at import: its namespace (read at
// call time for _default, _DECODERS, FrameError and MAX_FRAME) and the
// extension types packed and built here, with the rule of their content.
#pragma once

#include "vm/module.hpp"

#include <vector>

namespace wirecodec {

// How an extension value's content is made from the value, and the value
// again from its content (cls is the extension type):
enum class Rule {
    kList,       // list(v); cls(content)
    kDict,       // dict(v); cls(content)
    kFields,     // [v.<name> for each name]; cls(*content)
    n_isoformat,  // v.isoformat(); cls.fromisoformat(content)
    kState,      // v.__dict__; cls.__new__(cls) with content as __dict__, defaults for what it lacks
};

// The most fields a "fields" rule names.
constexpr size_t kMaxFields = 8;

struct Extension {
    PyTypeObject* type;  // kept alive by cls
    vm::Ref cls;
    int code;
    Rule rule;
    vm::Ref detail;  // kFields: the tuple of names; kState: the dict of defaults
};

struct Codec {
    vm::Ref ns;  // the wire module's globals
    vm::Ref ext_type;
    vm::Ref timestamp;
    std::vector<Extension> extensions;
    // The wire's array coders as configured (_default, _array, _decode_array
    // and the code _ARRAY): arrays are coded here while they are in place
    // (see arrays.hpp); empty when the wire has none.
    vm::Ref array_default, array_packer, array_decoder;
    int array_code = -1;

    const Extension* by_type(PyTypeObject* type) const noexcept {
        for (const Extension& e : extensions)
            if (e.type == type) return &e;
        return nullptr;
    }
    const Extension* by_code(int code) const noexcept {
        for (const Extension& e : extensions)
            if (e.code == code) return &e;
        return nullptr;
    }
    // A global of the wire module, read now.
    vm::Ref global(const vm::Name& name) const { return vm::item(ns, name.get()); }
};

// The configured codec (RuntimeError before configure).
const Codec& codec();
// Publishes configure(namespace, extensions).
void register_codec(vm::Module& m);

// Raises the wire's FrameError with `message`.
[[noreturn]] void refuse(PyObject* message);
// FrameError("malformed frame: <what>"), formatted as PyUnicode_FromFormat.
[[noreturn]] void malformed(const char* format, ...);

// The exception being raised, taken from the interpreter, and raised again.
vm::Ref take_exception();
[[noreturn]] void raise_again(vm::Ref exc);
bool is_instance(PyObject* o, PyObject* cls);

// body(), then cleanup() as a `finally` block: after an exception of the
// body it runs with that exception kept aside, raised again after it (one of
// its own goes out instead, with the body's as its context).
template <class Body, class Cleanup>
auto finally(Body&& body, Cleanup&& cleanup) {
    try {
        auto result = body();
        cleanup();
        return result;
    } catch (const vm::Error&) {
        vm::Ref exc = take_exception();
        try {
            cleanup();
        } catch (const vm::Error&) {
            vm::Ref own = take_exception();
            PyException_SetContext(own, exc.release());
            raise_again(std::move(own));
        }
        raise_again(std::move(exc));
    }
}

extern vm::Name n__default, n__DECODERS, n_FrameError, n_MAX_FRAME, n___dict__, n__array;

}  // namespace wirecodec
