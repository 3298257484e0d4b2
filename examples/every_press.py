"""Every key press, even a tap shorter than a frame.  pressed() answers for
the keyboard as raylib polled it at the frame's end, so a key that went down
and up again between two polls is never seen pressed; but raylib also
queues each press as it polls, and GetKeyPressed hands them out, oldest
first.  Escape quits, however short the tap."""
import ctypes

from tobrim.key import Key, pressed, raylib_path

rl = ctypes.CDLL(raylib_path())  # the queries' own raylib: one keyboard state
rl.InitWindow.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
rl.WindowShouldClose.restype = ctypes.c_bool
rl.SetTraceLogLevel(4)  # raylib's log: warnings and errors only
rl.InitWindow(400, 200, b"every press")
rl.SetTargetFPS(60)
rl.SetExitKey(Key.NULL)  # Escape is the loop's own key here, taken from the queue

running = True
while running and not rl.WindowShouldClose():
    rl.BeginDrawing()
    rl.EndDrawing()  # raylib polls the keyboard here, queueing each press
    if pressed(Key.SPACE):
        print("pressed(Key.SPACE)")
    while code := rl.GetKeyPressed():  # 0 when the queue is empty
        print("queued", code)
        if code == Key.ESCAPE:
            running = False
rl.CloseWindow()
