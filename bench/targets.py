"""The targets the call-cost figures are held to, and the judging of a run's
figures against them (kept apart from the measuring, so that the judging
can be tried on figures of one's choosing).

The floor of `pressed(65)` is the vectorcall floor of the benchmark-only
module: a type of its own whose vectorcall entry reads a compact int and
calls raylib, the cheapest call the interpreter allows a type that is not
its built-in function type.  The METH_O baseline (CALL_BUILTIN_O, which no
type of a module's own can get) is shown for reference and not judged.
Instruction counts are judged rather than times where both exist: they
do not move with the load of the machine.
"""
import sys


class Target:
    """A figure's bound: at most `most`, or at least `least`."""

    def __init__(self, figure, most=None, least=None, digits=2):
        assert (most is None) != (least is None)
        self.figure, self.most, self.least, self.digits = figure, most, least, digits

    def text(self):
        bound = self.most if self.most is not None else self.least
        shown = "%d" % bound if bound == int(bound) else "%.2f" % bound
        return "%s %s" % ("at most" if self.most is not None else "at least", shown)

    def verdict(self, value):
        """'met', 'MISSED', or 'not measured' for a value of None."""
        if value is None:
            return "not measured"
        met = value <= self.most if self.most is not None else value >= self.least
        return "met" if met else "MISSED"


# CPython 3.13 does not specialise keyword calls (CALL_KW is specialised
# from 3.14 on): it dispatches pressed(key=65) through PyObject_Vectorcall,
# about 40 instructions more than the positional call's dispatch, none of
# them the module's (the instructions section shows where they go), so the
# keyword figure's bound is wider there by that share.
KEYWORD_BOUND = {(3, 13): 1.25}

TARGETS = [
    Target("instructions: pressed / vectorcall floor", most=1.12),
    Target("instructions: keyword / positional", most=KEYWORD_BOUND.get(sys.version_info[:2], 1.20)),
    Target("time: ctypes / pressed", least=10),
    Target("memory blocks per call (largest)", most=0, digits=6),
]


def target(figure):
    """The target of a figure, or None."""
    return next((t for t in TARGETS if t.figure == figure), None)


def judge(figures, targets=TARGETS):
    """(lines of the targets table, True when every target is met) for a
    dict figure -> value.  A target whose figure is missing or None was not
    measured, which fails the run as a miss does: the bench cannot say the
    target is met."""
    lines = ["%-42s %12s  %-14s %s" % ("figure", "value", "target", "verdict")]
    missed = []
    for t in targets:
        value = figures.get(t.figure)
        verdict = t.verdict(value)
        if verdict != "met":
            missed.append(t.figure)
        shown = "-" if value is None else "%.*f" % (t.digits, value)
        lines.append("%-42s %12s  %-14s %s" % (t.figure, shown, t.text(), verdict))
    if missed:
        lines.append("targets: %d of %d not met: %s" % (len(missed), len(targets),
                                                       "; ".join(missed)))
    else:
        lines.append("targets: all %d met" % len(targets))
    return lines, not missed
