"""Live keyboard state, from tobrim.key.key, in a raylib window.

The window and drawing go through ctypes on the raylib that ships beside
the module; every key state comes from the module's five queries.

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

import tobrim.key.key as key

KEYS = {"A": 65, "S": 83, "D": 68, "SPACE": 32, "LEFT": 263, "RIGHT": 262}
QUERIES = ("pressed", "released", "pressed_repeat", "down", "up")
TITLE = b"tobrim.key demo"
# A scripted session: (frame, xdotool action, key name in xdotool's words)
SCRIPT = [(20, "keydown", "a"), (26, "keyup", "a"), (34, "keydown", "space"),
          (40, "keydown", "Left"), (100, "keyup", "Left"), (104, "keyup", "space"),
          (110, "keydown", "d"), (113, "keyup", "d")]


class Color(ctypes.Structure):
    _fields_ = [("r", ctypes.c_ubyte), ("g", ctypes.c_ubyte), ("b", ctypes.c_ubyte), ("a", ctypes.c_ubyte)]


WHITE, DARK, GREEN, ORANGE, GREY = Color(245, 245, 245, 255), Color(30, 32, 40, 255), \
    Color(80, 200, 120, 255), Color(240, 160, 40, 255), Color(90, 90, 100, 255)


def load_raylib():
    import tobrim
    # The one raylib bundled beside the package, under its SONAME.
    (lib,) = (pathlib.Path(tobrim.__file__).parent.parent / "tobrim.libs").glob("libraylib.so*")
    rl = ctypes.CDLL(str(lib))
    rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
    rl.WindowShouldClose.restype = ctypes.c_bool
    rl.IsWindowReady.restype = ctypes.c_bool
    rl.ClearBackground.argtypes = [Color]
    rl.DrawText.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, Color]
    rl.DrawRectangle.argtypes = [ctypes.c_int] * 4 + [Color]
    rl.TakeScreenshot.argtypes = [ctypes.c_char_p]
    rl.SetTraceLogLevel.argtypes = [ctypes.c_int]
    return rl


def draw(rl, states, frame):
    rl.BeginDrawing()
    rl.ClearBackground(DARK)
    rl.DrawText(b"tobrim.key.key - live key states", 20, 16, 20, WHITE)
    rl.DrawText(f"frame {frame}".encode(), 520, 16, 16, GREY)
    for col, q in enumerate(QUERIES):
        label = "repeat" if q == "pressed_repeat" else q
        rl.DrawText(label.encode(), 130 + col * 100, 56, 14, GREY)
    for row, (name, code) in enumerate(KEYS.items()):
        y = 84 + row * 40
        rl.DrawText(name.encode(), 20, y + 6, 18, WHITE)
        for col, q in enumerate(QUERIES):
            on = states[name][q]
            rl.DrawRectangle(130 + col * 100, y, 80, 30, (ORANGE if q in ("pressed", "released", "pressed_repeat") else GREEN) if on else GREY)
    rl.EndDrawing()


def query_all():
    return {name: {q: getattr(key, q)(code) for q in QUERIES} for name, code in KEYS.items()}


def describe(frame, states):
    parts = [f"{name}:{','.join(q for q in QUERIES if states[name][q] and q != 'up')}"
             for name in KEYS if any(states[name][q] for q in QUERIES if q != "up")]
    return f"frame {frame:3d}: " + ("  ".join(parts) if parts else "(no key down)")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, check=True, timeout=20).stdout


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
    rl.InitWindow(640, 340, TITLE)
    if not rl.IsWindowReady():
        print("demo: could not open a window", file=sys.stderr)
        return 1
    rl.SetTargetFPS(30)
    frame = 0
    if not args.scripted:
        while not rl.WindowShouldClose():
            draw(rl, query_all(), frame)
            frame += 1
        rl.CloseWindow()
        return 0

    draw(rl, query_all(), frame)
    window = xdotool("search", "--sync", "--name", TITLE.decode()).split()[0]
    xdotool("windowfocus", "--sync", window)
    actions = {f: (a, k) for f, a, k in SCRIPT}
    last = None
    shot_taken = False
    while frame <= SCRIPT[-1][0] + 10:
        states = query_all()
        draw(rl, states, frame)
        line = describe(frame, states)
        if line.split(":", 1)[1] != last:
            print(line, flush=True)
            last = line.split(":", 1)[1]
        if frame == 70 and not shot_taken:
            rl.TakeScreenshot(b"screenshot.png")
            shot_taken = True
        if frame in actions:
            action, name = actions[frame]
            print(f"           xdotool {action} {name}", flush=True)
            xdotool(action, name)
        frame += 1
    rl.CloseWindow()
    print(f"demo: screenshot saved to {out / 'screenshot.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
