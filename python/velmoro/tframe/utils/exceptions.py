"""Framework exceptions."""

__all__ = ["VmReturnError", "InvalidParamError", "check_vm_return_error"]


class VmReturnError(Exception):
    """The terminal answered a command at error level."""


class InvalidParamError(ValueError):
    """A parameter given to the run-time types is not acceptable."""


def check_vm_return_error(errInfo, error="ignore"):
    """Return the reason text for the terminal's error information.

    With error="raise" a non-empty error text raises VmReturnError instead.
    """
    reason = errInfo if isinstance(errInfo, str) else str(errInfo)
    if not reason:
        reason = "no reason given by the terminal"
    if error == "raise" and errInfo:
        raise VmReturnError(reason)
    return reason
