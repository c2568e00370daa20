#include "factor_file.hpp"

#include "vm/shortcut.hpp"
#include "vm/textcase.hpp"

#include <algorithm>

namespace factors {
namespace {

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

Ref ravel(const Ref& v) { return v.attr(n_ravel).call(); }

// ".".join(name.split("_")[-2:]).upper(), for names that are not ASCII
Ref python_key(PyObject* name) {
    Ref parts = vm::own(PyUnicode_RSplit(name, n_underscore, 2));
    const Py_ssize_t n = PyList_GET_SIZE(parts.get());
    Ref last_two = vm::own(PyList_GetSlice(parts, n - 2, n));
    return vm::str_upper(vm::own(PyUnicode_Join(n_dot, last_two)));
}

}  // namespace

FactorFile::FactorFile(Params<5> p) {
    auto [factor, targets, begin_date, end_date, day_before] = p.take<5>();
    vm::global<ask_factor_by_targets>(n_ask_factor_by_targets).call({factor, targets, begin_date, end_date, day_before});
    Ref path = vm::global(n_vmcmd).attr(n_vmSendCmdGetFactor).call({factor, targets, begin_date, end_date, day_before});
    Ref data = vm::global(n_DotDict).call({vm::global(n_load_mat).call({path})});
    collect(data);
    sort();
    read_values(data);
    dates_ = ravel(data.item(n_Date));
}

// The names that begin with "bp_".
void FactorFile::collect(PyObject* data) {
    Ref names = vm::iter(data);
    // only a hint for the reservation, which a loop over the names would not ask for
    const Py_ssize_t hint = PyObject_LengthHint(names, 0);
    if (hint < 0)
        PyErr_Clear();
    else
        entries_.reserve(static_cast<size_t>(hint));
    while (Ref name = vm::next(names)) {
        if (!PyUnicode_Check(name.get())) {
            // name.startswith("bp_") decides, as it would for any name; only
            // text names make target keys
            if (vm::truthy(name.attr(n_startswith).call({n_prefix})))
                vm::raise_format(PyExc_TypeError, "factor entry name must be str, not '%.200s'",
                                 Py_TYPE(name.get())->tp_name);
            continue;
        }
        Entry e{};
        e.ascii = ascii_view(name, e.text);
        if (e.ascii) {
            if (e.text.substr(0, kPrefix.size()) != kPrefix) continue;
            // the prefix holds a "_": there is a last one
            const size_t last = e.text.rfind('_');
            const size_t before = e.text.rfind('_', last - 1);
            e.separator = static_cast<uint32_t>(last);
            e.key_begin = before == std::string_view::npos ? 0 : static_cast<uint32_t>(before + 1);
        } else {
            const Py_ssize_t match = PyUnicode_Tailmatch(name, n_prefix, 0, PY_SSIZE_T_MAX, -1);
            if (match < 0) vm::raise();
            if (match == 0) continue;
        }
        e.name = std::move(name);
        entries_.push_back(std::move(e));
    }
}

// Ascending str order (code points). Ranks are sorted through small keys that
// hold the 16 characters after "bp_" as two big-endian words: most names
// differ there, so few comparisons read the text.
void FactorFile::sort() {
    struct SortKey {
        uint64_t head[2];
        const Entry* entry;
        uint32_t index;
    };
    std::vector<SortKey> keys(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        SortKey& k = keys[i];
        k.entry = &entries_[i];
        k.index = static_cast<uint32_t>(i);
        k.head[0] = k.head[1] = 0;  // a shorter name pads with the lowest byte: the order holds
        const std::string_view rest = k.entry->text.substr(std::min(kPrefix.size(), k.entry->text.size()));
        for (size_t j = 0; j < 16 && j < rest.size(); ++j)
            k.head[j / 8] |= uint64_t(static_cast<unsigned char>(rest[j])) << (56 - 8 * (j % 8));
    }
    auto less = [](const SortKey& x, const SortKey& y) {
        if (!x.entry->ascii || !y.entry->ascii) return PyUnicode_Compare(x.entry->name, y.entry->name) < 0;
        if (x.head[0] != y.head[0]) return x.head[0] < y.head[0];
        if (x.head[1] != y.head[1]) return x.head[1] < y.head[1];
        return x.entry->text < y.entry->text;
    };
    // a terminal may well write its entries in order already
    if (!std::is_sorted(keys.begin(), keys.end(), less)) std::sort(keys.begin(), keys.end(), less);
    order_.resize(keys.size());
    for (size_t rank = 0; rank < keys.size(); ++rank) {
        order_[rank] = keys[rank].index;
        const Entry& e = entries_[keys[rank].index];
        if (!e.ascii) others_.emplace_back(rank, python_key(e.name));
    }
}

// Looked up in name order, as the dictionary is filled. Flattening an ndarray
// has no effect besides its result, so it waits until the series is read;
// anything else is flattened now, where its failure would surface.
void FactorFile::read_values(PyObject* data) {
    for (uint32_t i : order_) {
        Entry& e = entries_[i];
        e.value = vm::item(data, e.name);
        if (Py_TYPE(e.value.get()) != reinterpret_cast<PyTypeObject*>(g_ndarray)) e.series = ravel(e.value);
    }
}

Ref FactorFile::series(size_t rank) {
    Entry& e = entries_[order_[rank]];
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
    auto other = others_.begin();
    for (size_t rank = 0; rank < order_.size(); ++rank) {
        const Entry& e = entries_[order_[rank]];
        Ref key = e.ascii ? key_text(e) : (other++)->second;
        vm::dict_set(out, key, series(rank));
    }
    vm::dict_set(out, n_date, dates_);
    return out;
}

// A later entry with the same key replaces an earlier one's series in the
// dictionary: the last match in name order is the one found.
size_t FactorFile::find_ascii(std::string_view key) {
    if (++lookups_ == 1) {
        for (size_t rank = order_.size(); rank-- > 0;) {
            const Entry& e = entries_[order_[rank]];
            if (e.ascii && key_equals(e, key)) return rank;
        }
        return kNone;
    }
    if (index_.empty() && !order_.empty()) {
        size_t total = 0;
        for (const Entry& e : entries_) total += e.text.size() - e.key_begin;
        index_text_.reserve(total);  // views into it stay valid
        index_.reserve(entries_.size());
        for (size_t rank = 0; rank < order_.size(); ++rank) {
            const Entry& e = entries_[order_[rank]];
            if (!e.ascii) continue;
            const size_t at = index_text_.size();
            for (size_t j = e.key_begin; j < e.text.size(); ++j)
                index_text_ += j == e.separator ? '.' : upper_ascii(e.text[j]);
            index_[std::string_view(index_text_).substr(at)] = rank;
        }
    }
    auto it = index_.find(key);
    return it == index_.end() ? kNone : it->second;
}

Ref FactorFile::find(PyObject* key) {
    std::string_view text;
    size_t found = ascii_view(key, text) ? find_ascii(text) : kNone;
    for (auto it = others_.rbegin(); it != others_.rend(); ++it) {
        if (found != kNone && it->first < found) break;
        if (vm::equal(it->second, key)) {
            found = it->first;
            break;
        }
    }
    return found == kNone ? Ref() : series(found);
}

}  // namespace factors
