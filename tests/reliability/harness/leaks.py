"""Repeats the cases many times and measures what could grow: reference
counts of the objects passed and returned, memory traced by tracemalloc,
the process's resident memory and, on a debug interpreter, the total
reference count."""
import contextlib
import gc
import logging
import resource
import sys
import time
import tracemalloc


def rss_kib():
    """Resident memory of this process (Linux)."""
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    return pages * resource.getpagesize() // 1024


def total_refs():
    """sys.gettotalrefcount() on a debug interpreter, else None."""
    counter = getattr(sys, "gettotalrefcount", None)
    return counter() if counter else None


class Report:
    def __init__(self):
        self.rounds = 0
        self.calls = 0
        self.callables = 0
        self.cases = 0
        self.ok_cases = 0
        self.changed_outcomes = []  # labels whose outcome differed between two runs
        self.refcount_changes = []  # (label, object type, before, after)
        self.held_results = []  # labels whose fresh result is referenced elsewhere
        self.traced = []  # (round, traced KiB)
        self.rss = []  # (round, RSS KiB)
        self.total_refs = []  # (round, sys.gettotalrefcount()), debug interpreter only
        self.growth_sites = []  # where traced memory grew most between the first and last sample

    def growth(self, series, part=1.0):
        """Growth over the last `part` of a series (the whole by default): the
        interpreter's caches and free lists fill ever more slowly, a leak
        grows as fast at the end as at the start."""
        if len(series) < 2:
            return 0
        first = min(int(round((len(series) - 1) * (1.0 - part))), len(series) - 2)
        return series[-1][1] - series[first][1]

    def summary(self):
        lines = [
            "{} rounds, {} calls of {} callables in {} cases ({} on a success path)".format(
                self.rounds, self.calls, self.callables, self.cases, self.ok_cases
            ),
            "traced memory (KiB) by round: " + ", ".join("{}:{}".format(r, v) for r, v in self.traced),
            "RSS (KiB) by round: " + ", ".join("{}:{}".format(r, v) for r, v in self.rss),
        ]
        if self.total_refs:
            lines.append("total refcount by round: " + ", ".join("{}:{}".format(r, v) for r, v in self.total_refs))
        for what in ("changed_outcomes", "refcount_changes", "held_results", "growth_sites"):
            for item in getattr(self, what):
                lines.append("{}: {}".format(what, item))
        return "\n".join(lines)


def reference_deltas(cases, calls=20):
    """On a debug interpreter: (label, references gained per call) of every
    case that does not give back all the references it takes."""
    out = []
    with logging_off():
        for case in cases:
            for _ in range(3):
                _quiet(case)
            gc.collect()
            before = sys.gettotalrefcount()
            for _ in range(calls):
                _quiet(case)
            gc.collect()
            delta = (sys.gettotalrefcount() - before) / calls
            if abs(delta) >= 0.5:
                out.append((case.label, delta))
    return out


def _quiet(case):
    try:
        case()
    except Exception:  # outcomes are compared elsewhere
        pass


def groups_of(cases):
    """Cases grouped by the callable they call (label before the '/')."""
    groups = {}
    for case in cases:
        groups.setdefault(case.label.split("/")[0], []).append(case)
    return list(groups.values())


def _fresh_result_is_ours(case):
    """True unless a new object returned by the case is referenced elsewhere
    (a leaked or kept reference). Shared results (the same object every call,
    such as a payload handed through) are checked by their counts instead."""
    try:
        first = case()
        second = case()
    except Exception:
        return True, None
    if isinstance(second, (int, float, str, bool, type(None), type)):
        return True, None  # immutable and shared by the whole interpreter
    if first is second:
        return True, second
    del first
    return sys.getrefcount(second) <= 2, None


@contextlib.contextmanager
def logging_off():
    """The framework's log lines, written by most calls, are neither shown nor kept."""
    previous = logging.root.manager.disable
    logging.disable(logging.CRITICAL)
    try:
        yield
    finally:
        logging.disable(previous)


def balance(groups, n):
    """Shares out the groups among n processes by the time their calls take
    (longest first, each to the least loaded share): lists of group indexes."""
    cost = []
    with logging_off():
        for group in groups:
            for case in group:  # caches and lazy imports first
                _quiet(case)
            started = time.perf_counter()
            for case in group:
                _quiet(case)
            cost.append((time.perf_counter() - started) / len(group))
    shares = [[] for _ in range(n)]
    load = [0.0] * n
    for i in sorted(range(len(groups)), key=lambda i: -cost[i]):
        k = load.index(min(load))
        shares[k].append(i)
        load[k] += cost[i]
    return [sorted(share) for share in shares]


def run(groups, rounds, samples=10, warm=None):
    """Round r calls, for every callable (a group of cases), its case r
    modulo the number of its cases; tracing starts after `warm` rounds (a
    tenth by default), when the interpreter's caches and free lists are
    filled."""
    report = Report()
    cases = [case for group in groups for case in group]
    report.callables = len(groups)
    report.cases = len(cases)
    with logging_off():
        first = [case.outcome() for case in cases]
        second = [case.outcome() for case in cases]
        report.changed_outcomes = [c.label for c, a, b in zip(cases, first, second) if a != b]
        report.ok_cases = sum(1 for o in second if o[0] == "ok")
        shared = []
        for case in cases:
            ours, same = _fresh_result_is_ours(case)
            if not ours:
                report.held_results.append(case.label)
            if same is not None:
                shared.append((case.label, same))
        tracked = [(c.label, o) for c in cases for o in c.objects()] + shared
        warm = warm or max(rounds // 10, 1)
        step = max((rounds - warm) // samples, 1)

        def one_round(r):
            for group in groups:
                _quiet(group[r % len(group)])

        for r in range(warm):
            one_round(r)
        gc.collect()
        before = [sys.getrefcount(o) for _, o in tracked]
        tracemalloc.start(SITE_FRAMES)
        first_snapshot = None
        for r in range(warm, rounds):
            if (r - warm) % step == 0:
                first_snapshot = first_snapshot or tracemalloc.take_snapshot()
                _sample(report, r)
            one_round(r)
        _sample(report, rounds)
        report.growth_sites = _sites(tracemalloc.take_snapshot().compare_to(first_snapshot, "traceback"))
        tracemalloc.stop()
        gc.collect()
        after = [sys.getrefcount(o) for _, o in tracked]
        report.refcount_changes = [
            (label, type(o).__name__, b, a) for (label, o), b, a in zip(tracked, before, after) if a != b
        ]
        report.rounds = rounds
        report.calls = 2 * len(cases) * 2 + rounds * len(groups)
    return report


SITE_FRAMES = 2  # each traced frame costs: two tell a native call from its callees


def _sites(stats, count=3):
    """The largest growths, each with the Python frames that allocated."""
    out = []
    for stat in [s for s in stats if s.size_diff > 0][:count]:
        frames = " <- ".join("{}:{}".format(f.filename.rsplit("/", 1)[-1], f.lineno) for f in stat.traceback)
        out.append("+{} B in {} blocks at {}".format(stat.size_diff, stat.count_diff, frames))
    return out


def _sample(report, r):
    gc.collect()
    report.traced.append((r, tracemalloc.get_traced_memory()[0] // 1024))
    report.rss.append((r, rss_kib()))
    refs = total_refs()
    if refs is not None:
        report.total_refs.append((r, refs))
