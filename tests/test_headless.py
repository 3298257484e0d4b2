"""Without X11 or GL: the package imports and answers where no window can
open (a game's headless CI job, a server sharing the game's logic, a slim
container).  raylib's GLFW loads those libraries only when a window opens,
so the bundled raylib needs nothing but the C and math libraries."""
import os
import sys

import pytest

import headless
from conftest import LIBC, TREE, bundled_raylib, c_library, needed

hidden = pytest.mark.skipif(headless.refused() is not None, reason=str(headless.refused()))


def answers_without_a_window(stdout):
    """What run_hidden's QUERIES printed: the module's file, raylib_path()
    and the answers; before any window, only up() answers True, for a key
    in raylib's table."""
    path, raylib, *answers = stdout.split()
    per_query = [answers[i:i + 3] for i in range(0, 15, 3)]
    assert per_query == [["False"] * 3] * 4 + [["True", "True", "False"]], answers
    return path, raylib


def test_bundled_raylib_needs_only_the_c_and_math_libraries():
    allowed = {c_library()} if LIBC == "musl" else {c_library(), "libm.so.6"}
    assert set(needed(bundled_raylib())) <= allowed, needed(bundled_raylib())


@hidden
def test_imports_and_answers_where_x11_and_gl_cannot_load(tmp_path):
    proc = headless.run_hidden(sys.executable, headless.QUERIES, tmp_path,
                               dict(os.environ, PYTHONPATH=str(TREE)))
    assert proc.returncode == 0, proc.stdout + proc.stderr
    path, raylib = answers_without_a_window(proc.stdout)
    assert path.startswith(str(TREE) + os.sep)
    assert raylib == str(bundled_raylib().resolve())
