"""python -m tobrim.key, the live key grid: its picture (readable text,
columns named after the queries), the line it prints for each change of a
key's answers, a run with keys typed by xdotool, and what it says without a
display.  scripts/demo's scripted run is test_commands.py's."""
import os
import subprocess
import sys

import pytest

from conftest import TREE, play
from tobrim.key import Key

QUERIES = ("pressed", "released", "pressed_repeat", "down", "up")


@pytest.fixture(scope="module")
def demo(key):
    import tobrim.key._demo as module
    return module


def luminance(colour):
    """Relative luminance of an sRGB colour (WCAG 2)."""
    def linear(v):
        v /= 255
        return v / 12.92 if v <= 0.03928 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * linear(colour.r) + 0.7152 * linear(colour.g) + 0.0722 * linear(colour.b)


def test_every_text_colour_has_contrast_of_at_least_4_5(demo):
    low = []
    for fg, bg in demo.TEXT_PAIRS:
        light, dark = sorted((luminance(fg), luminance(bg)), reverse=True)
        ratio = (light + 0.05) / (dark + 0.05)
        if ratio < 4.5:
            low.append(((fg.r, fg.g, fg.b), (bg.r, bg.g, bg.b), round(ratio, 2)))
    assert low == []


def test_columns_are_named_after_the_queries(demo, key):
    functions = sorted(name for name in vars(key) if not name.startswith("_"))
    assert sorted(demo.QUERIES) == functions
    # Each column asks the query it is named after.
    assert {q: f.__name__ for q, f in demo.ANSWER.items()} == {q: q for q in demo.QUERIES}


# Frames of key events (raylib's automation events, no window) and the lines
# the program prints for them: the queries that answer True, for each key
# whose answers changed.  Every key goes up again by the end.
FRAMES = [
    ({"down": [Key.SPACE]}, ["SPACE: pressed down"]),
    ({}, ["SPACE: down"]),
    ({"down": [Key.A, Key.RIGHT_SHIFT], "up": [Key.SPACE]},
     ["A: pressed down", "RIGHT_SHIFT: pressed down", "SPACE: released up"]),
    ({}, ["A: down", "RIGHT_SHIFT: down", "SPACE: up"]),
    ({"up": [Key.A, Key.RIGHT_SHIFT]}, ["A: released up", "RIGHT_SHIFT: released up"]),
    ({}, ["A: up", "RIGHT_SHIFT: up"]),
    ({}, []),
]


def test_a_line_for_each_change_of_a_keys_answers(demo, keyboard):
    states = demo.every_key()
    printed = []
    for events, _ in FRAMES:
        keyboard.frame(**events)
        before, states = states, demo.every_key()
        printed.append(sorted(demo.changes(before, states)))
    assert printed == [lines for _, lines in FRAMES]


def test_keys_typed_into_the_window(x_display):
    out = play(x_display, [sys.executable, "-u", "-m", "tobrim.key"], "tobrim.key",
               [(["space"], 0.3), (["a"], 0.3), (["Escape"], 0.2)])
    # A key held long enough may repeat; the rest is exact.
    lines = [line for line in out.splitlines() if "pressed_repeat" not in line]
    assert lines == ["SPACE: pressed down", "SPACE: down", "SPACE: released up", "SPACE: up",
                     "A: pressed down", "A: down", "A: released up", "A: up",
                     "ESCAPE: pressed down"], out


def run_program(*args, **env):
    """python -m tobrim.key with the built tree, the environment's display
    variables replaced by those given (None: unset)."""
    environment = dict(os.environ, PYTHONPATH=str(TREE))
    for name, value in env.items():
        environment.pop(name, None)
        if value is not None:
            environment[name] = value
    return subprocess.run([sys.executable, "-m", "tobrim.key", *args], env=environment,
                          capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)


LINE = "python -m tobrim.key: the live key grid needs a display, and "
# Display variables, and the one line the program prints for them.
NO_DISPLAY = [
    ({"DISPLAY": None, "WAYLAND_DISPLAY": None}, "neither DISPLAY nor WAYLAND_DISPLAY is set"),
    ({"DISPLAY": "", "WAYLAND_DISPLAY": ""}, "neither DISPLAY nor WAYLAND_DISPLAY is set"),
    ({"DISPLAY": ":4711", "WAYLAND_DISPLAY": None},
     "raylib could not open a window on it (DISPLAY=:4711)"),
    ({"DISPLAY": None, "WAYLAND_DISPLAY": "tobrim-no-such-display"},
     "raylib could not open a window on it (WAYLAND_DISPLAY=tobrim-no-such-display)"),
]


@pytest.mark.parametrize("display, says", NO_DISPLAY)
def test_without_a_display_one_line_and_status_1(display, says):
    assert not os.path.exists("/tmp/.X11-unix/X4711")
    proc = run_program(**display)
    assert (proc.returncode, proc.stdout, proc.stderr) == (1, "", LINE + says + "\n")


def test_help_needs_no_display():
    proc = run_program("--help", DISPLAY=None, WAYLAND_DISPLAY=None)
    assert proc.returncode == 0 and proc.stderr == ""
    assert proc.stdout.startswith("usage: python -m tobrim.key [-h]")
    assert "Escape or the\nwindow's close button ends it" in proc.stdout
