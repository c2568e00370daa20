#include "barcycle.hpp"
#include "vm/numpy.hpp"

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
vm::Kw kw_level{"level"};

PyObject* g_numpy_any = nullptr;  // kept for the process

}  // namespace

void keep_numpy(PyObject* numpy) {
    g_numpy_any = vm::attr(numpy, n_any).release();
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
    return vm::call(array.get(), vm::new_list());
}

void clamp_negative(PyObject* array) {
    Ref zero = vm::integer(0);
    Ref negative = vm::own(PyObject_RichCompare(array, zero, Py_LT));
    vm::set_item(array, negative, zero);
}

Ref indices_where(PyObject* a, int op, PyObject* b) {
    Ref flatnonzero = np(n_flatnonzero);
    Ref mask = vm::own(PyObject_RichCompare(a, b, op));
    return vm::call(flatnonzero.get(), mask);
}

Ref last_refresh_time() {
    Ref fresh = vm::attr(vr(), n_g_VelmoroDataValueFresh);
    Ref row = gv(n_KMatrixPos_TimeLine);
    Ref last = vm::integer(-1);
    return vm::numpy::item(fresh, row, last);
}

}  // namespace barcycle
