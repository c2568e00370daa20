"""Declared argument rules: `verify_that(name)` builds rules for one parameter,
`apply_rule(*rules)` checks them on every call before the function body runs.

    @apply_rule(verify_that("targets").is_instance_of(list, tuple),
                verify_that("begin").is_valid_date(allow_empty_str=True))
    def query(targets, begin=""):
        ...

A wrong type raises TypeError, an invalid date ValueError; both messages name
the function, the parameter and the value.
"""
import functools
import inspect

from velmoro.tframe.ufuncs import normalise_date

__all__ = ["Rule", "verify_that", "apply_rule"]


class Rule:
    """One condition on one parameter: `test(value)` tells whether it holds."""

    __slots__ = ("name", "test", "expected", "error")

    def __init__(self, name, test, expected, error):
        self.name = name
        self.test = test
        self.expected = expected  # what the value must be, for the message
        self.error = error  # exception type raised when the rule fails

    def check(self, func_name, value):
        """Raise the rule's error unless `value` satisfies it."""
        if not self.test(value):
            raise self.error(
                "{}(): parameter '{}' must be {}, got {} {!r}".format(
                    func_name, self.name, self.expected, type(value).__name__, value
                )
            )

    def __repr__(self):
        return "Rule({!r} must be {})".format(self.name, self.expected)


class _RuleBuilder:
    """Builds rules for the parameter `name`."""

    def __init__(self, name):
        self.name = name

    def is_instance_of(self, *types):
        """The value must be an instance of one of `types`."""
        if not types:
            raise TypeError("is_instance_of() needs at least one type")
        expected = " or ".join(t.__name__ for t in types)
        return Rule(self.name, lambda value: isinstance(value, types), expected, TypeError)

    def is_valid_date(self, allow_empty_str=False):
        """The value must be a date `normalise_date` understands (YYYYMMDD as an
        integer or text, 'YYYY-MM-DD', a date); the empty string only if allowed."""

        def test(value):
            try:
                parsed = normalise_date(value)
            except ValueError:
                return False
            return parsed is not None or allow_empty_str

        expected = "a valid date or the empty string" if allow_empty_str else "a valid date"
        return Rule(self.name, test, expected, ValueError)


def verify_that(name):
    """A rule builder for the parameter `name`."""
    if not isinstance(name, str):
        raise TypeError("verify_that() takes a parameter name, got {!r}".format(name))
    return _RuleBuilder(name)


def apply_rule(*rules):
    """A decorator checking `rules` against the bound arguments on every call.

    The signature is read once, when the decorator is applied; a rule naming a
    parameter the function does not have is refused then. The wrapper keeps the
    function's name, docstring and signature.
    """
    for rule in rules:
        if not isinstance(rule, Rule):
            raise TypeError("apply_rule() takes rules, got {!r}".format(rule))

    def decorate(func):
        signature = inspect.signature(func)
        unknown = [r.name for r in rules if r.name not in signature.parameters]
        if unknown:
            raise ValueError("{} has no parameter {}".format(func.__name__, ", ".join(map(repr, unknown))))
        name = func.__name__

        @functools.wraps(func)
        def checked(*args, **kwargs):
            try:
                bound = signature.bind(*args, **kwargs)
            except TypeError:
                # the function's own binding raises the interpreter's usual
                # TypeError, before any of its work is done
                return func(*args, **kwargs)
            bound.apply_defaults()
            for rule in rules:
                rule.check(name, bound.arguments[rule.name])
            return func(*args, **kwargs)

        checked.__signature__ = signature
        return checked

    return decorate
