"""The strategy's cross-sectional access on a replayed live run: current
bars, windows, positions and target indexes against the terminal's dataset."""
import numpy as np
import pytest

from velmoro.api import market
from velmoro.realtrade.runner import run_live
from velmoro.simterm.replay import Replay

TARGETS = [{"Market": "sse", "Code": "600000"}, {"Market": "szse", "Code": "000001"}, {"Market": "sse", "Code": "600519"}]


def test_handlers_read_every_target_as_arrays(terminal):
    days = terminal.data.trading_days
    Replay(terminal, TARGETS, days[1:2])
    seen = []

    def on_data(ctx):
        bar = market.current_bar()
        seen.append((market.position(), ctx._internal_bar_num, np.column_stack(bar), market.window("close", 3).copy()))
        with pytest.raises(ValueError):
            bar.close[0] = 0.0

    run_live(TARGETS, on_data, begin_date=days[0], end_date=days[0])
    minutes = [terminal.data.bars(terminal.data.security(t["Market"], t["Code"]), "min", days[0], days[1])
               for t in TARGETS]
    expected = np.stack([[m[q] for q in market.QUANTITIES] for m in minutes])  # targets x quantities x bars
    assert [s[0] for s in seen] == [s[1] for s in seen] == list(range(240, 480))
    for pos, _, bar, window in seen:
        np.testing.assert_array_equal(bar, expected[:, :, pos])
        np.testing.assert_array_equal(window, expected[:, 3, pos - 2 : pos + 1])


@pytest.mark.parametrize("key, index", [("SSE.600000", 0), ("szse.000001", 1), ("Sse.600519", 2)])
def test_targets_are_found_by_market_and_code(terminal, key, index):
    days = terminal.data.trading_days
    Replay(terminal, TARGETS, days[1:2])
    found = []
    run_live(TARGETS, lambda ctx: found.append(market.target_index(key)), begin_date=days[0], end_date=days[0])
    assert set(found) == {index}


def test_misuse_is_one_clear_error(terminal):
    days = terminal.data.trading_days
    Replay(terminal, TARGETS, days[1:2])
    errors = []

    def on_data(ctx):
        for call, error in [(lambda: market.target_index("SZSE.999999"), KeyError),
                            (lambda: market.window("Spread", 2), ValueError), (lambda: market.window("Close", 0), ValueError)]:
            with pytest.raises(error) as caught:
                call()
            errors.append(str(caught.value))
        errors.append(market.window("Volume", 10_000).shape == (3, market.position() + 1))

    run_live(TARGETS, on_data, begin_date=days[0], end_date=days[0])
    assert "not among the run's 3 targets" in errors[0] and "one of Open" in errors[1]
    # a window longer than the run holds what there is
    assert errors[3] is True
