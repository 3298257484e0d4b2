"""Run under an X server: opens a raylib window, types with xdotool, and
prints, as JSON, what the five queries answered in each frame."""
import ctypes
import json
import subprocess
import sys
import time

import tobrim.key.key as key
from conftest import load_raylib

TITLE = b"tobrim-window-probe"
A = 65


def main():
    rl = load_raylib()
    rl.InitWindow(160, 90, TITLE)
    if not rl.IsWindowReady():
        print(json.dumps({"error": "no window"}))
        return 1
    rl.SetTargetFPS(60)

    def frame():
        rl.BeginDrawing()
        rl.EndDrawing()
        return {name: getattr(key, name)(A) for name in
                ("pressed", "released", "pressed_repeat", "down", "up")}

    for _ in range(5):
        frame()
    wid = subprocess.run(["xdotool", "search", "--sync", "--name", TITLE.decode()],
                         capture_output=True, text=True, check=True, timeout=20).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], check=True, timeout=20)
    for _ in range(5):
        frame()
    frames = []
    subprocess.run(["xdotool", "keydown", "a"], check=True, timeout=20)
    end = time.monotonic() + 1.2
    while time.monotonic() < end:
        frames.append(("held", frame()))
    subprocess.run(["xdotool", "keyup", "a"], check=True, timeout=20)
    for _ in range(30):
        frames.append(("after", frame()))
    outside = {str(code): [getattr(key, n)(code) for n in ("pressed", "released", "pressed_repeat", "down", "up")]
               for code in (-1, 0, 512, 2147483647)}
    rl.CloseWindow()
    print(json.dumps({"frames": frames, "outside": outside}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
