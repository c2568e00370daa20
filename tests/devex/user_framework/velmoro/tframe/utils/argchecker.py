import functools
import inspect


class _Rule:
    def __init__(self, name, test):
        self.name, self.test = name, test


class _Builder:
    def __init__(self, name):
        self.name = name

    def is_instance_of(self, *types):
        return _Rule(self.name, lambda value: isinstance(value, types))

    def is_valid_date(self, allow_empty_str=False):
        return _Rule(self.name, lambda value: (allow_empty_str and value == "") or str(value).isdigit())


def verify_that(name):
    return _Builder(name)


def apply_rule(*rules):
    def decorate(func):
        signature = inspect.signature(func)

        @functools.wraps(func)
        def checked(*args, **kwargs):
            bound = signature.bind(*args, **kwargs)
            bound.apply_defaults()
            for rule in rules:
                if not rule.test(bound.arguments[rule.name]):
                    raise ValueError("bad {}".format(rule.name))
            return func(*args, **kwargs)

        return checked

    return decorate
