#include "decode.hpp"

#include "arrays.hpp"
#include "codec.hpp"
#include "writer.hpp"

#include "vm/buffer.hpp"

#include <cstring>
#include <optional>

namespace wirecodec {

namespace {

vm::Name n_get("get");
vm::Name n_fromisoformat("fromisoformat");

// Containers and extension values nested deeper than this are refused: the
// encoder stops at half of it, and the C stack stays small whatever comes.
constexpr int kDepthLimit = 1024;

// Map keys come back interned, as msgpack's unpacker gives them. The same few
// keys come in every answer: the interned text of each is remembered by its
// bytes, so that a key met again costs a comparison instead of a decoding
// and a lookup in the interpreter's table of interned strings.
class KeyCache {
public:
    vm::Ref key(const unsigned char* s, size_t n) {
        if (n > kLongest) return intern(s, n);
        Entry& e = entries_[slot(s, n)];
        if (e.text && e.size == n && std::memcmp(e.bytes, s, n) == 0) return e.text;
        vm::Ref text = intern(s, n);
        e.text = text;
        e.size = n;
        std::memcpy(e.bytes, s, n);
        return text;
    }

private:
    static constexpr size_t kLongest = 24;
    static constexpr size_t kEntries = 256;

    struct Entry {
        vm::Ref text;
        size_t size = 0;
        unsigned char bytes[kLongest];
    };

    static size_t slot(const unsigned char* s, size_t n) noexcept {
        uint32_t h = 2166136261u;  // FNV-1a
        for (size_t i = 0; i < n; ++i) h = (h ^ s[i]) * 16777619u;
        return h & (kEntries - 1);
    }

    static vm::Ref intern(const unsigned char* s, size_t n) {
        PyObject* text = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(s), static_cast<Py_ssize_t>(n), nullptr);
        if (!text) vm::raise();
        PyUnicode_InternInPlace(&text);
        return vm::Ref::steal(text);
    }

    Entry entries_[kEntries];
};

// Kept for the process, as the interned strings it holds are.
KeyCache& key_cache() {
    static KeyCache* cache = new KeyCache;
    return *cache;
}

class Decoder {
public:
    Decoder(const Codec& codec, const unsigned char* p, size_t n) : codec_(codec), p_(p), end_(p + n) {}

    bool at_end() const noexcept { return p_ == end_; }

    vm::Ref value(int depth) {
        const unsigned char b = *take(1);
        if (b < 0x80) return vm::own(PyLong_FromLong(b));
        if (b >= 0xe0) return vm::own(PyLong_FromLong(static_cast<int8_t>(b)));
        if (b < 0x90) return map(b & 0x0f, depth);
        if (b < 0xa0) return array(b & 0x0f, depth);
        if (b < 0xc0) return text(b & 0x1f);
        switch (b) {
            case 0xc0: return vm::none();
            case 0xc2: return vm::boolean(false);
            case 0xc3: return vm::boolean(true);
            case 0xc4: return binary(number<uint8_t>());
            case 0xc5: return binary(number<uint16_t>());
            case 0xc6: return binary(number<uint32_t>());
            case 0xc7: return ext(number<uint8_t>(), depth);
            case 0xc8: return ext(number<uint16_t>(), depth);
            case 0xc9: return ext(number<uint32_t>(), depth);
            case 0xca: return vm::own(PyFloat_FromDouble(number<float>()));
            case 0xcb: return vm::own(PyFloat_FromDouble(number<double>()));
            case 0xcc: return vm::own(PyLong_FromUnsignedLong(number<uint8_t>()));
            case 0xcd: return vm::own(PyLong_FromUnsignedLong(number<uint16_t>()));
            case 0xce: return vm::own(PyLong_FromUnsignedLong(number<uint32_t>()));
            case 0xcf: return vm::own(PyLong_FromUnsignedLongLong(number<uint64_t>()));
            case 0xd0: return vm::own(PyLong_FromLong(number<int8_t>()));
            case 0xd1: return vm::own(PyLong_FromLong(number<int16_t>()));
            case 0xd2: return vm::own(PyLong_FromLong(number<int32_t>()));
            case 0xd3: return vm::own(PyLong_FromLongLong(number<int64_t>()));
            case 0xd4: return ext(1, depth);
            case 0xd5: return ext(2, depth);
            case 0xd6: return ext(4, depth);
            case 0xd7: return ext(8, depth);
            case 0xd8: return ext(16, depth);
            case 0xd9: return text(number<uint8_t>());
            case 0xda: return text(number<uint16_t>());
            case 0xdb: return text(number<uint32_t>());
            case 0xdc: return array(number<uint16_t>(), depth);
            case 0xdd: return array(number<uint32_t>(), depth);
            case 0xde: return map(number<uint16_t>(), depth);
            case 0xdf: return map(number<uint32_t>(), depth);
            default: malformed("unknown type byte 0x%x", static_cast<unsigned>(b));
        }
    }

private:
    size_t left() const noexcept { return static_cast<size_t>(end_ - p_); }

    const unsigned char* take(size_t n) {
        if (left() < n) malformed("incomplete input");
        const unsigned char* at = p_;
        p_ += n;
        return at;
    }

    template <class T>
    T number() {
        return read_be<T>(take(sizeof(T)));
    }

    static void nest(int depth) {
        if (depth >= kDepthLimit) malformed("values nested deeper than %d levels", kDepthLimit);
    }

    vm::Ref text(size_t n) {
        const unsigned char* s = take(n);
        return vm::own(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(s), static_cast<Py_ssize_t>(n), nullptr));
    }

    vm::Ref binary(size_t n) {
        const unsigned char* s = take(n);
        return vm::own(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(s), static_cast<Py_ssize_t>(n)));
    }

    // Each item takes at least a byte: a count beyond the bytes left is a
    // lie, refused before anything is allocated for it.
    vm::Ref array(size_t n, int depth) {
        nest(depth);
        if (n > left()) malformed("%zu items announced with %zu bytes left", n, left());
        vm::Ref list = vm::own(PyList_New(static_cast<Py_ssize_t>(n)));
        for (size_t i = 0; i < n; ++i) PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value(depth + 1).release());
        return list;
    }

    vm::Ref map(size_t n, int depth) {
        nest(depth);
        if (n > left() / 2) malformed("%zu pairs announced with %zu bytes left", n, left());
        vm::Ref dict = vm::new_dict(static_cast<Py_ssize_t>(n));
        for (size_t i = 0; i < n; ++i) {
            vm::Ref key = map_key(depth + 1);
            vm::Ref item = value(depth + 1);
            vm::dict_set(dict, key, item);
        }
        return dict;
    }

    // A key of a map: a str interned, anything else as a value.
    vm::Ref map_key(int depth) {
        if (left() == 0) malformed("incomplete input");
        const unsigned char b = *p_;
        size_t n;
        if (b >= 0xa0 && b < 0xc0) {
            ++p_;
            n = b & 0x1f;
        } else if (b == 0xd9) {
            ++p_;
            n = number<uint8_t>();
        } else {
            vm::Ref key = value(depth);
            if (!PyUnicode_CheckExact(key.get())) return key;
            PyObject* k = key.release();
            PyUnicode_InternInPlace(&k);
            return vm::Ref::steal(k);
        }
        return key_cache().key(take(n), n);
    }

    vm::Ref ext(size_t n, int depth) {
        nest(depth);
        const int code = static_cast<int8_t>(*take(1));
        const unsigned char* payload = take(n);
        if (code == -1) return timestamp(payload, n);
        const Extension* e = codec_.by_code(code);
        vm::Ref decoder;
        if (!e) {
            vm::Ref key = vm::own(PyLong_FromLong(code));
            decoder = codec_.global(n__DECODERS).method(n_get).call({key});
            if (vm::is_none(decoder)) refuse(vm::own(PyUnicode_FromFormat("unknown extension type %d", code)));
            if (vm::Ref array = unpack_array(codec_, decoder, payload, n)) return array;
        }
        Decoder inner(codec_, payload, n);
        vm::Ref content = inner.value(depth + 1);
        if (!inner.at_end()) malformed("extra data in an extension value of type %d", code);
        if (e) return build(*e, content);
        return vm::call(decoder.get(), content);
    }

    // msgpack's own timestamp extension, as its unpacker gives it.
    vm::Ref timestamp(const unsigned char* p, size_t n) {
        long long seconds;
        unsigned long long nanoseconds = 0;
        if (n == 4) {
            seconds = read_be<uint32_t>(p);
        } else if (n == 8) {
            const uint64_t v = read_be<uint64_t>(p);
            nanoseconds = v >> 34;
            seconds = static_cast<long long>(v & 0x3ffffffffULL);
        } else if (n == 12) {
            nanoseconds = read_be<uint32_t>(p);
            seconds = read_be<int64_t>(p + 4);
        } else {
            malformed("timestamp must be 4, 8, or 12 bytes");
        }
        vm::Ref s = vm::own(PyLong_FromLongLong(seconds));
        vm::Ref ns = vm::own(PyLong_FromUnsignedLongLong(nanoseconds));
        return vm::call(codec_.timestamp.get(), s, ns);
    }

    static vm::Ref build(const Extension& e, const vm::Ref& content) {
        switch (e.rule) {
            case Rule::kList:
            case Rule::kDict:
                if (e.type == &PyTuple_Type && PyList_CheckExact(content.get())) return vm::own(PyList_AsTuple(content));
                return vm::call(e.cls.get(), content);
            case Rule::kFields:
                // cls(*content): a fresh list, held here alone, lends its items
                if (PyList_CheckExact(content.get()))
                    return vm::call_array(e.cls, PySequence_Fast_ITEMS(content.get()),
                                          static_cast<size_t>(PyList_GET_SIZE(content.get())));
                return vm::own(PyObject_Call(e.cls, vm::own(PySequence_Tuple(content)), nullptr));
            case Rule::n_isoformat:
                return vm::Method(e.cls, n_fromisoformat).call({content});
            case Rule::kState:
                return state(e, content);
        }
        return vm::none();
    }

    // cls.__new__(cls), the content as its __dict__, then the defaults of what it lacks.
    static vm::Ref state(const Extension& e, const vm::Ref& content) {
        if (!PyDict_Check(content.get()))
            refuse(vm::own(PyUnicode_FromFormat("%s is sent as a map of its attributes", e.type->tp_name)));
        vm::Ref no_args = vm::own(PyTuple_New(0));
        vm::Ref made = vm::own(e.type->tp_new(e.type, no_args, nullptr));
        vm::set_attr(made, n___dict__, content);
        Py_ssize_t pos = 0;
        PyObject *name, *value;
        while (PyDict_Next(e.detail, &pos, &name, &value)) {
            const int has = PyDict_Contains(content, name);
            vm::check(has);
            if (!has) vm::set_attr(made, name, value);
        }
        return made;
    }

    const Codec& codec_;
    const unsigned char* p_;
    const unsigned char* end_;
};

// As `except FrameError: raise` then `except Exception as exc: raise
// FrameError("malformed frame: {}".format(exc)) from None`.
[[noreturn]] void as_frame_error(const Codec& codec) {
    vm::Ref exc = take_exception();
    vm::Ref frame_error = codec.global(n_FrameError);
    if (is_instance(exc, frame_error) || !is_instance(exc, PyExc_Exception)) raise_again(std::move(exc));
    vm::Ref message = vm::own(PyUnicode_FromFormat("malformed frame: %S", exc.get()));
    vm::Ref replaced = vm::call(frame_error.get(), message);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(replaced.get())), replaced);
    PyException_SetCause(replaced, nullptr);  // "from None": the context is kept, not shown
    PyException_SetContext(replaced, exc.release());
    throw vm::Error{};
}

}  // namespace

vm::Ref decode_body(const unsigned char* p, size_t n) {
    const Codec& c = codec();
    try {
        Decoder d(c, p, n);
        vm::Ref v = d.value(0);
        if (!d.at_end()) malformed("extra data after the value");
        return v;
    } catch (const vm::Error&) {
        as_frame_error(c);
    }
}

vm::Ref decode(vm::Params<1> p) {
    auto [body] = p.take<1>();
    const Codec& c = codec();
    std::optional<vm::BytesView> view;
    try {
        view.emplace(body);
    } catch (const vm::Error&) {
        as_frame_error(c);
    }
    return decode_body(view->data(), view->size());
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(decode, "body: bytes -> Any", "The value of a msgpack body; FrameError when it is not one."),
};

}  // namespace

void register_decode(vm::Module& m) { m.add(kFunctions); }

}  // namespace wirecodec
