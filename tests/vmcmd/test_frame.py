"""The command frame: constants, the status record, the checker, two commands end to end."""
import math

import numpy as np
import pytest

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError
from velmoro.tframe.utils.utilfunc import load_mat


class Status:
    def __init__(self, level, code=7, info=""):
        self.errLevel, self.errCode, self.errInfo = level, code, info


@pytest.fixture
def shown(monkeypatch):
    """Records what the checker shows to the user."""
    calls = []
    monkeypatch.setattr(vmcmd, "user_warning", lambda m: calls.append(("warning", m)))
    monkeypatch.setattr(vmcmd, "user_info", lambda m: calls.append(("info", m)))
    return calls


def test_module_constants_and_status_record():
    assert (vmcmd.ERROR_LEVEL_NO_ERROR, vmcmd.ERROR_LEVEL_ERROR) == (0, 1)
    assert (vmcmd.ERROR_LEVEL_WARNING, vmcmd.ERROR_LEVEL_INFO) == (2, 3)
    assert vmcmd.GeneralRes.__slots__ == ("errLevel", "errCode", "errInfo")
    assert vmcmd.GeneralRes.__bases__ == (object,)
    res = vmcmd.GeneralRes()
    assert not hasattr(res, "__dict__")
    with pytest.raises(AttributeError):
        res.errLevel
    res.errLevel, res.errCode, res.errInfo = 1, 2, "x"
    assert (res.errLevel, res.errCode, res.errInfo) == (1, 2, "x")
    with pytest.raises(AttributeError):
        res.other = 1
    with pytest.raises(TypeError):
        vmcmd.GeneralRes(1)


@pytest.mark.parametrize(
    "level,info,expected",
    [
        (0, "note", []),
        (2, "", []),
        (2, "careful", ["warning"]),
        (3, "fyi", ["info"]),
        (3, "", []),
        (7, "odd", []),
        (np.int64(2), "careful", ["warning"]),
        (3.0, "fyi", ["info"]),
        (float("nan"), "x", []),
    ],
)
def test_checker_levels(shown, level, info, expected):
    assert vmcmd.vmReturnChecker("vmSendCmdX", Status(level, 5, info)) is None
    assert [kind for kind, _ in shown] == expected
    for _, message in shown:
        assert "vmSendCmdX" in message and "5" in message and info in message


@pytest.mark.parametrize("info", ["rejected", ""])
def test_error_level_always_raises(shown, info):
    with pytest.raises(VmReturnError) as exc:
        vmcmd.vmReturnChecker("vmSendCmdGetFdmt", Status(np.float64(1.0), 404, info))
    assert "vmSendCmdGetFdmt" in str(exc.value) and "404" in str(exc.value)
    assert shown == []


def test_checker_uses_the_replaced_constants_and_framework(monkeypatch, shown):
    monkeypatch.setattr(vmcmd, "ERROR_LEVEL_ERROR", 9)
    vmcmd.vmReturnChecker("f", Status(1, 0, "now only a level"))  # 1 is no longer the error level
    monkeypatch.setattr(vmcmd, "VmReturnError", LookupError)
    with pytest.raises(LookupError):
        vmcmd.vmReturnChecker("f", Status(9))


def test_checker_reads_the_level_for_each_test(shown):
    class Flipping:
        errCode, errInfo = 0, "text"

        def __init__(self):
            self.reads = 0

        @property
        def errLevel(self):
            self.reads += 1
            return 3 if self.reads == 3 else 0

    status = Flipping()
    vmcmd.vmReturnChecker("f", status)
    assert status.reads == 3 and [k for k, _ in shown] == ["info"]


def test_kdata_end_to_end(terminal):
    targets = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]
    day = terminal.data.trading_days[0]
    paths = vmcmd.vmSendCmdGetKData(targets, "min", 1, day, day, 0, "NA", False)
    assert len(paths) == 2
    bars = load_mat(paths[1], error="raise")
    assert bars["Close"].shape == (1, 240)
    assert str(bars["Code"][0]) == "000001"
    request = terminal.sent[-1][1][0]
    assert list(request) == ["MarketCode", "KFrequency", "KFreNum", "BeginDate", "EndDate", "FilledUp", "FQ", "NoReturn"]
    assert request.MarketCode == targets and request.MarketCode[0].Market == "sse"


def test_kdata_terminal_error_raises_before_the_payload(terminal):
    with pytest.raises(VmReturnError, match="vmSendCmdGetKData"):
        vmcmd.vmSendCmdGetKData([{"Market": "sse", "Code": "999999"}], "min", 1, 0, 0, 0, "NA", False)


def test_kdata_with_no_targets_still_sends(terminal):
    assert vmcmd.vmSendCmdGetKData([], "day", 1, 0, 0, 0, "NA", False) == []
    assert terminal.sent[-1][1][0].MarketCode == []


def test_code_list_end_to_end(terminal):
    members = vmcmd.vmSendCmdGetCodeList("Index", 0)
    assert [(m.Market, m.Code) for m in members][:2] == [("sse", "600000"), ("sse", "600519")]
    assert math.isclose(sum(m.Weight for m in members), 1.0)
    assert {"Code", "Market", "Weight", "Name", "BlockName"} <= set(members[0])
