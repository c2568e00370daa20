// The answer checker: an ERROR answer raises, WARNING and INFO texts are shown.
#include "frame.hpp"

namespace vmcmd {
namespace {

Name n_errLevel{"errLevel"};
Name n_errCode{"errCode"};
Name n_errInfo{"errInfo"};
Name n_ERROR_LEVEL_ERROR{"ERROR_LEVEL_ERROR"};
Name n_ERROR_LEVEL_WARNING{"ERROR_LEVEL_WARNING"};
Name n_ERROR_LEVEL_INFO{"ERROR_LEVEL_INFO"};
Name n_check_vm_return_error{"check_vm_return_error"};
Name n_text{"text"};
Name n_ERROR_CODE_REASON{"ERROR_CODE_REASON"};
Name n_format{"format"};
Name n_ignore{"ignore"};
Name n_empty{""};
Name n_VmReturnError{"VmReturnError"};
Name n_user_warning{"user_warning"};
Name n_user_info{"user_info"};
const vm::Kw kw_error{"error"};
const vm::Kw kw_message{"Name", "Code", "Reason"};

bool level_is(PyObject* result, const Name& constant) {
    return vm::equal(vm::attr(result, n_errLevel), vm::global(constant));
}

bool has_info(PyObject* result) { return vm::not_equal(vm::attr(result, n_errInfo), n_empty); }

// text.ERROR_CODE_REASON.format(Name=func_name, Code=result.errCode, Reason=reason)
Ref message(PyObject* func_name, PyObject* result) {
    Ref reason = vm::call(vm::global(n_check_vm_return_error), kw_error, vm::attr(result, n_errInfo), n_ignore);
    Ref format = vm::attr(vm::attr(vm::global(n_text), n_ERROR_CODE_REASON), n_format);
    return vm::call(format.get(), kw_message, func_name, vm::attr(result, n_errCode), reason);
}

}  // namespace

Ref vmReturnChecker(Args a) {
    PyObject* func_name = a[0];
    PyObject* result = a[1];
    if (level_is(result, n_ERROR_LEVEL_ERROR)) {
        Ref error = message(func_name, result);
        vm::raise_instance(vm::global(n_VmReturnError), error);
    }
    if (level_is(result, n_ERROR_LEVEL_WARNING) && has_info(result)) {
        vm::call(vm::global(n_user_warning), message(func_name, result));
    } else if (level_is(result, n_ERROR_LEVEL_INFO) && has_info(result)) {
        vm::call(vm::global(n_user_info), message(func_name, result));
    }
    return vm::none();
}

}  // namespace vmcmd
