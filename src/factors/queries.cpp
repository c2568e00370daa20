// The queries: one factor by target, many factors for the first target, many
// factors for every target on one day.
#include "factor_file.hpp"

#include "vm/shortcut.hpp"

#include <optional>

namespace factors {
namespace {

Name n_get_factor_by_factor{"get_factor_by_factor"};
Name n_OrderedDict{"OrderedDict"};
Name n_todotmc{"todotmc"};
Name n_utils_dt{"utils_dt"};
Name n_mft_to_datetime{"mft_to_datetime"};
Name n_astype{"astype"};
Name n_float{"float"};
Name n_date{"date"};
Name n_code{"code"};

// What get_factor_by_code and get_factor_by_day read of one factor's data:
// the dictionary get_factor_by_factor returns, through the module's global.
// While that global is the module's own function, the file is read here
// instead and only the series asked for are made.
class FactorData {
public:
    FactorData(PyObject* factor, PyObject* targets, PyObject* begin, PyObject* end) {
        Ref f = vm::global(n_get_factor_by_factor);
        if (vm::is_own<get_factor_by_factor>(f))
            file_.emplace(vm::Bound<get_factor_by_factor>(factor, targets, begin, end).args());
        else
            data_ = vm::call(f, factor, targets, begin, end);
    }

    // factor_data["date"]
    Ref dates() { return data_ ? vm::item(data_, n_date) : file_->dates(); }

    // factor_data[key] when key in factor_data, else an empty Ref
    Ref series(PyObject* key) {
        if (!data_) {
            if (PyUnicode_CheckExact(key)) return file_->find(key);
            // other keys compare as they choose: against the real dictionary
            data_ = file_->dictionary();
        }
        const int found = PySequence_Contains(data_, key);
        vm::check(found);
        return found ? vm::item(data_, key) : Ref();
    }

private:
    std::optional<FactorFile> file_;
    Ref data_;
};

// [None] * n
Ref nones(Py_ssize_t n) {
    Ref one = vm::new_list();
    vm::append(one, Py_None);
    return vm::own(PySequence_Repeat(one, n));
}

}  // namespace

Ref get_factor_by_factor(Args a) { return FactorFile(a).dictionary(); }

Ref get_factor_by_code(Args a) {
    PyObject* targets = a[1];
    Ref result = vm::call(vm::global(n_OrderedDict));
    bool dates_taken = false;
    Ref factors = vm::iter(a[0]);
    while (Ref factor = vm::next(factors)) {
        FactorData data(factor, targets, a[2], a[3]);
        if (!dates_taken) {
            // only the first factor gives the dates
            Ref to_datetime = vm::attr(vm::global(n_utils_dt), n_mft_to_datetime);
            Ref astype = vm::attr(data.dates(), n_astype);
            Ref times = vm::call(to_datetime, vm::call(astype, vm::global(n_float)));
            vm::set_item(result, n_date, times);
            if (vm::length(times) == 0) return vm::none();
            dates_taken = true;
        }
        Ref todotmc = vm::global(n_todotmc);
        Ref key = vm::call(todotmc, vm::item(targets, Py_ssize_t{0}));
        Ref series = data.series(key);
        vm::set_item(result, factor, series ? series : nones(vm::length(data.dates())));
    }
    return result;
}

Ref get_factor_by_day(Args a) {
    PyObject* targets = a[1];
    PyObject* date = a[2];
    Ref result = vm::call(vm::global(n_OrderedDict));
    vm::set_item(result, n_code, vm::call(vm::global(n_todotmc), targets));
    Ref factors = vm::iter(a[0]);
    while (Ref factor = vm::next(factors)) {
        FactorData data(factor, targets, date, date);
        if (vm::length(data.dates()) == 0) return vm::none();
        Ref values = vm::new_list();
        vm::for_each(targets, [&](PyObject* target) {
            Ref series = data.series(vm::call(vm::global(n_todotmc), target));
            vm::append(values, series ? vm::item(series, Py_ssize_t{0}) : vm::none());
        });
        vm::set_item(result, factor, values);
    }
    return result;
}

}  // namespace factors
