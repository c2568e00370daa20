#include "vm/function.hpp"
#include "vm/nativetype.hpp"

#include <cstdlib>
#include <cstring>

namespace vm {
namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\n");
    return s.substr(b, e - b + 1);
}

// Splits "a, b: list = (), c='x,y' -> str" at the commas that separate
// parameters; the return annotation is left out.
std::vector<std::string> split_params(const char* params) {
    std::vector<std::string> out;
    for (const char* p = params;; ) {
        const char* end = param_end(p);
        std::string piece = trim(std::string(p, end));
        if (*end == ',' || !piece.empty()) out.push_back(std::move(piece));
        if (*end != ',') break;
        p = end + 1;
    }
    return out;
}

std::string quoted_names(const std::vector<PyObject*>& names) {
    std::string s;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) s += names.size() > 2 ? ", " : " ";
        if (i > 0 && i + 1 == names.size()) s += "and ";
        s += "'";
        s += PyUnicode_AsUTF8(names[i]);
        s += "'";
    }
    return s;
}

// "name: annotation = default": the name, and the default's text (empty for none)
std::string param_name(const std::string& param) { return trim(param.substr(0, param.find_first_of(":="))); }
std::string param_default(const std::string& param) {
    const size_t eq = param.find('=');
    return eq == std::string::npos ? std::string() : trim(param.substr(eq + 1));
}

}  // namespace

Slot slot_of(const char* params, const char* name) {
    const std::vector<std::string> list = split_params(params);
    for (size_t i = 0; i < list.size(); ++i)
        if (param_name(list[i]) == name) return Slot(i);
    raise_format(PyExc_SystemError, "no parameter '%s' in (%s)", name, params);
}

Ref parse_literal(const std::string& source) {
    const std::string s = trim(source);
    if (s == "None") return none();
    if (s == "True") return boolean(true);
    if (s == "False") return boolean(false);
    if (s == "()") return own(PyTuple_New(0));
    if (s == "[]") return new_list();
    if (s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0]) return text(s.substr(1, s.size() - 2));
    char* end = nullptr;
    long long i = std::strtoll(s.c_str(), &end, 10);
    if (!s.empty() && *end == '\0') return integer(i);
    double d = std::strtod(s.c_str(), &end);
    if (!s.empty() && *end == '\0') return floating(d);
    raise_format(PyExc_SystemError, "unsupported default literal: %s", s.c_str());
}

void Signature::init(const std::string& qualname, const char* params, int self_count) {
#if PY_VERSION_HEX >= 0x030A0000
    display_ = qualname;  // 3.10+ names callables by qualified name in binding errors
#else
    display_ = qualname.substr(qualname.rfind('.') + 1);
#endif
    self_count_ = self_count;
    params_text_.clear();
    names_.clear();
    defaults_.clear();
    required_ = 0;
    for (const std::string& p : split_params(params)) {
        const std::string name = param_name(p);
        const std::string default_text = param_default(p);
        if (!params_text_.empty()) params_text_ += ", ";
        params_text_ += name;
        PyObject* n = PyUnicode_InternFromString(name.c_str());
        if (!n) raise();
        names_.push_back(n);
        if (default_text.empty()) {
            if (!defaults_.empty() && defaults_.back()) raise(PyExc_SystemError, "required parameter after a default");
            defaults_.push_back(nullptr);
            ++required_;
        } else {
            (params_text_ += '=') += default_text;
            defaults_.push_back(parse_literal(default_text).release());
        }
    }
    if (names_.size() > kMaxParams) raise(PyExc_SystemError, "too many parameters");
}

bool Signature::bind(PyObject* const* args, size_t nargs, PyObject* kwnames, PyObject** out) const noexcept {
    const size_t n = names_.size();
    for (size_t i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            size_t j = 0;
            while (j < n && names_[j] != key) ++j;  // interned: pointers match
            if (j == n) {
                for (j = 0; j < n; ++j) {
                    int eq = PyObject_RichCompareBool(key, names_[j], Py_EQ);
                    if (eq < 0) return false;
                    if (eq) break;
                }
            }
            if (j == n) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", display_.c_str(), key);
                return false;
            }
            if (out[j]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", display_.c_str(), key);
                return false;
            }
            out[j] = args[nargs + static_cast<size_t>(k)];
        }
    }
    if (nargs > n) {
        too_many_positional(nargs);
        return false;
    }
    bool complete = true;
    for (size_t i = 0; i < n; ++i) {
        if (!out[i]) {
            out[i] = defaults_[i];
            if (!out[i]) complete = false;
        }
    }
    if (!complete) {
        missing(out);
        return false;
    }
    return true;
}

void Signature::too_many_positional(size_t given) const noexcept {
    const size_t n = names_.size() + self_count_;
    const size_t req = required_ + self_count_;
    const size_t g = given + self_count_;
    char takes[64];
    bool plural = true;
    if (req < n) {
        snprintf(takes, sizeof takes, "from %zu to %zu", req, n);
    } else {
        snprintf(takes, sizeof takes, "%zu", n);
        plural = n != 1;
    }
    PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zu %s given", display_.c_str(), takes,
                 plural ? "s" : "", g, g == 1 ? "was" : "were");
}

void Signature::missing(PyObject* const* out) const noexcept {
    std::vector<PyObject*> absent;
    for (size_t i = 0; i < names_.size(); ++i)
        if (!out[i]) absent.push_back(names_[i]);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", display_.c_str(),
                 absent.size(), absent.size() == 1 ? "" : "s", quoted_names(absent).c_str());
}

std::string Signature::text_signature(const char* name, const char* self_marker) const {
    std::string s = name;
    s += "(";
    if (self_marker) {
        s += self_marker;
        s += ", /";
        if (!params_text_.empty()) s += ", ";
    }
    s += params_text_;
    s += ")\n--\n\n";
    return s;
}

namespace {

PyMethodDef* method_def(const FunctionSpec& spec, const char* self_marker) {
    // Definitions live as long as the process, as static ones would.
    auto* doc = new std::string(spec.sig->text_signature(spec.name, self_marker) + spec.doc);
    return new PyMethodDef{spec.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(spec.entry)),
                           METH_FASTCALL | METH_KEYWORDS, doc->c_str()};
}

// Creates the signature of a spec: its body must take what it declares.
void init_signature(const FunctionSpec& spec, const std::string& display, int self_count) {
    spec.sig->init(display, spec.params, self_count);
    if (spec.arity != kAnyArity && spec.arity != spec.sig->size())
        raise_format(PyExc_SystemError, "%s: the body takes %zu parameters, the declaration (%s) has %zu",
                     display.c_str(), spec.arity, spec.params, spec.sig->size());
}

std::string type_name(PyObject* type) { return reinterpret_cast<PyTypeObject*>(type)->tp_name; }

std::string short_type_name(PyObject* type) {
    std::string n = type_name(type);
    return n.substr(n.rfind('.') + 1);
}

}  // namespace

void add_functions(PyObject* module, const FunctionSpec* specs, size_t count) {
    Ref modname = own(PyModule_GetNameObject(module));
    PyObject* dict = PyModule_GetDict(module);
    for (size_t i = 0; i < count; ++i) {
        const FunctionSpec& spec = specs[i];
        init_signature(spec, spec.name, 0);
        Ref f = own(PyCFunction_NewEx(method_def(spec, "$module"), module, modname.get()));
        dict_set(dict, Ref(text(spec.name)).get(), f.get());
        // kept alive for the process so that identity tests stay meaningful
        *spec.object = f.release();
    }
}

void add_methods(PyObject* type, const FunctionSpec* specs, size_t count) {
    const std::string cls = short_type_name(type);
    for (size_t i = 0; i < count; ++i) {
        const FunctionSpec& spec = specs[i];
        init_signature(spec, cls + "." + spec.name, 1);
        Ref descr = own(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type), method_def(spec, "$self")));
        check(PyObject_SetAttrString(type, spec.name, descr.get()));
        *spec.object = descr.release();
        if (std::strcmp(spec.name, "__init__") == 0) ensure_class_signature(type, spec.sig->params_text());
    }
}

namespace {

// __signature__ of one class: answers for that class only, so that a
// subclass (with an __init__ of its own) is inspected afresh.
struct ClassSignature {
    PyObject_HEAD
    PyTypeObject* owner;  // borrowed: the class keeps this object alive
    Ref signature;
};

using ClassSignatureLifetime = NativeType<ClassSignature, &ClassSignature::signature>;

PyObject* class_signature_get(PyObject* self, PyObject* obj, PyObject* type) {
    auto* d = reinterpret_cast<ClassSignature*>(self);
    if (obj && obj != Py_None) {
        PyErr_SetString(PyExc_AttributeError, "__signature__");
        return nullptr;
    }
    return Ref(type == reinterpret_cast<PyObject*>(d->owner) ? d->signature : none()).release();
}

PyType_Slot kClassSignatureSlots[] = {
    {Py_tp_descr_get, reinterpret_cast<void*>(&class_signature_get)},
    VM_NATIVE_TYPE_SLOTS(ClassSignatureLifetime),
    {0, nullptr},
};

PyType_Spec kClassSignatureSpec = {"velmoro_support.class_signature", sizeof(ClassSignature), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, kClassSignatureSlots};

}  // namespace

void ensure_class_signature(PyObject* type, const std::string& params) {
    Ref inspect = own(PyImport_ImportModule("inspect"));
    Ref signature = own(PyObject_GetAttrString(inspect.get(), "signature"));
    if (Ref::steal(PyObject_CallFunctionObjArgs(signature.get(), type, nullptr))) return;
    if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError)) raise();
    PyErr_Clear();
    // the same parameters, read back by inspect from a Python callable
    Ref globals = new_dict();
    check(PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()));
    const std::string code = "lambda " + params + ": None";
    Ref lambda = own(PyRun_String(code.c_str(), Py_eval_input, globals.get(), globals.get()));
    static PyObject* descriptor_type = nullptr;
    if (!descriptor_type) descriptor_type = own(PyType_FromSpec(&kClassSignatureSpec)).release();
    auto* tp = reinterpret_cast<PyTypeObject*>(descriptor_type);
    Ref descr = own(tp->tp_alloc(tp, 0));
    auto* d = reinterpret_cast<ClassSignature*>(descr.get());
    d->owner = reinterpret_cast<PyTypeObject*>(type);
    d->signature = call(signature.get(), lambda);
    check(PyObject_SetAttrString(type, "__signature__", descr.get()));
}

void add_static_method(PyObject* type, const char* attr_name, const FunctionSpec& spec) {
    init_signature(spec, short_type_name(type) + "." + spec.name, 0);
    Ref modname = own(PyObject_GetAttrString(type, "__module__"));
    Ref f = own(PyCFunction_NewEx(method_def(spec, nullptr), nullptr, modname.get()));
    Ref sm = own(PyStaticMethod_New(f.get()));
    check(PyObject_SetAttrString(type, attr_name, sm.get()));
    *spec.object = f.release();
}

}  // namespace vm
