"""Allocation-failure stepping: for each scenario, make every allocation
after the n-th fail (`_testcapi.set_nomemory(n)`) while one operation runs,
for n = 0, 1, 2, ... until the operation runs through untouched.

Every step runs in a child process, so that a crash shows up as a signal or
a fatal error of the interpreter (a failed assertion of the debug build
aborts) in the child and is reported with its n.  Scenarios whose operation
can only run once per process (the import, first reads of the module's own
lazily made values) start a child per step; the others let one child take
consecutive steps and start a new child after the step that brought it
down.  After each step the child checks that the objects still answer as
before, and on a debug interpreter it repeats the step and watches the
reference total and the allocated blocks for a leak.

Usage: python nomem.py [--scenario NAME]... [--max-steps N] [--settled K]
                       [--leak-runs R] [--steps START:STOP[:STRIDE]]
"""
import argparse
import functools
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# A step is complete when the operation gives its normal outcome this many
# times in a row: then no allocation it makes fails any more.
SETTLED = 25
# A child that prints nothing for this long (it prints a line as each step
# starts and ends) counts as hung and is killed.
STEP_TIMEOUT = 60
# What every scenario imports; a child that cannot import them fails before
# its first step, the same way for every n.
MODULES = ("tobrim.key.key", "_runtime_test", "_testcapi")
# A scenario is stepped no further after this many failures: they are
# reported (the first 20), and one fault failing every step, with a child
# per step, would otherwise run for hours.
MAX_FAILURES = 50


# --- scenarios (run in the child) --------------------------------------------

class Scenario:
    """`prepare()` runs once per child and returns the state; `make(state)`
    runs before each step, outside the failure window, and returns the
    operation; `check(state, value)` runs after the hooks are removed and
    returns an error text or None.  `fresh` scenarios need a new process
    per step.  `allowed` names the exception types, besides MemoryError and
    the normal outcome's own, that a failing step may end with."""

    def __init__(self, name, prepare, make, check=None, fresh=None, allowed=(), keeps=False):
        # `fresh` is the normal outcome of the operation, which a scenario
        # that can run only once per process cannot find out for itself.
        self.name, self.prepare, self.make, self.fresh = name, prepare, make, fresh
        self.check = check or (lambda state, value: None)
        self.allowed = set(allowed)
        # The operation keeps what it made by design (no leak check).
        self.keeps = keeps


def _key():
    # The package first, as a program imports it.  When a step failed in
    # the package's own code after the module's import, the module stays in
    # sys.modules and the package does not, and `import tobrim.key.key`
    # alone then fails (as for any package) until the package is imported.
    import tobrim.key  # noqa: F401
    import tobrim.key.key as key
    return key


def _rt():
    import _runtime_test as rt
    return rt


def _calls_still_work(state, value):
    key = _key()
    if key.pressed(65) is not False or key.pressed(key=65) is not False:
        return "pressed(65) no longer answers False"
    try:
        key.pressed("x")
    except TypeError as e:
        tb = e.__traceback__
        while tb.tb_next:
            tb = tb.tb_next
        code = tb.tb_frame.f_code
        if (code.co_filename, code.co_name, tb.tb_lineno) != ("src/tobrim/key/key.pyi", "tobrim.key.key.pressed", 9):
            return "traceback record is %r" % ((code.co_filename, code.co_name, tb.tb_lineno),)
    else:
        return "pressed('x') did not fail"
    return None


def _import_op(state):
    def op():
        import tobrim.key.key as key
        return key.pressed(65)
    return op


def _import_check(state, value):
    # After a failed import the next one must succeed and work.
    try:
        key = _key()
    except BaseException as e:
        return "import after the step failed: %r" % (e,)
    names = sorted(n for n in vars(key) if not n.startswith("_"))
    if names != ["down", "pressed", "pressed_repeat", "released", "up"]:
        return "module namespace is %r" % (names,)
    return _calls_still_work(state, value)


def _call(op):
    return lambda state: op


def _fresh(convention, flags, attribute):
    def make(state):
        f = state.make(convention, flags)
        return lambda: getattr(f, attribute)
    return make


def _attribute_check(expected):
    def check(state, value):
        if value is not _NOT_SET and not expected(value):
            return "the attribute read %r" % (value,)
        return None
    return check


_NOT_SET = object()


def _coroutine_marker(value):
    import asyncio.coroutines
    return value is True or value is getattr(asyncio.coroutines, "_is_coroutine", True)


def _annotations_set(state):
    # The setter's store of the annotate entry into an existing instance
    # dict, one that must grow to take it.
    f = state.f = state.make("documented", 0)
    f.__dict__ = dict(state.entries)
    annotations = state.annotations = {"key": int}

    def op():
        f.__annotations__ = annotations
    return op


def _annotations_set_check(state, value):
    f = state.f
    entries = vars(f)
    stored = entries == {**state.entries, "__annotate__": None}
    if f.__annotations__ is not state.annotations or not (stored or entries == state.entries):
        return "after the setter: %r, %r" % (f.__annotations__, entries)
    if value is not _NOT_SET and not stored:
        return "the setter succeeded without the annotate entry: %r" % (entries,)
    return None


def _first_reads(state):
    key = _key()

    def op():
        p = key.pressed
        return (p.__name__, p.__doc__, p.__dict__, p.__annotations__, p.__annotate__(1),
                p._is_coroutine, p.__code__.co_varnames, p.__code__.co_positions().__next__())
    return op


def _first_reads_check(state, value):
    p = _key().pressed
    got = (p.__name__, p.__doc__, p.__dict__, p.__annotations__, p.__annotate__(1),
           p._is_coroutine, p.__code__.co_varnames)
    if got != ("pressed", None, {}, {}, {}, False, ("key",)):
        return "first reads answer %r" % (got,)
    return None


# The operations that raise are called with no Python frame of their own
# (a partial, not a lambda): CPython 3.13 itself loses an exception that
# leaves a Python frame while allocations fail (its debug build aborts:
# "Assertion `_PyErr_Occurred(tstate)' failed", with abs("x") alone).
def _raising(function, *args, **kwargs):
    return functools.partial(function, *args, **kwargs)


def _first_failure(state):
    return _raising(_key().released, "x")


def _new_line_records(state):
    # A record for a line the cache has not seen yet: code object creation
    # and cache insertion, with the cache growing past its first block.
    rt = _rt()
    state.line = getattr(state, "line", 1000) + 1
    line = state.line
    return _raising(rt.add_traceback, KeyError("k"), "recorded", line)


class _State:
    pass


def _prepare_calls():
    s = _State()
    s.key = _key()
    s.rt = _rt()
    s.make = s.rt.make
    s.kw = {"key": 65}
    s.tp_call = type(s.key.pressed).__call__
    s.classic = s.rt.make("varargs_keywords")
    s.entries = {"a%d" % i: i for i in range(5)}   # fills a new dict's first table
    import asyncio.coroutines  # noqa: F401  (the lookup is measured, not the import)
    return s


def _prepare_nothing():
    return _State()


def _scenarios():
    def k(state):
        return state.key

    big = 2**70
    table = [
        Scenario("import", _prepare_nothing, _import_op, _import_check, fresh="ok",
                 allowed={"ImportError"}),
        Scenario("kwdict-call", _prepare_calls, lambda s: lambda: s.key.pressed(**s.kw),
                 _calls_still_work),
        Scenario("kwdict-call-runtime-key", _prepare_calls,
                 lambda s: (lambda kw: lambda: s.key.down(**kw))({"".join(["k", "e", "y"]): 65}),
                 _calls_still_work),
        Scenario("tp-call", _prepare_calls, lambda s: lambda: s.tp_call(s.key.pressed, 65),
                 _calls_still_work),
        Scenario("tp-call-keyword", _prepare_calls,
                 lambda s: lambda: s.tp_call(s.key.pressed, key=65), _calls_still_work),
        Scenario("method-call", _prepare_calls, lambda s: lambda: s.key.pressed.__call__(65),
                 _calls_still_work),
        Scenario("method-call-keyword", _prepare_calls,
                 lambda s: lambda: s.key.up.__call__(**s.kw), _calls_still_work),
        Scenario("classic-convention", _prepare_calls,
                 lambda s: lambda: s.classic(1, a=2), _calls_still_work),
        Scenario("record-type-error", _prepare_calls, lambda s: _raising(s.key.pressed, "x"),
                 _calls_still_work),
        Scenario("record-overflow", _prepare_calls, lambda s: _raising(s.key.pressed, big),
                 _calls_still_work),
        Scenario("record-bad-keyword", _prepare_calls, lambda s: _raising(s.key.pressed, k=1),
                 _calls_still_work),
        Scenario("record-first-in-process", _prepare_nothing, _first_failure, _calls_still_work,
                 fresh="raised TypeError"),
        # One cached code object per line is kept by design; the cache-hit
        # path is checked for leaks by the other record scenarios.
        Scenario("record-new-line", _prepare_calls, _new_line_records, keeps=True),
        Scenario("attr-name", _prepare_calls, _fresh("documented", 0, "__name__"),
                 _attribute_check(lambda v: v == "documented")),
        Scenario("attr-doc", _prepare_calls, _fresh("documented", 0, "__doc__"),
                 _attribute_check(lambda v: v == "A documented function.")),
        Scenario("attr-dict", _prepare_calls, _fresh("documented", 0, "__dict__"),
                 _attribute_check(lambda v: v == {})),
        Scenario("attr-annotations", _prepare_calls, _fresh("documented", 0, "__annotations__"),
                 _attribute_check(lambda v: v == {})),
        Scenario("attr-annotate", _prepare_calls, _fresh("documented", 0, "__annotate__"),
                 _attribute_check(lambda v: v(1) == {})),
        Scenario("attr-annotations-set", _prepare_calls, _annotations_set,
                 _annotations_set_check),
        Scenario("attr-is-coroutine", _prepare_calls, _fresh("noargs", 0x08, "_is_coroutine"),
                 _attribute_check(_coroutine_marker)),
        Scenario("key-first-reads", _prepare_nothing, _first_reads, _first_reads_check,
                 fresh="ok"),
    ]
    return {s.name: s for s in table}


SCENARIOS = _scenarios()


# --- the child ---------------------------------------------------------------

def _outcome(op, n):
    """('ok', value) or ('raised', exception) of one run of `op` with every
    allocation after the n-th failing."""
    import _testcapi
    _testcapi.set_nomemory(n)
    try:
        value = op()
    except BaseException as e:
        _testcapi.remove_mem_hooks()
        return "raised", e
    _testcapi.remove_mem_hooks()
    return "ok", value


def _describe(kind, value):
    if kind == "ok":
        return "ok"
    return "raised %s" % type(value).__name__


def _heap():
    import gc
    gc.collect()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def _leak(scenario, state, n, runs=6):
    """Repeats the step and returns a description of a steady growth of the
    reference total or of the allocated blocks, or None."""
    deltas = []
    before = None
    warmups = runs // 2
    for i in range(runs):
        op = scenario.make(state)
        kind, value = _outcome(op, n)
        del op, value
        now = _heap()
        if before is not None and i >= warmups:
            deltas.append((now[0] - before[0], now[1] - before[1]))
        before = now
    refs = [d[0] for d in deltas]
    blocks = [d[1] for d in deltas]
    if all(d >= 1 for d in refs) or all(d >= 1 for d in blocks):
        return "leak: reference total deltas %s, allocated block deltas %s" % (refs, blocks)
    return None


def child(name, start, stop, settled=SETTLED, leak_check=True):
    scenario = SCENARIOS[name]
    state = scenario.prepare()
    normal = scenario.fresh
    if not scenario.fresh:
        kind, value = _outcome(scenario.make(state), 10**9)
        normal = _describe(kind, value)
        print("normal", normal, flush=True)
    leak_runs = 6 if leak_check is True else int(leak_check)
    debug = hasattr(sys, "gettotalrefcount") and leak_runs > 0
    streak = 0
    for n in range(start, stop):
        print("step", n, flush=True)
        op = scenario.make(state)
        kind, value = _outcome(op, n)
        del op
        described = _describe(kind, value)
        problem = None
        if kind == "raised":
            if type(value).__name__ == "SystemError":
                problem = "SystemError: %s" % (value,)
            elif not isinstance(value, MemoryError) and described != normal and \
                    type(value).__name__ not in scenario.allowed:
                problem = "unexpected %s: %s" % (type(value).__name__, value)
        problem = problem or scenario.check(state, value if kind == "ok" else _NOT_SET)
        if problem is None and debug and not scenario.fresh and not scenario.keeps:
            problem = _leak(scenario, state, n, leak_runs)
        if problem is None and debug and scenario.fresh and kind == "raised" and name == "import":
            problem = _leak(scenario, state, n, leak_runs)
        value = None
        print("result", n, described.replace(" ", "_"), problem or "-", flush=True)
        if scenario.fresh:
            return
        streak = streak + 1 if described == normal and problem is None else 0
        if streak >= settled:
            print("settled", n, flush=True)
            return


# --- the parent --------------------------------------------------------------

class Report:
    def __init__(self, name):
        self.name = name
        self.steps = 0
        self.kinds = {}
        self.failures = []  # (n, text)
        self.normal = None
        self.settled = False
        self.children = 0
        self.stopped = None  # why the stepping stopped before it settled


class _Child:
    """A finished child: exit status (None when it hung and was killed),
    stdout lines and stderr text."""

    def __init__(self, returncode, lines, stderr, timeout):
        self.returncode, self.lines, self.stderr = returncode, lines, stderr
        self.hung = returncode is None
        self.timeout = timeout


def _run_child(name, start, stop, settled, leak_check, step_timeout=None):
    command = [sys.executable, "-X", "faulthandler", os.path.abspath(__file__), "--child", name,
               str(start), str(stop), "--settled", str(settled),
               "--leak-runs", str(6 if leak_check is True else int(leak_check))]
    return _watch(command, step_timeout or STEP_TIMEOUT)


def _watch(command, step_timeout):
    """Runs `command`, killing it when it prints no line for step_timeout
    seconds.  stderr goes to a file, so that a child writing much there
    cannot block on a full pipe while stdout is watched."""
    with tempfile.TemporaryFile(mode="w+") as err:
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=err, text=True)
        lines = queue.Queue()

        def read():
            for line in proc.stdout:
                lines.put(line.rstrip("\n"))
            lines.put(None)
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        out = []
        hung = False
        while True:
            try:
                line = lines.get(timeout=step_timeout)
            except queue.Empty:
                hung = True
                proc.kill()
                break
            if line is None:
                break
            out.append(line)
        proc.wait()
        reader.join()
        proc.stdout.close()
        err.seek(0)
        return _Child(None if hung else proc.returncode, out, err.read(), step_timeout)


def _crash_text(proc):
    if proc.hung:
        how = "hung (no output for %g s) and killed" % proc.timeout
    elif proc.returncode < 0:
        how = "killed by signal %d" % -proc.returncode
    else:
        how = "exit status %d" % proc.returncode
    lines = [l for l in proc.stderr.splitlines() if l.strip()]
    interesting = [l for l in lines if "Assertion" in l or "Fatal Python error" in l or "Error" in l]
    tail = (interesting or lines)[-3:]
    return how + ("; " + " | ".join(tail) if tail else "")


def step_scenario(name, max_steps=100000, settled=SETTLED, leak_check=True, only=None):
    """Steps `name` from n = 0 until it settles; `only` (fresh scenarios)
    takes just the given values of n."""
    scenario = SCENARIOS[name]
    report = Report(name)
    pending = sorted(only) if only is not None else None
    n = pending.pop(0) if pending else 0
    streak = 0
    while n < max_steps:
        if len(report.failures) >= MAX_FAILURES:
            report.stopped = "%d failures" % len(report.failures)
            break
        stop = n + 1 if scenario.fresh else max_steps
        report.children += 1
        proc = _run_child(name, n, stop, settled, leak_check)
        last_step = None
        finished = set()
        for line in proc.lines:
            parts = line.split(" ", 3)
            if parts[0] == "normal":
                report.normal = parts[1] if len(parts) < 3 else parts[1] + "_" + parts[2]
            elif parts[0] == "step":
                last_step = int(parts[1])
            elif parts[0] == "result":
                step, kind, problem = int(parts[1]), parts[2], parts[3]
                finished.add(step)
                report.steps += 1
                report.kinds[kind] = report.kinds.get(kind, 0) + 1
                if problem != "-":
                    report.failures.append((step, problem))
                if scenario.fresh:
                    ok = problem == "-" and kind == scenario.fresh.replace(" ", "_")
                    streak = streak + 1 if ok else 0
            elif parts[0] == "settled":
                report.settled = True
        crashed = last_step is not None and last_step not in finished
        if last_step is None and (proc.hung or proc.returncode != 0):
            # It failed before its first step (an import, the scenario's
            # preparation): every further child would fail alike.
            report.failures.append((n, "child failed before its first step: " +
                                    _crash_text(proc)))
            report.stopped = "a child failed before its first step"
            break
        if proc.hung:
            # A hang is not stepped past: each further one would cost
            # STEP_TIMEOUT again.
            report.failures.append((last_step, "crash: " + _crash_text(proc)))
            if last_step not in finished:
                report.steps += 1
                report.kinds["hang"] = report.kinds.get("hang", 0) + 1
            report.stopped = "a child hung"
            break
        if crashed or proc.returncode != 0:
            where = last_step if crashed else n
            report.failures.append((where, "crash: " + _crash_text(proc)))
            if crashed:
                report.steps += 1
                report.kinds["crash"] = report.kinds.get("crash", 0) + 1
            n = (where if where is not None else n) + 1
            streak = 0
            if pending is not None:
                if not pending:
                    report.settled = True
                    break
                n = pending.pop(0)
            continue
        if report.settled:
            break
        if scenario.fresh:
            n += 1
            if pending is not None:
                if not pending:
                    report.settled = True
                    break
                n = pending.pop(0)
            if streak >= settled:
                report.settled = True
                break
        else:
            break
    return report


def missing_modules():
    """None when a child can import every module the scenarios use, else
    the import's error, as a child sees it (with this process's
    environment)."""
    command = [sys.executable, "-c", "import %s" % ", ".join(MODULES)]
    try:
        proc = subprocess.run(command, capture_output=True, text=True, timeout=STEP_TIMEOUT)
    except subprocess.TimeoutExpired:
        return "%s (the import hung)" % ", ".join(MODULES)
    if proc.returncode == 0:
        return None
    lines = [l for l in proc.stderr.splitlines() if l.strip()]
    return lines[-1] if lines else "exit status %d" % proc.returncode


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--child", nargs=3, metavar=("SCENARIO", "START", "STOP"))
    parser.add_argument("--scenario", action="append", choices=sorted(SCENARIOS))
    parser.add_argument("--max-steps", type=int, default=100000)
    parser.add_argument("--settled", type=int, default=SETTLED,
                        help="normal outcomes in a row that end the stepping")
    parser.add_argument("--steps", metavar="START:STOP[:STRIDE]",
                        help="only these values of n (for scenarios with a process per step)")
    parser.add_argument("--leak-runs", type=int, default=6,
                        help="repetitions of each step for the leak check (debug only; 0: none)")
    args = parser.parse_args(argv)
    if args.child:
        child(args.child[0], int(args.child[1]), int(args.child[2]), args.settled,
              args.leak_runs)
        return 0
    names = args.scenario or list(SCENARIOS)
    interp = "debug" if hasattr(sys, "gettotalrefcount") else "release"
    print("allocation-failure stepping on the %s interpreter (%s)" % (interp, sys.executable),
          flush=True)
    missing = missing_modules()
    if missing:
        print("allocation-failure stepping: FAIL: the children cannot import %s: %s\n"
              "  Put the built tree on PYTHONPATH (scripts/build release or debug prints it),"
              " or run scripts/reliability nomem." % (", ".join(MODULES), missing))
        return 2
    failed = 0
    total = 0
    for name in names:
        t0 = time.monotonic()
        only = None
        if args.steps and SCENARIOS[name].fresh:
            only = list(range(*(int(x) for x in args.steps.split(":"))))
        report = step_scenario(name, args.max_steps, args.settled, args.leak_runs, only)
        total += report.steps
        kinds = ", ".join("%s %d" % (k, v) for k, v in sorted(report.kinds.items()))
        status = "PASS" if not report.failures and report.settled else "FAIL"
        if status == "FAIL":
            failed += 1
        print("%-4s %-26s %5d steps in %3d children, %5.1fs (%s)%s" % (
            status, name, report.steps, report.children, time.monotonic() - t0, kinds,
            "" if report.settled else
            "; stopped: %s" % report.stopped if report.stopped else
            "; did not settle within %d steps" % args.max_steps))
        for n, text in report.failures[:20]:
            print("       n=%d: %s" % (n, text))
        if len(report.failures) > 20:
            print("       ... %d more" % (len(report.failures) - 20))
    print("allocation-failure stepping: %d scenarios, %d steps: %s" % (
        len(names), total, "FAIL (%d scenarios)" % failed if failed else "PASS"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
