"""A frame loop: the arrows move the square (Shift held: faster), Space
jumps, Tab switches weapon (held: repeatedly), Escape quits.  The window is
opened through ctypes on the raylib file that tobrim.key reads, so that the
queries see the window's keys."""
import ctypes

from tobrim.key import Key, down, pressed, pressed_repeat, raylib_path, released, up


class Color(ctypes.Structure):
    _fields_ = [("r", ctypes.c_ubyte), ("g", ctypes.c_ubyte), ("b", ctypes.c_ubyte), ("a", ctypes.c_ubyte)]


rl = ctypes.CDLL(raylib_path())  # the queries' own raylib: one keyboard state
rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
rl.WindowShouldClose.restype = ctypes.c_bool
rl.ClearBackground.argtypes = [Color]
rl.DrawRectangle.argtypes = [ctypes.c_int] * 4 + [Color]
rl.SetTraceLogLevel(4)  # raylib's log: warnings and errors only
rl.InitWindow(400, 200, b"frame loop")
rl.SetTargetFPS(60)
rl.SetExitKey(Key.NULL)  # Escape is the loop's own key (raylib would close the window on it)

x, weapon, motion = 190, 0, "stop"
while not rl.WindowShouldClose():
    rl.BeginDrawing()
    rl.ClearBackground(Color(30, 32, 40, 255))
    rl.DrawRectangle(x, 90, 20, 20, Color(80, 200, 120, 255))
    rl.EndDrawing()  # raylib polls the keyboard here: the queries answer for the new frame
    if pressed(Key.ESCAPE):
        break
    step = down(Key.RIGHT) - down(Key.LEFT)
    speed = 1 if up(Key.LEFT_SHIFT) else 4
    x = max(0, min(380, x + step * speed))
    now = "stop" if step == 0 else ("walk " if speed == 1 else "run ") + ("right" if step > 0 else "left")
    if now != motion:
        motion = now
        print(motion)
    if pressed(Key.SPACE):
        print("jump")
    if released(Key.SPACE):
        print("land")
    if pressed(Key.TAB) or pressed_repeat(Key.TAB):
        weapon = (weapon + 1) % 3
        print("weapon", weapon)
rl.CloseWindow()
print("bye")
