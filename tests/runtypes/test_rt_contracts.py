import subprocess
import sys

import pytest

from velmoro.realtrade.runtypes import RealTradeEnv
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import next_n_day, to_int_now_date

RB = {"Market": "shfe", "Code": "RB888"}
IF = {"Market": "cffex", "Code": "IF2406"}
AG = {"Market": "shfe", "Code": "ag"}


class TargetIns:
    """Stands in for the terminal's contract-history command."""

    def __init__(self, answers):
        self.answers = answers
        self.calls = []

    def __call__(self, market, code, begin, end):
        self.calls.append((market, code, begin, end))
        return self.answers.get(code, [])


@pytest.fixture
def contracts(run, monkeypatch):
    var, env = run

    def install(answers):
        command = TargetIns(answers)
        monkeypatch.setattr(vmcmd, "vmSendCmdGetTargetIns_20190830", command)
        return command

    return var, env, install


ANSWERS = {
    "RB888": [{"TargetIns": "rb2401", "Day": 20240102}, {"TargetIns": "rb888", "Day": 20240103},
              {"TargetIns": "rb2405", "Day": 20240104}],
    "IF2406": [{"TargetIns": "if2406", "Day": 20240102}],  # only its own code
    # only the record's side is upper-cased: a lower-case target code keeps its own record
    "ag": [{"TargetIns": "ag", "Day": 20240102}],
}


def test_main_contract_table_drops_the_targets_own_code(contracts):
    var, env, install = contracts
    command = install(ANSWERS)
    table = RealTradeEnv._RealTradeEnv__get_main_contract([RB, IF, AG], 20240101, 20240110)
    assert table == {"SHFE.RB888": [[20240102, 20240104], ["rb2401", "rb2405"]],
                     "CFFEX.IF2406": [[], []], "SHFE.AG": [[20240102], ["ag"]]}
    assert command.calls == [("shfe", "RB888", 20240101, 20240110), ("cffex", "IF2406", 20240101, 20240110),
                             ("shfe", "ag", 20240101, 20240110)]


@pytest.mark.parametrize("real_targets", [[], [{"Market": "X", "Code": "0"}, {"Market": "Y", "Code": "1"},
                                               {"Market": "Z", "Code": "2"}]])
def test_collect_contracts_resolves_or_falls_back(contracts, real_targets):
    var, env, install = contracts
    install({code: ANSWERS[code] for code in ("RB888", "IF2406")})
    var.g_VelmoroInputInfo.RealTargetList = real_targets
    records, positions = env.collect_contracts([RB, IF, AG], 20240101, 20240110)
    fallback = real_targets or [RB, IF, AG]
    assert records == [{"Market": "SHFE", "Code": "RB2405"}, fallback[1], fallback[2]]
    assert positions == {"SHFE.RB2405": 0, "CFFEX.IF2406": 1, "SHFE.AG": 2}


def test_duplicate_keys_keep_the_last_position(contracts):
    var, env, install = contracts
    install({})
    records, positions = env.collect_contracts([AG, IF, {"Market": "SHFE", "Code": "AG"}], 1, 2)
    assert positions == {"SHFE.AG": 2, "CFFEX.IF2406": 1} and len(records) == 3


@pytest.mark.parametrize(
    "dates, window",
    [((None, None), "last ten days"), ((20240101, None), (20240101, None)), ((None, 20240110), (None, 20240110)),
     ((20240101, 20240110), (20240101, 20240110))],
)
def test_window_defaults_only_when_both_dates_are_missing(contracts, dates, window):
    var, env, install = contracts
    command = install({})
    env.collect_contracts([AG], *dates)
    if window == "last ten days":
        today = to_int_now_date(fmt="%Y%m%d")
        window = (next_n_day(today, day=-10, in_fmt="%Y%m%d", out_fmt="%Y%m%d"), today)
    assert command.calls[0][2:] == window


def test_keywords_and_type_check(contracts):
    var, env, install = contracts
    install({})
    assert env.collect_contracts(targets=[AG], begin_date=1, end_date=2)[0] == [AG]
    for bad in ((AG,), AG, "AG"):
        with pytest.raises(TypeError, match="'targets'"):
            env.collect_contracts(bad)


def test_failures_pass_unchanged(contracts, monkeypatch):
    var, env, install = contracts

    def failing(*args):
        raise ConnectionError("terminal away")

    monkeypatch.setattr(vmcmd, "vmSendCmdGetTargetIns_20190830", failing)
    with pytest.raises(ConnectionError, match="terminal away"):
        env.collect_contracts([AG], 1, 2)
    install({})
    with pytest.raises(KeyError):
        env.collect_contracts([{"Market": "shfe"}], 1, 2)


def test_command_is_looked_up_at_call_time_and_only_then_imported(contracts, monkeypatch):
    var, env, install = contracts
    monkeypatch.delattr(vmcmd, "vmSendCmdGetTargetIns_20190830", raising=False)
    with pytest.raises(ImportError, match="vmSendCmdGetTargetIns_20190830"):
        env.collect_contracts([AG], 1, 2)
    code = "import sys, velmoro.realtrade.runtypes; print('velmoro.tframe.comm.vmcmd' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, env=None)
    assert out.stdout.strip() == "False"
