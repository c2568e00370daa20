// Factor and indicator updaters: pushed factor values into the factor
// matrices, the user's indicators over the refreshed span, and their
// expansion steps.
#include "barcycle.hpp"

namespace barcycle {
namespace {

Name n_factor_data{"factor_data"};
Name n_clear{"clear"};
Name n_update_factor_data_value_fresh{"update_factor_data_value_fresh"};
Name n_expand_factor_data_value_fresh{"expand_factor_data_value_fresh"};
Name n_update_user_calc_indices{"update_user_calc_indices"};
Name n_expand_user_calc_indices{"expand_user_calc_indices"};

}  // namespace

Ref _expand_user_calc_indices_wrapper(Args a) {
    // logged under the framework function's name
    return delegate(n_expand_user_calc_indices, n_expand_user_calc_indices, a[1]);
}

Ref _update_user_indices_wrapper(Args a) {
    PyObject* lpc = a[0];
    syslog(n__update_user_indices_wrapper, n_info);
    Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    Ref span = vm::own(PyNumber_Subtract(vm::attr(lpc, n_end_fresh_bar), current));
    Ref fresh_length = vm::own(PyNumber_Add(span, vm::integer(1)));
    vm::call(vm::global(n_update_user_calc_indices), vm::attr(vr(), n_g_VelmoroSimCurBarFresh), fresh_length);
    return vm::none();
}

Ref _expand_factor_data_value_fresh_wrapper(Args a) {
    return delegate(n__expand_factor_data_value_fresh_wrapper, n_expand_factor_data_value_fresh, a[1]);
}

Ref _update_factor_data_value_fresh_wrapper(Args a) {
    PyObject* lpc = a[0];
    syslog(n__update_factor_data_value_fresh_wrapper, n_info);
    Ref received = vm::attr(lpc, n_factor_data);
    Ref it = vm::iter(received);
    while (Ref factor_data = vm::next(it)) {
        if (size_of(factor_data) < 1) continue;
        syslog(n_update_factor_data_value_fresh, n_info);
        vm::call(vm::global(n_update_factor_data_value_fresh), factor_data);
        if (!ok(lpc)) break;
    }
    // every received push is consumed, applied or not
    vm::call_method(vm::attr(lpc, n_factor_data), n_clear);
    return vm::none();
}

}  // namespace barcycle
