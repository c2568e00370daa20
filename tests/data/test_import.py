"""Importing bars into the market store: each defect of a dirty source
alone and together, what was done with it, and sources that are not market
tables."""
import os
import sqlite3

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.parquet as pq
import pytest

from velmoro.data.ingest import ImportOptions, ImportRefused, SourceError, check_store, import_sources
from velmoro.data.store import MarketStore

HEADER = "Symbol;Date Time;Open;High;Low;Close;Vol;Turnover"
CLEAN = ["600000.SH;2024-01-02 09:31;10;10.1;9.9;10.05;100;1000",
         "600000.SH;2024-01-02 09:32;10.05;10.1;10;10.06;50;500",
         "600000.SH;2024-01-02 09:33;10.06;10.2;10;10.1;10;100",
         "000001.SZ;2024-01-02 09:31;5;5.1;4.9;5;10;50",
         "000001.SZ;2024-01-03 09:31;5;5.1;4.9;5;10;50",
         "600000.SH;2024-01-03 09:31;10.1;10.2;10;10.1;10;100"]
# defect -> (extra rows, the finding's words, its count, rows stored of 6 + extra)
DEFECTS = {
    "nan": (["600000.SH;2024-01-03 09:34;;10.1;10.1;10.1;0;0"], "NaN or negative", 1, 6),
    "negative": (["600000.SH;2024-01-03 09:36;10;10;10;10;-5;0"], "NaN or negative", 1, 6),
    "order": (["600000.SH;2024-01-03 09:38;10;10;10;10;1;1", "600000.SH;2024-01-03 09:37;10;10;10;10;1;1"],
              "out of order", 1, 8),
    "duplicate": (["600000.SH;2024-01-03 09:31;10.05;10.1;10;10.07;60;600"], "duplicated", 1, 6),
    "outside": (["600000.SH;2024-01-03 12:00;10;10;10;10;1;1"], "outside the sessions", 1, 6),
    "partial": (["600000.SH;2024-01-03 09:39:30;10;10.3;10;10.1;5;50",
                 "600000.SH;2024-01-03 09:40;10.1;10.1;10.1;10.1;5;50"], "partial bars", 1, 7),
    "ohlc": (["600000.SH;2024-01-03 09:41;10.1;10.0;10.2;10.1;10;100"], "OHLC out of order", 1, 7),
    "flat": (["600000.SH;2024-01-03 09:42;10.1;10.1;10.1;10.1;0;0"], "zero-volume flat", 1, 7),
    "jump": (["600000.SH;2024-01-04 09:31;13;13;13;13;10;100"], "price jumps", 1, 7),
    "halt": (["000001.SZ;2024-01-05 09:31;5;5;5;5;10;50", "600000.SH;2024-01-04 09:31;10;10;10;10;1;1"],
             "halted days", 1, 8),
}


def write(path, rows, header=HEADER):
    path.write_text("\n".join([header] + rows) + "\n")
    return str(path)


def stored(store, freq="1min"):
    return MarketStore(str(store)).read("bars/" + freq).to_pandas()


def findings_of(findings):
    return {f.check.split(" [")[0]: f for f in findings}


@pytest.mark.parametrize("defect", sorted(DEFECTS))
def test_each_defect_alone_is_found_counted_and_acted_on(tmp_path, defect):
    extra, words, count, kept = DEFECTS[defect]
    rows, found = import_sources(str(tmp_path / "s"), [write(tmp_path / "x.csv", CLEAN + extra)], ImportOptions())
    hits = [f for f in found if words in f.check]
    assert [f.rows for f in hits] == [count] and hits[0].examples and hits[0].action
    assert rows == {"1min": kept} and len(stored(tmp_path / "s")) == kept
    others = [f for f in found if words not in f.check]
    assert not others, others
    # --strict refuses every finding but a halt, and writes nothing
    strict = ImportOptions(strict=True)
    if defect == "halt":
        import_sources(str(tmp_path / "t"), [str(tmp_path / "x.csv")], strict)
    else:
        with pytest.raises(ImportRefused):
            import_sources(str(tmp_path / "t"), [str(tmp_path / "x.csv")], strict)
        assert not (tmp_path / "t").exists()


def test_all_defects_together_and_the_repairs(tmp_path):
    rows = CLEAN + [r for extra, *_ in DEFECTS.values() for r in extra]
    _, found = import_sources(str(tmp_path / "s"), [write(tmp_path / "x.csv", rows[::-1])], ImportOptions())
    checks = " | ".join(f.check for f in found)
    assert all(words in checks for _, words, _, _ in DEFECTS.values()), checks
    bars = stored(tmp_path / "s").set_index(["code", "time"])
    # the partial bar merged into the full one after it: its open, extremes and sums
    merged = bars.loc[("600000", pd.Timestamp("2024-01-03 01:40", tz="UTC"))]
    assert (merged["open"], merged["high"], merged["close"], merged["volume"]) == (10.0, 10.3, 10.1, 10.0)
    assert (bars["high"] >= bars[["open", "close", "low"]].max(axis=1)).all()
    assert not bars.index.duplicated().any()
    # the record lists the source with its checksum and every finding
    record = MarketStore(str(tmp_path / "s")).read("record").to_pandas()
    assert record.loc[record["check"] == "source", "sha256"].str.len().tolist() == [64]
    assert len(record) == 1 + len(found)


def test_appending_keeps_what_is_stored_and_a_reimport_adds_nothing(tmp_path):
    store = str(tmp_path / "s")
    import_sources(store, [write(tmp_path / "a.csv", CLEAN[:3])], ImportOptions())
    first = MarketStore(store).parts("bars/1min")
    rows, found = import_sources(store, [write(tmp_path / "b.csv", CLEAN)], ImportOptions())
    assert rows == {"1min": 3} and findings_of(found)["rows already in the store"].rows == 3
    assert MarketStore(store).parts("bars/1min")[:1] == first and len(stored(store)) == 6
    assert sorted(MarketStore(store).read("calendar").to_pandas()["day"]) == [20240102, 20240102, 20240103, 20240103]
    assert len(check_store(store)) == 0


PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4


@pytest.mark.parametrize("name,content,words", [
    ("chart.png", PNG, "binary"),
    ("empty.csv", b"", "empty"),
    ("blank.csv", b"\n\n", "empty"),
    ("people.csv", b"name,age\nann,3\nbob,4\n", "not a market table"),
    ("header.csv", b"time,open,high,low,close\n", "no rows"),
    ("cut.parquet", None, "not a readable Parquet"),
    ("db.sqlite", b"SQLite format 3\0" + b"\0" * 100, "SQLite"),
])
def test_a_file_that_is_no_market_table_is_one_line_and_the_store_is_unchanged(tmp_path, name, content, words):
    store = str(tmp_path / "s")
    import_sources(store, [write(tmp_path / "a.csv", CLEAN)], ImportOptions())
    before = sorted(os.listdir(store)), MarketStore(store).manifest
    path = tmp_path / name
    if content is None:
        pq.write_table(pa.table({"time": ["2024-01-02 09:31"] * 100, "close": [1.0] * 100}), str(path))
        path.write_bytes(path.read_bytes()[:-40])
    else:
        path.write_bytes(content)
    with pytest.raises(SourceError) as err:
        import_sources(store, [str(tmp_path / "a.csv"), str(path)], ImportOptions())
    message = str(err.value)
    assert str(path) in message and words in message and "\n" not in message
    assert (sorted(os.listdir(store)), MarketStore(store).manifest) == before


def test_an_interrupted_import_leaves_the_store_as_it_was(tmp_path, monkeypatch):
    store = str(tmp_path / "s")
    import_sources(store, [write(tmp_path / "a.csv", CLEAN[:3])], ImportOptions())
    before = MarketStore(store).manifest
    real, calls = pq.write_table, []

    def dies_second(*args, **kwargs):
        calls.append(1)
        if len(calls) == 2:
            raise KeyboardInterrupt
        return real(*args, **kwargs)

    monkeypatch.setattr(pq, "write_table", dies_second)
    with pytest.raises(KeyboardInterrupt):
        import_sources(store, [write(tmp_path / "b.csv", CLEAN)], ImportOptions())
    monkeypatch.setattr(pq, "write_table", real)
    assert MarketStore(store).manifest == before and len(stored(store)) == 3
    # the part written before the stop is unlisted, and gone after the next import
    import_sources(store, [str(tmp_path / "b.csv")], ImportOptions())
    listed = {p for parts in MarketStore(store).manifest["parts"].values() for p in parts}
    on_disk = {os.path.relpath(os.path.join(r, f), store) for r, _, fs in os.walk(store) for f in fs}
    assert on_disk - listed == {"manifest.json"} and len(stored(store)) == 6


def test_sources_of_every_kind_and_shape_give_the_same_bars(tmp_path):
    frame = pd.DataFrame([r.split(";") for r in CLEAN], columns=HEADER.split(";"))
    for c in frame.columns[2:]:
        frame[c] = frame[c].astype(float)
    # a long CSV with another delimiter; one file per security; Parquet; SQLite
    frame.to_csv(tmp_path / "long.tsv", sep="\t", index=False)
    for code, rows in frame.groupby("Symbol"):
        rows.drop(columns="Symbol").to_csv(tmp_path / "{}.csv".format(code), index=False)
    frame.to_parquet(tmp_path / "long.parquet")
    with sqlite3.connect(str(tmp_path / "bars.db")) as db:
        frame.to_sql("bars", db, index=False)
    # times in UTC with their zone, labelled by their start
    shifted = frame.assign(**{"Date Time": (pd.to_datetime(frame["Date Time"]) - pd.Timedelta("8h1min"))
                              .dt.strftime("%Y-%m-%dT%H:%M:%S+00:00")})
    shifted.rename(columns={"Close": "Last", "Vol": "Qty"}).to_csv(tmp_path / "utc.csv", index=False)
    sources = {"long": ([str(tmp_path / "long.tsv")], {}), "files": (
        [str(tmp_path / "600000.SH.csv"), str(tmp_path / "000001.SZ.csv")], {}),
        "parquet": ([str(tmp_path / "long.parquet")], {}), "sqlite": ([str(tmp_path / "bars.db:bars")], {}),
        "utc": ([str(tmp_path / "utc.csv")], {"label": "start", "columns": {"close": "Last", "volume": "Qty"}})}
    results = {}
    for name, (paths, options) in sources.items():
        rows, found = import_sources(str(tmp_path / name), paths, ImportOptions(frequency="1min", **options))
        assert rows == {"1min": 6} and not found, (name, found)
        results[name] = stored(tmp_path / name).sort_values(["code", "time"], ignore_index=True)
    for name, bars in results.items():
        pd.testing.assert_frame_equal(bars, results["long"], obj=name)


@pytest.mark.parametrize("times,freq", [
    (["2024-01-02 09:31", "2024-01-02 09:36"], "5min"),
    (["2024-01-02 10:30", "2024-01-02 11:30"], "60min"),
    ([20240102, 20240103], "day"),
])
def test_the_frequency_comes_from_the_times(tmp_path, times, freq):
    frame = pd.DataFrame({"time": times, "open": 1.0, "high": 1.0, "low": 1.0, "close": 1.0, "volume": 1.0,
                          "code": "600000"})
    frame.to_csv(tmp_path / "x.csv", index=False)
    rows, _ = import_sources(str(tmp_path / "s"), [str(tmp_path / "x.csv")], ImportOptions())
    assert rows == {freq: 2}


def test_check_reports_frequencies_that_disagree_and_halts(tmp_path):
    store = str(tmp_path / "s")
    import_sources(store, [write(tmp_path / "m.csv", CLEAN)], ImportOptions())
    hourly = ["600000.SH;2024-01-02 10:30;10;10.2;9.9;10.1;160;1600"]
    import_sources(store, [write(tmp_path / "h.csv", hourly)], ImportOptions(frequency="60min"))
    found = findings_of(check_store(store))
    missing = found["60min bars missing where 1min bars exist"]
    assert missing.rows == 1 and "20240103" in missing.examples[0]
    assert list(found) == ["60min bars missing where 1min bars exist"]


@pytest.mark.parametrize("name,content,encoding,expected", [
    ("600519.csv", "date,time,open,high,low,close,volume\n2024-01-02,09:31,1,1.1,0.9,1,10\n"
                   "2024-01-02,09:32,1,1.1,0.9,1,10\n", "utf-8", ("1min", "sse", "600519", "2024-01-02 01:32")),
    ("gb.csv", "代码,日期,开盘,最高,最低,收盘,成交量\n000002,20240102,1,1.1,0.9,1,10\n000002,20240103,1,1.1,0.9,1,10\n",
     "gb18030", ("day", "szse", "000002", "2024-01-03 07:00")),
])
def test_split_date_and_time_columns_and_a_gb18030_export(tmp_path, name, content, encoding, expected):
    (tmp_path / name).write_bytes(content.encode(encoding))
    freq, market, code, last = expected
    rows, found = import_sources(str(tmp_path / "s"), [str(tmp_path / name)], ImportOptions())
    assert rows == {freq: 2} and [f.check for f in found] == ["no amount column"]
    bars = stored(tmp_path / "s", freq)
    assert (bars["market"].tolist(), bars["code"].tolist()) == ([market] * 2, [code] * 2)
    assert bars["time"].iloc[-1] == pd.Timestamp(last, tz="UTC") and (bars["amount"] == 10).all()
