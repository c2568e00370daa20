"""A transport that answers from memory: every command is recorded in SENT; GetCodeList,
GetFundamentalSet2, AskFactor and GetFactor are answered, result files are written as .npz
into the working folder."""
import os

import numpy as np

from velmoro.tframe.utils.utilcls import DotDict

SENT = []
DAYS = [738887.0, 738888.0]  # 2024-01-02 and 2024-01-03 in numeric time
_pending = []


class Status:
    def __init__(self, errLevel=0, errCode=0, errInfo=""):
        self.errLevel, self.errCode, self.errInfo = errLevel, errCode, errInfo


class Answer:
    def __init__(self, result, **payload):
        self.result = result
        self.__dict__.update(payload)


def _write(name, arrays):
    path = os.path.abspath(name + ".npz")
    np.savez(path, **arrays)
    return path


def _code_list(block, date):
    return Answer([DotDict(Code="000001", Market="szse", Weight=0.5, Name="One", BlockName=block)])


def _fundamental(lang, func, params_str):
    columns = {"Code": np.array(["000001", "600000"]), "NetProfit": np.array([1.5, 2.5])}
    return Answer(Status(), wstrFilePath=_write(func, columns))


def _ask_factor(*args):
    return Answer(Status())


def _factor(name, targets, begin, end, before):
    arrays = {"Date": np.array([DAYS])}
    for i, t in enumerate(targets):
        arrays["bp_{}_{}".format(t.Market, t.Code)] = np.array([[10.0 * (i + 1), 10.0 * (i + 1) + 1]])
    return Answer(Status(), wstrFilePath=_write(name, arrays))


_ANSWERS = {
    "GetCodeList": _code_list,
    "GetFundamentalSet2": _fundamental,
    "AskFactor": _ask_factor,
    "GetFactor": _factor,
}


def __getattr__(name):
    if not (name.startswith("Velmoro") and name.endswith("_send")):
        raise AttributeError(name)
    command = name[len("Velmoro"):-len("_send")]

    def send(*args):
        SENT.append(command)
        if command in _ANSWERS:
            _pending.append(_ANSWERS[command](*args))

    return send


def recv_serial(func_name):
    return _pending.pop()
