"""The fundamental-data convertor: request text, result file, data frame."""
import json
import types

import numpy as np
import pandas as pd
import pytest
import scipy.io

from velmoro.api.fundamental import convertor
from velmoro.simterm.fundamental import table_variables
from velmoro.tframe.utils.utilcls import DotDict


def test_request_text_keeps_order_and_encodes_every_value():
    params = {
        "target_list": [DotDict(Market="sse", Code="600000"), {"Market": "szse", "Code": "000001"}],
        "report_type": ("A", "Q1"),
        "begin_date": np.int64(20200101),
        "end_date": 99991231,
        "field": [],
    }
    text = convertor.encode_params(params)
    assert list(json.loads(text)) == list(params)
    assert json.loads(text) == {
        "target_list": [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}],
        "report_type": ["A", "Q1"],
        "begin_date": 20200101,
        "end_date": 99991231,
        "field": [],
    }
    with pytest.raises(TypeError, match="cannot send"):
        convertor.encode_params({"field": [object()]})


def test_get_fundamental_info_sends_name_and_text_and_loads_the_file(tmp_path, monkeypatch):
    path = str(tmp_path / "answer.mat")
    scipy.io.savemat(path, table_variables(["Code", "EndDate"], [{"Code": "600000", "EndDate": 20201231}]))
    sent = []

    def send(*args):
        sent.append(args)
        return path

    monkeypatch.setattr(convertor, "vmcmd", types.SimpleNamespace(vmSendCmdGetFdmt=send))
    raw = convertor.get_fundamental_info(params={"target_list": [], "field": ("Code",)}, func_name="is_q")
    assert sent == [("en", "is_q", '{"target_list": [], "field": ["Code"]}')]
    frame = convertor.convert_fundamental_to_df(raw)
    assert frame.to_dict("list") == {"Code": ["600000"], "EndDate": [20201231]}


def test_get_fundamental_info_raises_when_the_file_cannot_be_read(tmp_path, monkeypatch):
    missing = str(tmp_path / "missing.mat")
    monkeypatch.setattr(convertor, "vmcmd", types.SimpleNamespace(vmSendCmdGetFdmt=lambda *a: missing))
    with pytest.raises(OSError):
        convertor.get_fundamental_info(params={}, func_name="is_q")


def frame_of(tmp_path, columns, rows):
    path = str(tmp_path / "t.mat")
    scipy.io.savemat(path, table_variables(columns, rows))
    return convertor.convert_fundamental_to_df(scipy.io.loadmat(path))


@pytest.mark.parametrize("rows", [1, 0], ids=["rows", "empty"])
def test_column_types_survive_the_file(tmp_path, rows):
    row = {"Market": "sse", "HolderName": "", "EndDate": 20201231, "IsNew": 1, "NetProfit": float("nan")}
    frame = frame_of(tmp_path, list(row), [row] * rows)
    assert list(frame.columns) == list(row) and len(frame) == rows
    assert frame.dtypes.to_dict() == {
        "Market": np.dtype(object),
        "HolderName": np.dtype(object),
        "EndDate": np.dtype(np.int64),
        "IsNew": np.dtype(np.int64),
        "NetProfit": np.dtype(np.float64),
    }
    if rows:
        assert frame.loc[0, "HolderName"] == "" and np.isnan(frame.loc[0, "NetProfit"])


def cells(*items):
    """A cell row, as a MAT file loads one."""
    row = np.empty((1, len(items)), dtype=object)
    for i, item in enumerate(items):
        row[0, i] = item
    return row


def test_character_matrix_and_logical_columns():
    raw = {
        "Fields": cells("Code", "Flag"),
        "Columns": cells(np.array(["600000", "1     "]), np.array([[True, False]])),
    }
    frame = convertor.convert_fundamental_to_df(raw)
    assert frame["Code"].tolist() == ["600000", "1"] and frame["Flag"].dtype == bool


@pytest.mark.parametrize(
    "raw,problem",
    [
        ({"Fields": cells("A", "B"), "Columns": cells(np.zeros((1, 2)))}, "2 fields but 1 columns"),
        ({"Fields": cells("A", "B"), "Columns": cells(np.zeros((1, 2)), np.zeros((1, 3)))}, "differ in length"),
    ],
)
def test_inconsistent_answers_are_refused(raw, problem):
    with pytest.raises(ValueError, match=problem):
        convertor.convert_fundamental_to_df(raw)


def test_duplicate_field_names_and_no_fields():
    raw = {
        "Fields": cells("A", "A"),
        "Columns": cells(np.array([[1.0]]), np.array([[2.0]])),
    }
    assert convertor.convert_fundamental_to_df(raw).values.tolist() == [[1.0, 2.0]]
    assert convertor.convert_fundamental_to_df({}).equals(pd.DataFrame())
