"""What the benchmark scripts share: where the built module and the
baseline are, raylib loaded as the module loaded it, and the callables
every script measures.

The built tree is $TOBRIM_TREE, else build/release/tree; the benchmark-only
baseline module is built beside it, in build/<variant>/bench.
"""
import ctypes
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
TREE = pathlib.Path(os.environ.get("TOBRIM_TREE", ROOT / "build/release/tree")).resolve()
EXT = TREE.parent / "bench"
PATH = [str(TREE), str(EXT)]
for _p in reversed(PATH):
    if _p not in sys.path:
        sys.path.insert(0, _p)
RAYLIB = TREE / "tobrim.libs" / "libraylib.so.600"
LOG_NONE = 7


def child_env(**extra):
    """Environment for a fresh interpreter that imports from the built tree."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(PATH), PYTHONHASHSEED="0")
    env.update(extra)
    return env


def callables():
    """name -> callable, for the rows of every benchmark."""
    import _bench_baseline
    import tobrim.key.key as key

    raylib = ctypes.CDLL(str(RAYLIB))
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
        "ctypes": raylib.IsKeyPressed,
        "wrapper": wrapper,
        "python_function": python_function,
        "call": pressed.__call__,
    }
