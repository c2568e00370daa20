"""Fundamental queries end to end through the simulated terminal."""
import json

import numpy as np
import pytest

from velmoro.api.fundamental.company import restricted
from velmoro.api.fundamental.fdmt import earnings, ledger
from velmoro.tframe.utils.exceptions import VmReturnError

TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]


def last_request(terminal):
    command, (lang, func, params_str) = terminal.sent[-1]
    assert command == "GetFundamentalSet2" and lang == "en"
    return func, json.loads(params_str)


@pytest.mark.parametrize(
    "module,name,kwargs,request_tail,columns",
    [
        (
            earnings, "is_bank_pit", {"report_type": ["A"], "begin_date": "2021-01-01", "field": ("NetProfit",)},
            {"report_type": ["A"], "begin_date": 20210101, "end_date": 99991231, "publish_date_begin": 19000101,
             "publish_date_end": 99991231, "field": ["NetProfit"]},
            ["Market", "Code", "ReportType", "EndDate", "PublishDate", "NetProfit"],
        ),
        (
            ledger, "ledger_latest", {"publish_date_end": 20221231},
            {"report_type": [], "begin_date": 19000101, "end_date": 99991231, "publish_date_begin": 19000101,
             "publish_date_end": 20221231, "field": []},
            ["Market", "Code", "ReportType", "EndDate", "PublishDate", "Cash", "TotalAssets", "TotalLiabilities",
             "TotalEquity"],
        ),
        (
            restricted, "equ_shares_float", {"float_date_begin": "20210101"},
            {"float_date_begin": 20210101, "float_date_end": 99991231, "publish_date_begin": 19000101,
             "publish_date_end": 99991231, "field": []},
            ["Market", "Code", "PublishDate", "FloatDate", "FloatShares", "FloatRatio", "HolderType"],
        ),
    ],
    ids=["earnings", "ledger", "restricted"],
)
def test_one_query_per_module(terminal, module, name, kwargs, request_tail, columns):
    frame = getattr(module, name)(TARGETS, **kwargs)
    assert len(frame) > 0 and list(frame.columns) == columns
    assert set(frame["Code"]) == {"600000", "000001"}
    assert last_request(terminal) == (name, dict({"target_list": TARGETS}, **request_tail))
    assert frame["Market"].dtype == object and frame[columns[3]].dtype == np.int64


@pytest.mark.parametrize(
    "call,reason",
    [
        (lambda: earnings.is_pit([{"Market": "sse", "Code": "999999"}]), "unknown target"),
        (lambda: ledger.ledger_pit(TARGETS, field=["Revenue"]), "no field Revenue"),
    ],
)
def test_terminal_errors_raise_naming_the_command(terminal, call, reason):
    with pytest.raises(VmReturnError, match="vmSendCmdGetFdmt") as info:
        call()
    assert reason in str(info.value)


def test_reversed_range_sends_nothing(terminal):
    with pytest.raises(ValueError):
        restricted.equ_ipo_float(TARGETS, publish_date_begin="20200102", publish_date_end="20200101")
    assert terminal.sent == []


def by_report(frame):
    return {(r.Code, r.EndDate): r for r in frame.itertuples()}


def test_point_in_time_keeps_every_version_and_latest_the_newest(terminal):
    pit = earnings.is_pit(TARGETS)
    latest = earnings.is_latest(TARGETS)
    assert len(pit) > len(latest) == len(by_report(latest))
    newest = pit.sort_values("PublishDate").groupby(["Code", "EndDate"]).tail(1)
    assert by_report(newest).keys() == by_report(latest).keys()
    for key, row in by_report(newest).items():
        assert by_report(latest)[key].NetProfit == row.NetProfit


def test_single_quarters_and_trailing_year_add_up(terminal):
    quarters = earnings.is_indu_q(TARGETS, begin_date=20220101, end_date=20221231)
    annual = earnings.is_indu_latest(TARGETS, report_type=("A",), begin_date=20221231, end_date=20221231)
    totals = quarters.groupby("Code")["Revenue"].sum()
    for row in annual.itertuples():
        assert totals[row.Code] == pytest.approx(row.Revenue)
    ttm = earnings.is_indu_ttm_pit(TARGETS, is_new=[1], begin_date=20221231, end_date=20221231)
    assert by_report(ttm).keys() == by_report(annual).keys()
    for key, row in by_report(annual).items():
        assert by_report(ttm)[key].Revenue == pytest.approx(row.Revenue)


@pytest.mark.parametrize(
    "kwargs,holds",
    [
        ({"is_new": [0]}, lambda f: (f.IsNew == 0).all() and (f.ReportType == "A").all()),
        ({"is_calc": (0,)}, lambda f: (f.ReportType == "Q1").all()),
        ({"report_type": ["S1", "Q3"]}, lambda f: set(f.ReportType) == {"S1", "Q3"}),
        ({"publish_date_begin": 20220101, "publish_date_end": "2022-06-01"},
         lambda f: f.PublishDate.between(20220101, 20220601).all()),
    ],
)
def test_selections_filter_the_rows(terminal, kwargs, holds):
    frame = earnings.is_secu_q_pit(TARGETS, **kwargs)
    assert len(frame) > 0 and holds(frame)


def test_float_dates_select_events(terminal):
    every = restricted.equ_shares_float(TARGETS)
    cut = int(sorted(every.FloatDate)[len(every) // 2])
    later = restricted.equ_shares_float(TARGETS, float_date_begin=str(cut))
    assert 0 < len(later) < len(every) and (later.FloatDate >= cut).all()
    assert (every.PublishDate < every.FloatDate).all()


def test_same_arguments_same_rows_for_sibling_queries(terminal):
    share = restricted.equ_share_float(TARGETS)
    reform = restricted.equ_reform_float(TARGETS)
    assert len(share) and len(reform)
    assert [name for _, (_, name, _) in terminal.sent] == ["equ_share_float", "equ_reform_float"]
    assert terminal.sent[0][1][2] == terminal.sent[1][1][2]


def test_every_query_is_served(terminal, query):
    frame = query.func(TARGETS)
    assert len(frame) > 0 and {"Market", "Code"} <= set(frame.columns)
    assert last_request(terminal)[0] == query.name
