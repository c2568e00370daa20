"""Frames and msgpack coding of the terminal link's messages; the channel of a connection and the seal of its frames."""
import socket
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Type, Union

_Message = List[Any]  # a message: its kind first (see wire.py)

class Waiter:
    """Where a thread waiting on the link sleeps until it is woken."""

    reply: Any
    """What the waiting thread was handed (None until then)."""
    def wait(self, timeout: float) -> bool:
        """Sleeps until woken or `timeout` seconds passed; True when woken. A wake given before the wait (or left from one that ended) is taken at once; a signal's handler runs meanwhile."""
    def wake(self) -> None:
        """Wakes the thread waiting, or the next wait."""

class FrameReader:
    """Cuts a byte stream into messages, whatever the pieces it arrives in."""

    cap: int
    """The largest frame body accepted, in bytes."""
    def __init__(self, cap: Optional[int] = None) -> None:
        """A reader taking frames of at most `cap` bytes (None: the wire's MAX_FRAME)."""
    def authenticate(self, seal: "Seal") -> None:
        """From the next frame cut on, each must end with its tag under the Seal `seal` (FrameError when one does not: altered, replayed, reordered or injected)."""
    def add(self, data: bytes) -> None:
        """Appends bytes to the stream."""
    def next(self) -> Optional[_Message]:
        """The next complete message, or None (FrameError on a bad frame)."""
    def feed(self, data: bytes) -> List[_Message]:
        """The messages completed by `data` (FrameError on a bad frame)."""
    def receive(self, sock: Union[socket.socket, int], block: bool,
                wakes: Optional[List[Waiter]] = None) -> Optional[List[_Message]]:
        """The messages completed by one read of `sock` (a socket or its descriptor), or None when nothing came: without `block` nothing was there, with it the socket's receive time-out passed (only a blocking read lets other threads run meanwhile). The waiters of the list `wakes` are taken from it and woken before the read, a blocking one's with the GIL let go. EOFError at the end of the stream, OSError when the read fails, FrameError on a bad frame."""

class Channel:
    """One connection to the terminal, shared by the threads calling it."""

    def __init__(self, sock: socket.socket, frames: FrameReader, tick: float,
                 deliver: Callable[[List[_Message]], None], lost: Callable[["Channel", BaseException], None],
                 errors: Dict[str, Type[BaseException]], seal: Optional["Seal"] = None) -> None:
        """A channel on the connected socket `sock` (its receive time-out at most `tick` seconds, the longest blocking read) whose stream `frames` cuts; deliver(messages) takes what a read brought besides the answers of waiting calls, lost(channel, exc) hears that the connection failed; errors maps the names of the terminal's error answers to classes; every frame sent is tagged with `seal` (a Seal, None: sent as it is)."""
    def call(self, op: str, args: List[Any], key: Optional[str], timeout: float) -> Any:
        """Sends request `op` with `args` and returns its answer. `key`, the idempotency key of an order or cancel (else None), is recorded before the request can leave and returned by close() while it waits. NotConnectedError when nothing was sent; OutcomeUnknownError(message, key) when it was sent and no answer came within `timeout` seconds or the connection ended first; the terminal's error answers as the errors they name."""
    def send(self, data: bytes) -> None:
        """Sends whole frames; NotConnectedError once closed, OSError when the send fails (the connection is then reported lost)."""
    def wait(self, waiter: Waiter, deadline: float) -> bool:
        """Waits until `waiter` has its reply (True), reading in turn while no other thread does; False at `deadline` (a time.monotonic() time) or once the channel is closed."""
    def poll(self) -> bool:
        """Reads what came, without waiting, while no other thread reads; False when one does or the channel is closed."""
    def close(self, error: BaseException) -> List[str]:
        """Ends the channel: the socket is shut down (closed once no thread reads it), every call waiting fails with `error`, threads in wait return. The keys of the orders and cancels among those calls (none when closed already)."""
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
    def closed(self) -> bool:
        """Whether the channel was closed."""
    @property
    def reading(self) -> bool:
        """Whether a thread holds the turn to read."""
    @property
    def in_flight(self) -> int:
        """The calls waiting for their answers."""
    @property
    def queued(self) -> int:
        """The frames waiting for the thread sending."""

class Seal:
    """Tags the frames of one direction of a connection, or checks them."""

    def __init__(self, key: bytes) -> None:
        """The seal of one direction of a connection under the session key `key` (bytes, at least 16)."""
    def seal(self, data: bytes) -> bytes:
        """The frames of `data` (whole frames, in the order they will be sent), each with its tag: ValueError when `data` is not whole frames."""
    @property
    def count(self) -> int:
        """The frames sealed or opened so far."""

# ---- written by tools/stubgen from the declarations in src/wirecodec: edit those, then run make stubs ----
def configure(namespace: Dict[str, Any], extensions: Iterable[Tuple[Any, ...]]) -> None:
    """Hands the codec the wire module's globals (read at call time: _default, _DECODERS, FrameError, MAX_FRAME) and its extension types: tuples (class, code, rule[, detail]). Numeric arrays are coded natively while the globals _default, _array and _DECODERS[_ARRAY] are the _default, _array and _decode_array given now."""


def encode(value: Any) -> bytes:
    """The msgpack body of a value (TypeError for a value the wire does not carry)."""

def frame(message: _Message) -> bytes:
    """One frame (length prefix and body) holding `message`."""


def decode(body: bytes) -> Any:
    """The value of a msgpack body; FrameError when it is not one."""


def send(sock: Union[socket.socket, int], data: bytes) -> None:
    """Writes all of `data` to `sock` (a socket or its descriptor); what the socket takes at once with the GIL held, the rest as the socket's own sendall does (a descriptor: with the GIL let go, bounded by its send time-out). BlockingIOError when a time-out passes (part of `data` may have left), OSError when the write fails."""


def thread_waiter() -> Waiter:
    """This thread's Waiter, its reply cleared. A thread waiting on the link sleeps on it until woken, for what it waits for (set as its reply) or for its turn to read. Each thread keeps one, reset for every wait: a wake given before it sleeps, or left from a wait that ended, is kept, and a sleeper woken for nothing only looks again."""
