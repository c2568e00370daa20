#include "codec.hpp"

#include <cstdarg>
#include <memory>
#include <string>

namespace wirecodec {

vm::Name n__default("_default");
vm::Name n__DECODERS("_DECODERS");
vm::Name n_FrameError("FrameError");
vm::Name n_MAX_FRAME("MAX_FRAME");
vm::Name n___dict__("__dict__");
vm::Name n__array("_array");

namespace {
vm::Name n__decode_array("_decode_array");
vm::Name n__ARRAY("_ARRAY");
}  // namespace

namespace {

// Kept for the process, as the module is. A configuration replaced (the wire
// module imported again) stays alive too: a call under way may still read it.
const Codec* g_codec = nullptr;

struct RuleName {
    const char* name;
    Rule rule;
};
constexpr RuleName kRules[] = {
    {"list", Rule::kList}, {"dict", Rule::kDict}, {"fields", Rule::kFields},
    {"isoformat", Rule::n_isoformat}, {"state", Rule::kState},
};

[[noreturn]] void bad_entry(PyObject* entry, const char* why) {
    vm::raise_format(PyExc_ValueError, "extension entry %R: %s", entry, why);
}

Extension extension(PyObject* entry) {
    if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) < 3 || PyTuple_GET_SIZE(entry) > 4)
        bad_entry(entry, "a tuple (class, code, rule[, detail])");
    PyObject* cls = PyTuple_GET_ITEM(entry, 0);
    if (!PyType_Check(cls)) bad_entry(entry, "the first item is a class");
    const long code = PyLong_AsLong(PyTuple_GET_ITEM(entry, 1));
    if (code == -1 && PyErr_Occurred()) vm::raise();
    if (code < 0 || code > 127) bad_entry(entry, "codes are 0 to 127");
    const std::string name = vm::to_string(PyTuple_GET_ITEM(entry, 2));
    Extension e{reinterpret_cast<PyTypeObject*>(cls), vm::borrow(cls), static_cast<int>(code), Rule::kList, {}};
    const RuleName* found = nullptr;
    for (const RuleName& r : kRules)
        if (name == r.name) found = &r;
    if (!found) bad_entry(entry, "unknown rule");
    e.rule = found->rule;
    PyObject* detail = PyTuple_GET_SIZE(entry) == 4 ? PyTuple_GET_ITEM(entry, 3) : nullptr;
    if (e.rule == Rule::kFields) {
        if (!detail || !PyTuple_CheckExact(detail) || static_cast<size_t>(PyTuple_GET_SIZE(detail)) > kMaxFields)
            bad_entry(entry, "fields are named by a tuple of at most 8 names");
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(detail); ++i)
            if (!PyUnicode_CheckExact(PyTuple_GET_ITEM(detail, i))) bad_entry(entry, "fields are named by str");
    } else if (e.rule == Rule::kState) {
        if (!detail || !PyDict_CheckExact(detail)) bad_entry(entry, "a state's defaults are a dict");
    } else if (detail) {
        bad_entry(entry, "this rule takes no detail");
    }
    e.detail = vm::borrow(detail);
    return e;
}

}  // namespace

const Codec& codec() {
    if (!g_codec) vm::raise(PyExc_RuntimeError, "the wire codec is not configured");
    return *g_codec;
}

vm::Ref configure(vm::Params<2> p) {
    auto [ns, entries] = p.take<2>();
    if (!PyDict_Check(ns)) vm::raise(PyExc_TypeError, "the wire module's namespace is a dict");
    auto fresh = std::make_unique<Codec>();
    fresh->ns = vm::borrow(ns);
    vm::for_each(entries, [&](PyObject* entry) {
        Extension e = extension(entry);
        if (fresh->by_type(e.type) || fresh->by_code(e.code)) bad_entry(entry, "a class or code given twice");
        fresh->extensions.push_back(std::move(e));
    });
    vm::Ref packer = vm::borrow(PyDict_GetItemWithError(ns, n__array.get()));
    vm::Ref decoder = vm::borrow(PyDict_GetItemWithError(ns, n__decode_array.get()));
    vm::Ref code = vm::borrow(PyDict_GetItemWithError(ns, n__ARRAY.get()));
    vm::Ref coder = vm::borrow(PyDict_GetItemWithError(ns, n__default.get()));
    if (PyErr_Occurred()) vm::raise();
    if (packer && decoder && code && coder) {
        const long c = PyLong_AsLong(code);
        if (c == -1 && PyErr_Occurred()) vm::raise();
        if (c < 0 || c > 127) vm::raise(PyExc_ValueError, "_ARRAY is a code from 0 to 127");
        fresh->array_default = coder, fresh->array_packer = packer, fresh->array_decoder = decoder;
        fresh->array_code = static_cast<int>(c);
    }
    vm::Ref msgpack = vm::own(PyImport_ImportModule("msgpack"));
    fresh->ext_type = vm::own(PyObject_GetAttrString(msgpack.get(), "ExtType"));
    fresh->timestamp = vm::own(PyObject_GetAttrString(msgpack.get(), "Timestamp"));
    g_codec = fresh.release();
    return vm::none();
}

void refuse(PyObject* message) {
    vm::Ref type = codec().global(n_FrameError);
    vm::raise_instance(type, message);
}

void malformed(const char* format, ...) {
    va_list va;
    va_start(va, format);
    vm::Ref what = vm::Ref::steal(PyUnicode_FromFormatV(format, va));
    va_end(va);
    if (!what) vm::raise();
    vm::Ref message = vm::own(PyUnicode_FromFormat("malformed frame: %U", what.get()));
    refuse(message);
}

vm::Ref take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return vm::Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    vm::Ref t = vm::Ref::steal(type), tb = vm::Ref::steal(traceback), exc = vm::Ref::steal(value);
    if (tb) PyException_SetTraceback(exc, tb);
    return exc;
#endif
}

void raise_again(vm::Ref exc) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc.release());
#else
    vm::Ref type = vm::borrow(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
    PyObject* traceback = PyException_GetTraceback(exc);
    PyErr_Restore(type.release(), exc.release(), traceback);
#endif
    throw vm::Error{};
}

bool is_instance(PyObject* o, PyObject* cls) {
    const int r = PyObject_IsInstance(o, cls);
    vm::check(r);
    return r != 0;
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(configure, "namespace: Dict[str, Any], extensions: Iterable[Tuple[Any, ...]] -> None",
                "Hands the codec the wire module's globals (read at call time: _default, _DECODERS, FrameError, "
                "MAX_FRAME) and its extension types: tuples (class, code, rule[, detail]). Numeric arrays are "
                "coded natively while the globals _default, _array and _DECODERS[_ARRAY] are the "
                "_default, _array and _decode_array given now."),
};

}  // namespace

void register_codec(vm::Module& m) { m.add(kFunctions); }

}  // namespace wirecodec
