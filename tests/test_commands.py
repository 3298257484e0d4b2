"""The documents' on-demand commands, each run as the document gives it
(with a small case count, test selection or time where the full run takes
long), and a check that every command the README, CONTRIBUTING and the
pages under docs/ show is run somewhere."""
import glob
import os
import re
import shutil
import subprocess

import pytest

from conftest import once

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Every command in the shell blocks of the documents, by its first words,
# and what runs it.
COVERED = {
    "source": "test_fast_loop_block, test_arm64_block, test_examples.py (the frame loop's block)",
    "PYTHONPATH=$(scripts/build aarch64)": "test_arm64_block",
    "PYTHONPATH=$(scripts/build": "test_fast_loop_block, test_examples.py (the frame loop's block)",
    "scripts/test tests/": "test_test_command_runs_a_selection",
    "scripts/test": "the test command itself",
    "scripts/bootstrap": "every script, and test_install.py",
    "scripts/python": "test_install.py",
    ".venv/bin/python": "test_install.py",
    "python3.13 -m pip install tobrim_key-": "test_install.py (the wheels)",
    "python3.14 -m pip install tobrim_key-": "test_install.py (the wheels, the sdist)",
    "python3.15 -m pip install tobrim_key-": "test_install.py (the wheels, the sdist)",
    "scripts/dist": "test_install.py",
    "CC=musl-gcc": "test_install.py (in the musl run)",
    "scripts/demo": "test_demo_command",
    "scripts/fuzz": "test_fuzz_command",
    "scripts/sanitize": "test_sanitize_command",
    "scripts/bench": "test_bench_command",
    "scripts/memcheck": "test_memcheck_command",
    "scripts/reliability": "test_reliability_command",
    "python3.14t -m pip install tobrim_key-": "test_install.py (the wheels)",
    "PYTHONPATH=$(scripts/build --python 3.14t": "test_free_threaded_block",
    "scripts/tsan": "test_tsan_command",
}
DOCUMENTS = ("README.md", "CONTRIBUTING.md",
             *sorted(os.path.relpath(p, ROOT) for p in glob.glob(os.path.join(ROOT, "docs", "*.md"))))


def shell_blocks(doc):
    with open(os.path.join(ROOT, doc)) as f:
        return re.findall(r"^```sh\n(.*?)^```$", f.read(), re.M | re.S)


def test_documents_are_found():
    assert {"docs/musl.md", "docs/arm64.md"} <= set(DOCUMENTS)


def readme_commands():
    return [line.strip() for doc in DOCUMENTS for block in shell_blocks(doc) for line in block.splitlines()
            if line.strip() and not line.strip().startswith("#")]


def test_every_readme_command_is_run():
    commands = readme_commands()
    assert commands
    missing = [c for c in commands if not any(c.startswith(prefix) for prefix in COVERED)]
    assert not missing, "commands of the documents that no test runs: %s" % missing


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
@pytest.mark.parametrize("python", [[], ["--python", "3.15"]], ids=["3.14", "3.15"])
def test_fuzz_command(python):
    out = script("scripts/fuzz", *python, "300", "7")
    counts = re.findall(r"mismatches: (\d+)", out)
    assert len(counts) == 2 and set(counts) == {"0"}, out
    version = python[-1] if python else "3.14"
    assert re.findall(r"^== call fuzzer on CPython (\S+) (\w+)", out, re.M) == [
        (version, "release"), (version, "debug")], out


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


@once
def test_test_command_runs_a_selection():
    # On every interpreter, just the files given, or the suite with the
    # options given; each run ends with its line in the summary.
    selections = [line.strip() for block in shell_blocks("CONTRIBUTING.md") for line in block.splitlines()
                  if line.startswith("scripts/test tests/")]
    assert len(selections) == 2, selections
    for line in selections:
        out = script("bash", "-euo", "pipefail", "-c", line)
        summary = out.split("== summary", 1)[1].splitlines()[1:]
        assert summary and all(re.fullmatch(r"3\.1\dt? [\w-]+: (PASS \(\d+ s\)|skipped)", l)
                               for l in summary), out
        counts = [int(n) for n in re.findall(r"^(\d+) passed", out, re.M)]
        assert len(counts) == sum(l.endswith("s)") for l in summary) and 0 < max(counts) < 200, out


@once
def test_fast_loop_block():
    (block,) = [b for b in shell_blocks("CONTRIBUTING.md") if "tests/test_queries.py" in b and "source" in b]
    out = script("bash", "-euo", "pipefail", "-c", block)
    assert len(re.findall(r" (\d+) passed", out)) == 2 and "failed" not in out, out


@once
@pytest.mark.skipif(not os.environ.get("TOBRIM_PYTHON_ARM64_3_14"),
                    reason="no arm64 interpreter: " + os.environ.get("TOBRIM_ARM64_MISSING", ""))
def test_arm64_block():
    (block,) = [b for b in shell_blocks("docs/arm64.md") if "scripts/build aarch64" in b]
    out = script("bash", "-euo", "pipefail", "-c", block)
    assert re.search(r" \d+ passed", out) and "failed" not in out, out


@once
def test_free_threaded_block():
    (block,) = [b for b in shell_blocks("docs/free-threaded.md") if "source" in b]
    out = script("bash", "-euo", "pipefail", "-c", block)
    assert re.search(r" (\d+) passed", out) and "failed" not in out, out


@once
def test_tsan_command():
    # Fails on any ThreadSanitizer report.
    out = script("scripts/tsan", timeout=2400)
    assert "== no ThreadSanitizer report" in out and re.search(r"^(\d+) passed", out, re.M), out
