#include "vm/ref.hpp"

#include <cstdarg>
#include <exception>
#include <new>

namespace vm {

void raise() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    throw Error{};
}

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw Error{};
}

void raise(PyObject* type, PyObject* message) {
    PyErr_SetObject(type, message);
    throw Error{};
}

void raise_format(PyObject* type, const char* format, ...) {
    va_list va;
    va_start(va, format);
    PyErr_FormatV(type, format, va);
    va_end(va);
    throw Error{};
}

void set_from_current_exception() noexcept {
    try {
        throw;
    } catch (const Error&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

}  // namespace vm
