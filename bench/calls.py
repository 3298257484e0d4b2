"""What one key query costs, next to other calls a game makes per frame.

    PYTHONPATH=build/release/tree python3.14 bench/calls.py

Prints nanoseconds per call (best of several repeats) and each figure's
ratio to the positional call `pressed(65)`.  The raylib query itself is the
same in every row that calls it, so the differences are the call paths.
"""
import ctypes
import pathlib
import sys
import timeit

import tobrim
import tobrim.key.key as key

rl = ctypes.CDLL(str(pathlib.Path(tobrim.__file__).parent.parent / "tobrim.libs" / "libraylib.so.600"))
rl.IsKeyPressed.argtypes = [ctypes.c_int]
rl.IsKeyPressed.restype = ctypes.c_bool
rl.SetTraceLogLevel(7)


def python_function(key):
    return False


pressed = key.pressed
CASES = [
    ("pressed(65)", "pressed(65)"),
    ("pressed(key=65)", "pressed(key=65)"),
    ("pressed(**{'key': 65})", "pressed(**kw)"),
    ("pressed(True)", "pressed(True)"),
    ("pressed.__call__(65) (generic call slot)", "call(65)"),
    ("builtin abs(65)", "abs(65)"),
    ("Python def f(key): return False", "python_function(65)"),
    ("ctypes IsKeyPressed(65)", "ctypes_query(65)"),
]


def timers():
    glb = {"pressed": pressed, "kw": {"key": 65}, "call": pressed.__call__,
           "python_function": python_function, "ctypes_query": rl.IsKeyPressed}
    return {label: timeit.Timer(stmt, globals=glb) for label, stmt in CASES + [("(empty loop body)", "pass")]}


def main():
    number = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    # Rounds interleave the cases, so a slow moment of the machine costs
    # every case alike; each figure is its best round.
    best = {}
    for _ in range(9):
        for label, timer in timers().items():
            ns = timer.timeit(number) / number * 1e9
            best[label] = min(ns, best.get(label, ns))
    base = best["pressed(65)"]
    print(f"{'call':44} {'ns/call':>9} {'ratio':>7}")
    for label, ns in best.items():
        print(f"{label:44} {ns:9.1f} {ns / base:7.2f}")


if __name__ == "__main__":
    main()
