"""The framework calls of commands with request records, and the error that
surfaces, equal those of the commands' Python written out (the twins below),
on a framework that records every step."""
import pytest

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.exceptions import VmReturnError

T = [{"Market": "sse", "Code": "600000"}, {"Market": "czce", "Code": "SR405"}]


class Recorder:
    """todotdict, vmserial, recv_serial, the answer and the checker, each step logged."""

    def __init__(self, fail=None):
        self.log = []
        self.fail = fail  # the step that raises LookupError

    def step(self, what):
        self.log.append(what)
        if what == self.fail:
            raise LookupError(what)

    def todotdict(self, mapping):
        self.step("todotdict")
        return dict(mapping)

    def recv_serial(self, func_name):
        self.step("recv_serial " + func_name)
        rec = self

        class Answer:
            def __getattr__(self, name):
                rec.step("answer." + name)
                return 5 if name.startswith("i64") else self

        return Answer()

    def checker(self, func_name, result):
        self.step("vmReturnChecker")

    def mft_to_str_format(self, t, fmt):
        self.step("mft_to_str_format")
        return "text"

    @property
    def vmserial(self):
        rec = self

        class Serial:
            def __getattr__(self, name):
                rec.step("vmserial." + name)
                return lambda *args: rec.step("send")

        return Serial()


class Item(dict):
    """A mapping whose item reads are logged."""

    def __init__(self, rec, data):
        super().__init__(data)
        self.rec = rec

    def __getitem__(self, key):
        self.rec.step("[%s]" % key)
        return super().__getitem__(key)


def twins(todotdict, vmserial, recv_serial, vmReturnChecker, mft_to_str_format):
    """The commands as Python writes them: requests in statements of their own."""

    def vmSendCmdGetKData(targets, kFreq, kFreNum, beginDate, endDate, filledUp, fqType, noReturn):
        func_name = "vmSendCmdGetKData"
        request = todotdict({"MarketCode": [todotdict(t) for t in targets], "KFrequency": kFreq,
                             "KFreNum": kFreNum, "BeginDate": beginDate, "EndDate": endDate,
                             "FilledUp": filledUp, "FQ": fqType, "NoReturn": noReturn})
        vmserial.VelmoroGetKData_send(request)
        res = recv_serial(func_name)
        vmReturnChecker(func_name, res.result)
        return res.listPaths

    def vmSendCmdGetKDataMulti(targetList, kFreq, beginDate, endDate, filledUp, fqType):
        func_name = "vmSendCmdGetKDataMulti"
        request = todotdict({"KFrequency": kFreq, "BeginDate": beginDate, "EndDate": endDate,
                             "FilledUp": filledUp, "FQ": fqType, "NoReturn": False})
        target_list = [todotdict(t) for t in targetList]
        vmserial.VelmoroGetKDataMulti_send(request, target_list)
        res = recv_serial(func_name)
        vmReturnChecker(func_name, res.result)
        return res.wstrFilePath

    def vmSendCmdCreateTaskRunFactor(params):
        func_name = "vmSendCmdCreateTaskRunFactor"
        request = todotdict({"wstrFactorName": params["StraName"], "wstrSrcPath": params["StraPath"],
                             "wstrIndexPlateName": params["IndexName"], "wstrToolBoxDes": params["ToolBoxDesc"],
                             "iBegin": params["BeginDate"], "iEnd": params["EndDate"]})
        vmserial.VelmoroCreateTaskRunFactor_send(request)
        res = recv_serial(func_name)
        vmReturnChecker(func_name, res.result)
        return res.i64TaskID

    def vmSendCmdGetAccountPositionAndCash(handles, targets):
        func_name = "vmSendCmdGetAccountPositionAndCash"
        target_list = [todotdict(t) for t in targets]
        vmserial.VelmoroGetAccountPositionAndCashInfo_send(handles, target_list)
        res = recv_serial(func_name)
        vmReturnChecker(func_name, res.result)
        return res.listAccountCash, res.listGrossPosition

    def vmSendCmdSTGetAccountPosition(Handle, Market, Code, LongShort=None):
        func_name = "vmSendCmdSTGetAccountPosition"
        request = todotdict({"Handle": Handle, "Market": Market, "Code": Code,
                             "LongShort": "" if LongShort is None else LongShort})
        vmserial.VelmoroSTGetAccountPosition_send(request)
        position = recv_serial(func_name).sPositionData
        return position.Position, position.Frozen, position.AvgPrice

    def vmSendCmdTransTradeTimeToTradeDate(checkTime):
        func_name = "vmSendCmdTransTradeTimeToTradeDate"
        check_time = mft_to_str_format(checkTime, "%Y%m%dT%H%M%S")
        vmserial.VelmoroTransTradeTimeToTradeDate_send(check_time)
        return recv_serial(func_name).result

    return locals()


def run(call, fail=None, use_twin=False, monkeypatch=None):
    rec = Recorder(fail)
    name, args = call
    if use_twin:
        func = twins(rec.todotdict, rec.vmserial, rec.recv_serial, rec.checker, rec.mft_to_str_format)[name]
    else:
        for attr in ("todotdict", "vmserial", "recv_serial", "mft_to_str_format"):
            monkeypatch.setattr(vmcmd, attr, getattr(rec, attr))
        monkeypatch.setattr(vmcmd, "vmReturnChecker", rec.checker)
        func = getattr(vmcmd, name)
    try:
        outcome = func(*args(rec))
    except LookupError as e:
        outcome = ("raised", type(e), e.args)
    return rec.log, outcome


RUN_FACTOR = {"StraName": "f", "StraPath": "/src", "IndexName": "Index", "ToolBoxDesc": "d", "BeginDate": 1,
              "EndDate": 2}
CALLS = {
    "kdata": ("vmSendCmdGetKData", lambda rec: ([Item(rec, t) for t in T], "min", 1, 2, 3, 0, "NA", False)),
    "kdata multi": ("vmSendCmdGetKDataMulti", lambda rec: ([Item(rec, t) for t in T], "day", 1, 2, 0, "NA")),
    "run factor": ("vmSendCmdCreateTaskRunFactor", lambda rec: (Item(rec, RUN_FACTOR),)),
    "run factor, key missing": ("vmSendCmdCreateTaskRunFactor",
                                lambda rec: (Item(rec, {"StraName": "f", "StraPath": "/s"}),)),
    "position and cash": ("vmSendCmdGetAccountPositionAndCash", lambda rec: ([1001], T)),
    "position": ("vmSendCmdSTGetAccountPosition", lambda rec: (1001, "sse", "600000")),
    "trade date": ("vmSendCmdTransTradeTimeToTradeDate", lambda rec: (45000.5,)),
}


def steps_of(call):
    log, _ = run(call, use_twin=True)
    return sorted(set(log))


@pytest.mark.parametrize("case", CALLS)
def test_steps_and_results_follow_python(monkeypatch, case):
    call = CALLS[case]
    native = run(call, monkeypatch=monkeypatch)
    assert native[0] == run(call, use_twin=True)[0]
    if not isinstance(native[1], tuple) or native[1][:1] != ("raised",):
        return
    assert native[1] == run(call, use_twin=True)[1]


@pytest.mark.parametrize("case", [c for c in CALLS if "missing" not in c])
def test_the_step_that_fails_first_is_pythons(monkeypatch, case):
    call = CALLS[case]
    for step in steps_of(call):
        with monkeypatch.context() as m:
            assert run(call, step, monkeypatch=m) == run(call, step, use_twin=True), step


class Status:
    """A status record whose every read is logged."""

    def __init__(self, log, level, info):
        self._log, self._values = log, {"errLevel": level, "errCode": 77, "errInfo": info}

    def __getattr__(self, name):
        self._log.append("result." + name)
        return self._values[name]


class Texts:
    def __init__(self, log):
        self._log = log

    @property
    def ERROR_CODE_REASON(self):
        self._log.append("text.ERROR_CODE_REASON")
        log = self._log

        class Template(str):
            def format(self, **fields):
                log.append("format " + " ".join(fields))
                return "message"

        return Template("{Name}")


def checker_twin(g):
    """vmReturnChecker as Python writes it, over the globals g."""

    def vmReturnChecker(func_name, result):
        if result.errLevel == g["ERROR_LEVEL_ERROR"]:
            error_info = g["check_vm_return_error"](result.errInfo, error="ignore")
            error = g["text"].ERROR_CODE_REASON.format(Name=func_name, Code=result.errCode, Reason=error_info)
            raise g["VmReturnError"](error)
        elif result.errLevel == g["ERROR_LEVEL_WARNING"] and result.errInfo != "":
            error_info = g["check_vm_return_error"](result.errInfo, error="ignore")
            error = g["text"].ERROR_CODE_REASON.format(Name=func_name, Code=result.errCode, Reason=error_info)
            g["user_warning"](error)
        elif result.errLevel == g["ERROR_LEVEL_INFO"] and result.errInfo != "":
            error_info = g["check_vm_return_error"](result.errInfo, error="ignore")
            error = g["text"].ERROR_CODE_REASON.format(Name=func_name, Code=result.errCode, Reason=error_info)
            g["user_info"](error)

    return vmReturnChecker


class Globals(dict):
    def __missing__(self, name):
        raise NameError("name %r is not defined" % name)


@pytest.mark.parametrize("level,info,missing", [
    (1, "", None), (1, "x", None), (2, "", None), (2, "x", None), (3, "x", None), (0, "x", None), (7, "x", None),
    (1, "x", "VmReturnError"), (2, "x", "user_warning"), (3, "x", "user_info"), (2, "x", "check_vm_return_error"),
])
def test_checker_steps_follow_python(monkeypatch, level, info, missing):
    def run_checker(checker, log):
        g = Globals({"ERROR_LEVEL_ERROR": 1, "ERROR_LEVEL_WARNING": 2, "ERROR_LEVEL_INFO": 3, "text": Texts(log),
             "VmReturnError": VmReturnError,
             "check_vm_return_error": lambda text, error: log.append("check_vm_return_error") or "reason",
             "user_warning": lambda m: log.append("user_warning " + m),
             "user_info": lambda m: log.append("user_info " + m)})
        for name, value in g.items():
            monkeypatch.setattr(vmcmd, name, value, raising=False)
        if missing:
            del g[missing]
            monkeypatch.delattr(vmcmd, missing)
        try:
            (checker or checker_twin(g))("cmd", Status(log, level, info))
        except (VmReturnError, NameError) as exc:
            log.append("raised %s %s" % (type(exc).__name__, exc))
        return log

    assert run_checker(vmcmd.vmReturnChecker, []) == run_checker(None, [])
