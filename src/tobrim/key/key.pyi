"""Keyboard queries answered by raylib for the current frame.

Each function takes one key code, a tobrim.key.Key member or raylib's number
for it (Key.A, 65), by position or as the keyword key, and answers True or False.
"""

__test__: dict[str, object]

def pressed(key: int) -> bool:
    """Whether the key went down in this frame (raylib's IsKeyPressed).\n\nkey: a Key member or raylib's number for it (Key.A, 65); a number that\nnames no key answers False.\n\nRaises TypeError for a missing, extra or misnamed argument or a key that is\nno integer; OverflowError for a key outside the range of a C int."""

def released(key: int) -> bool:
    """Whether the key went up in this frame (raylib's IsKeyReleased).\n\nkey: a Key member or raylib's number for it (Key.A, 65); a number that\nnames no key answers False.\n\nRaises TypeError for a missing, extra or misnamed argument or a key that is\nno integer; OverflowError for a key outside the range of a C int."""

def pressed_repeat(key: int) -> bool:
    """Whether the system's key repeat fired for the held key in this frame\n(raylib's IsKeyPressedRepeat); the first press is no repeat.\n\nkey: a Key member or raylib's number for it (Key.A, 65); a number that\nnames no key answers False.\n\nRaises TypeError for a missing, extra or misnamed argument or a key that is\nno integer; OverflowError for a key outside the range of a C int."""

def down(key: int) -> bool:
    """Whether the key is held in this frame (raylib's IsKeyDown).\n\nkey: a Key member or raylib's number for it (Key.A, 65); a number that\nnames no key answers False.\n\nRaises TypeError for a missing, extra or misnamed argument or a key that is\nno integer; OverflowError for a key outside the range of a C int."""

def up(key: int) -> bool:
    """Whether the key is not held in this frame (raylib's IsKeyUp).\n\nkey: a Key member or raylib's number for it (Key.A, 65); a number that\nnames no key answers False.\n\nRaises TypeError for a missing, extra or misnamed argument or a key that is\nno integer; OverflowError for a key outside the range of a C int."""
