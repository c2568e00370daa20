"""Commands with an algorithm of their own, over a recording transport."""
import os

import numpy as np
import pytest
import scipy.io

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.language import text
from velmoro.tframe.utils.exceptions import VmReturnError
from velmoro.tframe.utils.utilcls import DotDict as D

OPTION_KEYS = ["Market", "Code", "Price", "Month", "Type", "ValueType", "Level"]


@pytest.mark.parametrize(
    "values,expected",
    [
        (("sse", "510050", 2.5, 6, "C", "A", 1, 0),
         D(Market="sse", Code="510050", Price=2.5, Month=6, Type="C", ValueType="A", Level=1, BDate="", EDate="",
           ContractAdjustmentType=0)),
        (["sse", "510050", 20240101, 20240301, 1],
         D(Market="sse", Code="510050", Price=0, Month=0, Type="", ValueType="", Level=0, BDate=20240101,
           EData=20240301, ContractAdjustmentType=1)),
    ],
    ids=["eight values", "five values"],
)
def test_option_code_forms(wire, values, expected):
    wire.reply(level=1, result=["codes"])  # unchecked: an error status does not matter
    assert vmcmd.vmSendCmdGetOptionCode(values) == ["codes"]
    assert wire.sent[0][0] == "VelmoroGetOptionCode_send"
    assert wire.same(wire.sent[0][1], (expected,))
    assert wire.asked == ["vmSendCmdGetOptionCode"]


@pytest.mark.parametrize("values", [(), (1,) * 4, (1,) * 6, (1,) * 7, (1,) * 9])
def test_option_code_refuses_other_counts(wire, values):
    with pytest.raises(ValueError) as exc:
        vmcmd.vmSendCmdGetOptionCode(values)
    assert str(exc.value) == text.ERROR_PARAM_MISMATCH_5_8
    with pytest.raises(TypeError):
        vmcmd.vmSendCmdGetOptionCode(5)
    assert wire.sent == []


def _mat(tmp_path, name, variables):
    path = str(tmp_path / name)
    scipy.io.savemat(path, variables)
    return path


def test_history_instruments_in_request_order(wire, tmp_path):
    targets = [{"Market": "SZSE", "Code": "000001"}, {"Market": "sse", "Code": "600000"},
               {"Market": "szse", "Code": "000001"}, {"Market": "czce", "Code": "sr405"}]
    path = _mat(tmp_path, "ins.mat", {"szse_000001_0": [[1.0]], "sse_600000_1": [[2.0]], "szse_000001_2": [[3.0]],
                                      "other": [[9.0]]})
    wire.reply(wstrFilePath=path)
    got = vmcmd.vmSendCmdGetHistoryInstruments(targets, 20240101, 20240105)
    # upper-case input is looked up in lower case; the repeated security keeps
    # its first position and the later value; the czce target has no variable
    assert list(got) == ["SZSE.000001", "SSE.600000"]
    assert got["SZSE.000001"][0, 0] == 3.0 and got["SSE.600000"][0, 0] == 2.0
    assert wire.same(wire.sent[0][1], ([D(t) for t in targets], 20240101, 20240105, "NA"))


def test_history_instruments_loads_without_raising(wire, monkeypatch):
    calls = []
    monkeypatch.setattr(vmcmd, "load_mat", lambda *a, **k: calls.append((a, k)) or {})
    wire.reply(wstrFilePath="missing.mat")
    assert vmcmd.vmSendCmdGetHistoryInstruments([{"Market": "sse", "Code": "1"}], 1, 2, "F") == {}
    assert calls == [(("missing.mat",), {})]


class Text(str):
    def __str__(self):
        return "Own_Text"


@pytest.mark.parametrize("targets", [
    # "%s" and str.lower()/upper() accept lone surrogates and non-str values
    [{"Market": "s\ud800Z", "Code": 7}, {"Market": "\u0130x", "Code": "c"}],
    # ASCII texts of any case and shape, among them keys with other underscores
    [{"Market": "SzSe", "Code": "Ab_9"}, {"Market": "a_b_c", "Code": ""}, {"Market": "", "Code": "x"}]
    + [{"Market": "sse", "Code": "%d" % i} for i in range(12)],
    [{"Market": Text("sse"), "Code": "1"}, {"Market": "sse", "Code": Text("2")}],
])
def test_history_instruments_take_any_text_python_formats(wire, monkeypatch, targets):
    names = [("%s_%s_%d" % (t["Market"], t["Code"], i)).lower() for i, t in enumerate(targets)]
    monkeypatch.setattr(vmcmd, "load_mat", lambda *a, **k: {n: i for i, n in enumerate(names)})
    wire.reply(wstrFilePath="x")
    got = vmcmd.vmSendCmdGetHistoryInstruments(targets, 1, 2)
    assert got == {".".join(n.split("_")[:2]).upper(): i for i, n in enumerate(names)}


def test_history_instruments_checks_before_loading_and_keys_after(wire, monkeypatch):
    monkeypatch.setattr(vmcmd, "load_mat", lambda *a, **k: {})
    wire.reply(level=1)
    with pytest.raises(VmReturnError):
        vmcmd.vmSendCmdGetHistoryInstruments([{"Market": "sse", "Code": "1"}], 1, 2)
    wire.reply(wstrFilePath="x")
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdGetHistoryInstruments([{"Market": "sse"}], 1, 2)
    assert len(wire.sent) == 2


@pytest.mark.parametrize(
    "markets,expected",
    [
        (["sse", "sse", "czce", "sse"], [2, 0]),
        (["szse", "sse"], [0]),
        (["czce", "shfe"], [0, 1]),
        ([], []),
    ],
)
def test_bar_time_sends_one_stock_exchange_target(wire, tmp_path, markets, expected):
    targets = [{"Market": m, "Code": str(i)} for i, m in enumerate(markets)]
    wire.reply(wstrFileName=_mat(tmp_path, "t.mat", {"Time": [[1.0, 2.0]]}))
    vmcmd.vmSendCmdGetDatePeriodBarTime(targets, "min", 5, 739254.5)
    assert wire.same(wire.sent[0][1], (739254.5, "min", 5, [D(targets[i]) for i in expected]))


@pytest.mark.parametrize("endtm,kept", [(0, False), (0.0, False), (739254.5, True)])
def test_bar_time_loads_then_removes_for_a_falsy_end(wire, tmp_path, endtm, kept):
    path = _mat(tmp_path, "t.mat", {"Time": [[1.0, 2.0]]})
    wire.reply(wstrFileName=path)
    np.testing.assert_array_equal(vmcmd.vmSendCmdGetDatePeriodBarTime([], "day", 1, endtm), [[1.0, 2.0]])
    assert os.path.exists(path) == kept


def test_bar_time_edge_answers(wire, tmp_path, monkeypatch):
    wire.reply(wstrFileName=_mat(tmp_path, "t.mat", {"Other": [[1.0]]}))
    assert vmcmd.vmSendCmdGetDatePeriodBarTime([], "day", 1, 5) is None
    # a failed removal is ignored
    monkeypatch.setattr(vmcmd.os, "remove", lambda p: 1 / 0)
    wire.reply(wstrFileName=_mat(tmp_path, "u.mat", {"Time": [[3.0]]}))
    assert vmcmd.vmSendCmdGetDatePeriodBarTime([], "day", 1, 0)[0, 0] == 3.0
    wire.reply(wstrFileName=str(tmp_path / "absent.mat"))
    with pytest.raises(OSError):
        vmcmd.vmSendCmdGetDatePeriodBarTime([], "day", 1, 0)
    with pytest.raises(KeyError):
        vmcmd.vmSendCmdGetDatePeriodBarTime([{"Code": "1"}], "day", 1, 0)
    assert len(wire.sent) == 3


def test_account_info_one_exchange_per_handle(wire):
    assert vmcmd.vmSendCmdGetAccountInfo([]) == [] and wire.sent == []
    wire.reply(result=D(Name="a"))
    wire.reply(result=D(Name="b"))
    handles = [np.int64(7), 9]
    got = vmcmd.vmSendCmdGetAccountInfo(iter(handles))
    assert [(a.Name, a.Handle64) for a in got] == [("a", 7), ("b", 9)]
    assert type(got[0].Handle64) is np.int64
    assert wire.sent == [("VelmoroSTGetAccountInfo_send", (h,)) for h in handles]
    assert wire.asked == ["vmSendCmdGetAccountInfo"] * 2
    with pytest.raises(TypeError):
        vmcmd.vmSendCmdGetAccountInfo(5)


@pytest.mark.parametrize("given,sent", [((), ""), ((None,), ""), (("short",), "short")])
def test_position_of_one_security(wire, given, sent):
    wire.reply(level=1, sPositionData=D(Position=300, Frozen=100, AvgPrice=7.5))
    assert vmcmd.vmSendCmdSTGetAccountPosition(1001, "sse", "600000", *given) == (300, 100, 7.5)
    assert wire.same(wire.sent[0][1], (D(Handle=1001, Market="sse", Code="600000", LongShort=sent),))


def test_put_log_writes_the_framework_log_too(wire, monkeypatch):
    written = []
    monkeypatch.setattr(vmcmd, "write_log", lambda *a, **k: written.append((a, k)))
    vmcmd.vmSendCmdPutLog(float("nan"), "never")
    vmcmd.vmSendCmdPutLog(5, "")
    vmcmd.vmSendCmdPutLog(np.int64(5), "line")
    assert wire.sent == [("VelmoroPutLog_send", (5, "")), ("VelmoroPutLog_send", (5, "line"))]
    assert written == [(("",), {"level": "info", "console": ""}), (("line",), {"level": "info", "console": "line"})]


def test_real_trade_task_sends_the_callers_handle_list(wire):
    handles = [1001]
    wire.reply(i64TaskID=np.int32(8))
    got = vmcmd.vmSendCmdCreateTaskRealTrade({"HandleList": handles, "TargetList": []})
    assert type(got) is np.int64 and got == 8
    assert wire.sent[0][1][1] is handles


def test_subscribe_factor_needs_both_lists(wire):
    vmcmd.vmSendCmdSubscribeFactor([], ["f"])
    vmcmd.vmSendCmdSubscribeFactor([{"Market": "sse", "Code": "1"}], ())
    assert wire.sent == []


def test_toolbox_check_returns_the_answer_after_the_check(wire):
    wire.reply(level=1)
    with pytest.raises(VmReturnError, match="vmSendCmdToolboxCheck"):
        vmcmd.vmSendCmdToolboxCheck("python", "1", [])
    wire.reply(extra="x")
    assert vmcmd.vmSendCmdToolboxCheck("python", "1", []).extra == "x"
