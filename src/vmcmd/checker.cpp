// The answer checker: an ERROR answer raises, WARNING and INFO texts are shown.
#include "frame.hpp"

namespace vmcmd {
namespace {

// result.errLevel == <constant>, read afresh for every test
bool level_is(PyObject* result, const Name& constant) {
    return vm::attr(result, n_errLevel).equals(vm::global(constant));
}

bool has_info(PyObject* result) { return vm::not_equal(vm::attr(result, n_errInfo), n_empty); }

// error_info = check_vm_return_error(result.errInfo, error="ignore")
// text.ERROR_CODE_REASON.format(Name=func_name, Code=result.errCode, Reason=error_info)
Ref message(PyObject* func_name, PyObject* result) {
    Ref reason = vm::global(n_check_vm_return_error).call(kw_error, {vm::attr(result, n_errInfo), n_ignore});
    return vm::global_attr(n_text, n_ERROR_CODE_REASON).method(n_format).call(
        kw_message, {func_name, vm::attr(result, n_errCode), reason});
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmReturnChecker, "func_name: str, result: GeneralRes -> None",
                "Check the status record of an answer: raise VmReturnError at ERROR level, show WARNING and INFO "
                "texts to the user.\n\n"
                "Parameters\n"
                "  func_name: the command's name, for the error's text.\n"
                "  result: the answer, whose status record has errLevel, errCode and errInfo.\n\n"
                "Returns\n"
                "  None; VmReturnError at ERROR level."),
};

}  // namespace

// The message is made before the function it goes to is read: Python builds
// it in a statement of its own.
Ref vmReturnChecker(Params<2> p) {
    auto [func_name, result] = p.take<2>();
    if (level_is(result, n_ERROR_LEVEL_ERROR)) {
        Ref error = message(func_name, result);
        vm::raise_instance(vm::global(n_VmReturnError), error);
    }
    if (level_is(result, n_ERROR_LEVEL_WARNING) && has_info(result)) {
        Ref error = message(func_name, result);
        vm::global(n_user_warning).call({error});
    } else if (level_is(result, n_ERROR_LEVEL_INFO) && has_info(result)) {
        Ref error = message(func_name, result);
        vm::global(n_user_info).call({error});
    }
    return vm::none();
}

void register_checker(vm::Module& m) { m.add(kFunctions); }

}  // namespace vmcmd
