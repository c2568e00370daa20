from velmoro.tframe.comm import vmserial
from velmoro.tframe.comm.vmserial import recv_serial

__all__ = ["vmserial", "recv_serial"]
