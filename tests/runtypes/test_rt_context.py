import copy
import gc
import weakref

import numpy as np
import pytest

from velmoro.realtrade import runtypes
from velmoro.realtrade.runtypes import LoopStatus, RealRunTimeContext

ARRAYS = ("min_fresh_data", "day_fresh_data", "idx_fresh_array", "unfilled_begin_calc_pos", "pushed_latest_timeline")
INITIAL = [
    ("factor_data", list, []),
    ("end_fresh_bar", int, 0),
    ("end_fresh_time", float, 0.0),
    ("last_log", str, ""),
    ("target_list_len", int, 0),
    ("factor_list_len", int, 0),
    ("refresh_k_data_idx", int, 0),
    ("is_tick_freq", bool, False),
    ("is_first_time_do_fresh_loop", bool, True),
]
FIELDS = [
    "min_fresh_data", "day_fresh_data", "factor_data", "idx_fresh_array", "unfilled_begin_calc_pos",
    "end_fresh_bar", "end_fresh_time", "last_log", "target_list_len", "factor_list_len",
    "refresh_k_data_idx", "is_tick_freq", "is_first_time_do_fresh_loop", "pushed_latest_timeline",
    "loop_status",
]


def test_attributes_are_set_in_order():
    assert list(vars(RealRunTimeContext())) == FIELDS


FLAGS = ("C_CONTIGUOUS", "F_CONTIGUOUS", "OWNDATA", "WRITEABLE", "ALIGNED", "WRITEBACKIFCOPY")


@pytest.mark.parametrize("name", ARRAYS)
def test_arrays_start_as_numpy_makes_an_empty_float64_array(name):
    a, expected = getattr(RealRunTimeContext(), name), np.array([])
    assert type(a) is np.ndarray and (a.shape, a.strides, a.dtype) == ((0,), expected.strides, np.float64)
    assert a.base is None and {f: a.flags[f] for f in FLAGS} == {f: expected.flags[f] for f in FLAGS}
    a.resize(3, refcheck=False)  # its own memory: numpy may grow it in place
    assert a.shape == (3,)


@pytest.mark.parametrize("name, kind, value", INITIAL)
def test_scalar_initial_values_have_exact_types(name, kind, value):
    v = getattr(RealRunTimeContext(), name)
    assert type(v) is kind and v == value


def test_new_context_has_its_own_fresh_status():
    s = RealRunTimeContext().loop_status
    assert isinstance(s, LoopStatus) and s.op_ok and s.detail == ""


def test_contexts_share_nothing():
    a, b = RealRunTimeContext(), RealRunTimeContext()
    for name in ARRAYS + ("factor_data", "loop_status"):
        assert getattr(a, name) is not getattr(b, name), name
    a.factor_data.append(1)
    a.loop_status.op_break = "x"
    a.end_fresh_bar = 7
    assert b.factor_data == [] and b.loop_status.op_ok and b.end_fresh_bar == 0


def test_attributes_are_replaceable_and_extensible():
    c = RealRunTimeContext()
    c.min_fresh_data = np.arange(3.0)
    c.scratch = {"k": 1}
    del c.last_log
    assert c.min_fresh_data.tolist() == [0.0, 1.0, 2.0] and c.scratch == {"k": 1}
    assert not hasattr(c, "last_log")
    d = RealRunTimeContext()
    assert list(vars(d)) == FIELDS and d.last_log == "" and not hasattr(d, "scratch")


def test_new_contexts_keep_their_fields_after_others_added_many():
    for n in range(3):
        c = RealRunTimeContext()
        for i in range(40):
            setattr(c, "added_%d_%d" % (n, i), i)
        assert getattr(c, "added_%d_39" % n) == 39 and c.last_log == ""
    d = RealRunTimeContext()
    assert list(vars(d)) == FIELDS and d.end_fresh_bar == 0 and d.loop_status.op_ok


def test_python_code_reads_and_writes_each_context_s_own_fields():
    # often enough for the interpreter to specialise the attribute steps on the class
    def touch(c, i):
        c.end_fresh_bar += i
        c.extra = i
        return c.end_fresh_bar, c.last_log, c.extra, c.loop_status.op_ok, len(c.factor_data)

    assert [touch(RealRunTimeContext(), i) for i in range(300)] == [(i, "", i, True, 0) for i in range(300)]


def test_a_context_whose_dict_was_asked_for_before_its_constructor():
    c = RealRunTimeContext.__new__(RealRunTimeContext)
    assert vars(c) == {}
    c.__init__()
    assert list(vars(c)) == FIELDS and c.loop_status.op_ok and c.min_fresh_data.shape == (0,)


def test_a_cycle_through_a_field_is_collected():
    class Probe:
        pass

    c, p = RealRunTimeContext(), Probe()
    c.factor_data.extend([c, p])
    gone = weakref.ref(p)
    del c, p
    gc.collect()
    assert gone() is None


def test_a_copy_holds_the_same_fields():
    c = RealRunTimeContext()
    c.scratch = 1
    d = copy.copy(c)
    assert type(d) is RealRunTimeContext and list(vars(d)) == FIELDS + ["scratch"]
    assert all(getattr(d, n) is getattr(c, n) for n in vars(c))


def test_arrays_and_status_come_from_the_module_globals(monkeypatch):
    made = []

    class FakeNp:
        @staticmethod
        def array(values):
            made.append(values)
            return ("array", len(made))

    class FakeStatus:
        pass

    monkeypatch.setattr(runtypes, "np", FakeNp)
    monkeypatch.setattr(runtypes, "LoopStatus", FakeStatus)
    c = RealRunTimeContext()
    assert made == [[]] * 5
    assert isinstance(c.loop_status, FakeStatus)
    assert len({getattr(c, n) for n in ARRAYS}) == 5


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        RealRunTimeContext(1)


def test_replaced_numpy_array_makes_the_arrays(monkeypatch):
    made = []
    real_array = np.array
    monkeypatch.setattr(np, "array", lambda values: made.append(values) or real_array(values, dtype=float))
    c = RealRunTimeContext()
    assert made == [[]] * 5 and all(getattr(c, n).dtype == np.float64 for n in ARRAYS)


def test_a_field_the_class_takes_over_later_goes_through_it(monkeypatch):
    RealRunTimeContext()  # a plain construction first
    stored = []
    monkeypatch.setattr(RealRunTimeContext, "last_log", property(lambda self: "seen", lambda self, v: stored.append(v)),
                        raising=False)
    c = RealRunTimeContext()
    assert stored == [""] and "last_log" not in vars(c) and c.last_log == "seen"
    monkeypatch.undo()
    assert vars(RealRunTimeContext())["last_log"] == ""


def test_constructor_called_again_resets_the_fields_and_keeps_added_ones():
    c = RealRunTimeContext()
    first_status = c.loop_status
    c.end_fresh_bar, c.scratch = 9, "kept"
    c.__init__()
    assert c.end_fresh_bar == 0 and c.scratch == "kept" and c.loop_status is not first_status
    assert list(vars(c))[-1] == "scratch"


def test_class_calls_keep_what_type_call_does(monkeypatch):
    class Sub(RealRunTimeContext):
        def __init__(self, x, *, y):
            super().__init__()
            self.x, self.y = x, y

    s = Sub(1, y=2)
    assert type(s) is Sub and (s.x, s.y) == (1, 2) and s.loop_status.op_ok
    with pytest.raises(TypeError, match="takes no arguments"):
        RealRunTimeContext(k=1)
    monkeypatch.setattr(RealRunTimeContext, "__init__", lambda self, v=5: setattr(self, "v", v))
    assert vars(RealRunTimeContext()) == {"v": 5} and vars(RealRunTimeContext(6)) == {"v": 6}
    monkeypatch.undo()
    assert list(vars(RealRunTimeContext()))[-1] == "loop_status"
