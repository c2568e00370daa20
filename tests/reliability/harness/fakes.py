"""Stand-ins for what the native modules call: the terminal link, its answers,
result files, and objects that fail in every way a Python object can."""
import io
import os
import tempfile
import threading
import types

import h5py
import numpy as np
import scipy.io


TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]


def targets_copy():
    return [dict(t) for t in TARGETS]


class Boom(Exception):
    """Raised by the hostile objects and failing callees of these tests."""


class Transport:
    """Stands in for `vmserial` and `recv_serial`: every `Velmoro*_send` keeps
    its arguments (the last send per thread) and `recv_serial` answers with
    `answer(command, args)`. A raising `answer` fails the send itself when
    `fail_on_send` is set, else the receive."""

    def __init__(self, answer, fail_on_send=False):
        self.answer = answer
        self.fail_on_send = fail_on_send
        self.local = threading.local()
        self.sends = 0

    def __getattr__(self, name):
        if not name.startswith("Velmoro"):
            raise AttributeError(name)

        def send(*args):
            self.sends += 1
            self.local.last = (name, args)
            if self.fail_on_send:
                self.answer(name, args)

        return send

    def recv_serial(self, func_name):
        name, args = self.local.last
        return self.answer(name, args)

    def last(self):
        return getattr(self.local, "last", None)


def install(monkeypatch, vmcmd, transport):
    """Routes the command channel's sends and receives to `transport`."""
    monkeypatch.setattr(vmcmd, "vmserial", transport)
    monkeypatch.setattr(vmcmd, "recv_serial", transport.recv_serial)


DAYS = np.array([[45293.0, 45294.0, 45295.0]])
VARIABLES = {
    "Date": DAYS,
    "Time": DAYS + 0.375,
    "bp_sse_600000": np.array([[1.0, 2.0, np.nan]]),
    "bp_szse_000001": np.array([[3.0, 4.0, 5.0]]),
    "sse_600000_0": np.array([[1.0, 2.0]]),
    "szse_000001_1": np.array([[3.0, 4.0]]),
    "Close": np.ones((1, 3)),
}


def v73_bytes(variables):
    """A MAT v7.3 file: HDF5 behind a 512-byte header, matrices stored
    transposed."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "v73.mat")
        with h5py.File(path, "w", userblock_size=512) as f:
            for name, value in variables.items():
                f[name] = np.asarray(value).T
        with open(path, "rb") as f:
            data = bytearray(f.read())
    data[:128] = b"MATLAB 7.3 MAT-file".ljust(116, b" ") + bytes(8) + b"\x00\x02IM"
    return bytes(data)


class ResultFiles:
    """MAT result files in a folder: one readable file holding every variable
    the modules look for, and broken copies of it made on demand."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.valid = os.path.join(folder, "valid.mat")
        self.restore()
        with open(self.valid, "rb") as f:
            plain = f.read()
        # the same variables packed, and in the HDF5 layout: copies to damage
        packed = io.BytesIO()
        scipy.io.savemat(packed, VARIABLES, do_compression=True)
        self.originals = [plain, packed.getvalue(), v73_bytes(VARIABLES)]

    def restore(self):
        """(Re)writes the readable file; a command may remove the files it reads."""
        if not os.path.exists(self.valid):
            scipy.io.savemat(self.valid, VARIABLES)

    def write(self, name, variables):
        """A readable file holding `variables`."""
        path = os.path.join(self.folder, name)
        scipy.io.savemat(path, variables)
        return path

    def broken(self, name, data):
        """A file holding `data` (e.g. a truncated or altered copy of the valid one)."""
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


def payload_for(attribute, path):
    """A well-formed value for an answer attribute, by its type prefix."""
    if attribute == "listPaths":
        return [path]
    if attribute == "listIns":  # contract-day records
        return [{"TargetIns": "RB2405", "Day": 20240102}, {"TargetIns": "RB2409", "Day": 20240103}]
    if attribute.startswith("list"):
        return targets_copy()
    if attribute.startswith("wstr"):
        return path
    if attribute.startswith("i64"):
        return 7
    if attribute.startswith("b"):
        return True
    if attribute.startswith("s"):
        return types.SimpleNamespace(Position=1, Frozen=0, AvgPrice=1.0, Cash=1.0)
    return 1


class FullAnswer:
    """An answer at `level` whose every payload attribute is well formed; a
    payload is made on first read and kept, so that every call sees the same
    objects. Its status record takes further attributes, as the account
    records some commands stamp."""

    def __init__(self, path, level=0, info=""):
        self.result = types.SimpleNamespace(errLevel=level, errCode=5, errInfo=info)
        self._path = path

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        value = payload_for(name, self._path)
        setattr(self, name, value)
        return value


class Hostile:
    """Fails every operation an object may be asked for: attribute access,
    length, iteration, items, comparison, truth, hashing, conversion, calls."""

    def _fail(self, *args, **kwargs):
        raise Boom("hostile object")

    __getattr__ = __len__ = __iter__ = __getitem__ = __setitem__ = __contains__ = _fail
    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __hash__ = __bool__ = _fail
    __index__ = __int__ = __float__ = __str__ = __call__ = __format__ = _fail

    def __repr__(self):
        return "Hostile()"


class Liar:
    """A sequence whose length does not match what iteration yields, and
    whose items change under the caller."""

    def __init__(self, claimed, items):
        self.claimed = claimed
        self.items = items

    def __len__(self):
        return self.claimed

    def __iter__(self):
        return iter(self.items)

    def __getitem__(self, index):
        return self.items[index % len(self.items)] if self.items else None

    def __repr__(self):
        return "Liar({}, {!r})".format(self.claimed, self.items)


def failing_after(n, items):
    """An iterable whose iterator raises Boom after `n` items."""

    class Failing:
        def __iter__(self):
            for i, v in enumerate(items):
                if i == n:
                    raise Boom("iteration")
                yield v
            raise Boom("iteration")

        def __repr__(self):
            return "failing_after({}, {!r})".format(n, items)

    return Failing()


class Switch:
    """Stands in for a callee: calls it, or raises Boom while `failing`."""

    def __init__(self, name, func):
        self.name = name
        self.func = func
        self.failing = False

    def __call__(self, *args, **kwargs):
        if self.failing:
            raise Boom(self.name)
        return self.func(*args, **kwargs)
