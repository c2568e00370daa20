"""The simulated terminal's factor commands, and the queries end to end through
the command channel."""
import numpy as np
import pytest

from velmoro.simterm import Dataset, Terminal
from velmoro.simterm.factors import FACTORS, factor_series
from velmoro.tframe.language.chinese import text
from velmoro.tframe.utils.utilfunc import load_mat
from velmoro.tframe.utils.utilcls import DotDict

SSE = DotDict(Market="sse", Code="600000")
SZSE = DotDict(Market="szse", Code="000001")
UNKNOWN = DotDict(Market="sse", Code="999999")
DAYS = 8  # 2024-01-02 .. 2024-01-11, weekdays


@pytest.fixture
def term(tmp_path):
    return Terminal(Dataset(days=DAYS), result_dir=str(tmp_path))


def fetch(term, factor, targets, begin, end, before=0):
    answer = term.handle("GetFactor", (factor, targets, begin, end, before))
    assert answer.result.errLevel == 0, answer.result
    return load_mat(answer.wstrFilePath, error="raise")


@pytest.mark.parametrize(
    "begin, end, before, days",
    [
        (20240102, 20240111, 0, list(range(8))),
        (20240104, 20240105, 0, [2, 3]),
        # days before count calendar days: the weekend holds no trading day
        (20240108, 20240108, 2, [4]),
        (20240108, 20240108, 3, [3, 4]),
        (0, 0, 5, list(range(8))),
        ("2024-01-10", "", 0, [6, 7]),
        (20240106, 20240107, 0, []),
    ],
)
def test_get_factor_covers_the_trading_days_of_the_window(term, begin, end, before, days):
    data = fetch(term, "momentum_5d", [SSE, UNKNOWN, SZSE], begin, end, before)
    assert sorted(data) == ["Date", "bp_sse_600000", "bp_szse_000001"]
    assert data["Date"].shape == (1, len(days))
    trading = term.data.trading_days
    np.testing.assert_array_equal(data["Date"].ravel(), [term.data.day_time(trading[i]) for i in days])
    for sec, name in ((term.data.securities[0], "bp_sse_600000"), (term.data.securities[2], "bp_szse_000001")):
        # a window reads the series computed over the whole history
        np.testing.assert_array_equal(data[name].ravel(), factor_series(term.data, "momentum_5d", sec)[days])


@pytest.mark.parametrize("factor", sorted(FACTORS))
def test_factors_are_deterministic_day_bar_values(tmp_path, factor):
    terminals = (Terminal(Dataset(days=DAYS), result_dir=str(tmp_path / n)) for n in "ab")
    first, second = (fetch(t, factor, [SSE], 0, 0) for t in terminals)
    np.testing.assert_array_equal(first["bp_sse_600000"], second["bp_sse_600000"])
    values = first["bp_sse_600000"].ravel()
    # only the first day of the volatility lacks a return to measure
    assert np.isnan(values).tolist() == [factor == "volatility_20d"] + [False] * (DAYS - 1)
    assert len(set(values[1:].tolist())) > 1


@pytest.mark.parametrize(
    "command, args",
    [
        ("AskFactor", ("no_such_factor", [SSE], 20240102, 20240103, 0)),
        ("GetFactor", ("no_such_factor", [SSE], 20240102, 20240103, 0)),
        ("GetFactor", ("turnover", [SSE], "not a date", 20240103, 0)),
    ],
)
def test_bad_requests_answer_errors(term, command, args):
    assert term.handle(command, args).result.errLevel == 1


def test_ask_factor_answers_a_status(term):
    assert term.handle("AskFactor", ("turnover", [SSE], 20240102, 20240103, 0)).result.errLevel == 0


def test_queries_end_to_end(terminal, monkeypatch):
    import velmoro.tframe.runtypesbase as cnt
    from velmoro.api.bpfactor import _factors
    from velmoro.tframe.utils.exceptions import VmReturnError

    run = cnt.SystemBaseVar()
    run.g_VelmoroModeTaskId = 9
    monkeypatch.setattr(cnt, "vr", run)
    targets = [dict(SSE), dict(UNKNOWN), dict(SZSE)]
    days = terminal.data.trading_days

    by_factor = _factors.get_factor_by_factor("turnover", targets, days[0], days[-1])
    assert list(by_factor) == ["SSE.600000", "SZSE.000001", "date"]
    expected = factor_series(terminal.data, "turnover", terminal.data.securities[0])
    np.testing.assert_array_equal(by_factor["SSE.600000"], expected)
    assert [c for c, _ in terminal.sent] == ["PutLog", "AskFactor", "GetFactor"]
    line = text.LOG_PREPARE_FACTORDATA.format(ITEMNAME="turnover", MARKET="sse", CODE="600000", MARKET2="szse", CODE2="000001")
    assert terminal.sent[0][1] == (9, line)
    assert terminal.log == [line]

    by_code = _factors.get_factor_by_code(["momentum_5d", "turnover"], targets, days[0], days[-1])
    assert [d.date() for d in by_code["date"]] == [Dataset.day_start(d).date() for d in days]
    np.testing.assert_array_equal(by_code["turnover"], expected)

    by_day = _factors.get_factor_by_day(["turnover", "volatility_20d"], targets, days[1])
    assert by_day["code"] == ["SSE.600000", "SSE.999999", "SZSE.000001"]
    assert by_day["turnover"][:2] == [expected[1], None]

    with pytest.raises(VmReturnError):
        _factors.get_factor_by_factor("no_such_factor", targets, days[0], days[-1])


@pytest.mark.parametrize("factor", sorted(FACTORS))
@pytest.mark.parametrize("stored", [False, True])
def test_a_query_over_many_securities_gives_each_its_own_series(tmp_path, factor, stored):
    """All covered securities' day bars are made together: each series equals
    the one its security gives alone (the generated market and a store of it)."""
    data = Dataset(days=DAYS)
    if stored:
        from velmoro.simterm.stored import StoreDataset, write_generated

        write_generated(str(tmp_path / "s"), data)
        data = StoreDataset(str(tmp_path / "s"))
    term = Terminal(data, result_dir=str(tmp_path))
    got = fetch(term, factor, [DotDict(Market=s.market, Code=s.code) for s in data.securities], 0, 0)
    for sec in data.securities:
        np.testing.assert_array_equal(got["bp_{}_{}".format(sec.market, sec.code)].ravel(),
                                      factor_series(data, factor, sec))
