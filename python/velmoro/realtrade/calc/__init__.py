"""Refresh calculations of the live refresh loop: the terminal's pushes,
the time line, bar, factor and indicator matrices of a live run.

Everything public here is what the loop binds with a wildcard import.
"""
from velmoro.realtrade.calc import bars, factors, indicators, layout, push, timeline
from velmoro.realtrade.calc.bars import *  # noqa: F401,F403
from velmoro.realtrade.calc.factors import *  # noqa: F401,F403
from velmoro.realtrade.calc.indicators import *  # noqa: F401,F403
from velmoro.realtrade.calc.layout import *  # noqa: F401,F403
from velmoro.realtrade.calc.push import *  # noqa: F401,F403
from velmoro.realtrade.calc.timeline import *  # noqa: F401,F403
from velmoro.tframe.ufuncs import todotmc
from velmoro.tframe.utils.logger import write_log
from velmoro.tframe.utils.utilcls import DotDict

__all__ = (
    push.__all__
    + timeline.__all__
    + bars.__all__
    + factors.__all__
    + indicators.__all__
    + layout.__all__
    + ["todotmc", "write_log", "DotDict"]
)
