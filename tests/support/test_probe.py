"""The support layer against Python twins of the probe's functions: binding,
defaults, keyword tuples of many names, and the order of Python steps."""
import inspect
import types

import pytest


def defaults(a, b=None, c=True, d=False, e=0, f=-1.5, g='x,y', h="q", i=(), j=[]):
    return (a, b, c, d, e, f, g, h, i, j)


def steps(o, f):
    return o.method(f(1), o.a, o[2], f(o.b), key=o.c)


def error_of(func, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        func(*args, **kwargs)
    return str(info.value).replace(func.__name__ + "()", "()")


@pytest.mark.parametrize("args,kwargs", [
    ((), {}), ((1,) * 11, {}), ((1,), {"a": 2}), ((1,), {"z": 2}), ((), {"b": 1}), ((1,) * 11, {"a": 1}),
    ((1, 2), {"b": 3, "j": 4}),
])
def test_binding_errors_read_as_pythons(probe, args, kwargs):
    assert error_of(probe.defaults, *args, **kwargs) == error_of(defaults, *args, **kwargs)


def test_every_default_form_binds_as_python(probe):
    assert inspect.signature(probe.defaults) == inspect.signature(defaults)
    assert probe.defaults(1) == defaults(1)
    assert probe.defaults(j=5, a=1)[0::9] == (1, 5)
    # a mutable default is made once and shared by every call, as Python's is
    assert probe.defaults(1)[9] is probe.defaults(2)[9]
    assert probe.defaults(1, *range(9)) == defaults(1, *range(9))


def test_keyword_tuples_of_many_names(probe):
    assert probe.many_keywords(lambda *a, **k: (a, k)) == ((1, 2), {"k%d" % i: i + 2 for i in range(1, 13)})
    assert list(probe.many_keywords(lambda *a, **k: k)) == ["k%d" % i for i in range(1, 13)]


class Recorder:
    """Logs every attribute and item read and every call; `fail` names the step that raises."""

    def __init__(self, fail=None):
        self.log, self.fail = [], fail

    def step(self, what, value):
        self.log.append(what)
        if what == self.fail:
            raise LookupError(what)
        return value

    def __getattr__(self, name):
        if name == "method":
            return self.step("o.method", lambda *a, **k: self.step("call method", (a, k)))
        return self.step("o." + name, name)

    def __getitem__(self, key):
        return self.step("o[%r]" % (key,), key)

    def f(self, x):
        return self.step("f(%r)" % (x,), ("f", x))


def run(func, rec):
    try:
        return func(rec, rec.f)
    except LookupError as exc:
        return ("raised", exc.args)


def test_steps_run_in_pythons_order(probe):
    native, twin = Recorder(), Recorder()
    assert run(probe.steps, native) == run(steps, twin)
    assert native.log == twin.log
    # whichever step fails, the same steps ran before it and the same error surfaces
    for step in twin.log:
        native, twin = Recorder(step), Recorder(step)
        assert run(probe.steps, native) == run(steps, twin)
        assert native.log == twin.log, step


def test_the_callee_is_read_before_the_arguments(probe, monkeypatch):
    rec = Recorder()
    monkeypatch.delattr(probe, "callee", raising=False)
    with pytest.raises(NameError):
        probe.global_steps(rec)
    assert rec.log == []
    monkeypatch.setattr(probe, "callee", lambda *a: a, raising=False)
    assert probe.global_steps(rec) == ("a", "b") and rec.log == ["o.a", "o.b"]


def test_own_function_shortcut_follows_the_global(probe, monkeypatch):
    rec = Recorder()
    assert probe.call_twice(rec) == ("a", None, "a", None)
    monkeypatch.setattr(probe, "twice", lambda x: ("replaced", x))
    assert probe.call_twice(rec) == ("replaced", "a")
    monkeypatch.setattr(probe, "twice", None)
    with pytest.raises(TypeError):
        probe.call_twice(rec)
    assert rec.log == ["o.a"] * 3


class Text(str):
    def upper(self):
        return "own upper"


@pytest.mark.parametrize("s", ["abc", "ABC xyz", "", "\u0130stanbul", "stra\u00dfe", "lone \ud800 half", Text("x")])
def test_case_mapping_is_strs(probe, s):
    assert probe.upper(s) == s.upper() and type(probe.upper(s)) is type(s.upper())
    assert probe.lower(s) == s.lower()


def test_declarations_are_checked_when_functions_are_made(probe):
    assert probe.slot("a, b=(1, 2), c='x,y'", "c") == 2
    with pytest.raises(SystemError, match="no parameter 'd'"):
        probe.slot("a, b", "d")
    with pytest.raises(SystemError, match="the body takes 3 parameters"):
        probe.publish_three("a, b")
    probe.publish_three("a, b, c=None")
    assert probe.three(1, 2) == (1, 2, None)


# typed declarations (what the stubs are written from): the binder reads names
# and defaults alone, brackets, quotes and the return annotation included
TYPED = [
    ("a: int, b: Tuple[int, int] = (), c: str = 'x,y' -> List[int]", "c", 2, "(a, b=(), c='x,y')"),
    ("a: Callable[[int, str], None], b: Optional[str] = '->', c=0 -> None", "b", 1, "(a, b='->', c=0)"),
    ("a: 'Waiter', b: Dict[str, int] = {}, c: int = 1 -> Iterable[Tuple[str, ...]]", "c", 2, None),
]


@pytest.mark.parametrize("declaration,name,slot,signature", TYPED)
def test_typed_declarations_bind_by_their_names_and_defaults(probe, declaration, name, slot, signature):
    assert probe.slot(declaration, name) == slot
    if signature is None:  # {} is no default literal of the binder's
        with pytest.raises(SystemError, match="unsupported default literal"):
            probe.publish_three(declaration)
        return
    probe.publish_three(declaration)
    assert str(inspect.signature(probe.three)) == signature
    assert probe.three(1, c=3)[0::2] == (1, 3)


def walk(items, f):
    return [f(x) for x in items]


def growing_list():
    items = [1, 2, 3]

    def f(x):
        if x < 3:
            items.append(x + 10)
        return x
    return items, f


def shrinking_list():
    items = [1, 2, 3, 4]
    return items, lambda x: items.pop() and x


@pytest.mark.parametrize("make", [
    lambda: ([1, 2, 3], str), lambda: ((1, 2), str), lambda: (iter("ab"), str.upper), lambda: ({"k": 1}, str),
    growing_list, shrinking_list,
])
def test_walks_see_the_items_a_python_loop_sees(probe, make):
    native, twin = make(), make()
    assert probe.walk(*native) == walk(*twin)
    if isinstance(twin[0], list):
        assert native[0] == twin[0]


class Missing(dict):
    def __missing__(self, key):
        return ("missing", key)


class Shadowed(list):
    def __getitem__(self, i):
        return ("own", i)


class SubList(list):
    pass


class SubTuple(tuple):
    pass


def pick(o, key, index):
    return (o[key], o[index])


def outcome(func, *args):
    try:
        return func(*args)
    except Exception as exc:  # noqa: BLE001
        return type(exc), str(exc)


@pytest.mark.parametrize("o,key,index", [
    ([10, 20, 30], 0, -1), ([10, 20, 30], 2, -3), ([10, 20], 0, 2), ([10, 20], 0, -3), ((1, 2), 1, -2), ((), 0, 0),
    ({"a": 1, 0: 2}, "a", 0), ({"a": 1}, "b", 0), ({"a": 1}, [], 0), (Missing(a=1), "z", 5), (Shadowed([1]), 0, 7),
    ("text", 1, -1), (SubList([1, 2, 3]), 0, -1), (SubList([1]), 0, 3), (SubTuple((1, 2)), 1, -2), (SubTuple(), 0, 0),
])
def test_item_steps_read_as_pythons(probe, o, key, index):
    assert outcome(probe.pick, o, key, index) == outcome(pick, o, key, index)


def test_item_steps_follow_a_subclass_taking_its_own_getitem(probe):
    class Late(list):
        pass

    o = Late([1, 2])
    assert probe.pick(o, 0, 1) == (1, 2)
    Late.__getitem__ = lambda self, i: ("own", i)
    assert probe.pick(o, 0, 1) == (("own", 0), ("own", 1))
    del Late.__getitem__
    assert probe.pick(o, 0, -1) == (1, 2)


def method_steps(o, f):
    return (o.method(f(1), key=o.c), o.method())


class Methods:
    c = "c"

    def method(self, *a, **k):
        return ("plain", self is not None, a, k)


class StaticMethods(Methods):
    method = staticmethod(lambda *a, **k: ("static", a, k))


class ClassMethods(Methods):
    method = classmethod(lambda cls, *a, **k: ("class", cls.__name__, a, k))


def shadowed_by_instance():
    o = Methods()
    o.method = lambda *a, **k: ("instance", a, k)
    return o


@pytest.mark.parametrize("make", [Methods, StaticMethods, ClassMethods, shadowed_by_instance, Recorder])
def test_method_calls_bind_as_pythons(probe, make):
    native, twin = make(), make()
    f = (lambda x: ("f", x))
    assert probe.method_steps(native, f) == method_steps(twin, f)
    if isinstance(native, Recorder):
        assert native.log == twin.log
    for step in getattr(twin, "log", []):
        native, twin = Recorder(step), Recorder(step)
        assert run(probe.method_steps, native) == run(method_steps, twin)
        assert native.log == twin.log, step


class Odd(int):
    def __eq__(self, other):
        return "truthy"

    __hash__ = int.__hash__


NAN = float("nan")


@pytest.mark.parametrize("a,b", [
    (1, 1), (1, 2), (-5, 3), (10 ** 6, 10 ** 6 + 1), (2 ** 70, 2 ** 70), (2 ** 70, 2 ** 70 + 1), (-2 ** 70, 1),
    (2 ** 63 - 1, 2 ** 63), (0, -1), (-1, 0), (2 ** 30 - 1, 2 ** 30), (-2 ** 30, 1 - 2 ** 30), ("x", "x"), ("x", "y"), (NAN, NAN), (1, 1.0), (Odd(1), 2), ("a", 1),
    (True, 1), (0, False), (Odd(1), 1),
])
def test_comparisons_are_pythons(probe, a, b):
    assert outcome(probe.compare, a, b) == outcome(lambda a, b: (bool(a == b), bool(a != b), bool(a < b)), a, b)


class OwnModule(types.ModuleType):
    a = property(lambda self: "property")


def test_module_attributes_follow_every_change(probe):
    m = types.ModuleType("m")
    m.a = 1
    assert probe.read_a(m) == 1 and probe.read_a(m) == 1
    m.a = 2
    assert probe.read_a(m) == 2
    m.__dict__.update(a=3, b=0)
    assert probe.read_a(m) == 3
    m.b = 1  # another entry changes: the read is still right
    assert probe.read_a(m) == 3
    del m.a
    assert outcome(probe.read_a, m) == outcome(lambda o: o.a, m)
    m.__getattr__ = lambda name: ("fallback", name)
    assert probe.read_a(m) == ("fallback", "a")
    other = types.ModuleType("other")
    other.a = "other"
    assert probe.read_a(other) == "other" and probe.read_a(m) == ("fallback", "a")
    own = OwnModule("own")
    own.__dict__["a"] = "entry"
    assert probe.read_a(own) == "property"


class Slotted(object):
    __slots__ = ("a",)


class SlottedChild(Slotted):
    __slots__ = ()


class Plain(object):
    pass


def test_slot_attributes_follow_every_change(probe):
    s = Slotted()
    assert outcome(probe.read_a, s) == outcome(lambda o: o.a, s)  # unset: AttributeError
    s.a = 1
    assert probe.read_a(s) == 1 and probe.read_a(s) == 1
    s.a = 2
    assert probe.read_a(s) == 2
    p = Plain()
    p.a = "plain"
    assert probe.read_a(p) == "plain" and probe.read_a(s) == 2  # one name, two types in turn
    c = SlottedChild()
    c.a = "child"
    assert probe.read_a(c) == "child"
    SlottedChild.a = property(lambda self: "property")  # the child's lookup finds another descriptor
    assert probe.read_a(c) == "property" and probe.read_a(s) == 2
    s.__class__ = SlottedChild
    assert probe.read_a(s) == "property"
    del SlottedChild.a
    assert probe.read_a(s) == 2
    SlottedChild.__getattribute__ = lambda self, name: ("own", name)
    assert probe.read_a(s) == ("own", "a")
    del SlottedChild.__getattribute__
    assert probe.read_a(s) == 2
    Plain.a = Slotted.__dict__["a"]  # a slot of another class reads its own instances only
    assert outcome(probe.read_a, Plain()) == outcome(lambda o: o.a, Plain())
    del Plain.a


class Dicted(object):
    pass


def test_instance_dict_attributes_follow_every_change(probe):
    d = Dicted()
    assert outcome(probe.read_a, d) == outcome(lambda o: o.a, d)  # no entry: AttributeError
    d.a = 1
    assert probe.read_a(d) == 1 and probe.read_a(d) == 1
    d.__dict__["a"] = 2
    assert probe.read_a(d) == 2
    Dicted.a = "class"  # a plain class attribute: the instance's entry still comes first
    assert probe.read_a(d) == 2 and probe.read_a(Dicted()) == "class"
    Dicted.a = property(lambda self: "property")  # a data descriptor comes before the entry
    assert probe.read_a(d) == "property"
    del Dicted.a
    assert probe.read_a(d) == 2
    Dicted.__getattr__ = lambda self, name: ("fallback", name)
    assert probe.read_a(Dicted()) == ("fallback", "a") and probe.read_a(d) == 2
    del Dicted.__getattr__
    d.__dict__ = {"a": 3}
    assert probe.read_a(d) == 3


def held_in_object():
    class Fresh(object):
        pass
    o = Fresh()
    o.a = 0
    return o


def held_in_dict():
    o = held_in_object()
    o.__dict__ = {"a": 0}
    return o


@pytest.mark.parametrize("make", [held_in_object, held_in_dict])
def test_instance_dict_reads_see_every_store(probe, make):
    o = make()
    Fresh = type(o)
    assert probe.read_a(o) == 0
    for i in range(40):  # long enough for the interpreter to specialise its own stores
        o.a = i
        assert probe.read_a(o) == i
    others = [Fresh() for _ in range(3)]
    for i, other in enumerate(others):
        other.a = ("other", i)
    assert [probe.read_a(x) for x in others + [o, others[0]]] == [("other", 0), ("other", 1), ("other", 2), 39,
                                                                 ("other", 0)]
    del o.a
    assert outcome(probe.read_a, o) == outcome(lambda x: x.a, o)
    o.__dict__["a"] = "entry"
    assert probe.read_a(o) == "entry"
    o.__dict__.clear()
    assert outcome(probe.read_a, o) == outcome(lambda x: x.a, o)


@pytest.mark.parametrize("size", [0, 5, 100, 300, 70000])
def test_instance_dict_reads_find_every_entry(probe, size):
    # tables of every index width, with entries deleted and keys that equal the name without being it
    d = Dicted()
    for i in range(size):
        setattr(d, "k%d" % i, i)
    d.attribute = "set"
    assert probe.read_attribute(d) == "set"
    for i in range(0, size, 2):
        delattr(d, "k%d" % i)
    assert probe.read_attribute(d) == "set"
    del d.attribute
    assert outcome(probe.read_attribute, d) == outcome(lambda o: o.attribute, d)
    d.__dict__["".join(["attri", "bute"])] = "equal key"
    assert probe.read_attribute(d) == "equal key"
    d.__dict__[1] = "int key"
    assert probe.read_attribute(d) == "equal key"
    d.attribute = "again"
    assert probe.read_attribute(d) == "again"


class Constants(object):
    a = 6


class Getter(object):
    def __get__(self, o, owner=None):
        return "got"


class Boxed(object):
    pass


def test_class_values_follow_every_change(probe):
    c = Constants()
    assert probe.read_a(c) == 6 and probe.read_a(c) == 6
    Constants.a = 7
    assert probe.read_a(c) == 7
    c.a = "own"  # the instance's entry comes before a value of its class
    assert probe.read_a(c) == "own" and probe.read_a(Constants()) == 7
    del c.a
    box = Boxed()
    Constants.a = box
    assert probe.read_a(c) is box
    box.__class__ = Getter  # the value turns into a descriptor
    assert probe.read_a(c) == "got"
    box.__class__ = Boxed
    assert probe.read_a(c) is box
    del Constants.a
    assert outcome(probe.read_a, c) == outcome(lambda o: o.a, c)
    Constants.a = 6


def test_global_attributes_follow_every_change(probe, monkeypatch):
    m = types.ModuleType("m")
    m.a = 1
    monkeypatch.setattr(probe, "callee", m, raising=False)
    assert probe.callee_a() == 1 and probe.callee_a() == 1
    m.a = 2
    assert probe.callee_a() == 2
    other = types.ModuleType("other")
    other.a = "other"
    monkeypatch.setattr(probe, "callee", other)
    assert probe.callee_a() == "other"
    rec = Recorder()
    monkeypatch.setattr(probe, "callee", rec)
    assert probe.callee_a() == "a" and rec.log == ["o.a"]
    monkeypatch.delattr(probe, "callee")
    with pytest.raises(NameError):
        probe.callee_a()
