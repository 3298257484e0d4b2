"""The README's on-demand commands, each run as the README gives it (with a
small case count, test selection or time where the full run takes long),
and a check that every command the README shows is run somewhere."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import once

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Every command in the README's shell blocks, by its first words, and what
# runs it.
COVERED = {
    "source": "test_examples.py (the frame loop's block)",
    "PYTHONPATH=$(scripts/build": "test_examples.py (the frame loop's block)",
    "scripts/test": "the test command itself",
    "scripts/bootstrap": "every script, and test_install.py",
    "scripts/python": "test_install.py",
    ".venv/bin/python": "test_install.py",
    "python3.14": "test_install.py",
    "scripts/dist": "test_install.py",
    "CC=musl-gcc": "test_musl.py (the CMake build with musl-gcc)",
    "scripts/demo": "test_demo_command",
    "scripts/fuzz": "test_fuzz_command",
    "scripts/sanitize": "test_sanitize_command",
    "scripts/bench": "test_bench_command",
    "scripts/memcheck": "test_memcheck_command",
    "scripts/reliability": "test_reliability_command",
}


def readme_commands():
    with open(os.path.join(ROOT, "README.md")) as f:
        blocks = re.findall(r"^```sh\n(.*?)^```$", f.read(), re.M | re.S)
    return [line.strip() for block in blocks for line in block.splitlines()
            if line.strip() and not line.strip().startswith("#")]


def test_every_readme_command_is_run():
    commands = readme_commands()
    assert commands
    missing = [c for c in commands if not any(c.startswith(prefix) for prefix in COVERED)]
    assert not missing, "README commands that no test runs: %s" % missing


# The commands themselves run once (each builds what it needs itself).


def script(*argv, timeout=900, **env):
    """Runs a script from the repository as a user's shell would, without a
    display, and returns what it printed; a script that hangs fails here."""
    # None of the test command's own settings: the bootstrap would take an
    # inherited TOBRIM_PYTHON for an interpreter of the user's.
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "PYTHONPATH") and (k == "TOBRIM_CACHE" or not k.startswith("TOBRIM_"))}
    environment.update(env)
    try:
        proc = subprocess.run(argv, cwd=ROOT, env=environment, capture_output=True, text=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired as e:
        pytest.fail(f"{' '.join(argv)} did not end within {timeout} s:\n{e.stdout}\n{e.stderr}")
    out = proc.stdout + proc.stderr
    assert proc.returncode == 0, f"{' '.join(argv)} exited {proc.returncode}:\n{out}"
    return out


needs_x = pytest.mark.skipif(not (shutil.which("Xvfb") and shutil.which("xdotool")),
                             reason="needs Xvfb and xdotool")


@once
@needs_x
def test_demo_command():
    out = script("scripts/demo")
    (path,) = re.findall(r"saved to (\S+)", out)
    assert os.path.getsize(path) > 0


@once
def test_fuzz_command():
    out = script("scripts/fuzz", "300", "7")
    counts = re.findall(r"mismatches: (\d+)", out)
    assert counts and set(counts) == {"0"}, out


@once
def test_sanitize_command():
    out = script("scripts/sanitize")
    assert "no sanitizer report from the interpreter's processes" in out


@once
def test_memcheck_command():
    out = script("scripts/memcheck")
    assert "memcheck: clean" in out


@once
def test_bench_command():
    # Exits non-zero when a target is missed, which fails here.
    out = script("scripts/bench")
    assert "targets: all" in out


@once
def test_reliability_command():
    out = script("scripts/reliability", "threads", RELIABILITY_THREAD_SECONDS="3")
    assert re.search(r"^threads \(release\): PASS$", out, re.M), out
