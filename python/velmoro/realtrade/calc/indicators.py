"""The user's indicators of a live run, one value per target and refresh
position, kept in `cnt.vr.g_VelmoroUserIndices` (name -> UserIndicator)."""
import numpy as np

import velmoro.tframe.runtypesbase as cnt
from velmoro.realtrade.calc.layout import QUANTITIES, extend_last_axis
from velmoro.tframe.runtypesbase import gv

__all__ = ["UserIndicator", "update_user_calc_indices", "expand_user_calc_indices", "own_closes"]


class UserIndicator:
    """A user indicator: `func(closes)` gives one value per target from the
    closes of the run's own bars (targets x bars, oldest first) up to the
    bar current at a refresh position. `values` holds targets x positions."""

    def __init__(self, name, func, n_targets, n_positions=0):
        self.name = name
        self.func = func
        self.values = np.full((n_targets, n_positions), np.nan)

    def __repr__(self):
        return "UserIndicator({!r}, {} positions)".format(self.name, self.values.shape[1])


def _own_record():
    info = cnt.vr.g_VelmoroInputInfo
    kdata_list = cnt.vr.g_VelmoroKDataList
    return kdata_list[kdata_list.find_pos(info.KFrequencyI, info.KFreNum)]


def own_closes(kdata):
    """The close rows of a bar record, one per target: a read-only view, so
    that an indicator can neither pay for a copy nor change the bars."""
    closes = kdata.Matrix[gv.KMatrixPos_Open + QUANTITIES.index("Close") :: len(QUANTITIES)]
    closes.flags.writeable = False
    return closes


def update_user_calc_indices(begin, length):
    """Recalculate every user indicator at the `length` refresh positions from `begin` on."""
    if not cnt.vr.g_VelmoroUserIndices:
        return
    own = _own_record()
    closes = own_closes(own)
    for indicator in cnt.vr.g_VelmoroUserIndices.values():
        end = min(int(begin) + int(length), indicator.values.shape[1], own.CurrentBar.size)
        for pos in range(max(int(begin), 0), end):
            col = int(own.CurrentBar[pos])
            if col >= 0:
                indicator.values[:, pos] = indicator.func(closes[:, : col + 1])


def expand_user_calc_indices(expend_fresh_bar_tl):
    """Give every user indicator a position (NaN) for each new refresh time."""
    for indicator in cnt.vr.g_VelmoroUserIndices.values():
        indicator.values = extend_last_axis(indicator.values, np.size(expend_fresh_bar_tl))
