class VmReturnError(Exception):
    pass


class InvalidParamError(Exception):
    pass


def check_vm_return_error(errInfo, error="ignore"):
    return errInfo
