"""The fast parts of the reliability runs (scripts/reliability has the full
ones): allocation failures stepped through the calls, traceback records and
lazily made attributes, samples of them during the import, threads that
call and fail at once, and the debug build's reference accounting that the
leak checks rely on."""
import os
import subprocess
import sys

import pytest

from conftest import DEBUG, EXT_SUFFIX, TREE
from reliability import nomem

# Scenarios whose stepping one child process takes in full: the keyword-dict
# call, the generic call path, traceback records (with cache insertions)
# and the first reads of the lazily made attributes.  scripts/reliability
# runs every scenario.
STEPPED = ["kwdict-call", "tp-call-keyword", "method-call", "record-type-error",
           "record-overflow", "record-new-line", "attr-name", "attr-doc", "attr-dict",
           "attr-annotations", "attr-annotate", "attr-annotations-set", "attr-is-coroutine"]
# Scenarios that need a process per step, at a few values of n spread over
# the allocations they make (the import makes about a thousand).
SAMPLED = {
    "import": [0, 150, 700, 1100],
    "record-first-in-process": [0, 12],
    "key-first-reads": [4, 12],
}


def _show(report):
    return "\n".join("n=%d: %s" % f for f in report.failures)


@pytest.fixture(autouse=True)
def _tree_on_path(monkeypatch):
    monkeypatch.setenv("PYTHONPATH", str(TREE))


@pytest.mark.parametrize("name", STEPPED)
def test_every_allocation_of_the_operation_may_fail(name):
    report = nomem.step_scenario(name, max_steps=2000, settled=3, leak_check=5)
    assert not report.failures, _show(report)
    assert report.settled and report.kinds.get("crash", 0) == 0


@pytest.mark.parametrize("name", sorted(SAMPLED))
def test_sampled_allocations_may_fail_once_per_process(name):
    report = nomem.step_scenario(name, only=SAMPLED[name], leak_check=5)
    assert not report.failures, _show(report)
    assert report.steps == len(SAMPLED[name])


def test_stepping_without_the_module_fails_at_once(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(tmp_path))
    proc = subprocess.run([sys.executable, nomem.__file__], capture_output=True, text=True,
                          timeout=120, cwd=tmp_path, env=env)
    assert proc.returncode == 2, proc.stdout + proc.stderr
    assert "FAIL: the children cannot import tobrim.key.key, _runtime_test, _testcapi: " \
        "ModuleNotFoundError: No module named 'tobrim'" in proc.stdout
    assert "Put the built tree on PYTHONPATH" in proc.stdout


# Stand-ins for a child (its n filled in) and how the stepping must end.
FAULTY_CHILDREN = [
    ("import sys; sys.exit('ModuleNotFoundError: no')", "import",
     "child failed before its first step: exit status 1; ModuleNotFoundError: no",
     "a child failed before its first step", 1),
    ("import time; time.sleep(60)", "kwdict-call",
     "child failed before its first step: hung", "a child failed before its first step", 1),
    ("print('step {n}', flush=True); import time; time.sleep(60)", "kwdict-call",
     "crash: hung", "a child hung", 1),
    ("print('step {n}'); print('result {n} raised_ValueError unexpected_ValueError')", "import",
     "unexpected_ValueError", "5 failures", 5),
]


@pytest.mark.parametrize("code, name, failure, stopped, children", FAULTY_CHILDREN)
def test_stepping_stops_at_a_faulty_child(monkeypatch, code, name, failure, stopped, children):
    def fake(name, start, stop, settled, leak_check):
        return nomem._watch([sys.executable, "-c", code.format(n=start)], 1)
    monkeypatch.setattr(nomem, "_run_child", fake)
    monkeypatch.setattr(nomem, "MAX_FAILURES", 5)
    report = nomem.step_scenario(name, max_steps=1000)
    assert (report.stopped, report.children, report.settled) == (stopped, children, False)
    assert report.failures and report.failures[0][1].startswith(failure), report.failures


def test_threads_calling_and_failing_at_once(tmp_path):
    script = os.path.join(os.path.dirname(nomem.__file__), "threads.py")
    proc = subprocess.run([sys.executable, "-X", "faulthandler", script, "--seconds", "1"],
                          capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert proc.returncode == 0 and proc.stdout.rstrip().endswith("threads: PASS"), \
        proc.stdout + proc.stderr


@pytest.mark.skipif(not DEBUG, reason="the debug interpreter's reference accounting")
def test_debug_modules_keep_the_reference_total(key):
    # Modules built for the debug interpreter take part in its reference
    # accounting; built against the release configuration they would not,
    # and every object they release that the interpreter made would move
    # the total.
    for so in (TREE / "tobrim/key" / ("key" + EXT_SUFFIX), TREE / ("_runtime_test" + EXT_SUFFIX)):
        undefined = subprocess.run(["nm", "-D", "--undefined-only", so], capture_output=True,
                                   text=True, check=True).stdout
        assert "_Py_DECREF_DecRefTotal" in undefined and "_Py_NegativeRefcount" in undefined

    def fail():
        try:
            key.pressed("x")
        except TypeError:
            pass
    for _ in range(100):
        fail()
    before = sys.gettotalrefcount()
    for _ in range(1000):
        fail()
    assert sys.gettotalrefcount() - before < 20
