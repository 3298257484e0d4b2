"""Real key presses in a real raylib window under Xvfb."""
import json
import os
import subprocess
import sys

import pytest

from conftest import TREE

HERE = os.path.dirname(os.path.abspath(__file__))

@pytest.fixture(scope="module")
def probe(x_display):
    env = dict(x_display, PYTHONPATH=os.pathsep.join([str(TREE), HERE]))
    proc = subprocess.run([sys.executable, os.path.join(HERE, "window_probe.py")], env=env,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])


def test_press_is_seen_in_its_first_frame(probe):
    held = [f for phase, f in probe["frames"] if phase == "held"]
    first_down = next(i for i, f in enumerate(held) if f["down"])
    assert held[first_down]["pressed"] and not held[first_down]["up"]
    assert sum(f["pressed"] for f in held) == 1


def test_holding_repeats(probe):
    held = [f for phase, f in probe["frames"] if phase == "held"]
    assert any(f["pressed_repeat"] for f in held)


def test_release_is_seen_in_its_first_frame(probe):
    after = [f for phase, f in probe["frames"] if phase == "after"]
    first_up = next(i for i, f in enumerate(after) if f["up"])
    assert after[first_up]["released"]
    assert sum(f["released"] for f in after) == 1


def test_codes_outside_the_range_answer_false(probe):
    assert all(answers == [False] * 5 for answers in probe["outside"].values())
