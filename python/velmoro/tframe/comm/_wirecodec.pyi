"""Frames and msgpack coding of the terminal link's messages; the channel of a connection."""
import socket
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Type, Union

_Message = List[Any]  # a message: its kind first (see wire.py)

def configure(namespace: Dict[str, Any], extensions: Iterable[Tuple[Any, ...]]) -> None:
    """Hands the codec the wire module's globals and its extension types."""

def encode(value: Any) -> bytes:
    """The msgpack body of a value (TypeError for a value the wire does not carry)."""

def frame(message: _Message) -> bytes:
    """One frame (length prefix and body) holding `message`."""

def decode(body: bytes) -> Any:
    """The value of a msgpack body; FrameError when it is not one."""

def send(sock: Union[socket.socket, int], data: bytes) -> None:
    """Writes all of `data` to `sock`; BlockingIOError when its send time-out passes, OSError when it fails."""

def thread_waiter() -> "Waiter":
    """This thread's Waiter, its reply cleared."""

class Waiter:
    """Where a thread waiting on the link sleeps until it is woken."""

    reply: Any
    """What the waiting thread was handed (None until then)."""
    def wait(self, timeout: float) -> bool:
        """Sleeps until woken or `timeout` seconds passed; True when woken."""
    def wake(self) -> None:
        """Wakes the thread waiting, or the next wait."""

class FrameReader:
    """Cuts a byte stream into messages, whatever the pieces it arrives in."""

    cap: int
    """The largest frame body accepted, in bytes."""
    def __init__(self, cap: Optional[int] = None) -> None: ...
    def add(self, data: bytes) -> None:
        """Appends bytes to the stream."""
    def next(self) -> Optional[_Message]:
        """The next complete message, or None (FrameError on a bad frame)."""
    def feed(self, data: bytes) -> List[_Message]:
        """The messages completed by `data` (FrameError on a bad frame)."""
    def receive(self, sock: Union[socket.socket, int], block: bool,
                wakes: Optional[List[Waiter]] = None) -> Optional[List[_Message]]:
        """The messages completed by one read of `sock`, or None when nothing came."""

class Channel:
    """One connection to the terminal, shared by the threads calling it: it
    owns the socket, the calls waiting for answers with the idempotency keys
    of the orders among them, the frames waiting to be sent and the turn to
    read."""

    def __init__(self, sock: socket.socket, frames: FrameReader, tick: float,
                 deliver: Callable[[List[_Message]], None], lost: Callable[["Channel", BaseException], None],
                 errors: Dict[str, Type[BaseException]]) -> None:
        """A channel on the connected `sock` (receive time-out at most `tick`
        seconds); deliver(messages) takes what a read brought besides the
        answers of waiting calls, lost(channel, exc) hears that the
        connection failed; errors maps error answers' names to classes."""
    def call(self, op: str, args: List[Any], key: Optional[str], timeout: float) -> Any:
        """Sends request `op` and returns its answer; `key` is recorded before
        the request can leave. NotConnectedError when nothing was sent,
        OutcomeUnknownError(message, key) when no answer came within
        `timeout` or the connection ended first."""
    def send(self, data: bytes) -> None:
        """Sends whole frames; NotConnectedError once closed, OSError when the send fails."""
    def wait(self, waiter: Waiter, deadline: float) -> bool:
        """Waits until `waiter` has its reply (True), reading in turn; False at
        `deadline` (a time.monotonic() time) or once the channel is closed."""
    def poll(self) -> bool:
        """Reads what came, without waiting, while no other thread reads."""
    def close(self, error: BaseException) -> List[str]:
        """Ends the channel: every call waiting fails with `error`; the keys of the orders among them."""
    def carries(self, key: str) -> bool:
        """Whether a call with idempotency key `key` waits for its answer."""
    @property
    def sock(self) -> socket.socket:
        """The connection's socket."""
    @property
    def last_sent(self) -> float:
        """When the last frame was sent (time.monotonic())."""
    @property
    def last_recv(self) -> float:
        """When the last bytes came (time.monotonic())."""
    @property
    def closed(self) -> bool: ...
    @property
    def reading(self) -> bool:
        """Whether a thread holds the turn to read."""
    @property
    def in_flight(self) -> int:
        """The calls waiting for their answers."""
    @property
    def queued(self) -> int:
        """The frames waiting for the thread sending."""
