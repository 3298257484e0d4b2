"""A small program that uses tobrim.key as a game would.

The type checkers must accept it as it stands, in strict mode, and it runs
as it stands (without a window every query answers False).
"""
from collections.abc import Callable
from typing import reveal_type

import tobrim.key
import tobrim.key.key as module
from tobrim.key import Key, down, pressed, raylib_path

Query = Callable[[int], bool]

QUERIES: dict[str, Query] = {
    "pressed": tobrim.key.pressed,
    "released": tobrim.key.released,
    "pressed_repeat": tobrim.key.pressed_repeat,
    "down": tobrim.key.down,
    "up": tobrim.key.up,
}
MOVES: dict[Key, tuple[int, int]] = {Key.LEFT: (-1, 0), Key.RIGHT: (1, 0), Key.UP: (0, -1), Key.DOWN: (0, 1)}


def held(keys: list[Key]) -> list[Key]:
    return [k for k in keys if down(k)]


def states(code: int) -> dict[str, bool]:
    return {name: query(code) for name, query in QUERIES.items()}


def step(position: tuple[int, int]) -> tuple[int, int]:
    x, y = position
    for k, (dx, dy) in MOVES.items():
        if module.down(key=k):
            x, y = x + dx, y + dy
    return x, y


def frame() -> str:
    jump = pressed(Key.SPACE)
    walk = module.down(key=65)
    free = module.up(True)
    quits = tobrim.key.released(Key(256)) or pressed(Key["ESCAPE"])
    return (f"jump={jump} walk={walk} free={free} quits={quits} held={held([Key.A, Key.D])} "
            f"at={step((0, 0))} {states(Key.S)} {states(83)}")


library: str = raylib_path()
version: str = tobrim.key.__version__
namespace: dict[str, object] = module.__test__
code: int = Key.KP_ENTER + 0
reveal_type(down(1))
print(frame())
