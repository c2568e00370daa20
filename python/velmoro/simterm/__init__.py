"""A simulated host terminal: answers every command from a small generated
dataset and writes real MAT result files."""
import importlib
import pkgutil

from velmoro.simterm.dataset import Dataset
from velmoro.simterm.terminal import HANDLERS, Terminal, TerminalError

__all__ = ["Dataset", "Terminal", "TerminalError", "HANDLERS"]

# every module of this package that is not the core registers command handlers
for _info in pkgutil.iter_modules(__path__):
    if _info.name not in ("commands", "dataset", "terminal", "__main__"):
        importlib.import_module(__name__ + "." + _info.name)
del _info
