"""Traceback records added by failing key queries and by the runtime's
record operation: where they point, what they keep, and the per-line cache
of code objects."""
import textwrap
import traceback

import pytest

import _runtime_test as rt
from conftest import ROOT

pytestmark = pytest.mark.core


def newest(exc):
    tb = exc.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    return tb


def failure(call):
    try:
        call()
    except Exception as e:
        return e
    raise AssertionError("no failure")


def test_record_points_at_the_source_line(key):
    tb = newest(failure(lambda: key.released("x")))
    assert tb.tb_lineno == 12 and tb.tb_frame.f_lineno == 12
    code = tb.tb_frame.f_code
    assert (code.co_filename, code.co_name, code.co_firstlineno) == (
        "src/tobrim/key/key.pyi", "tobrim.key.key.released", 12)
    assert tb.tb_frame.f_globals is vars(key)


def test_repeated_failures_share_one_code_object(key):
    first = newest(failure(lambda: key.pressed()))
    second = newest(failure(lambda: key.pressed(None)))
    assert first.tb_frame is not second.tb_frame
    assert first.tb_frame.f_code is second.tb_frame.f_code


def test_existing_traceback_is_kept_and_extended():
    try:
        raise ValueError("original")
    except ValueError as e:
        original = e
    before = traceback.extract_tb(original.__traceback__)
    with pytest.raises(ValueError) as info:
        rt.add_traceback(original, "recorded", 41)
    assert info.value is original and type(info.value) is ValueError
    entries = traceback.extract_tb(info.value.__traceback__)
    # The interpreter links a new entry in front of the chain it finds: the
    # old entries stay, behind the record (and the caller's frame is linked
    # in front of both as the error leaves the call).
    n = len(before)
    assert [(f.name, f.lineno) for f in entries[-n:]] == [(f.name, f.lineno) for f in before]
    rec = entries[-n - 1]
    assert (rec.name, rec.lineno, rec.filename) == ("recorded", 41, "tests/ext/runtime_test.cpp")


def test_cache_in_a_fresh_module(run_python):
    # A fresh process: the test module's cache starts empty there.
    proc = run_python(textwrap.dedent("""
        import _runtime_test as rt, traceback
        def record(name, line):
            try:
                rt.add_traceback(RuntimeError(), name, line)
            except RuntimeError as e:
                return traceback.extract_tb(e.__traceback__)[-1]
        print(rt.cache())
        record("up", 21); record("pressed", 9); record("down", 18)
        print(rt.cache())
        print(record("other name", 9).name)
        for line in range(100, 161):
            record("f", line)
        print(rt.cache()[0], len(rt.cache()[1]))
        record("f", 5)
        max_count, lines = rt.cache()
        print(max_count, len(lines), lines == sorted(set(lines)), lines[:4])
    """))
    assert proc.stdout.splitlines() == [
        "(0, [])",
        "(64, [9, 18, 21])",
        "pressed",
        "64 64",
        "128 65 True [5, 9, 18, 21]",
    ]


def test_init_failure_records_the_stage_line(run_python):
    proc = run_python(textwrap.dedent("""
        import sys, types, traceback
        registry = types.ModuleType("_cython_3_2_8")
        registry._common_types_metatype = 1
        sys.modules["_cython_3_2_8"] = registry
        try:
            import tobrim.key.key
        except TypeError as e:
            tb = e.__traceback__
            while tb.tb_next:
                tb = tb.tb_next
            print(e, tb.tb_frame.f_code.co_name, tb.tb_lineno, tb.tb_frame.f_code.co_filename, sep="|")
    """))
    assert proc.stdout.strip() == ("Shared Cython type _common_types_metatype is not a type object|"
                                   "init tobrim.key.key|1|src/tobrim/key/key.pyi")


# Where a fresh interpreter runs from, and the line shown under the entry of
# a failing query (released: line 12 of the stub).  linecache reads a file of
# the code objects' relative name where there is one: the stub itself at the
# top of a checkout, or whatever else lies there.  Elsewhere the package's
# entry gives the stub beside the module.
RELEASED = "def released(key: int) -> bool:"
SHOWN_LINES = [
    ("elsewhere", RELEASED),
    ("checkout", RELEASED),
    ("other file", "line 12 of a file of the same relative name"),
]


@pytest.mark.parametrize("where, shown", SHOWN_LINES)
def test_uncaught_failure_shows_the_stub_line(run_python, tmp_path, where, shown):
    cwd = {"elsewhere": tmp_path, "checkout": ROOT, "other file": tmp_path}[where]
    if where == "other file":
        decoy = tmp_path / "src/tobrim/key/key.pyi"
        decoy.parent.mkdir(parents=True, exist_ok=True)
        decoy.write_text("".join(f"line {n} of a file of the same relative name\n" for n in range(1, 30)))
    proc = run_python("import tobrim.key\ntobrim.key.released('x')\n", check=False, cwd=cwd)
    lines = proc.stderr.splitlines()
    entry = lines.index('  File "src/tobrim/key/key.pyi", line 12, in tobrim.key.key.released')
    assert lines[entry + 1:] == [f"    {shown}", "TypeError: an integer is required"], proc.stderr


def test_stub_is_read_when_a_line_is_wanted_and_once(run_python):
    proc = run_python(textwrap.dedent("""
        import sys, traceback
        opened = []
        sys.addaudithook(lambda event, args: event == "open" and opened.append(str(args[0])))
        def stub_reads():
            return sum(path.endswith("key.pyi") for path in opened)
        import tobrim.key
        print(stub_reads())
        for query in (tobrim.key.pressed, tobrim.key.up, tobrim.key.pressed):
            try:
                query(None)
            except TypeError as e:
                print(traceback.format_exception(e)[-2].splitlines()[-1].strip(), stub_reads())
    """))
    assert proc.stdout.splitlines() == [
        "0",
        "def pressed(key: int) -> bool: 1",
        "def up(key: int) -> bool: 1",
        "def pressed(key: int) -> bool: 1",
    ]
