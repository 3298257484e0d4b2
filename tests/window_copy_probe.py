"""Run under an X server: opens a raylib window through the library named
on the command line ("bound" for tobrim.key.raylib_path()), holds A with
xdotool, and prints, as JSON, whether the key queries and that library's own
IsKeyPressed and IsKeyDown saw it."""
import ctypes
import json
import os
import subprocess
import sys
import time

import tobrim.key as tk

TITLE = f"tobrim-window-copy-probe-{os.getpid()}"


def main(which):
    path = tk.raylib_path() if which == "bound" else which
    rl = ctypes.CDLL(path)
    rl.SetTraceLogLevel.argtypes = [ctypes.c_int]
    rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
    rl.IsWindowReady.restype = ctypes.c_bool
    for name in ("IsKeyPressed", "IsKeyDown"):
        getattr(rl, name).argtypes = [ctypes.c_int]
        getattr(rl, name).restype = ctypes.c_bool
    rl.SetTraceLogLevel(7)
    rl.InitWindow(160, 90, TITLE.encode())
    if not rl.IsWindowReady():
        print(json.dumps({"error": "no window"}))
        return 1
    rl.SetTargetFPS(60)
    seen = dict.fromkeys(("pressed", "down", "library_pressed", "library_down"), False)

    def frame():
        rl.BeginDrawing()
        rl.EndDrawing()
        for name, answer in (("pressed", tk.pressed(tk.Key.A)), ("down", tk.down(tk.Key.A)),
                             ("library_pressed", rl.IsKeyPressed(tk.Key.A)),
                             ("library_down", rl.IsKeyDown(tk.Key.A))):
            seen[name] = seen[name] or answer

    for _ in range(5):
        frame()
    wid = subprocess.run(["xdotool", "search", "--sync", "--name", TITLE],
                         capture_output=True, text=True, check=True, timeout=20).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], check=True, timeout=20)
    for _ in range(5):
        frame()
    subprocess.run(["xdotool", "keydown", "a"], check=True, timeout=20)
    end = time.monotonic() + 0.5
    while time.monotonic() < end:
        frame()
    subprocess.run(["xdotool", "keyup", "a"], check=True, timeout=20)
    for _ in range(5):
        frame()
    rl.CloseWindow()
    print(json.dumps({"window_library": os.path.realpath(path), "raylib_path": tk.raylib_path(), **seen}))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
