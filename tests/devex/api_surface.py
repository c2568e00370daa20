"""What the compiled modules publish: their own names, class members and documented objects."""
import importlib
import inspect
import os
import sys

from native_modules import MODULES


def load(name):
    return importlib.import_module(name)


def stub_path(module):
    """The module's type stub, beside its shared library."""
    leaf = module.__name__.rpartition(".")[2]
    return os.path.join(os.path.dirname(module.__file__), leaf + ".pyi")


def is_public(name):
    return not name.startswith("_")


def imported_elsewhere(module, name, value):
    """True when another loaded module holds the very same object under that name (an import)."""
    return any(
        other is not module and getattr(other, name, None) is value for other in list(sys.modules.values()) if other
    )


def own_names(module):
    """Names the module defines itself (functions, classes, constants), private ones included;
    imported modules and objects are left out."""
    own = {}
    for name, value in vars(module).items():
        if name.startswith("__") or inspect.ismodule(value):
            continue
        if callable(value):
            # functions and classes carry the module that made them
            if getattr(value, "__module__", None) == module.__name__:
                own[name] = value
        elif not imported_elsewhere(module, name, value):
            own[name] = value
    return own


def own_members(cls):
    """Members a class defines itself, dunder names left out."""
    return {name: value for name, value in vars(cls).items() if not name.startswith("__")}


def is_property(member):
    return isinstance(member, property) or inspect.isgetsetdescriptor(member) or inspect.ismemberdescriptor(member)


def documented_objects(module):
    """(qualified name, object) of the module and of every public function, class, method and
    property it defines: what help() shows a caller."""
    found = [(module.__name__, module)]
    for name, value in own_names(module).items():
        if not is_public(name) or not callable(value):
            continue
        found.append((name, value))
        if inspect.isclass(value):
            found.extend(("{}.{}".format(name, m), member) for m, member in own_members(value).items() if is_public(m))
    return found
