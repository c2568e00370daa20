// RealTradeEnv.get_all_trading_time: the run's bar time line up to the end of
// the year, kept in the run's cache and extended by a year once reached.
#include "runtypes.hpp"

namespace runtypes {
namespace {

vm::Name n_BeginDate{"BeginDate"};
vm::Name n_g_VelmoroCache{"g_VelmoroCache"};
vm::Name n_datetime_to_int{"datetime_to_int"};
vm::Name n_KFreq_Day{"KFreq_Day"};
vm::Name n_KFreq_Month{"KFreq_Month"};
vm::Name n_KFreq_Week{"KFreq_Week"};
vm::Name n_KFreq_Year{"KFreq_Year"};
vm::Name n_get_cache{"get_cache"};
vm::Name n_get_specific_year_end{"get_specific_year_end"};
vm::Name n_get_trading_time{"get_trading_time"};
vm::Name n_KFreNum{"KFreNum"};
vm::Name n_set_cache{"set_cache"};
vm::Name n_TargetList{"TargetList"};

// Days to step back from the line's end, by frequency code: KeyError for
// frequencies that have none (minute bars).
vm::Ref interval_days(PyObject* frequency_i, PyObject* freq_num) {
    static const struct {
        const vm::Name& code;
        long factor;
    } table[] = {{n_KFreq_Day, 1}, {n_KFreq_Week, 15}, {n_KFreq_Month, 31}, {n_KFreq_Year, 366}};
    for (const auto& row : table) {
        if (vm::equal(vm::attr(vm::global(n_gv), row.code), frequency_i)) {
            return vm::own(PyNumber_Multiply(freq_num, vm::integer(row.factor)));
        }
    }
    vm::raise_instance(PyExc_KeyError, frequency_i);
}

// int(get_specific_year_end([year], fmt="%Y%m%d"))
vm::Ref year_end(PyObject* year) {
    vm::Ref f = vm::global(n_get_specific_year_end);
    vm::Ref end = year ? vm::call(f.get(), kw_fmt, year, n_date_format) : vm::call(f.get(), kw_fmt, n_date_format);
    return vm::own(PyNumber_Long(end));
}

// get_trading_time(TargetList, KFrequency, begin(), end, KFreNum)[0]
template <class Begin>
vm::Ref fetch_line(PyObject* info, Begin begin, PyObject* end) {
    vm::Ref get_trading_time = vm::global(n_get_trading_time);
    vm::Ref targets = vm::attr(info, n_TargetList);
    vm::Ref frequency = vm::attr(info, n_KFrequency);
    vm::Ref first = begin();
    vm::Ref answer = vm::call(get_trading_time.get(), targets, frequency, first, end, vm::attr(info, n_KFreNum));
    return vm::item(answer, Py_ssize_t{0});
}

vm::Ref get_all_trading_time(PyObject* self, vm::Params<1> p) {
    auto [new_time] = p.take<1>();
    vm::Ref vr = vm::attr(self, n_vr);
    vm::Ref info = vm::attr(vr, n_g_VelmoroInputInfo);
    vm::Ref cache = vm::attr(vr, n_g_VelmoroCache);
    // "{freqNum}{frequency}_att".format(freqNum=KFreNum, frequency=KFrequency)
    vm::Ref freq_num = vm::attr(info, n_KFreNum);
    vm::Ref frequency = vm::attr(info, n_KFrequency);
    vm::Ref key = vm::own(PyUnicode_FromFormat("%S%S_att", freq_num.get(), frequency.get()));

    vm::Ref line = vm::call(vm::attr(cache, n_get_cache).get(), key, Py_None);
    if (vm::is_none(line)) {
        vm::Ref end = year_end(nullptr);
        line = fetch_line(info, [&] { return vm::attr(info, n_BeginDate); }, end);
        vm::call(vm::attr(cache, n_set_cache).get(), key, line);
    }
    // without a newest time (or a line) there is no end to reach
    if (vm::is_none(new_time) || vm::length(line) == 0) return line;

    vm::Ref last = vm::item(line, -1);
    if (!vm::truthy(vm::own(PyObject_RichCompare(new_time, last, Py_GE)))) return line;

    vm::Ref frequency_i = vm::attr(info, n_KFrequencyI);
    vm::Ref interval = interval_days(frequency_i, vm::attr(info, n_KFreNum));
    vm::Ref one = vm::new_list();
    vm::append(one, vm::own(PyNumber_Subtract(last, interval)));
    vm::Ref begin_date = vm::item(vm::call(vm::global(n_mft_to_datetime), one), Py_ssize_t{0});
    vm::Ref end = year_end(vm::own(PyNumber_Add(vm::attr(begin_date, n_year), vm::integer(1))));
    vm::Ref next_line = fetch_line(info, [&] { return vm::call(vm::global(n_datetime_to_int), begin_date); }, end);

    // from the old last entry on; the bars before it are on the old line
    vm::Ref keep = vm::own(PyObject_RichCompare(next_line, last, Py_GE));
    line = vm::item(next_line, keep);
    vm::call(vm::attr(cache, n_set_cache).get(), key, line);
    return line;
}

const vm::FunctionSpec kMethods[] = {
    VM_FUNCTION(get_all_trading_time, "new_time=None",
                "The run's bar time line, cached per frequency and bar count.\n\nFetched up to the end of the "
                "current year on first use; when new_time is given and has reached the line's last entry, replaced "
                "by the line from that entry to the end of the following year. Without new_time the cached line is "
                "returned as it is."),
};

}  // namespace

void add_trading_time_methods(PyObject* cls) { vm::add_methods(cls, kMethods); }

}  // namespace runtypes
