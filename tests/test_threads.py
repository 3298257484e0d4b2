"""The module's shared state under many threads at once (thread_stress.py,
in a fresh process), on every build; it matters most on the free-threaded
one, where nothing serialises the threads, and under ThreadSanitizer
(scripts/tsan runs this file).  And on the free-threaded build, importing
the modules leaves the GIL off, with warnings as errors."""
import os
import subprocess
import sys

import pytest

from conftest import FREE_THREADED, TREE, VARIANT

HERE = os.path.dirname(os.path.abspath(__file__))
# Under ThreadSanitizer each step costs many times more: fewer rounds.
ROUNDS = ["--rounds", "4", "--repeats", "5"] if VARIANT == "tsan" else ["--rounds", "20"]


def run_child(args, timeout):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(TREE), os.environ.get("PYTHONPATH", "")]))
    proc = subprocess.run([sys.executable, "-X", "faulthandler", *args], capture_output=True,
                          text=True, timeout=timeout, cwd=HERE, env=env)
    return proc.returncode, proc.stdout + proc.stderr


@pytest.mark.parametrize("threads", [2, 12])
def test_threads_share_the_module(threads):
    code, out = run_child([os.path.join(HERE, "thread_stress.py"), "--threads", str(threads), *ROUNDS],
                          timeout=600)
    assert code == 0 and out.rstrip().endswith("thread stress: PASS"), out
    gil = "GIL off" if FREE_THREADED else "GIL on"
    assert gil in out, out


@pytest.mark.skipif(not FREE_THREADED, reason="the GIL is off only on the free-threaded build")
@pytest.mark.parametrize("modules", ["tobrim.key", "tobrim.key.key", "_runtime_test"])
def test_import_keeps_the_gil_off(modules):
    # An extension module that does not declare itself safe without the GIL
    # turns it back on for the whole process, with a RuntimeWarning.
    code, out = run_child(["-W", "error", "-c",
                           f"import sys, {modules}; assert not sys._is_gil_enabled(); print('off')"],
                          timeout=60)
    assert code == 0 and out.strip() == "off", out
