"""Every public callable, called again and again on its success and error
paths, keeps the reference counts of what it is given and returns, and
its memory, where they were (tools/leakcheck repeats this for longer)."""
from harness import cases, leaks


def test_repeated_calls_leak_nothing(sandbox):
    report = leaks.run(cases.all_cases(sandbox), rounds=900, samples=3, warm=300)
    assert report.ok_cases > report.callables / 2
    assert report.changed_outcomes == []
    assert report.refcount_changes == []
    assert report.held_results == []
    # a leak of one small object per call of one case would be several times this
    assert report.growth(report.traced) < 48, report.summary()
