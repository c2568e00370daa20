"""Waiting helpers of the link's tests: every wait ends."""
import time

START_TIMEOUT = 20.0


def wait_until(condition, timeout=START_TIMEOUT, step=0.05):
    """Whether `condition()` came true within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def take_pushes(client, count=None, quiet=START_TIMEOUT):
    """Pushes until the stop (or `count` of them); fails after `quiet`
    seconds without one."""
    records = []
    while count is None or len(records) < count:
        record = client.next_push(quiet)
        assert record is not None, "no push for {} s after {}".format(quiet, len(records))
        records.append(record)
        if record.get("stop_run", True):
            break
    return records
