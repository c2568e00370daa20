"""Progress of a run on the console: a bar redrawn in place on a terminal,
plain lines (one per trading day) when the output is a file or a pipe."""
import datetime as _dt
import sys
from typing import Optional, TextIO

__all__ = ["Progress"]

WIDTH = 30


class Progress:
    """Call `bar(when, orders)` once per handler call, `done()` at the end.
    `total`: the bars expected (None when unknown)."""

    def __init__(self, total: Optional[int] = None, stream: Optional[TextIO] = None):
        self.total = total
        self.stream = stream if stream is not None else sys.stdout
        self.tty = self.stream.isatty()
        self.count = 0
        self.day: Optional[str] = None
        self.orders = 0

    def _line(self, orders: int) -> str:
        if self.total:
            filled = min(WIDTH, WIDTH * self.count // self.total)
            return "[{}{}] {}/{} bars, day {}, orders {}".format(
                "#" * filled, "." * (WIDTH - filled), self.count, self.total, self.day, orders)
        return "{} bars, day {}, orders {}".format(self.count, self.day, orders)

    def bar(self, when: _dt.datetime, orders: int) -> None:
        day = when.strftime("%Y-%m-%d")
        if not self.tty and self.day is not None and day != self.day:
            self.stream.write(self._line(orders) + "\n")
        self.count += 1
        self.day = day
        if self.tty and (self.count % 10 == 0 or self.count == self.total):
            self.stream.write("\r" + self._line(orders))
            self.stream.flush()
        self.orders = orders

    def done(self) -> None:
        if self.count:
            self.stream.write(("\r" if self.tty else "") + self._line(self.orders) + "\n")
            self.stream.flush()
