"""Keyboard queries answered by raylib for the current frame.

Each function takes one raylib key code (for example 65 for KEY_A) by
position or as the keyword ``key``, and answers ``True`` or ``False``.
"""

__test__: dict[str, object]

def pressed(key: int) -> bool: ...


def released(key: int) -> bool: ...


def pressed_repeat(key: int) -> bool: ...


def down(key: int) -> bool: ...


def up(key: int) -> bool: ...
