"""The terminal link: `vmserial` sends commands, `recv_serial` takes their answers."""
from velmoro.tframe.comm import vmserial
from velmoro.tframe.comm.link import recv_serial

__all__ = ["vmserial", "recv_serial"]
