// RealTradeEnv.set_daily_close: the run's daily close time, accepted only
// when some bar of the first trading day lies before it.
#include "runtypes.hpp"
#include "vm/numview.hpp"

#include <memory>

namespace runtypes {
namespace {

vm::Name n_count_nonzero{"count_nonzero"};
vm::Name n_DailyCloseTime{"DailyCloseTime"};
vm::Name n_datetime{"datetime"};
vm::Name n_datetime_to_mft{"datetime_to_mft"};
vm::Name n_day{"day"};
vm::Name n_KMatrixPos_DayPos{"KMatrixPos_DayPos"};
vm::Name n_ERROR_SET_NONTRADING_PERIOD{"ERROR_SET_NONTRADING_PERIOD"};
vm::Name n_flatnonzero{"flatnonzero"};
vm::Name n_format{"format"};
vm::Name n_frequency_to_int{"frequency_to_int"};
vm::Name n_hour{"hour"};
vm::Name n_InvalidParamError{"InvalidParamError"};
vm::Name n_g_VelmoroKDataList{"g_VelmoroKDataList"};
vm::Name n_Matrix{"Matrix"};
vm::Name n_min{"min"};
vm::Name n_minute{"minute"};
vm::Name n_month{"month"};
vm::Name n_second{"second"};
vm::Name n_text{"text"};
vm::Name n_KMatrixPos_TimeLine{"KMatrixPos_TimeLine"};
vm::Name n_user_warning{"user_warning"};
vm::Name n_WARN_FREQUENCY_GREAT_DAY{"WARN_FREQUENCY_GREAT_DAY"};
vm::Kw kw_frequancy{"FREQUANCY"};

// self.vr.g_VelmoroInputInfo.<field>
vm::Ref input_field(PyObject* self, const vm::Name& field) {
    return vm::attr(vm::attr(vm::attr(self, n_vr), n_g_VelmoroInputInfo), field);
}

// A row index of a 2-D view, negative ones counted from the end; -1 when
// numpy has to judge it (not an int, out of range).
Py_ssize_t row_in(const vm::NumView& m, PyObject* index) {
    if (!PyLong_CheckExact(index)) return -1;
    Py_ssize_t r = PyLong_AsSsize_t(index);
    if (r == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return -1;
    }
    if (r < 0) r += m.shape(0);
    return r >= 0 && r < m.shape(0) ? r : -1;
}

// The matrix's own buffer, read without calling Python, where it is a 2-D
// array of real numbers with both rows in range; otherwise null, and numpy
// reads the matrix (so every matrix numpy can compare is accepted).
std::unique_ptr<vm::NumView> numeric_view(PyObject* matrix, PyObject* time_row, PyObject* day_pos_row) {
    std::unique_ptr<vm::NumView> view;
    try {
        view = std::make_unique<vm::NumView>(matrix);
    } catch (const vm::Error&) {
        PyErr_Clear();
        return nullptr;
    }
    if (view->ndim() != 2 || row_in(*view, time_row) < 0 || row_in(*view, day_pos_row) < 0) return nullptr;
    return view;
}

// The first trading day: from its first bar up to the next day's first bar,
// or the whole row when the matrix holds fewer than two day starts.
struct Span {
    Py_ssize_t begin;
    Py_ssize_t end;
};

Span first_day(const vm::NumView& m, Py_ssize_t day_pos_row) {
    const Py_ssize_t columns = m.shape(1);
    Py_ssize_t starts[2] = {0, 0};
    int found = 0;
    for (Py_ssize_t c = 0; c < columns && found < 2; ++c)
        if (m.at(day_pos_row, c) < 2) starts[found++] = c;
    return found == 2 ? Span{starts[0], starts[1]} : Span{0, columns};
}

// The same span read through numpy: matrix[time_row, first:second] or the whole row.
vm::Ref first_day_times(PyObject* matrix, PyObject* time_row, PyObject* day_pos_row) {
    vm::Ref all = vm::own(PySlice_New(nullptr, nullptr, nullptr));
    vm::Ref day_pos = vm::item(matrix, vm::new_tuple({day_pos_row, all.get()}));
    vm::Ref flatnonzero = vm::attr(vm::global(n_np), n_flatnonzero);
    vm::Ref starts = vm::call(flatnonzero.get(), vm::own(PyObject_RichCompare(day_pos, vm::integer(2), Py_LT)));
    vm::Ref columns = all;
    if (vm::length(starts) >= 2) {
        vm::Ref first = vm::item(starts, Py_ssize_t{0});
        vm::Ref second = vm::item(starts, Py_ssize_t{1});
        columns = vm::own(PySlice_New(first, second, nullptr));
    }
    return vm::item(matrix, vm::new_tuple({time_row, columns.get()}));
}

vm::Ref set_daily_close(PyObject* self, vm::Params<1> p) {
    auto [close_time] = p.take<1>();
    vm::Ref time_row = vm::attr(vm::global(n_gv), n_KMatrixPos_TimeLine);
    vm::Ref day_pos_row = vm::attr(vm::global(n_gv), n_KMatrixPos_DayPos);
    vm::Ref frequency = input_field(self, n_KFrequency);
    vm::Ref frequency_i = input_field(self, n_KFrequencyI);

    // a daily close means nothing above minute bars
    vm::Ref frequency_to_int = vm::attr(vm::global(n_gv), n_frequency_to_int);
    vm::Ref min_code = vm::call(frequency_to_int.get(), n_min);
    if (vm::truthy(vm::own(PyObject_RichCompare(frequency_i, min_code, Py_GT)))) {
        vm::Ref user_warning = vm::global(n_user_warning);
        vm::Ref format = vm::attr(vm::attr(vm::global(n_text), n_WARN_FREQUENCY_GREAT_DAY), n_format);
        vm::Ref message = vm::call(format.get(), kw_frequancy, frequency);
        vm::call(user_warning.get(), message);
        return vm::none();
    }

    vm::Ref matrix = vm::attr(vm::item(vm::attr(vm::attr(self, n_vr), n_g_VelmoroKDataList), Py_ssize_t{0}), n_Matrix);
    const std::unique_ptr<vm::NumView> view = numeric_view(matrix, time_row, day_pos_row);
    Span span{0, 0};
    vm::Ref times;  // the span through numpy, where there is no view
    if (view) {
        span = first_day(*view, row_in(*view, day_pos_row));
    } else {
        times = first_day_times(matrix, time_row, day_pos_row);
    }

    // first = mft_to_datetime(times[0])
    vm::Ref mft_to_datetime = vm::global(n_mft_to_datetime);
    vm::Ref first_time;
    if (!view) {
        first_time = vm::item(times, Py_ssize_t{0});
    } else if (span.begin < span.end) {
        vm::Ref column = vm::integer(span.begin);
        first_time = vm::item(matrix, vm::new_tuple({time_row.get(), column.get()}));
    } else {
        vm::raise(PyExc_IndexError, "index 0 is out of bounds for axis 0 with size 0");
    }
    vm::Ref first = vm::call(mft_to_datetime.get(), first_time);

    // datetime_to_mft(datetime(first.year, first.month, first.day,
    //                          close_time.hour, close_time.minute, close_time.second))
    vm::Ref datetime_to_mft = vm::global(n_datetime_to_mft);
    vm::Ref datetime = vm::global(n_datetime);
    vm::Ref year = vm::attr(first, n_year);
    vm::Ref month = vm::attr(first, n_month);
    vm::Ref day = vm::attr(first, n_day);
    vm::Ref hour = vm::attr(close_time, n_hour);
    vm::Ref minute = vm::attr(close_time, n_minute);
    vm::Ref second = vm::attr(close_time, n_second);
    vm::Ref moment = vm::call(datetime.get(), year, month, day, hour, minute, second);
    vm::Ref close_moment = vm::call(datetime_to_mft.get(), moment);

    bool some_bar_before;
    if (view) {
        const double close = vm::to_double(close_moment);
        const Py_ssize_t t = row_in(*view, time_row);
        Py_ssize_t not_before = 0;
        for (Py_ssize_t c = span.begin; c < span.end; ++c)
            if (view->at(t, c) >= close) ++not_before;
        some_bar_before = not_before < span.end - span.begin;
    } else {
        vm::Ref count_nonzero = vm::attr(vm::global(n_np), n_count_nonzero);
        vm::Ref not_before = vm::call(count_nonzero.get(), vm::own(PyObject_RichCompare(times, close_moment, Py_GE)));
        some_bar_before = vm::less(not_before, vm::integer(vm::length(times)));
    }
    if (some_bar_before) {
        vm::set_attr(vm::attr(vm::attr(self, n_vr), n_g_VelmoroSettingInfo), n_DailyCloseTime, close_time);
        return vm::none();
    }
    vm::Ref error = vm::global(n_InvalidParamError);
    vm::raise_instance(error, vm::attr(vm::global(n_text), n_ERROR_SET_NONTRADING_PERIOD));
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
