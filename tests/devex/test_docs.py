"""help() on the compiled modules reads well: every public function, class, method and property
says in one sentence what it does, and every function shows its real signature."""
import inspect
import pydoc
import re

import pytest

from api_surface import MODULES, documented_objects, is_public, load, own_names

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
