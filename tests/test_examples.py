"""The README's examples, run as a user would, with keys typed by xdotool
into their window."""
import os
import re
import subprocess
import sys

import pytest

from conftest import SANITIZED, play, window_pixels

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FRAME_LOOP = os.path.join(ROOT, "examples", "frame_loop.py")
EVERY_PRESS = os.path.join(ROOT, "examples", "every_press.py")


def readme_python_blocks():
    with open(os.path.join(ROOT, "README.md")) as f:
        return re.findall(r"^```python\n(.*?)^```$", f.read(), re.M | re.S)


@pytest.mark.parametrize("example", [FRAME_LOOP, EVERY_PRESS], ids=os.path.basename)
def test_readme_shows_the_example(example):
    with open(example) as f:
        assert f.read() in readme_python_blocks()


# The README example's colours: the window's background and its text.
BACKGROUND, TEXT = (30, 32, 40), (240, 240, 240)


def test_readme_example(x_display, tmp_path):
    program = tmp_path / "readme_example.py"
    program.write_text(readme_python_blocks()[0])
    shown = {}

    def look(window, group):
        if "Escape" not in group:
            shown[" ".join(group)] = window_pixels(x_display, window)

    out = play(x_display, [sys.executable, "-u", str(program)], "keys",
               [([], 0.3), (["space"], 0.3), (["a"], 0.3), (["Escape"], 0.2)], look)
    lines = out.splitlines()
    assert "jump" in lines and "walking left" in lines
    assert lines.index("jump") < lines.index("walking left"), out
    # The window is cleared and shows a line of text, which changes with the
    # keys held (their names).
    texts = {}
    for held, rows in shown.items():
        colours = {c for row in rows for c in row}
        assert colours == {BACKGROUND, TEXT}, (held, sorted(colours)[:10])
        texts[held] = [tuple(c == TEXT for c in row) for row in rows if TEXT in row]
    assert all(texts.values()) and len({tuple(t) for t in texts.values()}) == len(texts), texts.keys()


def test_every_press_is_queued(x_display):
    # Six taps within a few frames, each far shorter than one: raylib's
    # queue holds every press, and a tapped Escape ends the loop.
    out = play(x_display, [sys.executable, "-u", EVERY_PRESS], "every press",
               [(["space"] * 6, None), (["Escape"], None)])
    queued = [line for line in out.splitlines() if line.startswith("queued")]
    assert queued == ["queued 32"] * 6 + ["queued 256"], out


def frame_loop_command():
    """CONTRIBUTING's shell block that runs the frame loop on the built tree."""
    with open(os.path.join(ROOT, "CONTRIBUTING.md")) as f:
        blocks = re.findall(r"^```sh\n(.*?)^```$", f.read(), re.M | re.S)
    (block,) = [b for b in blocks if "examples/frame_loop.py" in b]
    return block


def test_frame_loop(x_display):
    # As CONTRIBUTING runs it: its own set-up and build, then the program (on
    # a sanitized build the program alone, on that build).
    argv = [sys.executable, "-u", FRAME_LOOP] if SANITIZED else ["bash", "-euc", frame_loop_command()]
    if not SANITIZED:
        # The block's build first, untimed: the window is waited for from
        # the block's start, and in a run before the default version's the
        # build of that version's tree would take most of the wait.
        subprocess.run(["bash", "-euc", 'source "$(scripts/bootstrap --quiet)"; scripts/build release'],
                       cwd=ROOT, env=x_display, check=True, capture_output=True, timeout=900,
                       stdin=subprocess.DEVNULL)
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
