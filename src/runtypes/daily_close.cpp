// RealTradeEnv.set_daily_close: the run's daily close time, accepted only
// when some bar of the first trading day lies before it.
#include "runtypes.hpp"
#include "vm/numview.hpp"

namespace runtypes {
namespace {

const vm::Name kGv{"gv"}, kText{"text"}, kUserWarning{"user_warning"}, kInvalidParamError{"InvalidParamError"};
const vm::Name kMftToDatetime{"mft_to_datetime"}, kDatetimeToMft{"datetime_to_mft"}, kDatetime{"datetime"};
const vm::Name kTimeLineRow{"KMatrixPos_TimeLine"}, kDayPosRow{"KMatrixPos_DayPos"};
const vm::Name kFrequencyToInt{"frequency_to_int"}, kMin{"min"};
const vm::Name kKFrequency{"KFrequency"}, kKFrequencyI{"KFrequencyI"};
const vm::Name kKDataList{"g_VelmoroKDataList"}, kMatrix{"Matrix"}, kDailyCloseTime{"DailyCloseTime"};
const vm::Name kWarnGreatDay{"WARN_FREQUENCY_GREAT_DAY"}, kErrorNonTrading{"ERROR_SET_NONTRADING_PERIOD"};
const vm::Name kFormat{"format"};
const vm::Name kYear{"year"}, kMonth{"month"}, kDay{"day"}, kHour{"hour"}, kMinute{"minute"}, kSecond{"second"};
const vm::Kw kFrequancy{"FREQUANCY"};

// A row index of the bar matrix, negative ones counted from the end as numpy does.
Py_ssize_t row_index(PyObject* index, Py_ssize_t rows) {
    Py_ssize_t r = static_cast<Py_ssize_t>(vm::to_long(index));
    if (r < 0) r += rows;
    if (r < 0 || r >= rows)
        vm::raise_format(PyExc_IndexError, "row %zd is out of bounds for a bar matrix with %zd rows",
                         static_cast<Py_ssize_t>(vm::to_long(index)), rows);
    return r;
}

vm::Ref set_daily_close(PyObject* self, vm::Args a) {
    PyObject* close_time = a[0];
    vm::Ref gv = vm::global(kGv);
    vm::Ref time_row = vm::attr(gv, kTimeLineRow);
    vm::Ref day_pos_row = vm::attr(gv, kDayPosRow);
    vm::Ref vr = vm::attr(self, kVr);
    vm::Ref info = vm::attr(vr, kInputInfo);
    vm::Ref frequency = vm::attr(info, kKFrequency);
    vm::Ref frequency_i = vm::attr(info, kKFrequencyI);

    // a daily close means nothing above minute bars
    vm::Ref min_code = vm::call(vm::attr(gv, kFrequencyToInt).get(), kMin);
    if (vm::less(min_code, frequency_i)) {
        vm::Ref message = vm::call_method(vm::attr(vm::global(kText), kWarnGreatDay), kFormat, kFrequancy, frequency);
        vm::call(vm::global(kUserWarning).get(), message);
        return vm::none();
    }

    vm::Ref matrix = vm::attr(vm::item(vm::attr(vr, kKDataList), Py_ssize_t{0}), kMatrix);
    vm::NumView m(matrix);
    if (m.ndim() != 2) vm::raise_format(PyExc_IndexError, "a bar matrix has 2 dimensions, this one has %d", m.ndim());
    const Py_ssize_t t = row_index(time_row, m.shape(0));
    const Py_ssize_t d = row_index(day_pos_row, m.shape(0));

    // the first trading day: from its first bar up to the next day's first bar
    const Py_ssize_t columns = m.shape(1);
    Py_ssize_t starts[2] = {0, 0};
    int found = 0;
    for (Py_ssize_t c = 0; c < columns && found < 2; ++c)
        if (m.at(d, c) < 2) starts[found++] = c;
    const Py_ssize_t begin = found == 2 ? starts[0] : 0;
    const Py_ssize_t end = found == 2 ? starts[1] : columns;
    if (begin == end) vm::raise(PyExc_IndexError, "the bar matrix holds no bar");

    vm::Ref first = vm::call(vm::global(kMftToDatetime).get(), vm::floating(m.at(t, begin)));
    vm::Ref close_moment = vm::call(vm::global(kDatetime).get(), vm::attr(first, kYear), vm::attr(first, kMonth),
                                    vm::attr(first, kDay), vm::attr(close_time, kHour),
                                    vm::attr(close_time, kMinute), vm::attr(close_time, kSecond));
    const double close = vm::to_double(vm::call(vm::global(kDatetimeToMft).get(), close_moment));

    Py_ssize_t not_before = 0;
    for (Py_ssize_t c = begin; c < end; ++c)
        if (m.at(t, c) >= close) ++not_before;
    if (not_before < end - begin) {
        vm::set_attr(vm::attr(vr, kSettingInfo), kDailyCloseTime, close_time);
        return vm::none();
    }
    vm::raise_instance(vm::global(kInvalidParamError), vm::attr(vm::global(kText), kErrorNonTrading));
}

const vm::FunctionSpec kMethods[] = {
    VM_FUNCTION(set_daily_close, "close_time",
                "Set the run's daily close time from close_time's hour, minute and second.\n\nRuns above minute "
                "bars only get a warning; a time at or before the first bar of the first trading day raises "
                "InvalidParamError."),
};

}  // namespace

void add_daily_close_methods(PyObject* cls) { vm::add_methods(cls, kMethods); }

}  // namespace runtypes
