#include "factor_file.hpp"

#include "vm/numpy.hpp"
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

// v.ravel(): numpy's own for an ndarray, else without the bound method a
// read of the attribute would make
Ref ravel(PyObject* v) {
    if (PyArrayObject* a = vm::numpy::exact(v)) return vm::numpy::ravel(a);
    return vm::Method(v, n_ravel).call();
}

// ".".join(name.split("_")[-2:]).upper(), for names that are not ASCII
Ref python_key(PyObject* name) {
    Ref parts = vm::own(PyUnicode_RSplit(name, n_underscore, 2));
    const Py_ssize_t n = PyList_GET_SIZE(parts.get());
    Ref last_two = vm::own(PyList_GetSlice(parts, n - 2, n));
    return vm::str_upper(vm::own(PyUnicode_Join(n_dot, last_two)));
}

}  // namespace

namespace {
// Two spares: a file read while another is open takes a second set.
constexpr size_t kSpareTables = 2;

template <class Tables>
std::vector<std::unique_ptr<Tables>>& spares() {
    static auto* kept = new std::vector<std::unique_ptr<Tables>>();  // for the process, never destroyed
    return *kept;
}
}  // namespace

std::unique_ptr<FactorFile::Tables> FactorFile::Tables::take() {
    std::vector<std::unique_ptr<Tables>>& spare = spares<Tables>();
    if (spare.empty()) return std::make_unique<Tables>();
    std::unique_ptr<Tables> t = std::move(spare.back());
    spare.pop_back();
    return t;
}

void FactorFile::Tables::give_back(std::unique_ptr<Tables> t) {
    // releasing the entries may run finalizers, which may read files too:
    // the tables go back only once empty
    t->entries.clear();
    t->order.clear();
    t->others.clear();
    t->index.clear();
    t->index_text.clear();
    t->sort_keys.clear();
    std::vector<std::unique_ptr<Tables>>& spare = spares<Tables>();
    if (spare.size() < kSpareTables) spare.push_back(std::move(t));
}

FactorFile::~FactorFile() { Tables::give_back(std::move(tables_)); }

FactorFile::FactorFile(Params<5> p) {
    auto [factor, targets, begin_date, end_date, day_before] = p.take<5>();
    vm::global<ask_factor_by_targets>(n_ask_factor_by_targets).call({factor, targets, begin_date, end_date, day_before});
    Ref path = vm::global(n_vmcmd).attr(n_vmSendCmdGetFactor).call({factor, targets, begin_date, end_date, day_before});
    Ref data = vm::global(n_DotDict).call({vm::global(n_load_mat).call({path})});
    if (!collect(data)) {
        sort();
        read_values(data);
    }
    dates_ = ravel(data.item(n_Date));
}

// The names that begin with "bp_". True when the values came with them and
// are all ndarrays: then nothing of the file's reading can be observed, and
// the name order is made only for the dictionary.
bool FactorFile::collect(PyObject* data) {
    if (vm::reads_as_dict(data) && collect_dict(data)) {
        for (const Entry& e : entries_)
            if (!PyArray_CheckExact(e.value.get())) return false;
        return true;
    }
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
        if (take_name(name, e)) entries_.push_back(std::move(e));
    }
    return false;
}

// Names and values at once, from a dict that reads as iterating it would. A
// name that is not a str may run Python code in its startswith: then nothing
// is kept and the iteration decides.
bool FactorFile::collect_dict(PyObject* data) {
    entries_.reserve(static_cast<size_t>(PyDict_GET_SIZE(data)));
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(data, &pos, &name, &value)) {
        if (!PyUnicode_Check(name)) {
            entries_.clear();
            others_.clear();
            return false;
        }
        Entry e{};
        e.value = vm::borrow(value);  // held before anything can run a collection
        if (take_name(name, e)) entries_.push_back(std::move(e));
    }
    return true;
}

// Fills e for a str name that begins with "bp_"; false for any other.
bool FactorFile::take_name(PyObject* name, Entry& e) {
    e.name = vm::borrow(name);
    e.ascii = ascii_view(name, e.text);
    if (e.ascii) {
        if (e.text.substr(0, kPrefix.size()) != kPrefix) return false;
        // the prefix holds a "_": there is a last one
        const size_t last = e.text.rfind('_');
        const size_t before = e.text.rfind('_', last - 1);
        e.separator = static_cast<uint32_t>(last);
        e.key_begin = before == std::string_view::npos ? 0 : static_cast<uint32_t>(before + 1);
    } else {
        const Py_ssize_t match = PyUnicode_Tailmatch(name, n_prefix, 0, PY_SSIZE_T_MAX, -1);
        if (match < 0) vm::raise();
        if (match == 0) return false;
        e.key = python_key(name);
        others_.push_back(static_cast<uint32_t>(entries_.size()));
    }
    return true;
}

// Ascending str order (code points).
bool FactorFile::name_less(const Entry& x, const Entry& y) const noexcept {
    if (!x.ascii || !y.ascii) return PyUnicode_Compare(x.name, y.name) < 0;
    return x.text < y.text;
}

// Ranks are sorted through SortKeys.
void FactorFile::sort() {
    std::vector<SortKey>& keys = tables_->sort_keys;
    keys.resize(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        SortKey& k = keys[i];
        k.entry = &entries_[i];
        k.index = static_cast<uint32_t>(i);
        k.head[0] = k.head[1] = 0;  // a shorter name pads with the lowest byte: the order holds
        const std::string_view rest = k.entry->text.substr(std::min(kPrefix.size(), k.entry->text.size()));
        for (size_t j = 0; j < 16 && j < rest.size(); ++j)
            k.head[j / 8] |= uint64_t(static_cast<unsigned char>(rest[j])) << (56 - 8 * (j % 8));
    }
    auto less = [this](const SortKey& x, const SortKey& y) {
        if (!x.entry->ascii || !y.entry->ascii) return name_less(*x.entry, *y.entry);
        if (x.head[0] != y.head[0]) return x.head[0] < y.head[0];
        if (x.head[1] != y.head[1]) return x.head[1] < y.head[1];
        return x.entry->text < y.entry->text;
    };
    // a terminal may well write its entries in order already
    if (!std::is_sorted(keys.begin(), keys.end(), less)) std::sort(keys.begin(), keys.end(), less);
    order_.resize(keys.size());
    for (size_t rank = 0; rank < keys.size(); ++rank) order_[rank] = keys[rank].index;
}

// Looked up in name order, as the dictionary is filled (unless the dict gave
// them with the names). Flattening an ndarray has no effect besides its
// result, so it waits until the series is read; anything else is flattened
// now, where its failure would surface.
void FactorFile::read_values(PyObject* data) {
    for (uint32_t i : order_) {
        Entry& e = entries_[i];
        if (!e.value) e.value = vm::item(data, e.name);
        if (!PyArray_CheckExact(e.value.get())) e.series = ravel(e.value);
    }
}

Ref FactorFile::series(Entry& e) {
    if (!e.series) e.series = ravel(e.value);
    return e.series;
}

char FactorFile::key_char(const Entry& e, size_t i) noexcept {
    const size_t at = e.key_begin + i;
    return at == e.separator ? '.' : vm::ascii_upper(e.text[at]);
}

Ref FactorFile::key_text(const Entry& e) const {
    const size_t n = key_size(e);
    Ref key = vm::own(PyUnicode_New(static_cast<Py_ssize_t>(n), 127));
    char* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(key.get()));
    for (size_t i = 0; i < n; ++i) out[i] = key_char(e, i);
    return key;
}

// From the last character: codes of one market differ there, their market
// prefix is the same.
bool FactorFile::key_equals(const Entry& e, std::string_view key) noexcept {
    if (key.size() != key_size(e)) return false;
    for (size_t i = key.size(); i-- > 0;)
        if (key[i] != key_char(e, i)) return false;
    return true;
}

Ref FactorFile::dictionary() {
    if (order_.size() != entries_.size()) sort();
    Ref out = vm::new_dict(static_cast<Py_ssize_t>(order_.size() + 1));
    for (uint32_t i : order_) {
        Entry& e = entries_[i];
        vm::dict_set(out, e.ascii ? key_text(e) : e.key, series(e));
    }
    vm::dict_set(out, n_date, dates_);
    return out;
}

// Every ASCII key once, its text kept for the lookups: where several names
// give a key, the dictionary holds the series of the greatest, entered last.
void FactorFile::build_index() {
    size_t total = 0;
    for (const Entry& e : entries_) total += e.ascii ? key_size(e) : 0;
    index_text_.resize(total);
    size_t capacity = 8;
    while (capacity < 2 * entries_.size()) capacity *= 2;
    index_.assign(capacity, Slot{0, 0, kEmpty});
    uint32_t at = 0;
    for (uint32_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!e.ascii) continue;
        const size_t n = key_size(e);
        for (size_t j = 0; j < n; ++j) index_text_[at + j] = key_char(e, j);
        const std::string_view key(&index_text_[at], n);
        const uint64_t h = hash_of(key);
        Slot& s = index_[slot_of(key, h)];
        if (s.entry == kEmpty) {
            s = Slot{h, at, i};
            at += static_cast<uint32_t>(n);
        } else if (name_less(entries_[s.entry], e)) {
            s.entry = i;
        }
    }
}

uint64_t FactorFile::hash_of(std::string_view key) noexcept {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : key) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
}

// The slot that holds `key` of hash `h`, or the empty one where it would go.
size_t FactorFile::slot_of(std::string_view key, uint64_t h) const noexcept {
    const size_t mask = index_.size() - 1;
    for (size_t at = h & mask;; at = (at + 1) & mask) {
        const Slot& s = index_[at];
        if (s.entry == kEmpty) return at;
        if (s.hash == h && key_size(entries_[s.entry]) == key.size() &&
            std::string_view(&index_text_[s.text], key.size()) == key)
            return at;
    }
}

// The first lookup scans; later ones go through the index.
size_t FactorFile::find_ascii(std::string_view key) {
    if (++lookups_ == 1) {
        size_t found = kNone;
        for (size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            if (e.ascii && key_equals(e, key) && (found == kNone || name_less(entries_[found], e))) found = i;
        }
        return found;
    }
    if (index_.empty()) build_index();
    const uint32_t entry = index_[slot_of(key, hash_of(key))].entry;
    return entry == kEmpty ? kNone : entry;
}

size_t FactorFile::locate(PyObject* key) {
    std::string_view text;
    size_t found = ascii_view(key, text) ? find_ascii(text) : kNone;
    // names that are not ASCII, keyed by str's methods: the greatest name wins
    for (uint32_t i : others_) {
        const Entry& e = entries_[i];
        if ((found == kNone || name_less(entries_[found], e)) && vm::equal(e.key, key)) found = i;
    }
    return found;
}

Ref FactorFile::find(PyObject* key) {
    const size_t found = locate(key);
    return found == kNone ? Ref() : series(entries_[found]);
}

namespace {

// Up to numpy's most dimensions; an array of more takes the flattened road.
// Kept for the process, as the module's names are.
std::vector<PyObject*> g_zero_indexes;

// value[0, ..., 0] of an ndarray, which is value.ravel()[0] for any layout;
// empty when the array has no element (the flattened road raises its error).
Ref first_element(PyObject* value) {
    if (Ref v = vm::numpy::first_number(reinterpret_cast<PyArrayObject*>(value))) return v;
    const long ndim = PyLong_AsLong(vm::attr(value, n_ndim));
    if (ndim == -1 && PyErr_Occurred()) vm::raise();
    if (ndim < 0 || static_cast<size_t>(ndim) >= g_zero_indexes.size()) return Ref();
    PyObject* v = PyObject_GetItem(value, g_zero_indexes[static_cast<size_t>(ndim)]);
    if (!v) {
        if (!PyErr_ExceptionMatches(PyExc_IndexError)) vm::raise();
        PyErr_Clear();
    }
    return Ref::steal(v);
}

}  // namespace

void make_zero_indexes() {
    if (!g_zero_indexes.empty()) return;
    for (Py_ssize_t n = 0; n <= 64; ++n) {
        Ref t = vm::own(PyTuple_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(t.get(), i, vm::integer(0).release());
        g_zero_indexes.push_back(t.release());
    }
}

// series[0]; an ndarray's item slot takes the index without making an int
Ref first_of(const Ref& series) {
    if (PyArrayObject* a = vm::numpy::exact(series)) {
        if (PyArray_NDIM(a) == 1)
            if (Ref v = vm::numpy::first_number(a)) return v;
        return vm::own(PySequence_GetItem(series, 0));
    }
    return series.item(Py_ssize_t{0});
}

// An ndarray whose series is not made yet gives its first element without it.
Ref FactorFile::first_value(PyObject* key) {
    const size_t found = locate(key);
    if (found == kNone) return Ref();
    Entry& e = entries_[found];
    if (!e.series && PyArray_CheckExact(e.value.get()))
        if (Ref v = first_element(e.value)) return v;
    return first_of(series(e));
}

}  // namespace factors
