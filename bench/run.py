"""Every call-cost benchmark in one run, then the targets, met or missed.

    PYTHONPATH=build/release/tree python3.14 bench/run.py

(scripts/bench sets up, builds and runs this.)  Sections: times per call
and their ratios (calls.py), instructions per call under callgrind
(instructions.py), memory blocks left per call (allocations.py) and the
import cost (import_cost.py).  Nothing is asserted.
"""
import allocations
import calls
import import_cost
import instructions


def main():
    rows = []
    for section in (calls, instructions, allocations, import_cost):
        rows += section.report()
        print()
    print("-- targets")
    print(f"{'figure':42} {'value':>10}  {'target':14} verdict")
    for what, value, target, met in rows:
        verdict = "" if met is None else ("met" if met else "MISSED")
        print(f"{what:42} {value:>10}  {target:14} {verdict}")


if __name__ == "__main__":
    main()
