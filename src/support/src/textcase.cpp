#include "vm/textcase.hpp"

#include "vm/call.hpp"

namespace vm {
namespace {

Name n_lower{"lower"};
Name n_upper{"upper"};

char mapped_ascii(char c, bool to_upper) noexcept { return to_upper ? ascii_upper(c) : ascii_lower(c); }

Ref mapped(PyObject* text, bool to_upper) {
    const char* from = ascii_data(text);
    if (!from) return attr(text, to_upper ? n_upper : n_lower).call();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    Ref out = own(PyUnicode_New(n, 127));
    char* to = static_cast<char*>(PyUnicode_DATA(out.get()));
    if (to_upper) {
        ascii_upper(to, from, n);
    } else {
        ascii_lower(to, from, n);
    }
    return out;
}

Ref mapped(std::string text, bool to_upper) {
    bool ascii = true;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        c = mapped_ascii(c, to_upper);
    }
    Ref s = vm::text(text);
    return ascii ? s : s.attr(to_upper ? n_upper : n_lower).call();
}

}  // namespace

const char* ascii_data(PyObject* text) {
    if (!PyUnicode_CheckExact(text)) return nullptr;
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(text) < 0) raise();
#endif
    return PyUnicode_IS_ASCII(text) ? static_cast<const char*>(PyUnicode_DATA(text)) : nullptr;
}

void ascii_lower(char* to, const char* from, Py_ssize_t n) noexcept {
    for (Py_ssize_t i = 0; i < n; ++i) to[i] = ascii_lower(from[i]);
}

void ascii_upper(char* to, const char* from, Py_ssize_t n) noexcept {
    for (Py_ssize_t i = 0; i < n; ++i) to[i] = ascii_upper(from[i]);
}

Ref str_lower(PyObject* text) { return mapped(text, false); }
Ref str_upper(PyObject* text) { return mapped(text, true); }
Ref lower(std::string text) { return mapped(std::move(text), false); }
Ref upper(std::string text) { return mapped(std::move(text), true); }

}  // namespace vm
