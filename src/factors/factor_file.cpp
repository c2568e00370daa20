#include "factor_file.hpp"

#include <algorithm>

namespace factors {
namespace {

Name n_ask_factor_by_targets{"ask_factor_by_targets"};
Name n_vmcmd{"vmcmd"};
Name n_vmSendCmdGetFactor{"vmSendCmdGetFactor"};
Name n_DotDict{"DotDict"};
Name n_load_mat{"load_mat"};
Name n_Date{"Date"};
Name n_date{"date"};
Name n_ravel{"ravel"};
Name n_startswith{"startswith"};
Name n_upper{"upper"};
Name n_prefix{"bp_"};
Name n_underscore{"_"};
Name n_dot{"."};

constexpr std::string_view kPrefix = "bp_";

// The characters of a str whose characters are all ASCII.
bool ascii_view(PyObject* s, std::string_view& out) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) vm::raise();
#endif
    if (!PyUnicode_IS_ASCII(s)) return false;
    out = std::string_view(static_cast<const char*>(PyUnicode_DATA(s)), static_cast<size_t>(PyUnicode_GET_LENGTH(s)));
    return true;
}

char upper_ascii(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

Ref ravel(PyObject* v) { return vm::call_method(v, n_ravel); }

}  // namespace

FactorFile::FactorFile(Args a) {
    vm::call_global<ask_factor_by_targets>(n_ask_factor_by_targets, a[0], a[1], a[2], a[3], a[4]);
    Ref get_factor = vm::attr(vm::global(n_vmcmd), n_vmSendCmdGetFactor);
    Ref path = vm::call(get_factor, a[0], a[1], a[2], a[3], a[4]);
    Ref dot_dict = vm::global(n_DotDict);
    Ref load_mat = vm::global(n_load_mat);
    Ref data = vm::call(dot_dict, vm::call(load_mat, path));
    collect(data);
    read_values(data);
    dates_ = ravel(vm::item(data, n_Date));
}

// The names that begin with "bp_", in ascending order (str order: code points).
void FactorFile::collect(PyObject* data) {
    vm::for_each(data, [&](PyObject* name) {
        Entry e;
        if (!PyUnicode_Check(name)) {
            // name.startswith("bp_") decides, as it would for any name; only
            // text names make target keys
            if (vm::truthy(vm::call_method(name, n_startswith, n_prefix)))
                vm::raise_format(PyExc_TypeError, "factor entry name must be str, not '%.200s'", Py_TYPE(name)->tp_name);
            return;
        }
        e.ascii = ascii_view(name, e.text);
        if (e.ascii) {
            if (e.text.substr(0, kPrefix.size()) != kPrefix) return;
        } else {
            const Py_ssize_t match = PyUnicode_Tailmatch(name, n_prefix, 0, PY_SSIZE_T_MAX, -1);
            if (match < 0) vm::raise();
            if (match == 0) return;
        }
        e.name = vm::borrow(name);
        entries_.push_back(std::move(e));
    });
    auto less = [](const Entry& x, const Entry& y) {
        if (x.ascii && y.ascii) return x.text < y.text;
        return PyUnicode_Compare(x.name, y.name) < 0;
    };
    // terminals write their entries in order: then there is nothing to sort
    if (!std::is_sorted(entries_.begin(), entries_.end(), less)) std::sort(entries_.begin(), entries_.end(), less);

    for (size_t i = 0; i < entries_.size(); ++i) {
        Entry& e = entries_[i];
        if (e.ascii) {
            // at least the "_" of the prefix is there
            e.separator = e.text.rfind('_');
            size_t before = e.text.rfind('_', e.separator - 1);
            e.key_begin = before == std::string_view::npos ? 0 : before + 1;
        } else {
            // ".".join(name.split("_")[-2:]).upper()
            Ref parts = vm::own(PyUnicode_RSplit(e.name, n_underscore, 2));
            const Py_ssize_t n = PyList_GET_SIZE(parts.get());
            Ref last_two = vm::own(PyList_GetSlice(parts, n - 2, n));
            e.key = vm::call_method(vm::own(PyUnicode_Join(n_dot, last_two)), n_upper);
            other_.push_back(i);
        }
    }
}

// Looked up in name order, as the dictionary is filled. Flattening an ndarray
// has no effect besides its result, so it waits until the series is read;
// anything else is flattened now, where its failure would surface.
void FactorFile::read_values(PyObject* data) {
    for (Entry& e : entries_) {
        e.value = vm::item(data, e.name);
        if (Py_TYPE(e.value.get()) != reinterpret_cast<PyTypeObject*>(g_ndarray)) e.series = ravel(e.value);
    }
}

Ref FactorFile::series(Entry& e) {
    if (!e.series) e.series = ravel(e.value);
    return e.series;
}

Ref FactorFile::key_text(const Entry& e) const {
    std::string key(e.text.substr(e.key_begin));
    for (size_t i = 0; i < key.size(); ++i) key[i] = e.key_begin + i == e.separator ? '.' : upper_ascii(key[i]);
    return vm::text(key);
}

bool FactorFile::key_equals(const Entry& e, std::string_view key) const noexcept {
    if (key.size() != e.text.size() - e.key_begin) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const size_t at = e.key_begin + i;
        if (key[i] != (at == e.separator ? '.' : upper_ascii(e.text[at]))) return false;
    }
    return true;
}

Ref FactorFile::dictionary() {
    Ref out = vm::new_dict();
    for (Entry& e : entries_) vm::dict_set(out, e.ascii ? key_text(e) : e.key, series(e));
    vm::dict_set(out, n_date, dates_);
    return out;
}

// A later entry with the same key replaces an earlier one in the dictionary:
// the last match in name order is the one found.
std::ptrdiff_t FactorFile::find_ascii(std::string_view key) {
    if (++lookups_ == 1) {
        for (size_t i = entries_.size(); i-- > 0;)
            if (entries_[i].ascii && key_equals(entries_[i], key)) return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    if (!indexed_) {
        indexed_ = true;
        size_t total = 0;
        for (const Entry& e : entries_) total += e.text.size() - e.key_begin;
        index_text_.reserve(total);  // views into it stay valid
        for (size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            if (!e.ascii) continue;
            const size_t at = index_text_.size();
            for (size_t j = e.key_begin; j < e.text.size(); ++j)
                index_text_ += j == e.separator ? '.' : upper_ascii(e.text[j]);
            index_[std::string_view(index_text_).substr(at)] = i;
        }
    }
    auto it = index_.find(key);
    return it == index_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

Ref FactorFile::find(PyObject* key) {
    std::ptrdiff_t found = -1;
    std::string_view text;
    if (ascii_view(key, text)) found = find_ascii(text);
    for (auto it = other_.rbegin(); it != other_.rend() && static_cast<std::ptrdiff_t>(*it) > found; ++it) {
        if (vm::equal(entries_[*it].key, key)) {
            found = static_cast<std::ptrdiff_t>(*it);
            break;
        }
    }
    return found < 0 ? Ref() : series(entries_[static_cast<size_t>(found)]);
}

}  // namespace factors
