// RealTradeEnv.get_all_trading_time: the run's bar time line up to the end of
// the year, kept in the run's cache and extended by a year once reached.
#include "runtypes.hpp"

namespace runtypes {
namespace {

const vm::Name kGv{"gv"}, kGetTradingTime{"get_trading_time"}, kGetSpecificYearEnd{"get_specific_year_end"};
const vm::Name kMftToDatetime{"mft_to_datetime"}, kDatetimeToInt{"datetime_to_int"};
const vm::Name kCache{"g_VelmoroCache"}, kGetCache{"get_cache"}, kSetCache{"set_cache"};
const vm::Name kTargetList{"TargetList"}, kKFrequency{"KFrequency"}, kKFrequencyI{"KFrequencyI"};
const vm::Name kKFreNum{"KFreNum"}, kBeginDate{"BeginDate"}, kYear{"year"};
const vm::Name kFreqDay{"KFreq_Day"}, kFreqWeek{"KFreq_Week"}, kFreqMonth{"KFreq_Month"}, kFreqYear{"KFreq_Year"};
const vm::Kw kFmt{"fmt"};
const char* const kDateFormat = "%Y%m%d";

// Days to step back from the line's end, by frequency code: KeyError for
// frequencies that have none (minute bars).
vm::Ref interval_days(PyObject* frequency_i, PyObject* freq_num) {
    static const struct {
        const vm::Name& code;
        long factor;
    } table[] = {{kFreqDay, 1}, {kFreqWeek, 15}, {kFreqMonth, 31}, {kFreqYear, 366}};
    vm::Ref gv = vm::global(kGv);
    for (const auto& row : table)
        if (vm::equal(vm::attr(gv, row.code), frequency_i)) return vm::own(PyNumber_Multiply(freq_num, vm::integer(row.factor)));
    vm::raise(PyExc_KeyError, frequency_i);
}

// int(get_specific_year_end([year], fmt="%Y%m%d"))
vm::Ref year_end(PyObject* year) {
    vm::Ref f = vm::global(kGetSpecificYearEnd);
    vm::Ref end = year ? vm::call(f.get(), kFmt, year, vm::text(kDateFormat)) : vm::call(f.get(), kFmt, vm::text(kDateFormat));
    return vm::own(PyNumber_Long(end));
}

// First item of get_trading_time(TargetList, KFrequency, begin, end, KFreNum).
vm::Ref fetch_line(PyObject* info, PyObject* begin, PyObject* end) {
    vm::Ref answer = vm::call(vm::global(kGetTradingTime).get(), vm::attr(info, kTargetList),
                              vm::attr(info, kKFrequency), begin, end, vm::attr(info, kKFreNum));
    return vm::item(answer, Py_ssize_t{0});
}

bool not_earlier(PyObject* a, PyObject* b) { return vm::truthy(vm::own(PyObject_RichCompare(a, b, Py_GE))); }

vm::Ref get_all_trading_time(PyObject* self, vm::Args a) {
    PyObject* new_time = a[0];
    vm::Ref vr = vm::attr(self, kVr);
    vm::Ref info = vm::attr(vr, kInputInfo);
    vm::Ref cache = vm::attr(vr, kCache);
    vm::Ref key = vm::own(PyUnicode_FromFormat("%S%S_att", vm::attr(info, kKFreNum).get(),
                                               vm::attr(info, kKFrequency).get()));

    vm::Ref line = vm::call_method(cache, kGetCache, key, Py_None);
    if (vm::is_none(line)) {
        line = fetch_line(info, vm::attr(info, kBeginDate), year_end(nullptr));
        vm::call_method(cache, kSetCache, key, line);
    }
    // without a newest time (or a line) there is no end to reach
    if (vm::is_none(new_time) || vm::length(line) == 0) return line;

    vm::Ref last = vm::item(line, -1);
    if (!not_earlier(new_time, last)) return line;

    vm::Ref back = vm::own(PyNumber_Subtract(last, interval_days(vm::attr(info, kKFrequencyI), vm::attr(info, kKFreNum))));
    vm::Ref one = vm::new_list();
    vm::append(one, back);
    vm::Ref begin_date = vm::item(vm::call(vm::global(kMftToDatetime).get(), one), Py_ssize_t{0});
    vm::Ref next_year = vm::own(PyNumber_Add(vm::attr(begin_date, kYear), vm::integer(1)));
    vm::Ref next_line = fetch_line(info, vm::call(vm::global(kDatetimeToInt).get(), begin_date), year_end(next_year));

    // from the old last entry on; the bars before it are on the old line
    vm::Ref keep = vm::own(PyObject_RichCompare(next_line, last, Py_GE));
    line = vm::item(next_line, keep);
    vm::call_method(cache, kSetCache, key, line);
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
