#include "encode.hpp"

#include "arrays.hpp"
#include "codec.hpp"

#include "vm/buffer.hpp"

namespace wirecodec {

namespace {

vm::Name n_isoformat("isoformat");
vm::Name n_seconds("seconds");
vm::Name n_nanoseconds("nanoseconds");

// msgpack's packer refuses values nested deeper than this; an extension
// value counts as one level, its content as the next.
constexpr int kNestLimit = 511;

class Encoder {
public:
    Encoder(Writer& out, const Codec& codec) : out_(out), codec_(codec) {}

    void value(PyObject* o, int depth) {
        enter(depth);
        const Outcome first = core(o, depth);
        if (first == Outcome::kPacked) return;
        if (first == Outcome::kOther) {
            if (const Extension* e = codec_.by_type(Py_TYPE(o))) return extension(*e, o, depth);
            if (pack_array(out_, codec_, o)) return;
        }
        // anything else as the wire's _default makes it, once
        vm::Ref standing = codec_.global(n__default).call({o});
        const Outcome second = core(standing, depth);
        if (second == Outcome::kOverflow) vm::raise(PyExc_OverflowError, "Integer value out of range");
        if (second == Outcome::kOther)
            vm::raise_format(PyExc_TypeError, "can not serialize '%.200s' object", Py_TYPE(standing.get())->tp_name);
    }

private:
    enum class Outcome { kPacked, kOther, kOverflow };

    static void enter(int depth) {
        if (depth > kNestLimit) vm::raise(PyExc_ValueError, "recursion limit exceeded.");
    }

    // msgpack's own types, by exact type.
    Outcome core(PyObject* o, int depth) {
        PyTypeObject* type = Py_TYPE(o);
        if (o == Py_None) {
            out_.nil();
        } else if (o == Py_True || o == Py_False) {
            out_.boolean(o == Py_True);
        } else if (type == &PyLong_Type) {
            return integer(o);
        } else if (type == &PyUnicode_Type) {
            Py_ssize_t n;
            const char* s = PyUnicode_AsUTF8AndSize(o, &n);
            if (!s) vm::raise();
            out_.str_header(static_cast<size_t>(n));
            out_.bytes(s, static_cast<size_t>(n));
        } else if (type == &PyFloat_Type) {
            out_.float64(PyFloat_AS_DOUBLE(o));
        } else if (type == &PyList_Type) {
            list(o, depth);
        } else if (type == &PyDict_Type) {
            dict(o, depth);
        } else if (type == &PyBytes_Type) {
            binary(PyBytes_AS_STRING(o), PyBytes_GET_SIZE(o));
        } else if (type == &PyByteArray_Type) {
            binary(PyByteArray_AS_STRING(o), PyByteArray_GET_SIZE(o));
        } else if (PyMemoryView_Check(o)) {
            memory(o);
        } else if (type == reinterpret_cast<PyTypeObject*>(codec_.ext_type.get())) {
            ext_type(o);
        } else if (type == reinterpret_cast<PyTypeObject*>(codec_.timestamp.get())) {
            timestamp(o);
        } else {
            return Outcome::kOther;
        }
        return Outcome::kPacked;
    }

    Outcome integer(PyObject* o) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (!overflow) {
            if (v == -1 && PyErr_Occurred()) vm::raise();
            out_.signed_int(v);
            return Outcome::kPacked;
        }
        if (overflow < 0) return Outcome::kOverflow;
        const unsigned long long u = PyLong_AsUnsignedLongLong(o);
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) vm::raise();
            PyErr_Clear();
            return Outcome::kOverflow;
        }
        out_.unsigned_int(u);
        return Outcome::kPacked;
    }

    void binary(const char* p, Py_ssize_t n) {
        out_.bin_header(static_cast<size_t>(n));
        out_.bytes(p, static_cast<size_t>(n));
    }

    void memory(PyObject* o) {
        const vm::BytesView view(o);
        binary(reinterpret_cast<const char*>(view.data()), static_cast<Py_ssize_t>(view.size()));
    }

    // A list is packed item by item at the length its header gives; one
    // that the packing of its items (through _default) makes longer or
    // shorter is refused rather than packed against its header.
    void list(PyObject* o, int depth) {
        const Py_ssize_t n = PyList_GET_SIZE(o);
        out_.array_header(static_cast<size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (PyList_GET_SIZE(o) != n) vm::raise(PyExc_RuntimeError, "list changed size during packing");
            vm::Ref item = vm::borrow(PyList_GET_ITEM(o, i));
            value(item, depth + 1);
        }
        if (PyList_GET_SIZE(o) != n) vm::raise(PyExc_RuntimeError, "list changed size during packing");
    }

    // A dict, or a subclass whose iteration is dict's own (what dict(v) reads).
    void dict(PyObject* o, int depth) {
        const Py_ssize_t n = PyDict_GET_SIZE(o);
        out_.map_header(static_cast<size_t>(n));
        Py_ssize_t pos = 0, done = 0;
        PyObject *k, *v;
        while (done < n && PyDict_Next(o, &pos, &k, &v)) {
            vm::Ref key = vm::borrow(k), item = vm::borrow(v);
            value(key, depth + 1);
            value(item, depth + 1);
            ++done;
            if (PyDict_GET_SIZE(o) != n) break;
        }
        if (done != n || PyDict_GET_SIZE(o) != n)
            vm::raise(PyExc_RuntimeError, "dictionary changed size during iteration");
    }

    // Items that cannot change while they are packed (a tuple's, fields read first).
    void items(PyObject* const* v, size_t n, int depth) {
        enter(depth);
        out_.array_header(n);
        for (size_t i = 0; i < n; ++i) value(v[i], depth + 1);
    }

    void ext_type(PyObject* o) {
        if (PyTuple_GET_SIZE(o) != 2) vm::raise(PyExc_TypeError, "an ExtType is a code and its data");
        const long code = PyLong_AsLong(PyTuple_GET_ITEM(o, 0));
        if (code == -1 && PyErr_Occurred()) vm::raise();
        if (code < -128 || code > 127) vm::raise(PyExc_ValueError, "ExtType code must be a signed 8-bit integer");
        PyObject* data = PyTuple_GET_ITEM(o, 1);
        if (!PyBytes_Check(data)) vm::raise(PyExc_TypeError, "ExtType data must be bytes");
        const size_t at = out_.size();
        out_.skip(Writer::kExtRoom);
        out_.bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
        out_.ext_header_at(at, static_cast<int>(code));
    }

    // msgpack's timestamp extension (-1) in its shortest form.
    void timestamp(PyObject* o) {
        vm::Ref seconds_obj = vm::attr(o, n_seconds);
        vm::Ref nanoseconds_obj = vm::attr(o, n_nanoseconds);
        const long long seconds = vm::to_long(seconds_obj);
        const long long nanoseconds = vm::to_long(nanoseconds_obj);
        if (nanoseconds < 0 || nanoseconds > 0xffffffffLL) vm::raise(PyExc_ValueError, "nanoseconds out of range");
        const size_t at = out_.size();
        out_.skip(Writer::kExtRoom);
        unsigned char body[12];
        size_t n;
        if ((static_cast<unsigned long long>(seconds) >> 34) == 0) {
            const uint64_t packed = (static_cast<uint64_t>(nanoseconds) << 34) | static_cast<uint64_t>(seconds);
            if ((packed >> 32) == 0) {
                write_be(body, static_cast<uint32_t>(packed)), n = 4;
            } else {
                write_be(body, packed), n = 8;
            }
        } else {
            write_be(body, static_cast<uint32_t>(nanoseconds));
            write_be(body + 4, static_cast<int64_t>(seconds));
            n = 12;
        }
        out_.bytes(body, n);
        out_.ext_header_at(at, -1);
    }

    void extension(const Extension& e, PyObject* o, int depth) {
        const size_t at = out_.size();
        out_.skip(Writer::kExtRoom);
        switch (e.rule) {
            case Rule::kList:
                if (PyTuple_CheckExact(o)) {
                    items(&PyTuple_GET_ITEM(o, 0), static_cast<size_t>(PyTuple_GET_SIZE(o)), depth + 1);
                } else {
                    vm::Ref content = vm::own(PySequence_List(o));
                    value(content, depth + 1);
                }
                break;
            case Rule::kDict:
                if (vm::reads_as_dict(o)) {
                    enter(depth + 1);
                    dict(o, depth + 1);
                } else {
                    vm::Ref content = vm::call(reinterpret_cast<PyObject*>(&PyDict_Type), o);
                    value(content, depth + 1);
                }
                break;
            case Rule::kFields: {
                // read in order first, then packed, as [v.a, v.b, ...] is
                const size_t n = static_cast<size_t>(PyTuple_GET_SIZE(e.detail.get()));
                vm::Ref fields[kMaxFields];
                PyObject* read[kMaxFields];
                for (size_t i = 0; i < n; ++i) {
                    fields[i] = vm::attr(o, PyTuple_GET_ITEM(e.detail.get(), static_cast<Py_ssize_t>(i)));
                    read[i] = fields[i].get();
                }
                items(read, n, depth + 1);
                break;
            }
            case Rule::n_isoformat: {
                vm::Ref content = vm::Method(o, n_isoformat).call();
                value(content, depth + 1);
                break;
            }
            case Rule::kState: {
                vm::Ref content = vm::attr(o, n___dict__);
                value(content, depth + 1);
                break;
            }
        }
        out_.ext_header_at(at, e.code);
    }

    Writer& out_;
    const Codec& codec_;
};

// The header of a frame: the length of the body that follows.
constexpr size_t kHeader = 4;

}  // namespace

void pack(Writer& out, PyObject* value) { Encoder(out, codec()).value(value, 0); }

vm::Ref encode(vm::Params<1> p) {
    auto [value] = p.take<1>();
    Writer out;
    pack(out, value);
    return out.take();
}

vm::Ref frame_of(PyObject* message) {
    Writer out;
    out.skip(kHeader);
    pack(out, message);
    const size_t body = out.size() - kHeader;
    vm::Ref size = vm::own(PyLong_FromSize_t(body));
    vm::Ref cap = codec().global(n_MAX_FRAME);
    const int over = PyObject_RichCompareBool(size, cap, Py_GT);
    vm::check(over);
    if (over || body > kItemLimit)
        refuse(vm::own(PyUnicode_FromFormat("a frame of %zu bytes exceeds the cap of %S", body, cap.get())));
    write_be(out.at(0), static_cast<uint32_t>(body));
    return out.take();
}

vm::Ref frame(vm::Params<1> p) {
    auto [message] = p.take<1>();
    return frame_of(message);
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(encode, "value: Any -> bytes",
                "The msgpack body of a value (TypeError for a value the wire does not carry)."),
    VM_FUNCTION(frame, "message: _Message -> bytes", "One frame (length prefix and body) holding `message`."),
};

}  // namespace

void register_encode(vm::Module& m) { m.add(kFunctions); }

}  // namespace wirecodec
