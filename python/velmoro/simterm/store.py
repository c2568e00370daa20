"""The served terminal's state on disk (SQLite), so that a restart loses no order.

The terminal is rebuilt by running again, in order and each at its clock, the
commands that changed it (`events`); `keys` keeps the answer of every order or
cancel by its idempotency key, written in the same transaction as its event;
`sessions` keeps what each client session replays, so that its pushes resume
after a restart. Without a folder the state lives in memory only.
"""
import os
import sqlite3

from velmoro.tframe.comm import wire

__all__ = ["Store", "is_recorded"]

_SCHEMA = """
CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value BLOB);
CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, command TEXT, args BLOB, clock REAL);
CREATE TABLE IF NOT EXISTS keys (key TEXT PRIMARY KEY, answer BLOB);
CREATE TABLE IF NOT EXISTS sessions (id TEXT PRIMARY KEY, replay BLOB);
"""

# modules whose commands change the terminal or match its orders at the clock
_STATEFUL_MODULES = ("velmoro.simterm.trading", "velmoro.simterm.tasks")
_READ_ONLY = frozenset(("CmdTest", "ToolboxCheck", "CheckSubscribeNum", "GetBackTestPerformance", "GetStrategyID"))


def is_recorded(command, handler):
    """Whether the command's effect must survive a restart."""
    return handler is not None and handler.__module__ in _STATEFUL_MODULES and command not in _READ_ONLY


class Store:
    def __init__(self, folder=None):
        if folder is None:
            path = ":memory:"
        else:
            os.makedirs(folder, mode=0o700, exist_ok=True)
            path = os.path.join(folder, "terminal.sqlite")
        # one connection, used under the server's terminal lock
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.db.execute("PRAGMA journal_mode=WAL")
        # each commit reaches the disk before its answer is sent: an
        # acknowledged order survives a power loss, not only a crash
        self.db.execute("PRAGMA synchronous=FULL")
        self.db.executescript(_SCHEMA)

    def setting(self, name, value):
        """The stored value of `name`; stores `value` when there is none yet."""
        row = self.db.execute("SELECT value FROM meta WHERE name = ?", (name,)).fetchone()
        if row is not None:
            return wire.decode(row[0])
        self.db.execute("INSERT INTO meta VALUES (?, ?)", (name, wire.encode(value)))
        return value

    def events(self):
        """(command, args, clock) of every recorded command, in order."""
        for command, args, clock in self.db.execute("SELECT command, args, clock FROM events ORDER BY id"):
            yield command, wire.decode(args), clock

    def record(self, command, args, clock, key, answer, recorded):
        """Keep a command's effect and the answer of its key, at once."""
        with self.db:
            self.db.execute("BEGIN")
            if recorded:
                self.db.execute("INSERT INTO events (command, args, clock) VALUES (?, ?, ?)",
                                (command, wire.encode(args), clock))
            if key is not None:
                self.db.execute("INSERT INTO keys VALUES (?, ?)", (key, wire.encode(answer)))

    def answer(self, key):
        """(True, answer) for a known key, else (False, None)."""
        row = self.db.execute("SELECT answer FROM keys WHERE key = ?", (key,)).fetchone()
        return (True, wire.decode(row[0])) if row is not None else (False, None)

    def save_session(self, session_id, replay):
        self.db.execute("INSERT OR REPLACE INTO sessions VALUES (?, ?)", (session_id, wire.encode(replay)))

    def session(self, session_id):
        row = self.db.execute("SELECT replay FROM sessions WHERE id = ?", (session_id,)).fetchone()
        return wire.decode(row[0]) if row is not None else None
