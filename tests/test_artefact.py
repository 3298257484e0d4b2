"""The shared object users install: what it needs and what it exports, and
an install from the source tree into a fresh virtual environment."""
import glob
import os
import re
import shutil
import subprocess
import sys

import pytest

from conftest import (BUILD_ENV, EXT_SUFFIX, RAYLIB_DIR, SANITIZED, TREE, bundled_raylib, c_library,
                      needed, per_version_and_musl)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.fixture(scope="module")
def so():
    return str(TREE / "tobrim/key" / ("key" + EXT_SUFFIX))


def tool(*args):
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout


@pytest.mark.skipif(SANITIZED, reason="a sanitized build needs the sanitizer runtimes")
def test_needs_only_raylib_and_libc(so):
    # The C library under the name the interpreter itself links it by, and
    # raylib by the name it ships under beside the package (its SONAME).
    assert sorted(needed(so)) == sorted([c_library(), bundled_raylib().name])


def test_finds_raylib_beside_the_package(so):
    dynamic = tool("readelf", "-d", so)
    assert re.search(r"\((?:RUNPATH|RPATH)\)\s+Library (?:runpath|rpath): \[\$ORIGIN/../../tobrim.libs\]", dynamic)


def test_exports_exactly_the_entry_and_main_flag(so):
    defined = tool("nm", "-D", "--defined-only", so).split("\n")
    names = sorted(line.split()[-1] for line in defined if line.strip())
    assert names == ["PyInit_key", "__pyx_module_is_main_tobrim__key__key"]


def test_uses_no_cxx_runtime_or_glibc_only_entries(so):
    undefined = [line.split()[-1] for line in tool("nm", "-D", "--undefined-only", so).splitlines()]
    # __cxa_finalize comes with the C library's start files, not the C++ runtime.
    cxx = [s for s in undefined if s.startswith(("_Z", "__cxa", "__gxx", "_Unwind"))
           and not s.startswith("__cxa_finalize")]
    assert not cxx
    assert not [s for s in undefined if re.fullmatch(r"__\w+_chk", s.split("@")[0])]


class Installed:
    """The package as pip installed it into a fresh virtual environment,
    from a copy of the source tree, and a folder with nothing of it."""

    def __init__(self, venv, src, elsewhere, env):
        self.venv, self.src, self.elsewhere, self.env = venv, src, elsewhere, env
        self.python = str(venv / "bin/python")

    def run(self, *args, cwd=None, check=True):
        return subprocess.run([self.python, *args], capture_output=True, text=True, env=self.env,
                              cwd=cwd or self.elsewhere, check=check, timeout=120, stdin=subprocess.DEVNULL)


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    tmp_path = tmp_path_factory.mktemp("install")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(venv)], check=True)
    python = str(venv / "bin/python")
    src = tmp_path / "src"
    shutil.copytree(ROOT, src, ignore=shutil.ignore_patterns("build", ".git", "__pycache__"))
    # The raylib this interpreter's builds take (the musl one on musl, where
    # musl's compiler driver goes beside glibc's gcc).
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "TOBRIM_TREE", "CC", "CXX")}
    env.update(BUILD_ENV)
    if RAYLIB_DIR:
        env["TOBRIM_RAYLIB_DIR"] = RAYLIB_DIR
    proc = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                           "-q", str(src)], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    return Installed(venv, src, elsewhere, env)


@per_version_and_musl
def test_pip_install_into_a_fresh_venv(installed):
    venv = installed.venv
    out = installed.run("-c", "import tobrim.key.key as k, tobrim.key as p; "
                        "print(k.pressed(65), k.__file__, p.raylib_path(), p.pressed(p.Key.A))").stdout
    answer, path, raylib, package_answer = out.split()
    assert answer == package_answer == "False"
    site = os.path.dirname(os.path.dirname(os.path.dirname(path)))
    assert path.startswith(str(venv))
    assert sorted(needed(path)) == sorted([c_library(), bundled_raylib().name])
    assert bundled_raylib(site).name == bundled_raylib().name
    assert raylib == os.path.realpath(bundled_raylib(site))
    assert os.path.exists(os.path.join(site, "tobrim", "key", "key.pyi"))
    assert os.path.exists(os.path.join(site, "tobrim", "key", "py.typed"))
    # The test-only and benchmark-only modules stay in the build tree.
    assert not glob.glob(os.path.join(site, "_runtime_test*")) + glob.glob(os.path.join(site, "_bench_*"))


GAME = "import tobrim.key\n\nif tobrim.key.pressed('space'):\n    print('jump')\n"


# A user's program that passes a bad key, run from a folder with nothing of
# the package and from the top of the source tree it was installed from:
# under the query's entry, its line of the stub, as the checkout shows it.
@per_version_and_musl
@pytest.mark.parametrize("where", ["elsewhere", "source tree"])
def test_traceback_shows_the_stub_line(installed, where):
    cwd = installed.elsewhere if where == "elsewhere" else installed.src
    game = installed.elsewhere / "game.py"
    game.write_text(GAME)
    proc = installed.run(str(game), cwd=cwd, check=False)
    assert proc.stderr.splitlines()[-5:] == [
        "    if tobrim.key.pressed('space'):",
        "       ~~~~~~~~~~~~~~~~~~^^^^^^^^^",
        '  File "src/tobrim/key/key.pyi", line 9, in tobrim.key.key.pressed',
        "    def pressed(key: int) -> bool:",
        "TypeError: an integer is required",
    ], proc.stderr


@per_version_and_musl
def test_key_grid_comes_with_the_package(installed):
    env = {k: v for k, v in installed.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    usage = subprocess.run([installed.python, "-m", "tobrim.key", "--help"], capture_output=True, text=True,
                           env=env, cwd=installed.elsewhere, timeout=120)
    assert usage.returncode == 0 and usage.stdout.startswith("usage: python -m tobrim.key"), usage
    run = subprocess.run([installed.python, "-m", "tobrim.key"], capture_output=True, text=True,
                         env=env, cwd=installed.elsewhere, timeout=120)
    assert (run.returncode, run.stdout, len(run.stderr.splitlines())) == (1, "", 1), run
    assert "needs a display" in run.stderr
