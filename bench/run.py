"""Every call-cost benchmark in one run, then the targets, met or missed.

    PYTHONPATH=build/cp314-release/tree python3.14 bench/run.py

(scripts/bench sets up, builds and runs this.)  Sections: times per call
and their ratios (calls.py), instructions per call under callgrind
(instructions.py), memory blocks left per call (allocations.py) and the
import cost (import_cost.py).  Then every target of targets.py is judged;
the exit status is 1 when any is missed or could not be measured.
"""
import sys

import allocations
import calls
import import_cost
import instructions
import targets


SECTIONS = (calls, instructions, allocations, import_cost)


def main(sections=SECTIONS):
    """Prints every section and the targets; 0 when every target is met."""
    figures = {}
    for section in sections:
        figures.update(section.report())
        print()
    print("-- targets")
    lines, ok = targets.judge(figures)
    print("\n".join(lines))
    for figure, value in figures.items():
        if targets.target(figure) is None:
            print(f"{figure}: {value:.0f}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
