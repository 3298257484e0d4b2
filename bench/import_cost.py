"""What `import tobrim.key.key` costs a fresh interpreter, from -X importtime.

    PYTHONPATH=build/cp314-release/tree python3.14 bench/import_cost.py [runs]

Each run is a new interpreter importing the module, once its finders for
sys.path are set up; the figures are the fastest and the median run, in
microseconds.  `self` is the module's own
share (loading the shared object and its execute step), `cumulative` adds
what it imports (its package, zlib).  The baseline module's import is shown
for scale: loading a shared object that needs raylib and runs nothing.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile

import common

LINE = re.compile(r"import time:\s+(\d+) \|\s+(\d+) \| *(\S+)")


def import_times(module):
    """name -> (self µs, cumulative µs) of one fresh import of module."""
    # The first import from sys.path sets up a finder for each of its
    # folders (most of a millisecond), which would fall to whichever module
    # comes first: a search for a missing name pays it beforehand.
    # And the program is a file, as a game is: `-c` would import linecache
    # first (it keeps the command's text for tracebacks), hiding what an
    # import of linecache costs.
    warm = "import importlib.util; importlib.util.find_spec('_tobrim_bench_no_such_module')"
    with tempfile.TemporaryDirectory() as folder:
        program = os.path.join(folder, "program.py")
        with open(program, "w") as f:
            f.write(f"{warm}\nimport {module}\n")
        proc = subprocess.run([sys.executable, "-X", "importtime", program],
                              capture_output=True, text=True, env=common.child_env(), check=True)
    times = {}
    for line in proc.stderr.splitlines():
        m = LINE.match(line)
        if m:
            # The package imports the module, so the module shows twice:
            # loaded inside the package's import, then found by the outer
            # one, whose cumulative figure is the whole import.
            own, cumulative = times.get(m.group(3), (0, 0))
            times[m.group(3)] = (max(own, int(m.group(1))), max(cumulative, int(m.group(2))))
    return times


def report(runs=15):
    print(f"-- import cost in a fresh interpreter (-X importtime, {runs} runs; µs)")
    print(f"{'module':28} {'self min':>9} {'self med':>9} {'cumul min':>10} {'cumul med':>10}")
    figures, selfs = {}, {}
    for module, shown in (("tobrim.key.key", ("tobrim", "tobrim.key", "zlib", "tobrim.key.key")),
                          ("_bench_baseline", ("_bench_baseline",))):
        samples = [import_times(module) for _ in range(runs)]
        for name in shown:
            own = [s[name][0] for s in samples if name in s]
            cum = [s[name][1] for s in samples if name in s]
            if not own:
                continue
            label = ("  " if name != module else "") + name
            print(f"{label:28} {min(own):9d} {statistics.median(own):9.0f} "
                  f"{min(cum):10d} {statistics.median(cum):10.0f}")
            figures[name] = statistics.median(cum)
            selfs[name] = statistics.median(own)
    own = selfs["tobrim.key.key"] - selfs["_bench_baseline"]
    print(f"the module's own share (self medians, less the baseline's, which is mostly"
          f" loading raylib): {own:.0f} µs")
    return {"import tobrim.key.key, cumulative median (µs)": figures["tobrim.key.key"]}


if __name__ == "__main__":
    report(int(sys.argv[1]) if len(sys.argv) > 1 else 15)
