"""A small program that uses tobrim.key as a game would.

The type checkers must accept it as it stands, in strict mode, and it runs
as it stands (without a window every query answers False).
"""
from collections.abc import Callable
from typing import reveal_type

import tobrim.key.key as key
from tobrim.key.key import down, pressed

Query = Callable[[int], bool]

QUERIES: dict[str, Query] = {
    "pressed": key.pressed,
    "released": key.released,
    "pressed_repeat": key.pressed_repeat,
    "down": key.down,
    "up": key.up,
}


def held(codes: list[int]) -> list[int]:
    return [code for code in codes if down(code)]


def states(code: int) -> dict[str, bool]:
    return {name: query(code) for name, query in QUERIES.items()}


def frame() -> str:
    jump = pressed(32)
    walk = key.down(key=65)
    free = key.up(True)
    return f"jump={jump} walk={walk} free={free} held={held([65, 68])} {states(83)}"


namespace: dict[str, object] = key.__test__
reveal_type(down(1))
print(frame())
