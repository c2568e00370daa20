"""Prices and their adjustment factors: adjusted sources stored as raw
prices, and the store served as a request's or the terminal's fq asks, on a
2-for-1 split (factor 1 -> 2 on the third day), computed by hand."""
import numpy as np
import pandas as pd
import pytest
import scipy.io

from velmoro.data.ingest import ImportOptions, SourceError, import_sources
from velmoro.simterm import Terminal
from velmoro.simterm.stored import StoreDataset
from velmoro.tframe.utils.utilcls import DotDict

DAYS = ["20240102", "20240103", "20240104", "20240105"]
RAW = np.array([10.0, 10.2, 5.2, 5.3])
FACTOR = np.array([1.0, 1.0, 2.0, 2.0])
# fq -> the closes served
SERVED = {"none": RAW, "backward": RAW * FACTOR, "forward": RAW * FACTOR / 2}


def _import(tmp_path, adjusted="none", factor=True):
    prices = SERVED[adjusted]
    frame = pd.DataFrame({"date": DAYS, "open": prices, "high": prices * 1.01, "low": prices * 0.99,
                          "close": prices, "volume": 100.0})
    if factor:
        frame["adj_factor"] = FACTOR
    frame.to_csv(tmp_path / "600000.SH.csv", index=False)
    return import_sources(str(tmp_path / "s"), [str(tmp_path / "600000.SH.csv")], ImportOptions(adjusted=adjusted))


@pytest.mark.parametrize("adjusted", sorted(SERVED))
def test_an_adjusted_source_is_stored_as_raw_prices_and_its_split_is_no_jump(tmp_path, adjusted):
    rows, found = _import(tmp_path, adjusted)
    assert rows == {"day": 4} and [f.check for f in found] == ["no amount column"]
    served = StoreDataset(str(tmp_path / "s"))
    bars = served.bars(served.security("sse", "600000"), "day")
    np.testing.assert_allclose(bars["Close"], RAW)
    np.testing.assert_allclose(bars["High"], RAW * 1.01)


def test_adjusted_prices_without_factors_are_refused_in_one_line(tmp_path):
    with pytest.raises(SourceError, match="--adjusted forward and 4 rows without a positive factor") as err:
        _import(tmp_path, "forward", factor=False)
    assert "\n" not in str(err.value) and not (tmp_path / "s").exists()


@pytest.mark.parametrize("fq", sorted(SERVED))
def test_the_store_is_served_as_the_fq_asks(tmp_path, fq):
    _import(tmp_path)
    data = StoreDataset(str(tmp_path / "s"), fq)
    sec = data.security("sse", "600000")
    for freq in ("day", "min"):  # day bars, and the minutes the replay pushes
        closes = data.bars(sec, freq)["Close"].reshape(len(DAYS), -1)[:, -1]
        np.testing.assert_allclose(closes, SERVED[fq], err_msg=freq)
    np.testing.assert_allclose(data.day_bars(20240104)["Volume"].sum(), 100.0)  # volumes as stored
    # a bar-file request's FQ, whatever the terminal's own
    term = Terminal(StoreDataset(str(tmp_path / "s")), result_dir=str(tmp_path / "files"))
    request = DotDict(MarketCode=[DotDict(Market="sse", Code="600000")], KFrequency="day", KFreNum=1, BeginDate=0,
                      EndDate=0, FilledUp=0, FQ={"none": "NA"}.get(fq, fq), NoReturn=False)
    answer = term.handle("GetKData", (request,))
    np.testing.assert_allclose(scipy.io.loadmat(answer.listPaths[0])["Close"].ravel(), SERVED[fq])
