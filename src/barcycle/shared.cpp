#include "barcycle.hpp"
#include "vm/numpy.hpp"

#include <cmath>
#include <optional>

namespace barcycle {
namespace {

vm::Name n_cnt{"cnt"};
vm::Name n_env{"env"};
vm::Name n_flatnonzero{"flatnonzero"};
vm::Name n_g_VelmoroInputInfo{"g_VelmoroInputInfo"};
vm::Name n_gv{"gv"};
vm::Name n_np{"np"};
vm::Name n_tolist{"tolist"};
vm::Name n_write_syslog{"write_syslog"};
vm::Name n_writes{"writes"};
vm::Name n_max{"max"};
vm::Kw kw_level{"level"};

// numpy's own functions, kept for the process
PyObject* g_numpy_any = nullptr;
PyObject* g_numpy_array = nullptr;
PyObject* g_numpy_flatnonzero = nullptr;
PyObject* g_numpy_max = nullptr;

// `a` as an exact one-dimensional float64 array in the machine's byte order,
// whose elements this module may read itself; null for anything else.
PyArrayObject* doubles(PyObject* a) noexcept {
    PyArrayObject* arr = vm::numpy::numbers(a, 1);
    return arr && PyArray_TYPE(arr) == NPY_DOUBLE ? arr : nullptr;
}

double at(PyArrayObject* a, npy_intp i) noexcept { return *static_cast<const double*>(PyArray_GETPTR1(a, i)); }

bool holds(double x, int op, double y) noexcept {
    switch (op) {
    case Py_LT: return x < y;
    case Py_LE: return x <= y;
    case Py_EQ: return x == y;
    case Py_NE: return x != y;
    case Py_GT: return x > y;
    default: return x >= y;
    }
}

// A Python float or a numpy float64 as a double; empty for anything else.
std::optional<double> float_value(PyObject* o) noexcept {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    if (PyArray_IsScalar(o, Double)) return PyArrayScalar_VAL(o, Double);
    return std::nullopt;
}

}  // namespace

void keep_numpy(PyObject* numpy) {
    g_numpy_any = vm::attr(numpy, n_any).release();
    g_numpy_array = vm::attr(numpy, n_array).release();
    g_numpy_flatnonzero = vm::attr(numpy, n_flatnonzero).release();
    g_numpy_max = vm::attr(numpy, n_max).release();
}
PyObject* numpy_any() noexcept { return g_numpy_any; }

Ref vr() { return vm::global_attr(n_cnt, n_vr); }
Ref env() { return vm::global_attr(n_cnt, n_env); }
Ref input_info() { return vm::attr(vr(), n_g_VelmoroInputInfo); }
Ref gv(const Name& constant) { return vm::global_attr(n_gv, constant); }
Ref np(const Name& function) { return vm::global_attr(n_np, function); }
Ref vmcmd(const Name& command) { return vm::global_attr(n_vmcmd, command); }

Syslog::Syslog() : write_syslog_(vm::global(n_write_syslog)) {}

void Syslog::operator()(PyObject* message) const { vm::call(write_syslog_.get(), message); }

void Syslog::operator()(PyObject* message, PyObject* level) const {
    vm::call(write_syslog_.get(), kw_level, message, level);
}

bool Syslog::writes(PyObject* level) const {
    Ref writes = vm::optional_attr(write_syslog_.get(), n_writes);
    return !writes || vm::truthy(vm::call(writes.get(), level));
}

void syslog(PyObject* message, PyObject* level) { Syslog()(message, level); }

Ref text_format(const Name& key) {
    Ref tmpl = vm::global_attr(n_text, key);
    return vm::attr(tmpl, n_format);
}

bool ok(PyObject* lpc) { return vm::truthy(vm::attr(vm::attr(lpc, n_loop_status), n_op_ok)); }

void set_status(PyObject* lpc, const Name& verdict, PyObject* detail) {
    vm::set_attr(vm::attr(lpc, n_loop_status), verdict, detail);
}

bool compare(PyObject* a, PyObject* b, int op) { return vm::truthy(vm::own(PyObject_RichCompare(a, b, op))); }

long long size_of(PyObject* array) { return vm::to_long(vm::attr(array, n_size)); }

Ref tolist(PyObject* array) {
    Ref method = vm::attr(array, n_tolist);
    return vm::call(method.get());
}

Ref empty_array() {
    Ref array = np(n_array);
    // numpy's own makes what it makes of an empty list: no elements, float64
    if (array.get() == g_numpy_array) return vm::numpy::empty(NPY_DOUBLE, 0);
    return vm::call(array.get(), vm::new_list());
}

void clamp_negative(PyObject* array) {
    // an int64 array of positions, the usual one, set in place without a mask
    PyArrayObject* a = vm::numpy::numbers(array, 1);
    if (a && PyArray_TYPE(a) == NPY_INT64 && PyArray_ISWRITEABLE(a)) {
        for (npy_intp i = 0; i < PyArray_DIM(a, 0); ++i) {
            auto* v = static_cast<npy_int64*>(PyArray_GETPTR1(a, i));
            if (*v < 0) *v = 0;
        }
        return;
    }
    Ref zero = vm::integer(0);
    Ref negative = vm::own(PyObject_RichCompare(array, zero, Py_LT));
    vm::set_item(array, negative, zero);
}

Ref indices_where(PyObject* a, int op, PyObject* b) {
    Ref flatnonzero = np(n_flatnonzero);
    // a line of times against one time, read from the array's memory: the
    // indexes numpy's flatnonzero gives, without the mask and the call
    PyArrayObject* line = flatnonzero.get() == g_numpy_flatnonzero ? doubles(a) : nullptr;
    const std::optional<double> bound = line ? float_value(b) : std::nullopt;
    if (bound) {
        const npy_intp n = PyArray_DIM(line, 0);
        npy_intp found = 0;
        for (npy_intp i = 0; i < n; ++i) found += holds(at(line, i), op, *bound);
        Ref out = vm::numpy::empty(NPY_INTP, found);
        auto* index = static_cast<npy_intp*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        for (npy_intp i = 0, k = 0; i < n && k < found; ++i) {
            if (holds(at(line, i), op, *bound)) index[k++] = i;
        }
        return out;
    }
    Ref mask = vm::own(PyObject_RichCompare(a, b, op));
    return vm::call(flatnonzero.get(), mask);
}

std::optional<npy_intp> last_at_or_before(PyObject* line, PyObject* pushed) {
    if (np(n_max).get() != g_numpy_max || np(n_flatnonzero).get() != g_numpy_flatnonzero) return std::nullopt;
    PyArrayObject* times = doubles(pushed);
    PyArrayObject* tl = doubles(line);
    if (!times || !tl || PyArray_DIM(times, 0) == 0) return std::nullopt;
    // numpy's max: NaN when any element is NaN
    double newest = at(times, 0);
    for (npy_intp i = 1; i < PyArray_DIM(times, 0) && !std::isnan(newest); ++i) {
        const double t = at(times, i);
        if (std::isnan(t) || t > newest) newest = t;
    }
    for (npy_intp i = PyArray_DIM(tl, 0) - 1; i >= 0; --i) {
        if (at(tl, i) <= newest) return i;
    }
    return npy_intp{-1};
}

Ref last_refresh_time() {
    Ref fresh = vm::attr(vr(), n_g_VelmoroDataValueFresh);
    Ref row = gv(n_KMatrixPos_TimeLine);
    Ref last = vm::integer(-1);
    return vm::numpy::item(fresh, row, last);
}

}  // namespace barcycle
