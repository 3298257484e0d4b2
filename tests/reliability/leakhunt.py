"""A pytest plugin that hunts reference and memory leaks the way CPython's
own `regrtest -R` does: the body of every test is run several times in a
row; after the warm-up runs, the change of
`sys.gettotalrefcount()` and `sys.getallocatedblocks()` over each counted
run is recorded, and a test leaks when every counted run grew one of them,
and again every one of twice as many counted runs after that.

Needs a debug interpreter.  Load it with `-p leakhunt` (this folder on the
path) and turn it on with `--leak-runs=WARMUPS:RUNS`, e.g. 3:3.
"""
import gc
import sys

import pytest

_hunt = None


def pytest_addoption(parser):
    parser.addoption("--leak-runs", default=None, metavar="WARMUPS:RUNS",
                     help="repeat every test, counting leaks after the warm-up runs")


def pytest_configure(config):
    global _hunt
    spec = config.getoption("--leak-runs")
    if spec is None:
        return
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError("--leak-runs needs a debug interpreter")
    warmups, runs = (int(x) for x in spec.split(":"))
    _hunt = Hunt(warmups, runs)
    config.pluginmanager.register(_hunt, "leakhunt-state")


def _clear_caches():
    # Caches that grow when the tests run.  Not linecache's, whose refilling
    # by traceback.extract_tb grows the heap a little on every run, for
    # pure-Python exceptions as well.
    #
    # The interpreter's type attribute cache is cleared last, as regrtest
    # does (the collections above may refill it).  Each of its slots, chosen
    # by the type's version and the name's address, holds a reference to the
    # last name looked up there; a name made at run time (the unpickler's
    # global names, getattr with a joined string) stays alive in its slot.
    # Where new names land depends on where the allocator puts them, so such
    # a test grows the heap by a block or so per run until the slots it can
    # reach are filled: for pickling by reference, 3 to 17 runs of 6 loads,
    # varying from process to process.  Cleared, every run starts alike.
    import copyreg
    import re
    re.purge()
    copyreg.clear_extension_cache()
    for _ in range(3):
        gc.collect()
    sys._clear_internal_caches()


def _measure():
    _clear_caches()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


class _Spawns:
    """Counts the child processes started through subprocess."""

    def __init__(self):
        import subprocess
        self.count = 0
        original = subprocess.Popen._execute_child

        def counting(popen, *args, **kwargs):
            self.count += 1
            return original(popen, *args, **kwargs)
        subprocess.Popen._execute_child = counting


class Hunt:
    def __init__(self, warmups, runs):
        self.warmups, self.runs = warmups, runs
        self.tests = 0
        self.leaks = []     # (nodeid, reference deltas, block deltas)
        # Tests whose bodies start child processes: what they check runs
        # in the children, and subprocess itself grows this interpreter's
        # heap by a block or two per child, so they are run once and not
        # judged here.
        self.spawning = []  # nodeids
        self.spawns = _Spawns()

    @pytest.hookimpl(tryfirst=True)
    def pytest_pyfunc_call(self, pyfuncitem):
        # The test body is repeated inside one setup of its fixtures, so
        # that pytest's own bookkeeping of fixture set-ups stays out of the
        # figures; a test that fails when repeated fails as usual.
        function = pyfuncitem.obj
        funcargs = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}

        def counted(warmups, runs, before=None):
            ref_deltas, block_deltas = [], []
            for i in range(warmups + runs):
                function(**funcargs)
                now = _measure()
                if before is not None and i >= warmups:
                    ref_deltas.append(now[0] - before[0])
                    block_deltas.append(now[1] - before[1])
                before = now
            grew = all(d >= 1 for d in ref_deltas) or all(d >= 1 for d in block_deltas)
            return ref_deltas, block_deltas, grew

        # The first run is a warm-up, and tells whether the test starts
        # children.
        spawned = self.spawns.count
        function(**funcargs)
        self.tests += 1
        if self.spawns.count != spawned:
            self.spawning.append(pyfuncitem.nodeid)
            return True
        ref_deltas, block_deltas, grew = counted(max(self.warmups - 1, 0), self.runs, _measure())
        if grew:
            # A leak grows on every run: confirm over twice as many counted
            # runs, so that a cache still filling is not taken for one.
            ref_deltas, block_deltas, grew = counted(1, 2 * self.runs)
        if grew:
            self.leaks.append((pyfuncitem.nodeid, ref_deltas, block_deltas))
        return True

    def pytest_terminal_summary(self, terminalreporter):
        tr = terminalreporter
        tr.section("leak hunt")
        tr.write_line("%d tests, each body run %d times: %d warm-up runs, then %d counted runs" % (
            self.tests - len(self.spawning), self.warmups + self.runs, self.warmups, self.runs))
        for nodeid, refs, blocks in self.leaks:
            tr.write_line("LEAK %s: reference total %s, allocated blocks %s" % (nodeid, refs, blocks))
        tr.write_line("%d tests start child processes: run once, not judged here" % len(self.spawning))
        tr.write_line("leak hunt: %s" % ("FAIL (%d leaking)" % len(self.leaks) if self.leaks
                                         else "PASS"))

    @pytest.hookimpl(trylast=True)
    def pytest_sessionfinish(self, session, exitstatus):
        if self.leaks and session.exitstatus == 0:
            session.exitstatus = 1
