// The numpy C API table of the module this support layer is linked into.
#define VM_NUMPY_API_DEFINED_HERE
#include "vm/numpy.hpp"

#include <cstring>

namespace vm::numpy {

void import() {
    // numpy's own import: ImportError set when numpy is missing or too old
    if (_import_array() < 0) raise();
}

Ref first_number(PyArrayObject* a) {
    const int type = PyArray_TYPE(a);
    if (!(PyTypeNum_ISBOOL(type) || PyTypeNum_ISNUMBER(type)) || !PyArray_ISNOTSWAPPED(a) || PyArray_SIZE(a) == 0)
        return Ref();
    // the data pointer is element (0, ..., 0) whatever the strides
    if (type == NPY_DOUBLE) {
        Ref s = own(PyArrayScalar_New(Double));
        double v;
        std::memcpy(&v, PyArray_DATA(a), sizeof v);  // the array need not be aligned
        PyArrayScalar_ASSIGN(s.get(), Double, v);
        return s;
    }
    return own(PyArray_Scalar(PyArray_DATA(a), PyArray_DESCR(a), reinterpret_cast<PyObject*>(a)));
}

}  // namespace vm::numpy
