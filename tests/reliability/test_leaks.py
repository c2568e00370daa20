"""Every public callable, called again and again on its success and error
paths, keeps the reference counts of what it is given and returns, and
its memory, where they were (tools/leakcheck repeats this for longer)."""
from harness import cases, leaks


def test_repeated_calls_leak_nothing(sandbox):
    report = leaks.run(leaks.groups_of(cases.all_cases(sandbox)), rounds=900, samples=3, warm=300)
    assert report.ok_cases > report.callables / 2
    assert report.changed_outcomes == []
    assert report.refcount_changes == []
    assert report.held_results == []
    # caches and free lists settle; a leak of one small object per call of
    # every case would grow several times this over the last third
    assert report.growth(report.traced, part=1 / 3) < 32, report.summary()
    assert report.growth(report.traced) < 256, report.summary()
