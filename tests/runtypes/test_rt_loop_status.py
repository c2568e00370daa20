import gc
import weakref

import pytest

from velmoro.realtrade.runtypes import LoopStatus

VERDICTS = ("op_ok", "op_continue", "op_break")


def verdict(status):
    return [name for name in VERDICTS if getattr(status, name)]


def test_new_status_is_ok_with_empty_detail():
    s = LoopStatus()
    assert verdict(s) == ["op_ok"]
    assert (s.detail, s._code, s._detail) == ("", 0, "")


@pytest.mark.parametrize(
    "writes, expected_verdict, expected_detail",
    [
        ([("op_break", "stop"), ("op_continue", None)], "op_continue", "stop"),
        ([("op_break", "stop"), ("op_ok", "")], "op_ok", ""),
        ([("op_continue", "a"), ("op_continue", None), ("op_continue", None)], "op_continue", "a"),
        ([("op_ok", None)], "op_ok", ""),
        ([("op_continue", "a"), ("op_break", "b"), ("op_ok", "c")], "op_ok", "c"),
        ([("op_ok", "x"), ("op_break", None)], "op_break", "x"),
    ],
)
def test_transitions_and_detail_rule(writes, expected_verdict, expected_detail):
    s = LoopStatus()
    for name, value in writes:
        setattr(s, name, value)
    assert verdict(s) == [expected_verdict]
    assert s._code == VERDICTS.index(expected_verdict)
    assert s.detail == expected_detail


@pytest.mark.parametrize("detail", [0, False, [], {"k": 1}, object()])
def test_any_detail_is_stored_unchanged(detail):
    s = LoopStatus()
    s.op_break = detail
    assert s.detail is detail and s.op_break


def test_detail_is_read_only_and_code_changes_only_through_verdicts():
    s = LoopStatus()
    for name in ("detail", "_code", "_detail"):
        with pytest.raises(AttributeError):
            setattr(s, name, "x")
    with pytest.raises(AttributeError):
        del s.op_ok
    assert verdict(s) == ["op_ok"] and s.detail == ""


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        LoopStatus(1)
    with pytest.raises(TypeError):
        LoopStatus(detail="x")


def test_reconstructing_resets_the_status():
    s = LoopStatus()
    s.op_break = "x"
    s.__init__()
    assert verdict(s) == ["op_ok"] and s.detail == ""


def test_a_cycle_through_the_detail_is_collected():
    class Holder:
        pass

    h = Holder()
    h.status = LoopStatus()
    h.status.op_break = h
    alive = weakref.ref(h)
    del h
    gc.collect()
    assert alive() is None


def test_subclass_keeps_the_verdict_properties():
    class Tagged(LoopStatus):
        pass

    t = Tagged()
    t.op_continue = "why"
    assert verdict(t) == ["op_continue"] and t.detail == "why"
