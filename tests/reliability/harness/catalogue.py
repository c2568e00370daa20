"""The public callables of the native modules, found by introspection so that
every function a module publishes is covered, and plausible arguments for
them, chosen by parameter name."""
import importlib
import inspect
import re

from harness.fakes import targets_copy
from native_modules import MODULES
QUERY_MODULES = tuple(m for m in MODULES if ".api." in m)
FUNDAMENTAL = QUERY_MODULES[:3]
FACTORS = QUERY_MODULES[3]
VMCMD, RUNTYPES, BARCYCLE = MODULES[:3]
# the framework layer's own native helpers: not among the seven, checked alike
MATWALK = "velmoro.tframe.utils._matwalk"
WIRECODEC = "velmoro.tframe.comm._wirecodec"
BY_SHORT_NAME = {m.rsplit(".", 1)[1]: m for m in MODULES + (MATWALK, WIRECODEC)}


def load(dotted):
    """The module, or None while its extension is not built; any other import
    failure is raised."""
    try:
        return importlib.import_module(dotted)
    except ModuleNotFoundError as exc:
        if exc.name == dotted:
            return None
        raise


def functions(module):
    """(name, callable) of every function the module defines, in definition order."""
    return [
        (name, value)
        for name, value in vars(module).items()
        if callable(value)
        and not isinstance(value, type)
        and not name.startswith("__")
        and getattr(value, "__module__", None) == module.__name__
    ]


def classes(module):
    return [
        (name, value)
        for name, value in vars(module).items()
        if isinstance(value, type) and value.__module__ == module.__name__
    ]


def members(cls):
    """(name, kind) of the methods and properties a class defines itself:
    kind is "method", "static" or "property"."""
    out = []
    for name, value in vars(cls).items():
        if name.startswith("__"):
            continue
        if isinstance(value, property) or inspect.isgetsetdescriptor(value):
            out.append((name, "property"))
        elif isinstance(value, staticmethod):
            out.append((name, "static"))
        elif callable(value):
            out.append((name, "method"))
    return out


def parameters(func):
    return list(inspect.signature(func).parameters.values())


# first match wins: parameter-name pattern -> plausible value
_RULES = [
    (r"^(targets?|targetlist|target_list|alltargetlists|listmc|listmkcode|marketcodes?)$", targets_copy),
    (r"handles$|handlelist|^handles", lambda: [1]),
    (r"handle", lambda: 1),
    (r"taskid", lambda: 1),
    (r"factor_list|^factors$|list_factor_name", lambda: ["pe", "pb"]),
    (r"factor|item_?name", lambda: "pe"),
    (r"item_?list|listitem", lambda: ["Close"]),
    (r"order_?ids|stop_order_id_s|order_dates|^dates$", lambda: [1]),
    (r"^(begin|end|float|publish)_?date|date_?(begin|end)$", lambda: ""),
    (r"date|day|checktime", lambda: 20240102),
    (r"endtm", lambda: 45293.5),
    (r"freq$|frequency$", lambda: "min"),
    (r"num|count|before", lambda: 1),
    (r"fq", lambda: "NA"),
    (r"^market$|wstrmarket", lambda: "sse"),
    (r"^code$", lambda: "600000"),
    (r"params|configs|positionlist", lambda: {"Name": "x"}),
    (r"^(report_type|is_new|is_calc|field)$", lambda: ()),
    (r"varargin", lambda: ["sse", "510050", 20240102, 1, 3.0]),
    (r"flags|lang|name|cat|cmd|log|^e$|dir|ver|core|varieties|block|side|effect|longshort|fields|func", lambda: "x"),
]


def plausible(param_name):
    """A value of the kind a parameter of this name takes."""
    key = param_name.lower()
    for pattern, make in _RULES:
        if re.search(pattern, key):
            return make()
    return "x"


def plausible_args(func, required_only=True):
    """Positional arguments for `func`: a plausible value per parameter
    (only the required ones, so that defaults are used, unless asked)."""
    return [
        plausible(p.name)
        for p in parameters(func)
        if not required_only or p.default is inspect.Parameter.empty
    ]
