"""Instructions per call under valgrind's callgrind: deterministic, unlike
times.

    PYTHONPATH=build/cp314-release/tree python3.14 bench/instructions.py [calls]

Each row runs a fresh interpreter under callgrind twice, with a loop of N
and of 2N calls; the difference of the two totals divided by N is the cost
of one loop turn, start-up and teardown cancelling.  The empty loop's turn
is subtracted to give the call alone.  The same difference, function by
function (callgrind_annotate), shows where a call's instructions go: in the
interpreter's dispatch of the call (its eval loop, PyObject_Vectorcall), in
the binding (the extension's code and the C API functions it calls) or in
raylib.

valgrind needs the debug symbols of the interpreter's dynamic loader;
`scripts/bootstrap --valgrind` provides them and names their folder in
TOBRIM_VALGRIND_DEBUGINFO.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import common

LOOP = """
import sys
import common
fns = common.callables()
f = fns.get(sys.argv[1])
n = int(sys.argv[2])
def call(f, n):
    for _ in range(n):
        f(65)
def keyword(f, n):
    for _ in range(n):
        f(key=65)
def empty(f, n):
    for _ in range(n):
        pass
{"empty": empty, "keyword": keyword}.get(sys.argv[3], call)(f, n)
"""

ROWS = [  # label, callable, loop
    ("pressed(65)", "pressed", "call"),
    ("vectorcall floor pressed(65)", "floor", "call"),
    ("METH_O baseline pressed(65)", "baseline", "call"),
    ("pressed(key=65)", "pressed", "keyword"),
    ("(empty loop body)", "pressed", "empty"),
]
ANNOTATED = ("pressed(65)", "vectorcall floor pressed(65)", "METH_O baseline pressed(65)",
             "pressed(key=65)")
SUMMARY = re.compile(r"^summary:\s+(\d+)", re.M)
FUNCTION = re.compile(r"^\s*([\d,]+) \([^)]*\)\s+(?:\?\?\?|[^:\s]*):(.+?)(?: \[(.+)\])?$")


def valgrind_command(out):
    cmd = ["valgrind", "--tool=callgrind", "--dump-instr=no", f"--callgrind-out-file={out}"]
    debuginfo = os.environ.get("TOBRIM_VALGRIND_DEBUGINFO")
    if debuginfo:
        cmd.append(f"--extra-debuginfo-path={debuginfo}")
    return cmd


def run(workdir, name, fn, loop, n):
    out = os.path.join(workdir, f"{name}.{loop}.{n}.out")
    script = os.path.join(workdir, "loop.py")
    env = common.child_env(PYTHONPATH=os.pathsep.join(common.PATH + [os.path.dirname(__file__)]))
    proc = subprocess.run(valgrind_command(out) + [sys.executable, script, fn, str(n), loop],
                          capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        raise RuntimeError(f"callgrind run failed ({proc.returncode}):\n{proc.stderr[-3000:]}")
    with open(out) as f:
        total = int(SUMMARY.search(f.read()).group(1))
    return total, out


def functions(path):
    """function (with its object file's name) -> instructions, of one run."""
    text = subprocess.run(["callgrind_annotate", "--threshold=100", path],
                          capture_output=True, text=True, check=True).stdout
    costs = {}
    for line in text.splitlines():
        m = FUNCTION.match(line)
        if m and "PROGRAM TOTALS" not in line:
            obj = os.path.basename(m.group(3) or "?")
            costs[f"{m.group(2)}  [{obj}]"] = int(m.group(1).replace(",", ""))
    return costs


def breakdown(small, large, n):
    a, b = functions(small), functions(large)
    rows = [((b.get(k, 0) - a.get(k, 0)) / n, k) for k in set(a) | set(b)]
    return sorted((r for r in rows if abs(r[0]) >= 0.5), reverse=True)


DISPATCH = ("_PyEval_EvalFrameDefault", "PyObject_Vectorcall")


def split_by_object(rows, loop_only):
    """(the interpreter's dispatch, the binding, raylib) instructions of one
    call.  The binding is everything between the interpreter's call and
    raylib, in the extension or in the C API functions it calls."""
    dispatch = binding = raylib = 0.0
    for cost, name in rows:
        cost -= loop_only.get(name, 0.0)
        if name.startswith(DISPATCH):
            dispatch += cost
        elif "libraylib" in name:
            raylib += cost
        else:
            binding += cost
    return dispatch, binding, raylib


def report(n=100_000):
    """Prints the figures; returns the judged ones (none without valgrind)."""
    print(f"-- instructions per call (callgrind, loops of {n} and {2 * n} calls)")
    if shutil.which("valgrind") is None:
        print("skipped: no valgrind (scripts/bootstrap --valgrind installs it)")
        return {}
    turns, outs = {}, {}
    with tempfile.TemporaryDirectory() as workdir:
        with open(os.path.join(workdir, "loop.py"), "w") as f:
            f.write(LOOP)
        for label, fn, loop in ROWS:
            try:
                (t1, o1), (t2, o2) = (run(workdir, fn, fn, loop, n),
                                      run(workdir, fn, fn, loop, 2 * n))
            except RuntimeError as e:
                print(f"skipped: {e}")
                return {}
            turns[label] = (t2 - t1) / n
            outs[label] = (o1, o2)
        empty = turns["(empty loop body)"]
        print(f"{'call':32} {'per loop turn':>14} {'net':>8}")
        for label, _, _ in ROWS:
            net = "" if label == "(empty loop body)" else f"{turns[label] - empty:8.1f}"
            print(f"{label:32} {turns[label]:14.1f} {net}")
        loop_only = dict((k, c) for c, k in breakdown(*outs["(empty loop body)"], n))
        shares = {}
        for label in ANNOTATED:
            print(f"\nwhere the instructions of one turn of {label} go (Ir, self):")
            rows = breakdown(*outs[label], n)
            for cost, name in rows:
                print(f"{cost:8.1f}  {name}")
            shares[label] = split_by_object(rows, loop_only)
        print("\nthe call alone (the empty loop's share taken off): the interpreter's"
              " dispatch (eval loop, PyObject_Vectorcall), the binding, raylib:")
        print(f"{'call':32} {'dispatch':>9} {'binding':>8} {'raylib':>7}")
        for label, (dispatch, binding, raylib) in shares.items():
            print(f"{label:32} {dispatch:9.1f} {binding:8.1f} {raylib:7.1f}")

    def net(label):
        return turns[label] - empty
    floor = net("pressed(65)") / net("vectorcall floor pressed(65)")
    builtin = net("pressed(65)") / net("METH_O baseline pressed(65)")
    kw = net("pressed(key=65)") / net("pressed(65)")
    print(f"\nnet instructions: pressed / vectorcall floor {floor:.2f}; "
          f"keyword / positional {kw:.2f}; pressed / METH_O baseline {builtin:.2f} (reference)")
    return {"instructions: pressed / vectorcall floor": floor,
            "instructions: keyword / positional": kw}


if __name__ == "__main__":
    report(int(sys.argv[1]) if len(sys.argv) > 1 else 100_000)
