"""Native types that own Python objects (loop status, run-time context,
status record): the collector sees what they hold, breaks cycles through
them, and neither instances nor their types leak."""
import gc
import sys
import weakref

import pytest

from velmoro.realtrade.runtypes import LoopStatus, RealRunTimeContext
from velmoro.tframe.comm.vmcmd import GeneralRes


class Holder:
    pass


def hold_in_status(obj, holder):
    obj.op_break = holder


def hold_in_context(obj, holder):
    obj.back = holder


def hold_in_record(obj, holder):
    obj.errInfo = holder


CASES = [(LoopStatus, hold_in_status), (RealRunTimeContext, hold_in_context), (GeneralRes, hold_in_record)]


@pytest.mark.parametrize("cls, hold", CASES)
@pytest.mark.parametrize("subclassed", [False, True])
def test_a_cycle_through_an_instance_is_collected(cls, hold, subclassed):
    if subclassed:
        cls = type("Sub" + cls.__name__, (cls,), {})
    holder = Holder()
    holder.native = cls()
    hold(holder.native, holder)
    alive = weakref.ref(holder)
    del holder
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize("cls, hold", CASES)
def test_instances_release_their_members_and_type(cls, hold):
    member = Holder()
    before = sys.getrefcount(member), sys.getrefcount(cls)
    for _ in range(1000):
        hold(cls(), member)
    gc.collect()
    assert (sys.getrefcount(member), sys.getrefcount(cls)) == before


def test_an_unset_record_slot_reads_as_missing():
    with pytest.raises(AttributeError):
        GeneralRes().errCode
