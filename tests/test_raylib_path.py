"""tobrim.key.raylib_path(): the raylib whose input state the queries read,
whichever copy the loader bound the module to, and what a window opened
through another copy looks like to the queries."""
import ctypes
import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import tobrim.key
from conftest import LIBC, TREE, bundled_raylib

HERE = os.path.dirname(os.path.abspath(__file__))
BUNDLED = bundled_raylib()


@pytest.fixture(scope="session")
def copies(tmp_path_factory):
    """Copies of the bundled raylib: one under the same SONAME in another
    folder, one under another file name with the same SONAME, and one under
    another file name and SONAME."""
    base = tmp_path_factory.mktemp("raylib-copies")
    for folder in ("same", "renamed", "other"):
        (base / folder).mkdir()
    same = base / "same" / BUNDLED.name
    renamed = base / "renamed" / "libraylib-renamed.so"
    other = base / "other" / "libraylib-copy.so"
    for copy in (same, renamed, other):
        shutil.copyfile(BUNDLED, copy)
    subprocess.run(["patchelf", "--set-soname", other.name, str(other)], check=True)
    return {"same": same, "renamed": renamed, "other": other}


@pytest.mark.core
def test_names_the_bundled_library(key):
    assert tobrim.key.raylib_path() == str(BUNDLED)


@pytest.mark.core
def test_falls_back_to_the_module_dependencies(key, monkeypatch):
    # When the module's file cannot be read, or is not the one loaded (say,
    # rebuilt since), its slots are not read; the module's own dependencies
    # are searched instead.
    import tobrim.key._raylib as found
    original = found._ModuleFile.__init__

    def rebuilt(self, path):
        original(self, path)
        self.header = self.header[:-1] + bytes([self.header[-1] ^ 1])

    def unreadable(self, path):
        raise OSError("unreadable")

    for init in (rebuilt, unreadable):
        # Undone at once, so that a body run again (the leak hunt) starts alike.
        with monkeypatch.context() as patch:
            patch.setattr(found._ModuleFile, "__init__", init)
            module = ctypes.CDLL(key.__file__, mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
            assert found._bound_address(module, key.__file__) is None
            assert tobrim.key.raylib_path() == str(BUNDLED)


# A child loads a copy of raylib by path, before or after importing the
# module, then holds A through raylib_path()'s library and B through the
# copy, each as a key-down event in a new frame of that library's state.
CHILD = textwrap.dedent("""
    import ctypes, json, os, sys
    sys.path.insert(0, {tests!r})
    from conftest import Keyboard

    def load_copy():
        os.chdir(os.path.dirname({copy!r}))
        lib = ctypes.CDLL({name!r}, mode={mode})
        os.chdir("/")
        return lib

    if {before}:
        copy = load_copy()
    import tobrim.key as tk
    if not {before}:
        copy = load_copy()
    path = tk.raylib_path()
    for lib in (ctypes.CDLL(path), copy):
        lib.SetTraceLogLevel(7)
    copy.IsKeyDown.restype = ctypes.c_bool
    Keyboard(ctypes.CDLL(path)).frame(down=[tk.Key.A])
    Keyboard(copy).frame(down=[tk.Key.B])
    print(json.dumps([path, tk.down(tk.Key.A), tk.down(tk.Key.B), copy.IsKeyDown(tk.Key.B)]))
""")

# Whether the module is bound to a copy loaded by path depends on the C
# library's loader:
#   glibc: an object already loaded whose SONAME is the name the module
#          needs stands in for it, however it was loaded (by an absolute or
#          a relative path, local or global);
#   musl:  SONAMEs are not compared: the module's search for the name it
#          needs (LD_LIBRARY_PATH, its run path, musl's own path) loads the
#          bundled file, unless that very file (device and inode) is loaded.
# On both, the global scope (the interpreter and what was loaded global) is
# searched for symbols before the module's own dependencies, and a copy
# loaded after the import changes nothing.
LOADS = [
    # (case, copy, mode, loaded before the import, by a relative name,
    #  the module reads the copy: on glibc, on musl)
    ("same SONAME, loaded before", "same", "os.RTLD_LOCAL", True, False, True, False),
    ("same SONAME, loaded before, global", "same", "os.RTLD_GLOBAL", True, False, True, True),
    ("same SONAME, loaded before by a relative name", "same", "os.RTLD_LOCAL", True, True, True, False),
    ("same SONAME under another file name, loaded before", "renamed", "os.RTLD_LOCAL", True, False, True, False),
    ("same SONAME, loaded after", "same", "os.RTLD_LOCAL", False, False, False, False),
    ("other SONAME, loaded before, global", "other", "os.RTLD_GLOBAL", True, False, True, True),
    ("other SONAME, loaded before", "other", "os.RTLD_LOCAL", True, False, False, False),
    ("other SONAME, loaded after, global", "other", "os.RTLD_GLOBAL", False, False, False, False),
]


@pytest.mark.core
@pytest.mark.parametrize("case, which, mode, before, relative, on_glibc, on_musl", LOADS,
                         ids=[c[0] for c in LOADS])
def test_names_the_copy_the_module_is_bound_to(run_python, copies, case, which, mode, before, relative,
                                               on_glibc, on_musl):
    shared = {"glibc": on_glibc, "musl": on_musl}[LIBC]
    copy = copies[which]
    name = "./" + copy.name if relative else str(copy)
    out = run_python(CHILD.format(tests=HERE, copy=str(copy), name=name, mode=mode, before=before))
    path, down_a, down_b, copy_down_b = json.loads(out.stdout.strip().splitlines()[-1])
    assert path == os.path.realpath(copy if shared else BUNDLED)
    # raylib_path() names the state the queries read; the copy's own state
    # took B in every case.
    assert down_a and copy_down_b
    assert down_b is shared


@pytest.fixture
def window_through(x_display):
    def run(library):
        env = dict(x_display, PYTHONPATH=os.pathsep.join([str(TREE), HERE]))
        proc = subprocess.run([sys.executable, os.path.join(HERE, "window_copy_probe.py"), library], env=env,
                              capture_output=True, text=True, timeout=120)
        assert proc.returncode == 0, proc.stdout + proc.stderr
        return json.loads(proc.stdout.strip().splitlines()[-1])
    return run


def test_window_through_raylib_path_is_seen(window_through):
    seen = window_through("bound")
    assert seen["window_library"] == seen["raylib_path"] == str(BUNDLED)
    assert seen["library_down"] and seen["pressed"] and seen["down"]


def test_window_through_another_copy_is_not_seen(window_through, copies):
    # Loaded after the import under its own SONAME, as another binding's
    # raylib would be: its window gets the key, the queries answer False.
    seen = window_through(str(copies["other"]))
    assert seen["window_library"] == os.path.realpath(copies["other"]) and seen["raylib_path"] == str(BUNDLED)
    assert seen["library_pressed"] and seen["library_down"]
    assert not seen["pressed"] and not seen["down"]
