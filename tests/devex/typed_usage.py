"""Typed strategy helpers built on the compiled modules: mypy checks them against the shipped
stubs, and test_typing runs them on the simulated terminal."""
from typing import Dict, List, Optional

import numpy as np

from velmoro.api.bpfactor import _factors
from velmoro.api.fundamental.company import restricted
from velmoro.api.fundamental.fdmt import earnings, ledger
from velmoro.realtrade.runtypes import LoopStatus, RealRunTimeContext
from velmoro.tframe.comm import vmcmd

TARGETS: List[Dict[str, str]] = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}]


def index_members(date: int) -> List[str]:
    return [str(member.Code) for member in vmcmd.vmSendCmdGetCodeList("Index", date)]


def bar_files(begin: int, end: int) -> List[str]:
    return vmcmd.vmSendCmdGetKData(TARGETS, "day", 1, begin, end, 0, "NA", False)


def log_line(task_id: np.int64, line: str) -> None:
    vmcmd.vmSendCmdPutLog(task_id, line)


def mean_momentum(begin: int, end: int) -> Dict[str, float]:
    series = _factors.get_factor_by_factor("momentum_5d", TARGETS, begin, end)
    return {key: float(np.nanmean(values)) for key, values in series.items() if key != "date"}


def first_target_factors(begin: int, end: int) -> Optional[List[str]]:
    found = _factors.get_factor_by_code(["momentum_5d", "turnover"], TARGETS, begin, end)
    return None if found is None else list(found)


def statement_rows() -> Dict[str, int]:
    return {
        "earnings": len(earnings.is_pit(TARGETS, report_type=["A"], begin_date="2021-01-01", field=("NetProfit",))),
        "ledger": len(ledger.ledger_latest(TARGETS, publish_date_end=20221231)),
        "restricted": len(restricted.equ_shares_float(TARGETS, float_date_begin="20210101")),
    }


def break_verdict(detail: str) -> Optional[str]:
    context = RealRunTimeContext()
    context.loop_status.op_break = detail
    status: LoopStatus = context.loop_status
    return str(status.detail) if status.op_break else None
