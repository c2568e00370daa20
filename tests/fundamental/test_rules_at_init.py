"""What a fundamental module does when it initialises: the framework imports,
then per query its rules, the decorator and the published callable. Each case
runs in a fresh interpreter, with the rule framework replaced by a recorder."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

RECORDER = """
import json, sys, types

log = []


class Rule:
    def __init__(self, desc):
        self.desc = desc


class Builder:
    def __init__(self, name):
        self.name = name

    def is_instance_of(self, *kinds, **kw):
        assert not kw and all(k in (list, tuple, str) for k in kinds)
        log.append(["is_instance_of", self.name, [k.__name__ for k in kinds]])
        return Rule([self.name, "is_instance_of"] + [k.__name__ for k in kinds])

    def is_valid_date(self, *args, **kw):
        log.append(["is_valid_date", self.name, list(args), kw])
        return Rule([self.name, "is_valid_date"])


class Published:
    def __init__(self, func):
        self.func = func


def verify_that(*args, **kw):
    log.append(["verify_that", list(args), kw])
    return Builder(args[0])


def apply_rule(*rules, **kw):
    log.append(["apply_rule", [r.desc for r in rules], kw])

    def decorate(func):
        log.append(["decorate", func.__name__, func.__text_signature__])
        return Published(func)

    return decorate


fake = types.ModuleType("velmoro.tframe.utils.argchecker")
fake.verify_that, fake.apply_rule = verify_that, apply_rule
sys.modules[fake.__name__] = fake

import importlib
module = importlib.import_module(sys.argv[1])
published = {
    k: v.func.__name__ for k, v in vars(module).items() if isinstance(v, Published) and v.func.__self__ is module
}
print(json.dumps({"log": log, "published": published}))
"""


def run(code, *args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code), *args], capture_output=True, text=True, env=env
    )


def expected_init(names_and_params):
    """The recorder's log for queries initialised in this order."""
    log = []
    for name, params in names_and_params:
        descs, shown = [], []
        for p in params:
            log.append(["verify_that", [p], {}])
            if p in ("float_date_begin", "float_date_end"):
                log.append(["is_instance_of", p, ["str"]])
                descs.append([p, "is_instance_of", "str"])
            elif p in ("begin_date", "end_date", "publish_date_begin", "publish_date_end"):
                log.append(["is_valid_date", p, [], {"allow_empty_str": True}])
                descs.append([p, "is_valid_date"])
            else:
                log.append(["is_instance_of", p, ["list", "tuple"]])
                descs.append([p, "is_instance_of", "list", "tuple"])
            default = "" if p == "target_list" else "=()" if p in ("report_type", "is_new", "is_calc", "field") else "=''"
            shown.append(p + default)
        log.append(["apply_rule", descs, {}])
        log.append(["decorate", name, "($module, /, {})".format(", ".join(shown))])
    return log


def test_rules_decorator_and_publication_per_query(module_queries):
    module_name, queries = module_queries
    proc = run(RECORDER, module_name)
    assert proc.returncode == 0, proc.stderr
    seen = json.loads(proc.stdout)
    assert seen["log"] == expected_init([(q.name, q.params) for q in queries])
    # the decorator's result is what the module publishes, each over its own function
    assert seen["published"] == {q.name: q.name for q in queries}


@pytest.mark.parametrize(
    "framework,module_name",
    [
        ("velmoro.api.fundamental.convertor", "velmoro.api.fundamental.fdmt.earnings"),
        ("velmoro.tframe.ufuncs", "velmoro.api.fundamental.fdmt.ledger"),
        ("velmoro.tframe.language", "velmoro.api.fundamental.company.restricted"),
        ("velmoro.tframe.utils.argchecker", "velmoro.api.fundamental.fdmt.earnings"),
    ],
)
def test_a_failing_framework_import_fails_the_module(framework, module_name):
    proc = run(
        """
        import importlib, sys
        sys.modules[sys.argv[1]] = None  # importing it raises ImportError
        try:
            importlib.import_module(sys.argv[2])
        except ImportError as exc:
            print("failed:", exc)
        """,
        framework,
        module_name,
    )
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.startswith("failed:")

