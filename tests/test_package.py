"""The package around the module: Key against the raylib.h the build used,
the re-exported queries, the names it shows (dir(), help()) and what
importing the package loads."""
import os
import pickle
import pydoc
import re
import textwrap

import pytest

import tobrim.key
from conftest import TREE
from tobrim.key import Key

pytestmark = pytest.mark.core

QUERIES = ("pressed", "released", "pressed_repeat", "down", "up")


def built_raylib_header():
    """raylib.h as the build found it: its CMake cache, else the prefix the
    bootstrap exports."""
    cache = TREE.parent / "CMakeCache.txt"
    if cache.exists():
        m = re.search(r"^RAYLIB_INCLUDE_DIR:PATH=(.*)$", cache.read_text(), re.M)
        if m:
            return os.path.join(m.group(1), "raylib.h")
    prefix = os.environ.get("TOBRIM_RAYLIB_DIR")
    if not prefix:
        pytest.fail("no CMake cache beside the tree and no TOBRIM_RAYLIB_DIR: which raylib.h?")
    return os.path.join(prefix, "include", "raylib.h")


def header_keys(text):
    body = re.search(r"typedef enum \{([^}]*)\}\s*KeyboardKey\s*;", text).group(1)
    body = re.sub(r"//[^\n]*", "", body)
    entries = [e.strip() for e in body.split(",") if e.strip()]
    keys = {}
    for entry in entries:
        m = re.fullmatch(r"KEY_(\w+)\s*=\s*(\d+)", entry)
        assert m, f"unexpected KeyboardKey entry {entry!r}"
        keys[m.group(1)] = int(m.group(2))
    return keys


def test_key_is_raylibs_keyboard_key():
    with open(built_raylib_header()) as f:
        raylib = header_keys(f.read())
    ours = {name: member.value for name, member in Key.__members__.items()}
    assert sorted(raylib.keys() - ours.keys()) == [], "missing from Key"
    assert sorted(ours.keys() - raylib.keys()) == [], "not in raylib.h"
    assert {n: (ours[n], v) for n, v in raylib.items() if ours[n] != v} == {}, "(ours, raylib's)"
    # No two names share a value, so none is a hidden alias of another.
    assert len(Key) == len(Key.__members__) == 110


def test_key_members_are_the_ints():
    assert (Key.SPACE, Key.A, Key.KP_ENTER, Key.RIGHT_SUPER, Key.NULL) == (32, 65, 335, 347, 0)
    assert isinstance(Key.A, int) and Key(65) is Key.A
    assert repr(Key.ESCAPE) == "<Key.ESCAPE: 256>" and f"{Key.ESCAPE}" == "256"
    # Pickles by reference to the public name.
    data = pickle.dumps(Key.A)
    assert pickle.loads(data) is Key.A and b"tobrim.key" in data and b"_keys" not in data


@pytest.mark.parametrize("name", QUERIES)
def test_queries_take_key_members_as_their_ints(key, keyboard, name):
    query = getattr(key, name)
    keyboard.frame(down=[Key.A, Key.LEFT_SHIFT])
    frames = [keyboard.frame, lambda: keyboard.frame(up=[Key.A])]
    for step in frames:
        answers = [(query(member), query(key=member)) for member in (Key.A, Key.LEFT_SHIFT, Key.Z, Key.NULL)]
        assert answers == [(query(int(m)),) * 2 for m in (Key.A, Key.LEFT_SHIFT, Key.Z, Key.NULL)]
        step()
    keyboard.frame(down=[Key.A])
    assert key.down(Key.A) and key.pressed(key=Key.A) and not key.up(Key.A)


def test_package_reexports_the_queries(key):
    from tobrim.key import down, pressed, pressed_repeat, released, up
    assert [pressed, released, pressed_repeat, down, up] == [getattr(key, n) for n in QUERIES]
    assert all(getattr(tobrim.key, n) is getattr(key, n) for n in QUERIES)
    assert set(tobrim.key.__all__) == {*QUERIES, "Key", "raylib_path"}
    assert set(tobrim.key.__all__) <= set(dir(tobrim.key))
    assert isinstance(tobrim.key.__version__, str)
    with pytest.raises(AttributeError, match="module 'tobrim.key' has no attribute 'Pressed'"):
        tobrim.key.Pressed


def test_import_leaves_the_enum_module_until_key_is_used(run_python):
    # The star import then gives exactly the public names.
    proc = run_python(textwrap.dedent("""
        import sys
        import tobrim.key
        print("tobrim.key.key" in sys.modules, "enum" in sys.modules, "ctypes" in sys.modules,
              "tobrim.key._demo" in sys.modules)
        from tobrim.key import Key
        print("enum" in sys.modules, "ctypes" in sys.modules)
        ns = {}
        exec("from tobrim.key import *", ns)
        print(sorted(n for n in ns if n != "__builtins__"))
        print(ns["Key"].A + 0, ns["Key"] is Key, ns["pressed"] is sys.modules["tobrim.key.key"].pressed)
    """))
    assert proc.stdout.splitlines() == [
        "True False False False", "True False",
        "['Key', 'down', 'pressed', 'pressed_repeat', 'raylib_path', 'released', 'up']",
        "65 True True"]


API = sorted([*QUERIES, "Key", "raylib_path"])


def test_public_names_are_the_api_and_the_submodule(run_python):
    # What dir() and the module's dictionary show as each part of the
    # package comes into use: Key made, raylib_path's module loaded, the
    # key grid's module imported.
    proc = run_python(textwrap.dedent("""
        import tobrim.key
        def public(names):
            return " ".join(sorted(n for n in names if not n.startswith("_")))
        def show():
            print(public(dir(tobrim.key)), "|", public(vars(tobrim.key)))
        show()
        tobrim.key.Key
        show()
        tobrim.key.raylib_path()
        import tobrim.key._demo
        show()
    """))
    made = " ".join(sorted([*API, "key"]))
    before = " ".join(sorted([*QUERIES, "raylib_path", "key"]))
    assert proc.stdout.splitlines() == [f"{made} | {before}", f"{made} | {made}", f"{made} | {made}"]


def help_sections(text):
    """The names under each heading of pydoc's text for a module."""
    sections, heading = {}, None
    for line in text.splitlines():
        if re.fullmatch(r"[A-Z][A-Z ]+", line):
            heading = sections.setdefault(line, [])
        elif heading is not None:
            m = re.match(r"    (?:class )?(\w+)[(= ]|    (\w+)$", line)
            if m:
                heading.append(m.group(1) or m.group(2))
    return sections


def test_help_lists_the_api():
    text = pydoc.render_doc(tobrim.key, renderer=pydoc.plaintext)
    sections = help_sections(text)
    assert {h: sections[h] for h in ("FUNCTIONS", "CLASSES", "DATA")} == {
        "FUNCTIONS": sorted(n for n in API if n != "Key"),
        "CLASSES": ["Key"],
        "DATA": ["__all__"],
    }, text
    assert "TYPE_CHECKING" not in text, text
