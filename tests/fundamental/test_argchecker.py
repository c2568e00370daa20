"""Declared argument rules and the decorator that enforces them."""
import datetime as dt
import inspect

import numpy as np
import pytest

from velmoro.tframe.utils.argchecker import Rule, apply_rule, verify_that


@pytest.mark.parametrize(
    "kinds,value,holds",
    [
        ((list, tuple), [], True),
        ((list, tuple), (1,), True),
        ((list, tuple), "ab", False),
        ((list, tuple), {"a": 1}, False),
        ((str,), "", True),
        ((str,), 20200101, False),
        ((int,), True, True),  # isinstance semantics: bool is an int
    ],
)
def test_is_instance_of(kinds, value, holds):
    rule = verify_that("x").is_instance_of(*kinds)
    assert rule.test(value) is holds


@pytest.mark.parametrize(
    "value,allow_empty,holds",
    [
        (20200131, False, True),
        (np.int64(20200131), False, True),
        ("20200131", False, True),
        ("2020-01-31", False, True),
        (dt.date(2020, 1, 31), False, True),
        (dt.datetime(2020, 1, 31, 9, 30), False, True),
        ("", True, True),
        ("", False, False),
        (" ", True, True),  # blank text is the empty bound
        ("2020-02-30", True, False),
        ("20201301", True, False),
        ("yesterday", True, False),
        (None, True, False),
        (True, True, False),
        (2020.5, True, False),
    ],
)
def test_is_valid_date(value, allow_empty, holds):
    rule = verify_that("d").is_valid_date(allow_empty_str=allow_empty)
    assert rule.test(value) is holds


def test_verify_that_and_is_instance_of_refuse_nonsense():
    with pytest.raises(TypeError):
        verify_that(3)
    with pytest.raises(TypeError):
        verify_that("x").is_instance_of()
    with pytest.raises(TypeError):
        apply_rule("not a rule")


def query(targets, kinds=(), begin="", end=None):
    """Sample query."""
    return targets, kinds, begin, end


RULES = (
    verify_that("targets").is_instance_of(list, tuple),
    verify_that("kinds").is_instance_of(list, tuple),
    verify_that("begin").is_valid_date(allow_empty_str=True),
)
checked = apply_rule(*RULES)(query)


def test_wrapper_keeps_name_doc_and_signature():
    assert checked.__name__ == "query" and checked.__doc__ == "Sample query."
    assert inspect.signature(checked) == inspect.signature(query)
    assert checked.__wrapped__ is query


def test_arguments_reach_the_body_as_given():
    targets, kinds = ["t"], ("a",)
    got = checked(targets, kinds=kinds, end=5)
    assert got[0] is targets and got[1] is kinds and got[2:] == ("", 5)


@pytest.mark.parametrize(
    "args,kwargs,error,names",
    [
        (("abc",), {}, TypeError, ["query()", "'targets'", "str", "'abc'"]),
        ((["t"], "k"), {}, TypeError, ["'kinds'", "'k'"]),
        ((["t"],), {"begin": "2020-13-01"}, ValueError, ["'begin'", "'2020-13-01'", "valid date"]),
        # the first failing rule in declaration order is reported
        (("abc", "k"), {"begin": "x"}, TypeError, ["'targets'"]),
    ],
)
def test_a_violation_names_function_parameter_and_value(args, kwargs, error, names):
    calls = []
    guarded = apply_rule(*RULES)(lambda targets, kinds=(), begin="", end=None: calls.append(1))
    with pytest.raises(error) as info:
        guarded(*args, **kwargs)
    for part in names:
        assert part.replace("query()", "<lambda>()") in str(info.value)
    assert calls == []


def test_defaults_are_checked_too():
    guarded = apply_rule(verify_that("end").is_instance_of(int))(query)
    with pytest.raises(TypeError, match="'end'"):
        guarded([])  # end defaults to None
    assert guarded([], end=1)[3] == 1


@pytest.mark.parametrize(
    "args,kwargs",
    [((), {}), (([], (), "", None, 5), {}), (([],), {"other": 1}), (([],), {"targets": []})],
)
def test_binding_errors_are_type_errors_naming_the_function(args, kwargs):
    with pytest.raises(TypeError, match=r"^query\(\) "):
        checked(*args, **kwargs)


def test_a_rule_naming_no_parameter_is_refused_at_decoration():
    with pytest.raises(ValueError, match="absent"):
        apply_rule(verify_that("absent").is_instance_of(str))(query)


def test_rule_repr_and_type():
    rule = verify_that("x").is_valid_date()
    assert isinstance(rule, Rule) and repr(rule) == "Rule('x' must be a valid date)"
