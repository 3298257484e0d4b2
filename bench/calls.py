"""What one key query costs, next to the cheapest bindings of the same raylib
query and to the other ways of calling it.

    PYTHONPATH=build/cp314-release/tree python3.14 bench/calls.py [calls per round]

Times every row in interleaved rounds (a slow moment of the machine then
costs every row alike) and keeps each row's best round.  `net` subtracts the
empty loop body, leaving the call alone; the comparisons below the table
divide net figures.  Nothing is asserted here: run.py judges the figures
that have targets (targets.py).
"""
import dis
import sys
import timeit

import common
import targets

ROWS = [  # label, statement
    ("pressed(65)", "pressed(65)"),
    ("vectorcall floor pressed(65)", "floor(65)"),
    ("METH_O baseline pressed(65)", "baseline(65)"),
    ("ctypes IsKeyPressed(65), argtypes set", "ctypes(65)"),
    ("Python def wrapping pressed", "wrapper(65)"),
    ("pressed(key=65)", "pressed(key=65)"),
    ("pressed(**{'key': 65})", "pressed(**kw)"),
    ("pressed.__call__(65)", "call(65)"),
    ("pressed(True)", "pressed(True)"),
    ("builtin abs(65)", "abs(65)"),
    ("Python def f(key): return False", "python_function(65)"),
    ("(empty loop body)", "pass"),
]
EMPTY = "(empty loop body)"

# numerator, denominator, the figure the quotient is.  Only ctypes is judged
# by time; the other targets are judged by instruction counts, which the
# load of the machine does not move (instructions.py).
COMPARISONS = [
    ("pressed(65)", "vectorcall floor pressed(65)", "time: pressed / vectorcall floor"),
    ("pressed(65)", "METH_O baseline pressed(65)", "time: pressed / METH_O baseline"),
    ("ctypes IsKeyPressed(65), argtypes set", "pressed(65)", "time: ctypes / pressed"),
    ("Python def wrapping pressed", "pressed(65)", "time: Python wrapper / pressed"),
    ("pressed(key=65)", "pressed(65)", "time: keyword / positional"),
    ("pressed(**{'key': 65})", "pressed(65)", "time: keyword dict / positional"),
    ("pressed.__call__(65)", "pressed(65)", "time: __call__ / positional"),
]


def measure(number=200_000, rounds=15):
    """label -> best ns per call."""
    fns = common.callables()
    glb = dict(fns, kw={"key": 65})
    timers = {label: timeit.Timer(stmt, globals=glb) for label, stmt in ROWS}
    best = {}
    for _ in range(rounds):
        for label, timer in timers.items():
            ns = timer.timeit(number) / number * 1e9
            best[label] = min(ns, best.get(label, ns))
    return best


def specialisations(glb):
    """label -> the call instruction the interpreter specialised the row's
    call to, after a warm-up."""
    found = {}
    for label, stmt in ROWS:
        ns = dict(glb)
        exec(f"def loop(n):\n    for _ in range(n):\n        {stmt}\n", ns)
        ns["loop"](1000)
        ops = [i.opname for i in dis.get_instructions(ns["loop"], adaptive=True)]
        body = ops[next(i for i, op in enumerate(ops) if op.startswith("FOR_ITER")):]
        found[label] = " ".join(op for op in body if op.startswith("CALL"))
    return found


def report(number=200_000):
    best = measure(number)
    spec = specialisations(dict(common.callables(), kw={"key": 65}))
    empty = best[EMPTY]
    base = best["pressed(65)"] - empty
    print(f"-- time per call (timeit, best of 15 interleaved rounds of {number} calls)")
    print(f"{'call':40} {'ns/call':>8} {'net ns':>8} {'/pressed':>9}  specialised as")
    for label, _ in ROWS:
        ns = best[label]
        if label == EMPTY:
            print(f"{label:40} {ns:8.1f}")
        else:
            print(f"{label:40} {ns:8.1f} {ns - empty:8.1f} {(ns - empty) / base:9.2f}  {spec[label]}")
    print()
    print(f"{'comparison (net figures)':36} {'ratio':>7}  target")
    figures = {}
    for num, den, figure in COMPARISONS:
        ratio = (best[num] - empty) / (best[den] - empty)
        target = targets.target(figure)
        judged = f"{target.text()} {target.verdict(ratio)}" if target else ""
        print(f"{figure:36} {ratio:7.2f}  {judged}".rstrip())
        if target:
            figures[figure] = ratio
    return figures


if __name__ == "__main__":
    report(int(sys.argv[1]) if len(sys.argv) > 1 else 200_000)
