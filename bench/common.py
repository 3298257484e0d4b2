"""What the benchmark scripts share: where the built module and the
benchmark-only module are, raylib loaded as the module loaded it, and the
callables every script measures.

The built tree is $TOBRIM_TREE, else the release build of the running
interpreter's version (build/cp314-release/tree); the benchmark-only module
(_bench_baseline: the METH_O baseline and the vectorcall floor) is built
beside it, in build/cp<version>-release/bench.
"""
import ctypes
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
TREE = pathlib.Path(os.environ.get("TOBRIM_TREE") or ROOT / "build" / (
    "cp%d%d-release" % sys.version_info[:2]) / "tree").resolve()
EXT = TREE.parent / "bench"
PATH = [str(TREE), str(EXT)]
for _p in reversed(PATH):
    if _p not in sys.path:
        sys.path.insert(0, _p)
LOG_NONE = 7


def raylib_path():
    """The raylib file the package tree holds, whatever its version suffix."""
    (path,) = sorted((TREE / "tobrim.libs").glob("libraylib.so*"))
    return path


def child_env(**extra):
    """Environment for a fresh interpreter that imports from the built tree."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(PATH), PYTHONHASHSEED="0")
    env.update(extra)
    return env


def callables():
    """name -> callable, for the rows of every benchmark."""
    import _bench_baseline
    import tobrim.key.key as key

    raylib = ctypes.CDLL(str(raylib_path()))
    raylib.SetTraceLogLevel.argtypes = [ctypes.c_int]
    raylib.SetTraceLogLevel(LOG_NONE)
    raylib.IsKeyPressed.argtypes = [ctypes.c_int]
    raylib.IsKeyPressed.restype = ctypes.c_bool
    pressed = key.pressed

    def wrapper(key):
        return pressed(key)

    def python_function(key):
        return False

    return {
        "pressed": pressed,
        "baseline": _bench_baseline.pressed,
        "floor": _bench_baseline.vectorcall_pressed,
        "ctypes": raylib.IsKeyPressed,
        "wrapper": wrapper,
        "python_function": python_function,
        "call": pressed.__call__,
    }
