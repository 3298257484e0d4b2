"""Type checkers from outside the project on the typing stub and the
package as built: pyright (strict) and mypy (--strict) on a small user
program and on calls they must reject, pyright's --verifytypes report, and
stubtest comparing the stub with the module it describes.

The tools come from scripts/bootstrap (pyright from npm in the cache, mypy
in the private prefix). They run in each version's release run, checking
for that version with that interpreter's mypy, and not on musl, for which
neither tool has a build here."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

from conftest import FREE_THREADED, LIBC, TREE, VERSION, per_version

HERE = pathlib.Path(__file__).parent
USER_PROGRAM = HERE / "typecheck" / "user_program.py"
STUBTEST_ALLOWLIST = HERE / "typecheck" / "stubtest_allowlist.txt"
STUBTEST_ALLOWLIST_MYPY1 = HERE / "typecheck" / "stubtest_allowlist_mypy1.txt"

# Debian's mypy (compiled for glibc) and the node that runs pyright are
# glibc builds, with no musl build of either here.
pytestmark = (pytest.mark.skip(reason="Debian's mypy and the node that runs pyright are glibc builds: no "
                               "type checker runs under the musl interpreter here")
              if LIBC == "musl" else
              pytest.mark.skip(reason="the free-threaded build has the 3.14 run's stub and typing; mypy is in "
                               "the private prefix's 3.14 only")
              if FREE_THREADED else per_version)

# Calls the stub must reject, each with what mypy (error codes) and pyright
# (rules) report on its line; each also raises TypeError at run time.
MISUSE = [
    ('pressed("a")', {"arg-type"}, {"reportArgumentType"}),
    ("pressed()", {"call-arg"}, {"reportCallIssue"}),
    ("pressed(65, 66)", {"call-arg"}, {"reportCallIssue"}),
    ("pressed(k=65)", {"call-arg"}, {"reportCallIssue"}),
]
MISUSE_HEADER = "from tobrim.key import pressed\n\n"
REVEALED = ("down(1)", "bool")


def missing(what):
    """A tool the bootstrap installs is absent: an error in CI, else a skip."""
    message = f"{what} is not installed (scripts/bootstrap installs it)"
    if os.environ.get("CI") == "true":
        pytest.fail(message)
    pytest.skip(message)


def pyright_path():
    path = os.environ.get("TOBRIM_PYRIGHT")
    if not path:
        cache = os.environ.get("TOBRIM_CACHE") or os.path.join(
            os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "tobrim")
        path = os.path.join(cache, "node/node_modules/.bin/pyright")
    if not os.access(path, os.X_OK) or not shutil.which("node"):
        missing("pyright (or node)")
    return path


def mypy_available():
    probe = subprocess.run([sys.executable, "-c", "import mypy.api, mypy.stubtest"],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        missing(f"mypy for {sys.executable}")


def run_tool(args, cwd, tree=TREE, ok=(0, 1)):
    """Runs a checker with `tree` on the path (as an installed package would
    be); returns its stdout. Return codes outside `ok` fail the test."""
    env = dict(os.environ, PYTHONPATH=str(tree))
    proc = subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=env, timeout=600)
    if proc.returncode not in ok:
        pytest.fail(f"{args[:3]} exited with {proc.returncode}:\n{proc.stdout}\n{proc.stderr}")
    return proc.stdout


@pytest.fixture(scope="module")
def sources(tmp_path_factory):
    """The user program and the misuse file, in a folder of their own (so
    that only the built tree provides tobrim); the misuse calls' lines."""
    folder = tmp_path_factory.mktemp("typecheck")
    shutil.copy(USER_PROGRAM, folder / "user_program.py")
    (folder / "misuse.py").write_text(MISUSE_HEADER + "".join(call + "\n" for call, _, _ in MISUSE))
    first = MISUSE_HEADER.count("\n") + 1
    lines = {call: first + i for i, (call, _, _) in enumerate(MISUSE)}
    return folder, lines


@pytest.fixture(scope="module")
def pyright_report(sources):
    folder, _ = sources
    pyright = pyright_path()
    (folder / "pyrightconfig.json").write_text(json.dumps({
        "typeCheckingMode": "strict",
        "pythonVersion": VERSION,
        "pythonPlatform": "Linux",
    }))
    out = run_tool([pyright, "--outputjson", "--pythonpath", sys.executable,
                    "-p", str(folder / "pyrightconfig.json"),
                    "user_program.py", "misuse.py"], cwd=folder)
    report = json.loads(out)
    by_file = {"user_program.py": [], "misuse.py": []}
    for d in report["generalDiagnostics"]:
        by_file[os.path.basename(d["file"])].append(
            (d["range"]["start"]["line"] + 1, d["severity"], d.get("rule", ""), d["message"]))
    return by_file


MYPY_LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): (?P<severity>error|warning|note): "
                       r"(?P<message>.*?)(?:  \[(?P<code>[a-z-]+)\])?$")


@pytest.fixture(scope="module")
def mypy_report(sources):
    folder, _ = sources
    mypy_available()
    # The package itself too: its own code must pass as strictly.
    out = run_tool([sys.executable, "-m", "mypy", "--strict", "--python-version", VERSION,
                    "--cache-dir", str(folder / ".mypy_cache"), "--no-pretty",
                    "--no-color-output", "--no-error-summary",
                    "user_program.py", "misuse.py", str(TREE / "tobrim/key")], cwd=folder)
    by_file = {"user_program.py": [], "misuse.py": []}
    for line in out.splitlines():
        m = MYPY_LINE.match(line)
        assert m, f"unexpected mypy output: {line!r}\n{out}"
        by_file.setdefault(m["file"], []).append(
            (int(m["line"]), m["severity"], m["code"] or "", m["message"]))
    return by_file


def reveal_line():
    call = f"reveal_type({REVEALED[0]})"
    (n,) = [i for i, text in enumerate(USER_PROGRAM.read_text().splitlines(), 1) if text == call]
    return n


def test_pyright_strict_accepts_the_user_program(pyright_report):
    assert pyright_report["user_program.py"] == [
        (reveal_line(), "information", "", f'Type of "{REVEALED[0]}" is "{REVEALED[1]}"')]


def test_mypy_strict_accepts_the_user_program(mypy_report):
    # mypy before 2 (3.13's, trixie's) names the type in full: "builtins.bool".
    report = [(line, sev, code, message.replace('"builtins.', '"'))
              for line, sev, code, message in mypy_report["user_program.py"]]
    assert report == [(reveal_line(), "note", "", f'Revealed type is "{REVEALED[1]}"')]


def flagged(diagnostics, severity):
    lines = {}
    for line, sev, code, _ in diagnostics:
        if sev == severity:
            lines.setdefault(line, set()).add(code)
    return lines


def test_pyright_flags_each_bad_call_and_nothing_else(pyright_report, sources):
    _, lines = sources
    misuse = pyright_report["misuse.py"]
    assert flagged(misuse, "error") == {lines[call]: rules for call, _, rules in MISUSE}, misuse
    assert {sev for _, sev, _, _ in misuse} == {"error"}, misuse


# mypy before 2 (3.13's, trixie's) adds to an error at a call a note at the
# callee's definition, in the stub: that note belongs to the call's error.
DEFINED_HERE = re.compile(r'"\w+" defined here')


def test_mypy_strict_accepts_the_package(mypy_report):
    package = {f: [d for d in diagnostics if not (d[1] == "note" and DEFINED_HERE.fullmatch(d[3]))]
               for f, diagnostics in mypy_report.items() if f not in ("user_program.py", "misuse.py")}
    assert {f: d for f, d in package.items() if d} == {}


def test_mypy_flags_each_bad_call_and_nothing_else(mypy_report, sources):
    _, lines = sources
    misuse = mypy_report["misuse.py"]
    assert flagged(misuse, "error") == {lines[call]: codes for call, codes, _ in MISUSE}, misuse
    # Notes only accompany an error ("defined in ..."), never stand alone.
    assert {line for line, sev, _, _ in misuse} <= set(lines.values()), misuse


def test_the_checked_code_behaves_so_at_run_time(run_python):
    """What the checkers accept runs; each call they reject raises TypeError."""
    proc = run_python(USER_PROGRAM.read_text())
    assert f"Runtime type is '{REVEALED[1]}'" in proc.stderr
    assert proc.stdout.startswith("jump=False walk=False free=True")
    calls = [call for call, _, _ in MISUSE]
    proc = run_python(MISUSE_HEADER + f"""
for call in {calls!r}:
    try:
        eval(call)
    except TypeError:
        pass
    else:
        raise SystemExit(call + " did not raise TypeError")
""")


def test_pyright_verifytypes_complete_and_documented(tmp_path):
    pyright = pyright_path()
    out = run_tool([pyright, "--outputjson", "--pythonpath", sys.executable,
                    "--verifytypes", "tobrim.key"], cwd=tmp_path)
    report = json.loads(out)["typeCompleteness"]
    assert pathlib.Path(report["pyTypedPath"]).resolve().is_relative_to(TREE)
    problems = [(s["name"], d["message"]) for s in report["symbols"] for d in s["diagnostics"]]
    assert problems == []
    assert report["completenessScore"] == 1
    assert (report["missingFunctionDocStringCount"], report["missingClassDocStringCount"]) == (0, 0)
    exported = {s["name"] for s in report["symbols"] if s["isExported"]}
    queries = ("pressed", "released", "pressed_repeat", "down", "up")
    assert {f"tobrim.key.key.{f}" for f in queries} <= exported
    assert {f"tobrim.key.{f}" for f in (*queries, "Key", "raylib_path")} <= exported


def stubtest(cwd, *args, tree=TREE):
    mypy_available()
    allowlists = [STUBTEST_ALLOWLIST]
    version = subprocess.run([sys.executable, "-c", "import mypy.version; print(mypy.version.__version__)"],
                             capture_output=True, text=True, check=True).stdout
    if int(version.split(".")[0]) < 2:
        allowlists.append(STUBTEST_ALLOWLIST_MYPY1)
    return run_tool([sys.executable, "-m", "mypy.stubtest",
                     *(a for path in allowlists for a in ("--allowlist", str(path))), *args,
                     "tobrim.key"], cwd=cwd, tree=tree)


def test_stubtest_finds_no_difference(tmp_path):
    # The package takes its submodules along: tobrim.key and tobrim.key.key.
    out = stubtest(tmp_path)
    m = re.fullmatch(r"Success: no issues found in (\d+) modules\n", out)
    assert m and int(m[1]) >= 2, out


# Faults put into a copy of the stub, each with what stubtest must say: it
# compares against the runtime signatures of the function objects, so it
# sees names and kinds of parameters as well as missing functions.
STUB_FAULTS = [
    (r"def pressed\(key:", "def pressed(k:",
     'tobrim.key.key.pressed is inconsistent, stub parameter "k" differs from runtime parameter "key"'),
    (r"def down\(key: int\)", "def down(key: int, /)",
     'tobrim.key.key.down is inconsistent, stub parameter "key" should be positional or keyword'),
    (r"\Z", "\ndef jump(key: int) -> bool: ...\n", "tobrim.key.key.jump is not present at runtime"),
    (r"\n__test__:", "\n__tests__:", "tobrim.key.key.__tests__ is not present at runtime"),
]


def test_stubtest_sees_faults_in_the_stub(tmp_path):
    tree = tmp_path / "tree"
    shutil.copytree(TREE, tree)
    stub = tree / "tobrim/key/key.pyi"
    text = stub.read_text()
    for pattern, replacement, _ in STUB_FAULTS:
        text, n = re.subn(pattern, replacement, text)
        assert n == 1, pattern
    stub.write_text(text)
    # mypy before 2 (3.13's, trixie's) says "argument" for "parameter".
    out = re.sub(r"\bargument\b", "parameter", stubtest(tmp_path, "--concise", tree=tree))
    for _, _, message in STUB_FAULTS:
        assert message in out, out
