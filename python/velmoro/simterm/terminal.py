"""The terminal: dispatches each command to its handler and answers."""
import atexit
import os
import queue
import shutil
import tempfile
import threading
from typing import TYPE_CHECKING, Any, Dict, Optional, Sequence, Tuple

import scipy.io

from velmoro.protocol import UNKNOWN_COMMAND
from velmoro.simterm.commands import CHECKS, HANDLERS, TerminalError, command, ok
from velmoro.simterm.matfile import Unsupported, mat_bytes, write_atomic

if TYPE_CHECKING:
    from velmoro.simterm.dataset import Dataset
    from velmoro.simterm.instruments import InstrumentFacts
    from velmoro.simterm.rules import Rules

# the registry's names are also this module's, where the handlers once took them
__all__ = ["Terminal", "TerminalError", "command", "ok", "HANDLERS", "CHECKS"]

_RAM_FOLDER = "/dev/shm"


class Terminal:
    """An in-process terminal over a generated dataset.

    Every command handed to it is recorded in `sent`; lines written with the
    log command are kept in `log`. Orders trade by `rules` (rules.py) and the
    securities' `facts` (instruments.py), the dataset's own unless given.
    """

    def __init__(self, dataset: Optional["Dataset"] = None, result_dir: Optional[str] = None,
                 rules: Optional["Rules"] = None, facts: Optional["InstrumentFacts"] = None) -> None:
        from velmoro.simterm.dataset import Dataset
        from velmoro.simterm.rules import Rules

        self.data = dataset if dataset is not None else Dataset()
        self.rules = rules if rules is not None else Rules()
        self.facts = facts if facts is not None else self.data.facts()
        if result_dir is None:
            # a folder of its own, gone with the process; in memory when the
            # system has a RAM folder: bar files go there by the thousand
            result_dir = tempfile.mkdtemp(prefix="velmoro-terminal-", dir=_RAM_FOLDER if os.path.isdir(_RAM_FOLDER) else None)
            atexit.register(shutil.rmtree, result_dir, True)
        self.result_dir = result_dir
        os.makedirs(self.result_dir, exist_ok=True)
        self.sent = []
        self.log = []
        # the terminal's clock (framework numeric time); None: after the last bar
        self.now: Optional[float] = None
        # a push is put and taken once a minute of a replay: the simple queue's
        # put and get cost a fraction of the full queue's
        self._pushes: "queue.SimpleQueue[Any]" = queue.SimpleQueue()
        self._lock = threading.Lock()
        self._file_no = 0

    name = "the embedded simulated terminal"

    def replay_for_run(self, targets: Sequence[dict], begin_date: int, end_date: int) -> Optional[Tuple[Any, int, int]]:
        """Arrange the pushes of a live run: see session.py."""
        from velmoro.simterm.session import replay_for_run

        return replay_for_run(self, targets, begin_date, end_date)

    def handle(self, command: str, args: Tuple[Any, ...]) -> Any:
        """The answer of the command's handler (None for commands without
        one); a refusal or an unknown command answers at error level."""
        self.sent.append((command, args))
        handler = HANDLERS.get(command)
        if handler is None:
            return ok(1, UNKNOWN_COMMAND, "unknown command {}".format(command))
        try:
            for check in CHECKS:
                check(self, command, args)
            return handler(self, *args)
        except TerminalError as exc:
            return ok(1, exc.code, exc.info)

    def push(self, record: Any) -> None:
        """Queue one push of new data for the framework's refresh loop."""
        self._pushes.put(record)

    def next_push(self, timeout: float) -> Any:
        """The next queued push, or None when none comes within `timeout` seconds."""
        try:
            return self._pushes.get(timeout=timeout)
        except queue.Empty:
            return None

    def write_mat(self, stem: str, variables: Dict[str, Any]) -> str:
        """Write one MAT result file and return its path."""
        with self._lock:
            self._file_no += 1
            path = os.path.join(self.result_dir, "{}_{:06d}.mat".format(stem, self._file_no))
        try:
            write_atomic(path, mat_bytes(variables))
        except Unsupported:
            # one at a time: scipy's MAT writer, run from several threads at
            # once, now and then writes a file it cannot read back
            with self._lock:
                scipy.io.savemat(path, variables)
        return path
