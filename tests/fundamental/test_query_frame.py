"""The query frame run through each of the 39 published functions, with the
framework's services replaced in the module's globals."""
import gc
import importlib
import inspect
import pydoc
import re
import sys
import tracemalloc
import types

import pytest

from velmoro.tframe import ufuncs
from velmoro.tframe.language import text

TARGETS = [{"Market": "sse", "Code": "600000"}]


class Norm:
    """A normalised bound: compares by its number and logs every comparison."""

    def __init__(self, log, label, number):
        self.log, self.label, self.number = log, label, number

    def __lt__(self, other):
        self.log.append(("lt", self.label, other.label))
        return self.number < other.number

    def __repr__(self):
        return "Norm({!r})".format(self.label)


def _number(date, empty):
    return int(str(date).replace("-", "")) if date != "" else empty


class Fakes:
    """Stand-ins for the framework services; every call is logged in order."""

    def __init__(self):
        self.log = []
        self.requests = []
        self.new_targets = ["normalised targets"]
        self.raw = object()
        self.frame = object()

    def check_targets_without_change(self, target_list):
        self.log.append(("targets", target_list))
        return self.new_targets

    def begin_date_checking_rule(self, *, date):
        self.log.append(("begin", date))
        return Norm(self.log, ("begin", date), _number(date, 0))

    def end_date_checking_rule(self, *, date):
        self.log.append(("end", date))
        return Norm(self.log, ("end", date), _number(date, 99999999))

    def get_fundamental_info(self, *, params, func_name):
        self.log.append(("request", func_name))
        self.requests.append((params, func_name))
        return self.raw

    def convert_fundamental_to_df(self, raw):
        self.log.append(("convert", raw))
        return self.frame


SERVICES = ("check_targets_without_change", "begin_date_checking_rule", "end_date_checking_rule")
REQUEST = ("get_fundamental_info", "convert_fundamental_to_df")


@pytest.fixture
def install(monkeypatch):
    """install(query, services=True): fakes into the query's module globals."""

    def put(query, services=True):
        fakes = Fakes()
        for name in (SERVICES if services else ()) + REQUEST:
            monkeypatch.setattr(query.module, name, getattr(fakes, name))
        return fakes

    return put


def arguments(query, begin="20200101", end="20201231"):
    """A distinct, valid value for every parameter."""
    out = {}
    for p in query.params:
        if p == "target_list":
            out[p] = list(TARGETS)
        elif p in ("report_type", "is_new", "is_calc", "field"):
            out[p] = [p.upper()] if p != "is_new" else (1,)
        else:
            out[p] = begin if p in ("begin_date", "publish_date_begin", "float_date_begin") else end
    return out


def test_signature_defaults_and_help(query):
    func = query.func
    sig = inspect.signature(func)
    assert list(sig.parameters) == list(query.params)
    for name, param in sig.parameters.items():
        assert param.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        expected = query.default(name)
        if expected is None:
            assert param.default is inspect.Parameter.empty
        else:
            assert param.default == expected and type(param.default) is type(expected)
    assert func.__name__ == query.name and func.__module__ == query.module_name
    # newer pydoc breaks long signatures over lines
    rendered = re.sub(r"\s+", "", pydoc.render_doc(func, renderer=pydoc.plaintext)).replace(",)", ")")
    assert re.sub(r"\s+", "", "{}{}".format(query.name, sig)) in rendered
    assert func.__doc__ and "$module" not in func.__doc__


def test_modules_publish_their_queries_in_order(module_queries):
    module_name, queries = module_queries
    module = importlib.import_module(module_name)
    published = [k for k, v in vars(module).items() if inspect.isfunction(v) and k.startswith(("is_", "ledger_", "equ_"))]
    assert published == [q.name for q in queries]


@pytest.mark.parametrize("by_keyword", [False, True], ids=["positional", "keyword"])
def test_request_mapping_keys_order_and_values(query, install, by_keyword):
    fakes = install(query)
    args = arguments(query)
    if by_keyword:
        result = query.func(**dict(reversed(list(args.items()))))
    else:
        result = query.func(*args.values())
    assert result is fakes.frame
    (params, func_name), = fakes.requests
    assert func_name == query.name and type(func_name) is str
    assert type(params) is dict and list(params) == list(query.params)
    for name, value in params.items():
        if name == "target_list":
            assert value is fakes.new_targets
        elif isinstance(value, Norm):
            role = "begin" if name in ("begin_date", "publish_date_begin", "float_date_begin") else "end"
            assert value.label == (role, args[name])
        else:
            assert value is args[name]  # the caller's very object
    assert fakes.log[-1] == ("convert", fakes.raw)


def test_all_normalisations_come_before_the_order_tests(query, install):
    fakes = install(query)
    args = arguments(query)
    query.func(*args.values())
    expected = [("targets", args["target_list"])]
    expected += [("begin" if b in ("begin_date", "publish_date_begin", "float_date_begin") else "end", args[b])
                 for b in query.bounds]
    expected += [("lt", ("end", args[e]), ("begin", args[b])) for b, e in query.pairs]
    expected += [("request", query.name), ("convert", fakes.raw)]
    assert fakes.log == expected


def test_only_targets_sends_the_defaults(query, install):
    fakes = install(query, services=False)
    targets = list(TARGETS)
    query.func(targets)
    (params, _), = fakes.requests
    assert params["target_list"] == targets
    for name in query.params[1:]:
        if name in ("begin_date", "publish_date_begin", "float_date_begin"):
            assert params[name] == ufuncs.begin_date_checking_rule(date="")
        elif name in ("end_date", "publish_date_end", "float_date_end"):
            assert params[name] == ufuncs.end_date_checking_rule(date="")
        else:
            assert params[name] == () and type(params[name]) is tuple


def test_reversed_pair_raises_before_any_request(query_pair, install, monkeypatch):
    query, (begin, end) = query_pair
    fakes = install(query, services=False)
    args = arguments(query, begin="20200101", end="20200101")
    args[begin], args[end] = "20200102", "20200101"
    with pytest.raises(ValueError) as info:
        query.func(**args)
    assert info.value.args == (text.ERROR_INPUT_BEGIN_GT_ENDDATE,)
    assert fakes.requests == []
    # the message table is read when the error is raised
    monkeypatch.setattr(query.module, "text", types.SimpleNamespace(ERROR_INPUT_BEGIN_GT_ENDDATE="swapped"))
    with pytest.raises(ValueError, match="^swapped$"):
        query.func(**args)


def test_equal_and_empty_bounds_pass(query, install):
    fakes = install(query, services=False)
    query.func(**arguments(query, begin="2020-06-30", end="20200630"))
    query.func(TARGETS, **{b: "" for b in query.bounds})
    assert [name for _, name in fakes.requests] == [query.name, query.name]


def test_a_normalisation_error_wins_over_an_order_error(query_pair, install, monkeypatch):
    query, (begin, end) = query_pair
    fakes = install(query)
    failure = LookupError("bad bound")
    last_end = [b for b in query.bounds if b in ("end_date", "publish_date_end", "float_date_end")][-1]

    def failing_end(*, date):
        if date == "20200103":
            raise failure
        return Fakes.end_date_checking_rule(fakes, date=date)

    monkeypatch.setattr(query.module, "end_date_checking_rule", failing_end)
    args = arguments(query)
    args[begin], args[end] = "20200102", "20200101"  # reversed ...
    if last_end != end:
        args[last_end] = "20200103"  # ... but a later bound fails to normalise
    else:
        args[begin], args[end] = "20200104", "20200103"
    with pytest.raises(LookupError) as info:
        query.func(**args)
    assert info.value is failure and fakes.requests == []
    assert not [entry for entry in fakes.log if entry[0] == "lt"]


def bad_value(param):
    """A value the declared rule refuses, and the error expected."""
    if param in ("float_date_begin", "float_date_end"):
        return 20200101, TypeError  # float bounds must be text
    if param in ("begin_date", "end_date", "publish_date_begin", "publish_date_end"):
        return "2020-13-45", ValueError
    return "not a sequence", TypeError


def test_rule_violations_stop_the_call_before_the_body(query_param, install):
    query, param = query_param
    fakes = install(query)
    args = arguments(query)
    value, error = bad_value(param)
    args[param] = value
    with pytest.raises(error) as info:
        query.func(**args)
    assert param in str(info.value) and repr(value) in str(info.value)
    assert fakes.log == []
    if param in ("float_date_begin", "float_date_end"):
        # any text passes the declared rule: the checking rule decides on it
        args[param] = "not a date"
        with pytest.raises(ValueError):
            query.func(**args)
        assert ("begin" if param.endswith("begin") else "end", "not a date") in fakes.log


def test_argument_binding_errors(query, install):
    fakes = install(query)
    args = list(arguments(query).values())
    unknown = "report_type" if "report_type" not in query.params else "unknown"
    for call in (
        lambda: query.func(),
        lambda: query.func(*args, ()),
        lambda: query.func(TARGETS, **{unknown: ()}),
        lambda: query.func(TARGETS, target_list=TARGETS),
    ):
        with pytest.raises(TypeError, match=query.name):
            call()
    assert fakes.log == []


def test_callee_exceptions_pass_unchanged(query, install, monkeypatch):
    install(query)
    failure = RuntimeError("from the data service")

    def fail(**kwargs):
        raise failure

    monkeypatch.setattr(query.module, "get_fundamental_info", fail)
    with pytest.raises(RuntimeError) as info:
        query.func(TARGETS)
    assert info.value is failure


def test_repeated_calls_do_not_leak(module_queries, monkeypatch):
    module_name, queries = module_queries
    module = importlib.import_module(module_name)
    func = getattr(module, queries[0].name)
    raw, frame = object(), object()
    monkeypatch.setattr(module, "get_fundamental_info", lambda params, func_name: raw)
    monkeypatch.setattr(module, "convert_fundamental_to_df", lambda r: frame)
    targets, field = list(TARGETS), ("A",)
    sig = inspect.signature(func)
    begin = next(p for p in sig.parameters if p.endswith("begin") or p == "begin_date")
    end = begin.replace("begin", "end")

    def rounds(n):
        for _ in range(n):
            func(targets, field=field)
            try:
                func(targets, **{begin: "20200102", end: "20200101"})
            except ValueError:
                pass
        gc.collect()  # tracebacks of the errors hold cycles

    rounds(200)
    before = (sys.getrefcount(targets), sys.getrefcount(field), sys.getrefcount(raw), sys.getrefcount(frame))
    tracemalloc.start()
    rounds(200)
    base, _ = tracemalloc.get_traced_memory()
    rounds(3000)
    grown, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert (sys.getrefcount(targets), sys.getrefcount(field), sys.getrefcount(raw), sys.getrefcount(frame)) == before
    assert grown - base < 64 * 1024
