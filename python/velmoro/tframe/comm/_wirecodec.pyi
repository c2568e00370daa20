"""Frames and msgpack coding of the terminal link's messages."""
import socket
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

_Socket = Union[socket.socket, int]

class FrameReader:
    """Cuts a byte stream into messages, whatever the pieces it arrives in."""

    def __init__(self, cap: Optional[int] = None) -> None:
        """A reader taking frames of at most `cap` bytes (None: the wire's MAX_FRAME)."""
    @property
    def cap(self) -> int:
        """The largest frame body accepted, in bytes."""
    @cap.setter
    def cap(self, value: int) -> None: ...
    def add(self, /, data: bytes) -> None:
        """Appends bytes to the stream."""
    def feed(self, /, data: bytes) -> List[Any]:
        """The messages completed by `data` (FrameError on a bad frame)."""
    def next(self, /) -> Any:
        """The next complete message, or None (FrameError on a bad frame)."""
    def receive(self, /, sock: _Socket, block: bool, wakes: Optional[List["Waiter"]] = None) -> Optional[List[Any]]:
        """The messages completed by one read of `sock` (a socket or its descriptor), or None when nothing came: without `block` nothing was there, with it the socket's receive time-out passed (only a blocking read lets other threads run meanwhile). The waiters of the list `wakes` are taken from it and woken before the read, a blocking one's with the GIL let go. EOFError at the end of the stream, OSError when the read fails, FrameError on a bad frame."""

class Waiter:
    """Where a thread waiting on the link sleeps until it is woken."""

    def __init__(self) -> None: ...
    reply: Any
    """What the waiting thread was handed (None until then)."""
    def wait(self, /, timeout: float) -> bool:
        """Sleeps until woken or `timeout` seconds passed; True when woken. A wake given before the wait (or left from one that ended) is taken at once; a signal's handler runs meanwhile."""
    def wake(self, /) -> None:
        """Wakes the thread waiting, or the next wait."""

def configure(namespace: Dict[str, Any], extensions: Sequence[Tuple[Any, ...]]) -> None:
    """Hands the codec the wire module's globals (read at call time: _default, _DECODERS, FrameError, MAX_FRAME) and its extension types: tuples (class, code, rule[, detail])."""

def configure_link(namespace: Dict[str, Any], cls: type) -> None:
    """Gives the link module's terminal class `cls` its call path (handle, _call, _write, _wait, _read, _deliver, _wake_delivered, _promote), reading the module's globals `namespace` at call time."""

def decode(body: bytes) -> Any:
    """The value of a msgpack body; FrameError when it is not one."""

def encode(value: Any) -> bytes:
    """The msgpack body of a value (TypeError for a value the wire does not carry)."""

def frame(message: Any) -> bytes:
    """One frame (length prefix and body) holding `message`."""

def send(sock: _Socket, data: bytes) -> None:
    """Writes all of `data` to `sock` (a socket or its descriptor); what the socket takes at once with the GIL held, the rest as the socket's own sendall does (a descriptor: with the GIL let go, bounded by its send time-out). BlockingIOError when a time-out passes (part of `data` may have left), OSError when the write fails."""

def thread_waiter() -> Waiter:
    """This thread's Waiter, its reply cleared. A thread waiting on the link sleeps on it until woken, for what it waits for (set as its reply) or for its turn to read. Each thread keeps one, reset for every wait: a wake given before it sleeps, or left from a wait that ended, is kept, and a sleeper woken for nothing only looks again."""
