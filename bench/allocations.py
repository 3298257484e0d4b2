"""Memory blocks each call leaves allocated, from sys.getallocatedblocks()
before and after many calls of each form (the collector off).

    PYTHONPATH=build/cp314-release/tree python3.14 bench/allocations.py [calls]

A call that frees all it allocates leaves 0 blocks per call.  The two
bindings of the benchmark-only module are shown for scale and not judged.  Failing calls
are included: the exception, its traceback entry and the frame must all go
away once the exception is caught.
"""
import gc
import sys

import common
import targets

FORMS = [  # label, statement in the loop
    ("pressed(65)", "pressed(65)"),
    ("pressed(key=65)", "pressed(key=65)"),
    ("pressed(**{'key': 65})", "pressed(**kw)"),
    ("pressed.__call__(65)", "call(65)"),
    ("pressed(2**31 - 1) (two digits)", "pressed(big)"),
    ("pressed(None), TypeError caught", "try_call(pressed, None)"),
    ("pressed(k=1), TypeError caught", "try_call(pressed, k=1)"),
    ("vectorcall floor pressed(65)", "floor(65)"),
    ("METH_O baseline pressed(65)", "baseline(65)"),
]
# Shown for scale, not judged.
REFERENCES = {"vectorcall floor pressed(65)", "METH_O baseline pressed(65)"}

LOOP = """
def loop(n):
    for _ in range(n):
        {stmt}
"""


def try_call(f, *args, **kwargs):
    try:
        f(*args, **kwargs)
    except TypeError:
        pass


def blocks_left(run):
    """Blocks allocated after run() that were not before (the collector off)."""
    gc.disable()
    try:
        before = sys.getallocatedblocks()
        run()
        after = sys.getallocatedblocks()
    finally:
        gc.enable()
    return after - before


def blocks_per_call(stmt, glb, n):
    ns = dict(glb)
    exec(LOOP.format(stmt=stmt), ns)
    loop = ns["loop"]
    loop(1000)  # warm: specialisation, caches filled once
    # The reading's own share, taken off: the int holding the first count
    # can be a block of its own (CPython 3.13 keeps no free ints).
    reading = blocks_left(lambda: None)
    left = blocks_left(lambda: loop(n)) - reading
    return left / n, left


def report(n=200_000):
    fns = common.callables()
    glb = dict(fns, kw={"key": 65}, big=2**31 - 1, try_call=try_call)
    print(f"-- memory blocks left per call (sys.getallocatedblocks() over {n} calls)")
    print(f"{'call':40} {'blocks/call':>12} {'blocks in all':>14}")
    worst = 0.0
    for label, stmt in FORMS:
        per_call, total = blocks_per_call(stmt, glb, n)
        if label not in REFERENCES:
            worst = max(worst, abs(per_call))
        print(f"{label:40} {per_call:12.6f} {total:14d}")
    # Target 0: not one block more or less over all the calls of any form.
    figure = "memory blocks per call (largest)"
    target = targets.target(figure)
    print(f"largest of tobrim.key's forms: {worst:.6f} blocks per call; "
          f"{target.text()} {target.verdict(worst)}")
    return {"memory blocks per call (largest)": worst}


if __name__ == "__main__":
    report(int(sys.argv[1]) if len(sys.argv) > 1 else 200_000)
