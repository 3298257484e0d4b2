"""The module's constant strings (one zlib stream cut by a length table)
and the code objects built from them."""
import pathlib
import subprocess
import sys
import textwrap
import zlib

import pytest

from conftest import TREE

pytestmark = pytest.mark.core

ROOT = pathlib.Path(__file__).resolve().parents[1]
NAMES = {"pressed": 9, "released": 12, "pressed_repeat": 15, "down": 18, "up": 21}
LINETABLES = {
    "released": "D0 00 13 90 31 D8 04 0B 88 3D 98 01 98 11",
    "up": "80 0D 88 51 D8 04 0B 88 37 90 21 90 31",
    "pressed_repeat": "D0 00 19 98 11 D8 04 0B D0 0B 1D 98 51 98 61",
    "pressed": "D0 00 12 90 21 D8 04 0B 88 3C 90 71 98 01",
    "down": "80 0F 88 71 D8 04 0B 88 39 90 41 90 51",
}


def load_generator():
    sys.path.insert(0, str(ROOT / "tools"))
    try:
        import gen_string_table
    finally:
        sys.path.pop(0)
    return gen_string_table


def test_stream_matches_the_table_and_the_build(tmp_path):
    gen = load_generator()
    entries = gen.read_entries(ROOT / "src/tobrim/key/string_table.txt")
    raw = b"".join(data for _, data in entries)
    assert len(entries) == 30 and len(raw) == 315
    stream = zlib.compress(raw, 9)
    assert stream[:2] == b"\x78\xda" and len(stream) == 241
    assert [len(d) for _, d in entries] == [1, 22, 20, 12, 18, 18, 14, 4, 8, 13, 5, 3, 8, 10, 8, 3,
                                            7, 14, 12, 8, 12, 10, 8, 2, 6, 14, 13, 15, 14, 13]
    out = tmp_path / "data.h"
    subprocess.run([sys.executable, str(ROOT / "tools/gen_string_table.py"),
                    str(ROOT / "src/tobrim/key/string_table.txt"), str(out)], check=True)
    built = TREE.parent / "generated" / "string_table_data.h"
    assert out.read_text() == built.read_text()


def test_interned_entries(key):
    # Dictionary keys of the module are entries 7, 16, 17, 19, 22, 23.
    for name in [*NAMES, "__test__"]:
        stored = next(k for k in vars(key) if k == name)
        assert sys.intern("".join(list(name))) is stored
    code = key.pressed.__code__
    assert sys.intern("".join(["k", "e", "y"])) is code.co_varnames[0]


@pytest.mark.parametrize("name,line", NAMES.items())
def test_code_objects(key, name, line):
    code = getattr(key, name).__code__
    table = bytes.fromhex(LINETABLES[name])
    assert (code.co_argcount, code.co_posonlyargcount, code.co_kwonlyargcount) == (1, 0, 0)
    assert code.co_varnames == ("key",) and code.co_flags == 3
    assert (code.co_name, code.co_qualname, code.co_firstlineno) == (name, name, line)
    assert code.co_filename == "src/tobrim/key/key.pyi"
    assert code.co_consts == () and code.co_names == ()
    assert type(code.co_linetable) is bytes and code.co_linetable == table
    assert code.co_code == bytes((2 * len(table) + 4) & ~3)
    positions = list(code.co_positions())
    assert [p[0] for p in positions] == [line, line, line + 1, line + 1, line + 1, line + 1][:len(positions)]


def test_released_positions(key):
    assert list(key.released.__code__.co_positions())[:6] == [
        (12, 12, 0, 19), (12, 12, 19, 20), (13, 13, 4, 11),
        (13, 13, 11, 24), (13, 13, 24, 25), (13, 13, 25, 26)]


FAKE_ZLIB = {
    "missing": ("sys.modules['zlib'] = None",
                "Failed to import 'zlib.decompress' - cannot initialise module strings. String "
                "compression was configured with the C macro 'CYTHON_COMPRESS_STRINGS=1'."),
    "no decompress": ("sys.modules['zlib'] = types.ModuleType('zlib')",
                      "Failed to import 'zlib.decompress' - cannot initialise module strings. String "
                      "compression was configured with the C macro 'CYTHON_COMPRESS_STRINGS=1'."),
    "short": ("fake = types.ModuleType('zlib'); fake.decompress = lambda data: b'?' * 10; sys.modules['zlib'] = fake",
              "cannot initialise module strings: the string table decompressed to 10 bytes, expected 315"),
    "not bytes": ("fake = types.ModuleType('zlib'); fake.decompress = lambda data: 'x' * 315; sys.modules['zlib'] = fake",
                  "cannot initialise module strings: the decompressor returned str, expected bytes"),
}


@pytest.mark.parametrize("case", FAKE_ZLIB)
def test_import_fails_without_a_usable_decompressor(run_python, case):
    setup, message = FAKE_ZLIB[case]
    proc = run_python(textwrap.dedent(f"""
        import sys, types, traceback
        {setup}
        try:
            import tobrim.key.key
        except ImportError as e:
            names = [f.name for f in traceback.extract_tb(e.__traceback__)]
            print(e)
            print("init tobrim.key.key" in names)
        del sys.modules["zlib"]
        import tobrim.key.key as key
        print(key.pressed(65))
    """))
    assert proc.stdout.splitlines() == [message, "False", "False"]
