// str.lower() and str.upper(): ASCII text is mapped here, other text through
// str's own methods so that the full Unicode rules apply.
#pragma once

#include "vm/ref.hpp"

#include <string>

namespace vm {

// Of a str object, as its methods would give them (lone surrogates included).
Ref str_lower(PyObject* text);
Ref str_upper(PyObject* text);
// The characters of an exact str that is all ASCII, one byte each; nullptr
// for any other object (str subclasses included: their methods may differ).
const char* ascii_data(PyObject* text);
// ASCII characters case-mapped as str.lower() and str.upper() map them.
inline char ascii_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char ascii_upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
void ascii_lower(char* to, const char* from, Py_ssize_t n) noexcept;
void ascii_upper(char* to, const char* from, Py_ssize_t n) noexcept;
// Of UTF-8 text, for code still to move to the str forms.
Ref lower(std::string text);
Ref upper(std::string text);

}  // namespace vm
