"""Imports run one way: no module of the package, Python or native, imports from a layer
after its own, the layers as the README's layout section lists them; and the framework
runs with no terminal package of its own."""
import ast
import glob
import os
import re
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE = os.path.join(TOP, "python", "velmoro")


def readme_layers():
    """Module name -> layer number, from the numbered list of the README's layout section."""
    with open(os.path.join(TOP, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("## Layout"):]
    section = section[:section.index("\n## ")]
    layers = {}
    for number, names in re.findall(r"^(\d+)\. ((?:`velmoro[\w.]*`(?:, )?)+):", section, re.M):
        for name in re.findall(r"`([\w.]+)`", names):
            layers[name] = int(number)
    return layers


LAYERS = readme_layers()


def layer_of(module):
    """The layer of `module`: that of its longest listed prefix; the root package is the ground."""
    if module == "velmoro":
        return 0
    parts = module.split(".")
    for end in range(len(parts), 1, -1):
        if ".".join(parts[:end]) in LAYERS:
            return LAYERS[".".join(parts[:end])]
    return None


def python_imports(source, module, is_package):
    """(line, imported module) of every velmoro import in `source`: at module level, inside
    functions, relative, and import_module calls with a literal name."""
    base = module.split(".") if is_package else module.split(".")[:-1]
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom):
            origin = ".".join(base[:len(base) - node.level + 1] + ([node.module] if node.module else [])) \
                if node.level else node.module
            names = [origin]
        elif (isinstance(node, ast.Call) and node.args and isinstance(node.args[0], ast.Constant)
              and getattr(node.func, "attr", getattr(node.func, "id", None)) == "import_module"):
            names = [str(node.args[0].value)]
        else:
            continue
        for name in names:
            if name == "velmoro" or name.startswith("velmoro."):
                yield node.lineno, name


def python_modules():
    for path in sorted(glob.glob(os.path.join(PACKAGE, "**", "*.py"), recursive=True)):
        relative = os.path.relpath(path, os.path.dirname(PACKAGE))[:-len(".py")].split(os.sep)
        is_package = relative[-1] == "__init__"
        yield path, ".".join(relative[:-1] if is_package else relative), is_package


def native_modules():
    """(source folder, module) of every native module, from the CMake files' install folders."""
    with open(os.path.join(TOP, "CMakeLists.txt")) as f:
        for name, dest, folders in re.findall(r"^velmoro_module\((\w+) (\S+) ([^)]+)\)", f.read(), re.M):
            for folder in folders.split():
                yield folder, dest.replace("/", ".") + "." + name
    for path in glob.glob(os.path.join(TOP, "src", "*", "CMakeLists.txt")):
        with open(path) as f:
            for name, dest in re.findall(r"install\(TARGETS (\w+) LIBRARY DESTINATION (\S+)", f.read()):
                yield os.path.relpath(os.path.dirname(path), TOP), dest.replace("/", ".") + "." + name


def _names_a_module(name):
    top = os.path.join(PACKAGE, name.split(".")[1])
    return os.path.isdir(top) or os.path.isfile(top + ".py")


def upward_imports():
    """Every import from a layer after the importer's, and every module in no layer."""
    faults = []

    def check(where, module, imported):
        mine, theirs = layer_of(module), layer_of(imported)
        for name, layer in ((module, mine), (imported, theirs)):
            if layer is None:
                faults.append("{}: {} is in no layer of the README's layout section".format(where, name))
        if mine is not None and theirs is not None and theirs > mine:
            faults.append("{}: {} (layer {}) imports {} (layer {})".format(where, module, mine, imported, theirs))

    for path, module, is_package in python_modules():
        with open(path, encoding="utf-8") as f:
            for line, imported in python_imports(f.read(), module, is_package):
                check("{}:{}".format(os.path.relpath(path, TOP), line), module, imported)
    for folder, module in native_modules():
        for path in sorted(glob.glob(os.path.join(TOP, folder, "*.[ch]pp"))):
            with open(path, encoding="utf-8") as f:
                for line, text in enumerate(f, 1):
                    for imported in re.findall(r'"(velmoro(?:\.\w+)+)', text):
                        if not _names_a_module(imported):
                            continue  # a key or label spelled like a module name
                        check("{}:{}".format(os.path.relpath(path, TOP), line), module, imported)
    return faults


def test_no_module_imports_from_a_later_layer():
    assert LAYERS.get("velmoro.protocol") == 1 and len(set(LAYERS.values())) >= 5, LAYERS
    assert dict(native_modules()).get("src/barcycle") == "velmoro.realtrade.barcycle"
    assert upward_imports() == []


@pytest.mark.parametrize("source, module, is_package, found", [
    ("import velmoro.simterm as s\n", "velmoro.tframe.x", False, ["velmoro.simterm"]),
    ("def f():\n    from velmoro.simterm import Terminal\n", "velmoro.tframe.x", False, ["velmoro.simterm"]),
    ("from ..simterm import Terminal\n", "velmoro.tframe.x", False, ["velmoro.simterm"]),
    ("from . import replay\n", "velmoro.simterm", True, ["velmoro.simterm"]),
    ("importlib.import_module('velmoro.cli')\n", "velmoro.api.x", False, ["velmoro.cli"]),
    ("import numpy, os.path\nfrom typing import List\n", "velmoro.tframe.x", False, []),
])
def test_every_kind_of_import_is_seen(source, module, is_package, found):
    assert [name for _, name in python_imports(source, module, is_package)] == found


def test_the_framework_runs_without_the_simulated_terminal(tmp_path):
    # the framework core and a command with the simulated terminal unimportable: the
    # embedded terminal fails to load in one line, an address still connects
    code = (
        "import sys; sys.modules['velmoro.simterm'] = None\n"
        "import velmoro.realtrade.runner, velmoro.api.market, velmoro.tframe.comm.netlink\n"
        "from velmoro.tframe.comm import link, vmcmd\n"
        "try:\n    vmcmd.vmSendCmdGetTradingDays()\n"
        "except link.NotConnectedError as exc:\n    print(exc)\n"
        "assert not [m for m in sys.modules if m.startswith('velmoro.simterm.')]\n"
    )
    proc = subprocess.run([sys.executable, "-c", code], cwd=str(tmp_path), capture_output=True, text=True,
                          env=dict(os.environ, VELMORO_TERMINAL="embedded"), timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert re.fullmatch(r"the terminal 'embedded' \(velmoro\.simterm:Terminal\) does not load: .+\n", proc.stdout)
