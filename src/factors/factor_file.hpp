// One factor's result file, read the way get_factor_by_factor reads it.
#pragma once

#include "factors.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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

    // The dictionary get_factor_by_factor returns.
    Ref dictionary();
    const Ref& dates() const noexcept { return dates_; }
    // The series under the str `key` in that dictionary, or an empty Ref.
    Ref find(PyObject* key);

private:
    struct Entry {
        Ref name;
        std::string_view text;  // the name's characters, when all ASCII
        uint32_t key_begin;     // first character of the key's two parts
        uint32_t separator;     // the "_" that becomes "."
        bool ascii;
        Ref value;   // the entry's matrix
        Ref series;  // value.ravel(), made once
    };
    static constexpr size_t kNone = SIZE_MAX;

    void collect(PyObject* data);
    void sort();
    void read_values(PyObject* data);
    Ref series(size_t rank);
    Ref key_text(const Entry& e) const;
    bool key_equals(const Entry& e, std::string_view key) const noexcept;
    size_t find_ascii(std::string_view key);

    std::vector<Entry> entries_;                   // in the mapping's order
    std::vector<uint32_t> order_;                  // rank in name order -> entry
    std::vector<std::pair<size_t, Ref>> others_;   // names not ASCII: rank, key made by str's methods
    Ref dates_;
    // built on the second lookup by key: one lookup is a scan
    size_t lookups_ = 0;
    std::string index_text_;
    std::unordered_map<std::string_view, size_t> index_;  // key -> rank
};

}  // namespace factors
