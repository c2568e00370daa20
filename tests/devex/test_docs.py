"""help() on the compiled modules reads well: every public function, class, method and property
says in one sentence what it does, every function shows its real signature, and every terminal
command says what each parameter means and what it returns, in the terms the terminal uses."""
import inspect
import pydoc
import re

import pytest

from api_surface import MODULES, documented_objects, is_public, load, own_names
from velmoro.simterm.validation import FQ_TYPES, ORDER_KEYS, STOP_ORDER_KEYS

SUMMARY_WIDTH = 120  # help() and editors show the summary unwrapped


def summary_problem(doc):
    """What is wrong with a docstring's summary line, or None."""
    lines = (doc or "").strip().split("\n")
    first = lines[0].strip()
    if not first:
        return "no docstring"
    if not first[0].isupper():
        return "summary does not start with a capital letter"
    if not first.endswith("."):
        return "summary does not end with a full stop"
    if len(first) > SUMMARY_WIDTH:
        return "summary is {} characters long (at most {})".format(len(first), SUMMARY_WIDTH)
    if len(lines) > 1 and lines[1].strip():
        return "summary runs on into a second line (a blank line must follow it)"
    return None


@pytest.mark.parametrize(
    "doc, problem",
    [
        ("Fetch bar data of the targets.", None),
        ("Run the loop.\n\nDetails follow here.", None),
        ("", "no docstring"),
        ("(cash, positions) of the accounts.", "summary does not start with a capital letter"),
        ("Fetch bar data", "summary does not end with a full stop"),
        ("Fetch bar data of the\ntargets.", "summary does not end with a full stop"),
        ("Fetch bar data.\nOf the targets.", "summary runs on into a second line (a blank line must follow it)"),
        ("A" * 120 + ".", "summary is 121 characters long (at most 120)"),
    ],
)
def test_summary_rule(doc, problem):
    assert summary_problem(doc) == problem


@pytest.mark.parametrize("name", MODULES)
def test_every_public_object_has_a_one_sentence_summary(name):
    problems = [
        "{}: {}".format(where, summary_problem(obj.__doc__))
        for where, obj in documented_objects(load(name))
        if summary_problem(obj.__doc__)
    ]
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("name", MODULES)
def test_help_shows_each_function_with_its_signature(name):
    module = load(name)
    page = pydoc.render_doc(module, renderer=pydoc.plaintext)
    # 3.13 puts a long signature one parameter a line: join it back
    page = re.sub(r"\s+\)", ")", re.sub(r",\s+", ", ", re.sub(r"\(\s+", "(", page)))
    missing = [
        "{}{}".format(fn, inspect.signature(value))
        for fn, value in own_names(module).items()
        if is_public(fn) and inspect.isroutine(value)
        and not re.search(r"^ *{}{}$".format(re.escape(fn), re.escape(str(inspect.signature(value)))), page, re.M)
    ]
    assert not missing, "help() lacks: " + ", ".join(missing)


def command_doc_problems(doc, params):
    """What a command's help() leaves out: a parameter it never names, or what it returns."""
    body = (doc or "").strip().partition("\n")[2]
    problems = [
        "does not name parameter {}".format(p) for p in params if not re.search(r"\b{}\b".format(re.escape(p)), body)
    ]
    if not re.search(r"^Returns\n[ \t]+\S", body, re.M):
        problems.append("says nothing under Returns")
    return problems


@pytest.mark.parametrize(
    "doc, params, problems",
    [
        ("Fetch bars.\n\nParameters\n  targets: the securities.\n\nReturns\n  Paths.", ["targets"], []),
        ("Keep the link alive.\n\nReturns\n  None.", [], []),
        # the summary does not count, nor a longer name that contains the parameter's
        ("Fetch bars of targets.\n\nReturns\n  Paths.", ["targets"], ["does not name parameter targets"]),
        ("Fetch bars.\n\n  targetList: x.\n\nReturns\n  Paths.", ["targets"], ["does not name parameter targets"]),
        ("Fetch bars.\n\n  targets: the securities.", ["targets"], ["says nothing under Returns"]),
        ("Fetch bars.\n\n  targets: the securities.\n\nReturns\n", ["targets"], ["says nothing under Returns"]),
        ("Fetch bars.\n\nReturns\n\n  targets: x.", ["targets"], ["says nothing under Returns"]),
    ],
)
def test_command_doc_rule(doc, params, problems):
    assert command_doc_problems(doc, params) == problems


def commands():
    module = load("velmoro.tframe.comm.vmcmd")
    return {name: fn for name, fn in own_names(module).items() if name.startswith("vmSendCmd")}


def test_every_command_names_its_parameters_and_what_it_returns():
    problems = [
        "{}: {}".format(name, problem)
        for name, fn in commands().items()
        for problem in command_doc_problems(fn.__doc__, list(inspect.signature(fn).parameters))
    ]
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("name", MODULES)
def test_every_public_function_names_its_parameters_and_what_it_returns(name):
    module = load(name)
    problems = [
        "{}: {}".format(fn, problem)
        for fn, value in own_names(module).items() if is_public(fn) and inspect.isroutine(value)
        for problem in command_doc_problems(value.__doc__, list(inspect.signature(value).parameters))
    ]
    assert not problems, "\n".join(problems)


def record_keys(doc):
    """Key -> its entry, from the indented key list of an order command's help()."""
    return dict(re.findall(r"^ {6}(\w+): (.*?)(?=^ {6}\S)", doc, re.M | re.S))


@pytest.mark.parametrize(
    "command, accepted", [("vmSendCmdSTTradeOperation", ORDER_KEYS), ("vmSendCmdSTTradeStopOrder", STOP_ORDER_KEYS)]
)
def test_order_help_lists_the_keys_and_values_the_terminal_accepts(command, accepted):
    entries = record_keys(commands()[command].__doc__)
    assert list(entries) == list(accepted)
    for key, (required, values, _meaning) in accepted.items():
        assert ("required" in entries[key]) == required, key
        texts = [v for v in values or () if isinstance(v, str)]
        assert all('"{}"'.format(v) in entries[key] for v in texts), key


def test_adjustment_types_in_help_are_the_terminals():
    takes_fq = [fn for fn in commands().values() if {"fqType", "fq_type"} & set(inspect.signature(fn).parameters)]
    assert takes_fq
    lacking = [fn.__name__ for fn in takes_fq if not all('"{}"'.format(t) in fn.__doc__ for t in FQ_TYPES)]
    assert not lacking
