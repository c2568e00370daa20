// Factor and indicator updaters: pushed factor values into the factor
// matrices, the user's indicators over the refreshed span, and their
// expansion steps.
#include "barcycle.hpp"

namespace barcycle {
namespace {

vm::Name n_clear{"clear"};
vm::Name n_expand_factor_data_value_fresh{"expand_factor_data_value_fresh"};
vm::Name n_expand_user_calc_indices{"expand_user_calc_indices"};
vm::Name n_update_factor_data_value_fresh{"update_factor_data_value_fresh"};
vm::Name n_update_user_calc_indices{"update_user_calc_indices"};

Ref _expand_user_calc_indices_wrapper(vm::Params<2> p) {
    auto [_lpc, expend_fresh_bar_tl] = p.take<2>();
    // logged under the framework function's name
    syslog(n_expand_user_calc_indices, n_info);
    vm::call(vm::global(n_expand_user_calc_indices), expend_fresh_bar_tl);
    return vm::none();
}

Ref _update_user_indices_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    syslog(n__update_user_indices_wrapper, n_info);
    Ref end_fresh_bar = vm::attr(lpc, n_end_fresh_bar);
    Ref current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    Ref span = vm::own(PyNumber_Subtract(end_fresh_bar, current));
    Ref fresh_length = vm::own(PyNumber_Add(span, vm::integer(1)));
    Ref update = vm::global(n_update_user_calc_indices);
    current = vm::attr(vr(), n_g_VelmoroSimCurBarFresh);
    vm::call(update.get(), current, fresh_length);
    return vm::none();
}

Ref _expand_factor_data_value_fresh_wrapper(vm::Params<2> p) {
    auto [_lpc, sum_idx_fresh_array] = p.take<2>();
    syslog(n__expand_factor_data_value_fresh_wrapper, n_info);
    vm::call(vm::global(n_expand_factor_data_value_fresh), sum_idx_fresh_array);
    return vm::none();
}

Ref _update_factor_data_value_fresh_wrapper(vm::Params<1> p) {
    auto [lpc] = p.take<1>();
    syslog(n__update_factor_data_value_fresh_wrapper, n_info);
    Ref it = vm::iter(vm::attr(lpc, n_factor_data));
    while (Ref factor_data = vm::next(it)) {
        if (size_of(factor_data) < 1) continue;
        syslog(n_update_factor_data_value_fresh, n_info);
        vm::call(vm::global(n_update_factor_data_value_fresh), factor_data);
        if (!ok(lpc)) break;
    }
    // every received push is consumed, applied or not
    vm::call(vm::attr(vm::attr(lpc, n_factor_data), n_clear).get());
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(_expand_user_calc_indices_wrapper, "_lpc: RealRunTimeContext, expend_fresh_bar_tl: _Array -> None",
                "Extend the user's indicators by the new refresh positions."),
    VM_FUNCTION(_update_user_indices_wrapper, "lpc: RealRunTimeContext -> None",
                "Recalculate the user's indicators from the current refresh position to the end of the pushed data."),
    VM_FUNCTION(_expand_factor_data_value_fresh_wrapper, "_lpc: RealRunTimeContext, sum_idx_fresh_array: int -> None",
                "Append new refresh positions to the factor matrices."),
    VM_FUNCTION(_update_factor_data_value_fresh_wrapper, "lpc: RealRunTimeContext -> None",
                "Write every received factor push into the factor matrices, then forget them."),
};
}  // namespace

void register_indicators(vm::Module& m) { m.add(kFunctions); }
}  // namespace barcycle
