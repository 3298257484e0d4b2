"""The live key grid of ``python -m tobrim.key``.

A raylib window with a row for each of a few keys and a column for each of
the five queries, and a line on standard output for each change of any
key's answers.  The window and the drawing go through ctypes on the raylib
file the queries read (``raylib_path()``); every answer comes from the
queries themselves.  Not imported by ``import tobrim.key``.
"""
import argparse
import ctypes
import os
import pathlib
import subprocess
import sys
from collections.abc import Callable, Sequence

from . import down, pressed, pressed_repeat, raylib_path, released, up
from ._keys import Key

DESCRIPTION = """\
Shows live, in a window, what the five queries of tobrim.key answer for the
keys A, S, D, Space, Left and Right, and prints each change of any key's
answers as it happens (for instance "SPACE: pressed down").  Escape or the
window's close button ends it.  Needs a display."""

QUERIES = ("pressed", "released", "pressed_repeat", "down", "up")
ANSWER: dict[str, Callable[[int], bool]] = {
    "pressed": pressed, "released": released, "pressed_repeat": pressed_repeat, "down": down, "up": up}
# Queries true for the one frame of a change, and those true while a state lasts.
EVENTS = ("pressed", "released", "pressed_repeat")
KEYS = (Key.A, Key.S, Key.D, Key.SPACE, Key.LEFT, Key.RIGHT)
TITLE = "tobrim.key"
# A scripted session: (frame, xdotool action, the key), ending on Escape.
SCRIPT = [(20, "keydown", Key.A), (26, "keyup", Key.A), (34, "keydown", Key.SPACE),
          (40, "keydown", Key.LEFT), (100, "keyup", Key.LEFT), (104, "keyup", Key.SPACE),
          (110, "keydown", Key.D), (113, "keyup", Key.D), (120, "keydown", Key.ESCAPE)]
XDOTOOL_NAMES = {Key.A: "a", Key.D: "d", Key.SPACE: "space", Key.LEFT: "Left", Key.ESCAPE: "Escape"}
# Frames the window may take to close once the script pressed Escape.
CLOSE_WITHIN = 30
# The screenshot shows the first key repeat of LEFT while SPACE is held (or
# this frame, if the system's key repeat never fires).
SHOT_FROM, SHOT_LATEST = 60, 99
SHOT_NAME = "screenshot.png"

# raylib's log levels
LOG_WARNING, LOG_ERROR = 4, 5


class Color(ctypes.Structure):
    """raylib's Color."""

    r: int
    g: int
    b: int
    a: int
    _fields_ = [("r", ctypes.c_ubyte), ("g", ctypes.c_ubyte), ("b", ctypes.c_ubyte), ("a", ctypes.c_ubyte)]


BACKGROUND = Color(24, 26, 33, 255)
TEXT = Color(240, 240, 240, 255)
MUTED = Color(170, 175, 190, 255)      # headers, codes, the legend's words
ORANGE = Color(245, 166, 35, 255)      # an event query answers True
GREEN = Color(80, 200, 120, 255)       # a state query answers True
OFF = Color(52, 56, 68, 255)           # a query answers False
ON_TEXT = BACKGROUND                   # "True" on orange or green
# Every (text, background) pair drawn, for the contrast check.
TEXT_PAIRS = [(TEXT, BACKGROUND), (MUTED, BACKGROUND), (ON_TEXT, ORANGE), (ON_TEXT, GREEN), (MUTED, OFF)]

WIDTH, HEIGHT = 820, 440
CELL_W, CELL_H, ROW_H, GAP = 110, 28, 36, 8

# A key's answers: the names of the queries that answer True, in QUERIES' order.
Answers = tuple[str, ...]


def answers(key: int) -> Answers:
    return tuple(q for q in QUERIES if ANSWER[q](key))


def every_key() -> dict[Key, Answers]:
    return {k: answers(k) for k in Key}


def changes(before: dict[Key, Answers], after: dict[Key, Answers]) -> list[str]:
    """A line for each key whose answers differ, as "SPACE: pressed down"."""
    return [f"{k.name}: {' '.join(a)}" for k, a in after.items() if before.get(k) != a]


def load_raylib() -> ctypes.CDLL:
    rl = ctypes.CDLL(raylib_path())
    rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
    rl.WindowShouldClose.restype = ctypes.c_bool
    rl.IsWindowReady.restype = ctypes.c_bool
    rl.ClearBackground.argtypes = [Color]
    rl.DrawText.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, Color]
    rl.MeasureText.argtypes = [ctypes.c_char_p, ctypes.c_int]
    rl.MeasureText.restype = ctypes.c_int
    rl.DrawRectangle.argtypes = [ctypes.c_int] * 4 + [Color]
    rl.TakeScreenshot.argtypes = [ctypes.c_char_p]
    rl.SetTraceLogLevel.argtypes = [ctypes.c_int]
    rl.SetTargetFPS.argtypes = [ctypes.c_int]
    return rl


def text(rl: ctypes.CDLL, s: str, x: int, y: int, size: int, colour: Color) -> None:
    rl.DrawText(s.encode(), x, y, size, colour)


def centred(rl: ctypes.CDLL, s: str, x: int, width: int, y: int, size: int, colour: Color) -> None:
    measured: int = rl.MeasureText(s.encode(), size)
    text(rl, s, x + (width - measured) // 2, y, size, colour)


def fill(query: str) -> Color:
    return ORANGE if query in EVENTS else GREEN


def draw(rl: ctypes.CDLL, states: dict[Key, Answers], frame: int, held: list[Key] | None) -> None:
    """One frame: the table of answers, what the script holds, the legend.
    `held` is None when a person is at the keyboard."""
    rl.BeginDrawing()
    rl.ClearBackground(BACKGROUND)
    text(rl, "tobrim.key - what the five queries answer", 20, 16, 20, TEXT)
    text(rl, f"frame {frame}", WIDTH - 110, 18, 16, MUTED)

    name_x, code_x, first_x, top = 20, 140, 200, 60
    text(rl, "key", name_x, top, 16, MUTED)
    text(rl, "code", code_x, top, 16, MUTED)
    for col, q in enumerate(QUERIES):
        centred(rl, q, first_x + col * (CELL_W + GAP), CELL_W, top, 16, MUTED)
    for row, k in enumerate(KEYS):
        y = top + 28 + row * ROW_H
        text(rl, f"Key.{k.name}", name_x, y + 6, 18, TEXT)
        text(rl, str(int(k)), code_x, y + 6, 18, MUTED)
        for col, q in enumerate(QUERIES):
            x = first_x + col * (CELL_W + GAP)
            on = q in states[k]
            rl.DrawRectangle(x, y, CELL_W, CELL_H, fill(q) if on else OFF)
            centred(rl, "True" if on else "False", x, CELL_W, y + 7, 16, ON_TEXT if on else MUTED)

    y = top + 28 + len(KEYS) * ROW_H + 10
    if held is None:
        text(rl, "press A, S, D, Space, Left or Right; Escape or the close button ends", name_x, y, 16, TEXT)
    else:
        names = ", ".join(f"Key.{k.name}" for k in held) or "no key"
        text(rl, f"the script holds: {names}", name_x, y, 18, TEXT)
    y += 34
    legend = [(ORANGE, "True on one frame only: pressed, released, pressed_repeat"),
              (GREEN, "True for as long as the state lasts: down, up"),
              (OFF, "False")]
    for i, (colour, words) in enumerate(legend):
        rl.DrawRectangle(name_x, y + i * 24, 28, 18, colour)
        text(rl, words, name_x + 40, y + i * 24 + 1, 16, MUTED)
    rl.EndDrawing()


def say(line: str) -> None:
    print(line, flush=True)


def live(rl: ctypes.CDLL) -> int:
    """A person at the keyboard: until Escape or the close button."""
    frame = 0
    states = every_key()
    while not rl.WindowShouldClose():
        draw(rl, states, frame, None)  # raylib polls the keyboard at the frame's end
        before, states = states, every_key()
        for line in changes(before, states):
            say(line)
        frame += 1
    return 0


def xdotool(*args: str) -> str:
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, check=True, timeout=20).stdout


def scripted(rl: ctypes.CDLL, out: pathlib.Path) -> int:
    """Types SCRIPT with xdotool, a key action at the end of its frame, and
    saves a screenshot while LEFT repeats; ends when Escape closes the window."""
    frame = 0
    held: list[Key] = []
    states = every_key()
    draw(rl, states, frame, held)
    window = xdotool("search", "--sync", "--onlyvisible", "--name", f"^{TITLE}$").split()[0]
    xdotool("windowfocus", "--sync", window)
    actions = {f: (a, k) for f, a, k in SCRIPT}
    shot: tuple[int, str] | None = None
    while not rl.WindowShouldClose() and frame <= SCRIPT[-1][0] + CLOSE_WITHIN:
        draw(rl, states, frame, held)  # raylib polls at its end: the next frame's answers
        if shot is None and (SHOT_FROM <= frame and "pressed_repeat" in states[Key.LEFT] or frame == SHOT_LATEST):
            rl.TakeScreenshot(SHOT_NAME.encode())
            shot = frame, ", ".join(k.name for k in held)
        if frame in actions:
            action, k = actions[frame]
            say(f"frame {frame:3d}  xdotool {action} {XDOTOOL_NAMES[k]}")
            xdotool(action, XDOTOOL_NAMES[k])
            if action == "keydown":
                held.append(k)
            else:
                held.remove(k)
        frame += 1
        before, states = states, every_key()
        for line in changes(before, states):
            say(f"frame {frame:3d}  {line}")
    for k in reversed(held):
        xdotool("keyup", XDOTOOL_NAMES[k])
    if shot is not None:
        say(f"screenshot of frame {shot[0]} (the script holds {shot[1] or 'no key'}) saved to {out / SHOT_NAME}")
    if not rl.WindowShouldClose():
        print(f"{TITLE}: Escape did not close the window within {CLOSE_WITHIN} frames", file=sys.stderr)
        return 1
    return 0 if shot is not None else 1


def no_display(why: str) -> int:
    print(f"python -m {TITLE}: the live key grid needs a display, and {why}", file=sys.stderr)
    return 1


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog=f"python -m {TITLE}", description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scripted", metavar="FOLDER", type=pathlib.Path,
                        help="instead of a person, type a fixed key sequence with xdotool "
                             "and save a screenshot into FOLDER")
    args = parser.parse_args(argv)

    displays = [f"{v}={os.environ[v]}" for v in ("DISPLAY", "WAYLAND_DISPLAY") if os.environ.get(v)]
    if not displays:
        return no_display("neither DISPLAY nor WAYLAND_DISPLAY is set")
    out: pathlib.Path | None = args.scripted
    if out is not None:
        # raylib writes screenshots into the folder that is current when
        # the window opens.
        out = out.resolve()
        out.mkdir(parents=True, exist_ok=True)
        os.chdir(out)
    rl = load_raylib()
    # raylib's warnings of a display it cannot open would come before the
    # one line that says so.
    rl.SetTraceLogLevel(LOG_ERROR)
    rl.InitWindow(WIDTH, HEIGHT, TITLE.encode())
    if not rl.IsWindowReady():
        return no_display(f"raylib could not open a window on it ({', '.join(displays)})")
    rl.SetTraceLogLevel(LOG_WARNING)
    rl.SetTargetFPS(30)
    try:
        return live(rl) if out is None else scripted(rl, out)
    except KeyboardInterrupt:
        return 130
    finally:
        rl.CloseWindow()
