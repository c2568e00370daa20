// The live refresh loop: what every step file shares. Each step file defines
// its functions and registers them with their docstrings (register_<file>);
// module.cpp calls the registrations.
//
// Steps run their Python steps in Python's order: every C++ call below gets
// at most one argument that makes a Python step, the others are locals built
// by earlier statements.
#pragma once

#include "names.hpp"
#include "vm/module.hpp"
#include "vm/numpy.hpp"

#include <optional>
#include <utility>

namespace barcycle {

using vm::Name;
using vm::Ref;

// Run state, read at call time: cnt.vr, cnt.env, cnt.vr.g_VelmoroInputInfo.
Ref vr();
Ref env();
Ref input_info();
Ref gv(const Name& constant);  // gv.<constant>
Ref np(const Name& function);  // np.<function>
Ref vmcmd(const Name& command);  // vmcmd.<command>

// numpy's own `any`, kept when the module is imported: a step may read an
// array itself while the module's np still hands it out.
void keep_numpy(PyObject* numpy);
PyObject* numpy_any() noexcept;

// write_syslog, looked up before its message is built (Python evaluates the
// callee first); `Syslog log; ...build message...; log(message, n_info);`
class Syslog {
public:
    Syslog();
    void operator()(PyObject* message) const;
    void operator()(PyObject* message, PyObject* level) const;
    // Whether a record at `level` is kept: a log function may say so by a
    // `writes(level)` of its own, and a message it would drop is not built
    // (the pushed arrays' text is most of a push's time at thousands of
    // targets). Without `writes`, every record is kept.
    bool writes(PyObject* level) const;

private:
    Ref write_syslog_;
};
// write_syslog(message, level=level) for a message that is already built.
void syslog(PyObject* message, PyObject* level);

// text.<key>.format, looked up before the fields are built.
Ref text_format(const Name& key);

// The loop status of a context: read when a step starts, set by name.
bool ok(PyObject* lpc);
void set_status(PyObject* lpc, const Name& verdict, PyObject* detail);

bool compare(PyObject* a, PyObject* b, int op);  // truth of `a <op> b`
long long size_of(PyObject* array);              // array.size
Ref tolist(PyObject* array);                     // array.tolist()
Ref empty_array();                               // np.array([])
void clamp_negative(PyObject* array);            // array[array < 0] = 0
// np.flatnonzero(a <op> b) of operands already read (numpy's own lookups are
// no Python step of the run).
Ref indices_where(PyObject* a, int op, PyObject* b);
// The last index of `line` at or before np.max(pushed), read from the arrays'
// memory (-1 for none), as np.flatnonzero(line <= np.max(pushed))[-1] finds
// it; empty where numpy has to judge (another np.max or np.flatnonzero in the
// module, other arrays, no pushed time).
std::optional<npy_intp> last_at_or_before(PyObject* line, PyObject* pushed);
// cnt.vr.g_VelmoroDataValueFresh[gv.KMatrixPos_TimeLine, -1]
Ref last_refresh_time();

// Each step file publishes its functions.
void register_driver(vm::Module& m);
void register_dispatch(vm::Module& m);
void register_expansion(vm::Module& m);
void register_indicators(vm::Module& m);
void register_bars(vm::Module& m);

}  // namespace barcycle
