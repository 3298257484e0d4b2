"""The README's examples, run as a user would, with keys typed by xdotool
into their window."""
import os
import re
import subprocess
import sys
import time

import pytest

from conftest import SANITIZED

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FRAME_LOOP = os.path.join(ROOT, "examples", "frame_loop.py")
EVERY_PRESS = os.path.join(ROOT, "examples", "every_press.py")


def readme_python_blocks():
    with open(os.path.join(ROOT, "README.md")) as f:
        return re.findall(r"^```python\n(.*?)^```$", f.read(), re.M | re.S)


def play(env, argv, title, keys):
    """Runs a program whose window has the given title, holds each group of
    keys (xdotool names) for its time once the window has the focus (a time
    of None: taps them, each down and up at once), and returns what the
    program printed after it ended by itself."""
    def xdotool(*args, check=True):
        return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, check=check,
                              timeout=20).stdout

    # The window of an earlier run of the same program (the leak hunt runs
    # each test again at once) may linger in the X server for a moment.
    for _ in range(100):
        if not xdotool("search", "--name", f"^{title}$", check=False).split():
            break
        time.sleep(0.1)
    proc = subprocess.Popen(argv, env=env, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        window = xdotool("search", "--sync", "--name", f"^{title}$").split()[0]
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.3)
        for group, seconds in keys:
            if seconds is None:
                xdotool("key", *group)
                time.sleep(0.3)
                continue
            for k in group:
                xdotool("keydown", k)
            time.sleep(seconds)
            for k in reversed(group):
                xdotool("keyup", k)
            time.sleep(0.3)
        out, err = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            out, err = proc.communicate()
            pytest.fail(f"{argv[-1]} did not end on Escape:\n{out}\n{err}")
    assert proc.returncode == 0, out + err
    return out


def test_readme_shows_the_frame_loop():
    with open(FRAME_LOOP) as f:
        assert f.read() in readme_python_blocks()


def test_readme_example(x_display, tmp_path):
    program = tmp_path / "readme_example.py"
    program.write_text(readme_python_blocks()[0])
    out = play(x_display, [sys.executable, "-u", str(program)], "keys",
               [(["space"], 0.3), (["a"], 0.3), (["Escape"], 0.2)])
    lines = out.splitlines()
    assert "jump" in lines and "walking left" in lines
    assert lines.index("jump") < lines.index("walking left"), out


def test_every_press_is_queued(x_display):
    # Six taps within a few frames, each far shorter than one: raylib's
    # queue holds every press, and a tapped Escape ends the loop.
    out = play(x_display, [sys.executable, "-u", EVERY_PRESS], "every press",
               [(["space"] * 6, None), (["Escape"], None)])
    queued = [line for line in out.splitlines() if line.startswith("queued")]
    assert queued == ["queued 32"] * 6 + ["queued 256"], out


def readme_frame_loop_command():
    """The README's shell block that runs the frame loop on the built tree."""
    with open(os.path.join(ROOT, "README.md")) as f:
        blocks = re.findall(r"^```sh\n(.*?)^```$", f.read(), re.M | re.S)
    (block,) = [b for b in blocks if "examples/frame_loop.py" in b]
    return block


def test_frame_loop(x_display):
    # As the README runs it: its own set-up and build, then the program (on
    # a sanitized build the program alone, on that build).
    argv = [sys.executable, "-u", FRAME_LOOP] if SANITIZED else ["bash", "-euc", readme_frame_loop_command()]
    out = play(x_display, argv, "frame loop",
               [(["Right"], 0.5), (["Shift_L", "Left"], 0.3), (["space"], 0.3),
                (["Tab"], 1.5),  # past the X server's repeat delay
                (["Escape"], 0.2)])
    lines = out.splitlines()
    assert lines[-1] == "bye", out
    # A frame that stalls past a gap may skip a "stop".
    assert [line for line in lines[:-1] if line != "stop"][:4] == ["walk right", "run left", "jump", "land"], out
    assert "stop" in lines[lines.index("walk right"):lines.index("jump")], out
    weapons = lines[lines.index("land") + 1:-1]
    # The press, then the system's repeats while held.
    assert len(weapons) >= 3 and weapons == [f"weapon {(i + 1) % 3}" for i in range(len(weapons))], out
