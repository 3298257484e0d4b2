"""Live keyboard state, from tobrim.key, in a raylib window.

The window and drawing go through ctypes on the raylib file the module is
bound to (tobrim.key.raylib_path()); every key state comes from the
module's five queries.

    python demo.py              interactive: press keys, close the window to end
    python demo.py --scripted   types a fixed key sequence with xdotool, prints
                                what the queries answered frame by frame and
                                saves a screenshot (for a display without a person)
"""
import argparse
import ctypes
import os
import pathlib
import subprocess
import sys

import tobrim.key as key
from tobrim.key import Key

KEYS = (Key.A, Key.S, Key.D, Key.SPACE, Key.LEFT, Key.RIGHT)
QUERIES = ("pressed", "released", "pressed_repeat", "down", "up")
# Queries true for the one frame of a change, and those true while a state lasts.
EVENTS = ("pressed", "released", "pressed_repeat")
TITLE = b"tobrim.key demo"
# A scripted session: (frame, xdotool action, the key in xdotool's words).
SCRIPT = [(20, "keydown", Key.A), (26, "keyup", Key.A), (34, "keydown", Key.SPACE),
          (40, "keydown", Key.LEFT), (100, "keyup", Key.LEFT), (104, "keyup", Key.SPACE),
          (110, "keydown", Key.D), (113, "keyup", Key.D)]
XDOTOOL_NAMES = {Key.A: "a", Key.D: "d", Key.SPACE: "space", Key.LEFT: "Left"}
# The screenshot shows the first key repeat of LEFT while SPACE is held (or
# this frame, if the system's key repeat never fires).
SHOT_FROM, SHOT_LATEST = 60, 99


class Color(ctypes.Structure):
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


def load_raylib():
    rl = ctypes.CDLL(key.raylib_path())
    rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
    rl.WindowShouldClose.restype = ctypes.c_bool
    rl.IsWindowReady.restype = ctypes.c_bool
    rl.ClearBackground.argtypes = [Color]
    rl.DrawText.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, Color]
    rl.MeasureText.argtypes = [ctypes.c_char_p, ctypes.c_int]
    rl.DrawRectangle.argtypes = [ctypes.c_int] * 4 + [Color]
    rl.TakeScreenshot.argtypes = [ctypes.c_char_p]
    rl.SetTraceLogLevel.argtypes = [ctypes.c_int]
    return rl


def text(rl, s, x, y, size, colour):
    rl.DrawText(s.encode(), x, y, size, colour)


def centred(rl, s, x, width, y, size, colour):
    text(rl, s, x + (width - rl.MeasureText(s.encode(), size)) // 2, y, size, colour)


def fill(query):
    return ORANGE if query in EVENTS else GREEN


def draw(rl, states, frame, held):
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
            on = states[k][q]
            rl.DrawRectangle(x, y, CELL_W, CELL_H, fill(q) if on else OFF)
            centred(rl, "True" if on else "False", x, CELL_W, y + 7, 16, ON_TEXT if on else MUTED)

    y = top + 28 + len(KEYS) * ROW_H + 10
    if held is None:
        text(rl, "press A, S, D, Space, Left or Right; close the window to end", name_x, y, 16, TEXT)
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


def query_all():
    return {k: {q: getattr(key, q)(k) for q in QUERIES} for k in KEYS}


def describe(frame, states):
    parts = [f"{k.name}:{','.join(q for q in QUERIES if states[k][q] and q != 'up')}"
             for k in KEYS if any(states[k][q] for q in QUERIES if q != "up")]
    return f"frame {frame:3d}: " + ("  ".join(parts) if parts else "(no key down)")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, check=True, timeout=20).stdout


def scripted(rl, out):
    frame = 0
    held = []
    draw(rl, query_all(), frame, held)
    window = xdotool("search", "--sync", "--name", TITLE.decode()).split()[0]
    xdotool("windowfocus", "--sync", window)
    actions = {f: (a, k) for f, a, k in SCRIPT}
    last = None
    shot = None
    while frame <= SCRIPT[-1][0] + 10:
        states = query_all()
        draw(rl, states, frame, held)
        line = describe(frame, states)
        if line.split(":", 1)[1] != last:
            print(line, flush=True)
            last = line.split(":", 1)[1]
        if shot is None and (SHOT_FROM <= frame and states[Key.LEFT]["pressed_repeat"] or frame == SHOT_LATEST):
            rl.TakeScreenshot(b"screenshot.png")
            shot = frame, ", ".join(k.name for k in held)
        if frame in actions:
            action, k = actions[frame]
            print(f"           xdotool {action} {XDOTOOL_NAMES[k]}", flush=True)
            xdotool(action, XDOTOOL_NAMES[k])
            if action == "keydown":
                held.append(k)
            else:
                held.remove(k)
        frame += 1
    print(f"demo: screenshot of frame {shot[0]} (the script holds {shot[1] or 'no key'}) "
          f"saved to {out / 'screenshot.png'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scripted", action="store_true")
    parser.add_argument("--out", default=str(pathlib.Path(__file__).parent / "out"))
    args = parser.parse_args()

    out = pathlib.Path(args.out).resolve()
    if args.scripted:
        # raylib writes screenshots into the folder that was current when
        # the window opened.
        out.mkdir(parents=True, exist_ok=True)
        os.chdir(out)
    rl = load_raylib()
    rl.SetTraceLogLevel(4)  # warnings and errors only
    rl.InitWindow(WIDTH, HEIGHT, TITLE)
    if not rl.IsWindowReady():
        print("demo: could not open a window", file=sys.stderr)
        return 1
    rl.SetTargetFPS(30)
    if args.scripted:
        scripted(rl, out)
    else:
        frame = 0
        while not rl.WindowShouldClose():
            draw(rl, query_all(), frame, None)
            frame += 1
    rl.CloseWindow()
    return 0


if __name__ == "__main__":
    sys.exit(main())
