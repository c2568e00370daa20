// The queries: one factor by target, many factors for the first target, many
// factors for every target on one day.
#include "factor_file.hpp"

#include "vm/shortcut.hpp"

#include <optional>

namespace factors {
namespace {

// What get_factor_by_code and get_factor_by_day read of one factor's data:
// the dictionary get_factor_by_factor returns, through the module's global.
// While that global is the module's own function, the file is read here
// instead and only the series asked for are made.
class FactorData {
public:
    FactorData(PyObject* factor, PyObject* targets, PyObject* begin, PyObject* end) {
        const auto f = vm::global<get_factor_by_factor>(n_get_factor_by_factor);
        if (f.is_own())
            file_.emplace(vm::Bound<get_factor_by_factor>({factor, targets, begin, end}).input());
        else
            data_ = f.object().call({factor, targets, begin, end});
    }

    // factor_data["date"]
    Ref dates() { return data_ ? data_.item(n_date) : file_->dates(); }

    // factor_data[key][0] when key in factor_data, else an empty Ref
    Ref first_value(PyObject* key) {
        if (!data_ && PyUnicode_CheckExact(key)) return file_->first_value(key);
        Ref found = series(key);
        return found ? first_of(found) : Ref();
    }

    // factor_data[key] when key in factor_data, else an empty Ref
    Ref series(PyObject* key) {
        if (!data_) {
            if (PyUnicode_CheckExact(key)) return file_->find(key);
            // other keys compare as they choose: against the real dictionary
            data_ = file_->dictionary();
        }
        const int found = PySequence_Contains(data_, key);
        vm::check(found);
        return found ? data_.item(key) : Ref();
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

Ref get_factor_by_factor(Params<5> p) { return FactorFile(p).dictionary(); }

Ref get_factor_by_code(Params<4> p) {
    auto [factor_list, targets, begin_date, end_date] = p.take<4>();
    Ref result = vm::global(n_OrderedDict).call();
    bool dates_taken = false;
    Ref factors = vm::iter(factor_list);
    while (Ref factor = vm::next(factors)) {
        FactorData data(factor, targets, begin_date, end_date);
        if (!dates_taken) {
            // only the first factor gives the dates
            Ref times = vm::global(n_utils_dt).attr(n_mft_to_datetime).call(
                {data.dates().attr(n_astype).call({vm::global(n_float)})});
            vm::set_item(result, n_date, times);
            if (vm::length(times) == 0) return vm::none();
            dates_taken = true;
        }
        Ref key = vm::global(n_todotmc).call({vm::item(targets, Py_ssize_t{0})});
        Ref series = data.series(key);
        vm::set_item(result, factor, series ? series : nones(vm::length(data.dates())));
    }
    return result;
}

Ref get_factor_by_day(Params<3> p) {
    auto [factor_list, targets, date] = p.take<3>();
    Ref result = vm::global(n_OrderedDict).call();
    vm::set_item(result, n_code, vm::global(n_todotmc).call({targets}));
    Ref factors = vm::iter(factor_list);
    while (Ref factor = vm::next(factors)) {
        FactorData data(factor, targets, date, date);
        if (vm::length(data.dates()) == 0) return vm::none();
        Ref values = vm::new_list();
        vm::for_each(targets, [&](PyObject* target) {
            Ref value = data.first_value(vm::global(n_todotmc).call({target}));
            vm::append(values, value ? value : vm::none());
        });
        vm::set_item(result, factor, values);
    }
    return result;
}

namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(get_factor_by_factor, "factor: str, targets: _Targets, begin_date: int, end_date: int, "
                                      "day_before: int = 0 -> Dict[str, np.ndarray[Any, Any]]",
                "One factor for many targets: {\"MARKET.CODE\": flattened series, ..., \"date\": dates}.\n\n"
                "Parameters\n"
                "  factor: the factor's name (text), e.g. \"momentum_5d\".\n"
                "  targets: the securities, a list of {\"Market\": \"sse\" or \"szse\", \"Code\": \"600000\"}.\n"
                "  begin_date, end_date: the first and the last trading day, YYYYMMDD (an int\n"
                "      or text).\n"
                "  day_before: trading days before begin_date added in front (0: none).\n\n"
                "Returns\n"
                "  A dict: for each target the terminal covers, its key (\"SSE.600000\") and a\n"
                "  1-D numpy array of the factor's values, one a trading day; then \"date\",\n"
                "  the days' framework numeric times (days since 0000-12-31, the day's close\n"
                "  as its fraction). Targets the terminal does not cover have no key."),
    VM_FUNCTION(get_factor_by_code, "factor_list: Iterable[str], targets: _Targets, begin_date: int, "
                                    "end_date: int -> Optional[OrderedDict[str, Any]]",
                "Many factors for the first target: an ordered dict of \"date\" (date-times), then each factor's "
                "series.\n\n"
                "Parameters\n"
                "  factor_list: the factors' names, a list of text, e.g. [\"momentum_5d\"].\n"
                "  targets: the securities, a list of {\"Market\": ..., \"Code\": ...}; only the\n"
                "      first is answered.\n"
                "  begin_date, end_date: the first and the last trading day, YYYYMMDD (an int\n"
                "      or text).\n\n"
                "Returns\n"
                "  An OrderedDict: \"date\", a list of datetime.datetime (the first factor's days),\n"
                "  then each factor's name and its 1-D numpy array of values. A factor that\n"
                "  does not cover the target gets None values; the result is None when the\n"
                "  first factor has no dates."),
    VM_FUNCTION(get_factor_by_day, "factor_list: Iterable[str], targets: _Targets, "
                                   "date: int -> Optional[OrderedDict[str, List[Any]]]",
                "Many factors for every target on one day: an ordered dict of \"code\" (target keys), then each "
                "factor's values.\n\n"
                "Parameters\n"
                "  factor_list: the factors' names, a list of text, e.g. [\"momentum_5d\"].\n"
                "  targets: the securities, a list of {\"Market\": \"sse\" or \"szse\", \"Code\": \"600000\"}.\n"
                "  date: the trading day, YYYYMMDD (an int or text).\n\n"
                "Returns\n"
                "  An OrderedDict: \"code\", the targets' keys (\"SSE.600000\") in order, then each\n"
                "  factor's name and a list of its value for each target on that day. A\n"
                "  target a factor does not cover gets None; the result is None when a\n"
                "  factor has no dates."),
};

}  // namespace

void register_queries(vm::Module& m) { m.add(kFunctions); }

}  // namespace factors
