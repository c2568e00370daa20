// One factor's result file, read the way get_factor_by_factor reads it.
#pragma once

#include "factors.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace factors {

// The "bp_" entries of the file in ascending name order with their target
// keys (the name's last two "_"-separated parts, upper case, joined by "."),
// and the flattened "Date" entry. Keys and series are made only when asked,
// so a caller that reads one target does not pay for all of them.
class FactorFile {
public:
    // Everything get_factor_by_factor does before it builds its dictionary:
    // ask, fetch the path, load_mat, DotDict, read the entries and the dates.
    // The arguments of get_factor_by_factor.
    explicit FactorFile(Params<5> p);
    ~FactorFile();
    FactorFile(const FactorFile&) = delete;
    FactorFile& operator=(const FactorFile&) = delete;

    // The dictionary get_factor_by_factor returns.
    Ref dictionary();
    const Ref& dates() const noexcept { return dates_; }
    // The series under the str `key` in that dictionary, or an empty Ref.
    Ref find(PyObject* key);
    // That series' first value, or an empty Ref.
    Ref first_value(PyObject* key);

private:
    struct Entry {
        Ref name;
        std::string_view text;  // the name's characters, when all ASCII
        uint32_t key_begin;     // first character of the key's two parts
        uint32_t separator;     // the "_" that becomes "."
        bool ascii;
        Ref key;     // made by str's methods, for a name that is not ASCII
        Ref value;   // the entry's matrix
        Ref series;  // value.ravel(), made once
    };
    // An entry's place in the sort, by the 16 characters after "bp_" as two
    // big-endian words: most names differ there, so few comparisons read the text.
    struct SortKey {
        uint64_t head[2];
        const Entry* entry;
        uint32_t index;
    };
    struct Slot {
        uint64_t hash;
        uint32_t text;   // the key's first character in index_text_
        uint32_t entry;  // the entry the key finds
    };
    static constexpr size_t kNone = SIZE_MAX;
    static constexpr uint32_t kEmpty = UINT32_MAX;

    bool collect(PyObject* data);
    bool collect_dict(PyObject* data);
    bool take_name(PyObject* name, Entry& e);
    void sort();
    void read_values(PyObject* data);
    Ref series(Entry& e);
    bool name_less(const Entry& x, const Entry& y) const noexcept;
    static size_t key_size(const Entry& e) noexcept { return e.text.size() - e.key_begin; }
    static char key_char(const Entry& e, size_t i) noexcept;
    Ref key_text(const Entry& e) const;
    static bool key_equals(const Entry& e, std::string_view key) noexcept;
    void build_index();
    static uint64_t hash_of(std::string_view key) noexcept;
    size_t slot_of(std::string_view key, uint64_t h) const noexcept;
    size_t find_ascii(std::string_view key);
    size_t locate(PyObject* key);

    // A file's tables, kept empty between files: tables of thousands of
    // entries freed give their pages back to the system, and every new file
    // would fault them in again.
    struct Tables {
        std::vector<Entry> entries;
        std::vector<uint32_t> order;
        std::vector<uint32_t> others;
        std::vector<Slot> index;
        std::string index_text;
        std::vector<SortKey> sort_keys;
        static std::unique_ptr<Tables> take();
        static void give_back(std::unique_ptr<Tables> t);
    };

    std::unique_ptr<Tables> tables_ = Tables::take();
    std::vector<Entry>& entries_ = tables_->entries;    // in the mapping's order
    std::vector<uint32_t>& order_ = tables_->order;     // rank in name order -> entry, made when needed
    std::vector<uint32_t>& others_ = tables_->others;   // entries whose names are not ASCII
    Ref dates_;
    // built on the second lookup by key: one lookup is a scan
    size_t lookups_ = 0;
    std::vector<Slot>& index_ = tables_->index;      // open addressing on the ASCII keys' hashes
    std::string& index_text_ = tables_->index_text;  // the keys' characters, one after another
};

// series[0], for any series.
Ref first_of(const Ref& series);

// Made when the module initialises: (), (0,), (0, 0), ... for reading an
// array's first element by index.
void make_zero_indexes();

}  // namespace factors
