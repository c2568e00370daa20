"""The live environment against the simulated terminal, end to end."""
import datetime as dt

from velmoro.tframe.runtypesbase import gv
from velmoro.tframe.utils.datetimefunc import mft_to_datetime

SUGAR = {"Market": "czce", "Code": "SR888"}
STOCK = {"Market": "sse", "Code": "600000"}


def test_main_contracts_from_the_terminal(terminal, run):
    var, env = run
    records, positions = env.collect_contracts([SUGAR, STOCK], 20240102, 20240110)
    # a continuous future resolves to its main contract; a stock lists only itself
    assert records == [{"Market": "CZCE", "Code": "SR405"}, STOCK]
    assert positions == {"CZCE.SR405": 0, "SSE.600000": 1}
    assert [c for c, _ in terminal.sent] == ["GetTargetIns_20190830"] * 2


def test_trading_time_line_from_the_terminal_and_its_extension(terminal, run):
    var, env = run
    var.g_VelmoroInputInfo.update(TargetList=[STOCK], KFrequency="day", KFrequencyI=gv.KFreq_Day, KFreNum=1,
                                  BeginDate=20240102)
    line = env.get_all_trading_time()
    year = dt.date.today().year
    assert mft_to_datetime(line[0]) == dt.datetime(2024, 1, 2, 15)
    assert mft_to_datetime(line[-1]).date() <= dt.date(year, 12, 31)
    assert mft_to_datetime(line[-1]).date() > dt.date(year, 12, 24)

    longer = env.get_all_trading_time(line[-1])
    assert longer[0] == line[-1]
    assert mft_to_datetime(longer[-1]).date() > dt.date(year + 1, 12, 24)
    assert var.g_VelmoroCache.get_cache("1day_att") is longer
    assert [c for c, _ in terminal.sent] == ["GetTradingTime"] * 2
