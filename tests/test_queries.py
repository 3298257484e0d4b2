"""The five key queries: answers from raylib, binding of `key`, conversion
of the key code, and the messages and traceback records of failures."""
import sys
import traceback
import warnings

import pytest

from conftest import DEBUG

pytestmark = pytest.mark.core

NAMES = ["pressed", "released", "pressed_repeat", "down", "up"]
LINES = {"pressed": 9, "released": 12, "pressed_repeat": 15, "down": 18, "up": 21}


def test_frames_follow_raylib(key, keyboard):
    keyboard.frame(down=[65])
    assert (key.pressed(65), key.down(65), key.up(65), key.released(65)) == (True, True, False, False)
    assert key.pressed(66) is False and key.up(66) is True
    keyboard.frame()
    assert (key.pressed(65), key.down(65)) == (False, True)
    keyboard.frame(up=[65])
    assert (key.released(65), key.up(65), key.down(65)) == (True, True, False)
    keyboard.frame()
    assert key.released(65) is False and key.up(65) is True


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("code", [-1, 0, 512, 2147483647, -2147483648])
def test_codes_outside_raylib_range_answer_false(key, keyboard, name, code):
    keyboard.frame(down=[1, 511])
    assert getattr(key, name)(code) is False


class IndexOnly:
    def __index__(self):
        return 65


class IntReturns:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class IntRaises:
    def __int__(self):
        raise ZeroDivisionError("inside __int__")


class MyInt(int):
    def __int__(self):  # never called: the value is read in place
        raise AssertionError("__int__ of an int subclass was called")


def runtime_key():
    return "".join(["k", "e", "y"])


# (positional args, keywords, the key code raylib must see)
BINDS = [
    ((65,), {}, 65),
    ((), {"key": 65}, 65),
    ((), {runtime_key(): 65}, 65),
    ((True,), {}, 1),
    ((MyInt(66),), {}, 66),
    ((65.9,), {}, 65),
    ((IntReturns(67),), {}, 67),
    ((), {"key": IntReturns(67)}, 67),
]


@pytest.mark.parametrize("args,kwargs,code", BINDS)
def test_binding_and_conversion_reach_raylib(key, keyboard, args, kwargs, code):
    keyboard.frame(down=[code])
    assert key.down(*args, **kwargs) is True
    keyboard.frame(up=[code])
    assert key.down(*args, **kwargs) is False


@pytest.mark.parametrize("value", [-1, 0, False, 2**31 - 1, -2**31, 2**30, -2**30, 2**30 + 65])
def test_codes_in_int_range_pass_without_error(key, keyboard, value):
    assert key.down(value) is False


# (positional args, keywords, exception type, message or None for the interpreter's own)
FAILURES = [
    ((), {}, TypeError, "pressed() takes exactly 1 positional argument (0 given)"),
    ((1, 2), {}, TypeError, "pressed() takes exactly 1 positional argument (2 given)"),
    ((1, 2), {"key": 3}, TypeError, "pressed() takes exactly 1 positional argument (2 given)"),
    ((1,), {"key": 1}, TypeError, "pressed() got multiple values for keyword argument 'key'"),
    ((), {"k": 1}, TypeError, "pressed() got an unexpected keyword argument 'k'"),
    ((), {"k": 1, "key": 1}, TypeError, "pressed() got an unexpected keyword argument 'k'"),
    ((), {"key": 1, "k": 1}, TypeError, "pressed() got an unexpected keyword argument 'k'"),
    ((2**31,), {}, OverflowError, "value too large to convert to int"),
    ((-2**31 - 1,), {}, OverflowError, "value too large to convert to int"),
    ((2**62,), {}, OverflowError, "value too large to convert to int"),
    ((2**64,), {}, OverflowError, None),
    (("65",), {}, TypeError, "an integer is required"),
    ((None,), {}, TypeError, "an integer is required"),
    ((IndexOnly(),), {}, TypeError, "an integer is required"),
    ((IntReturns("x"),), {}, TypeError, "__int__ returned non-int (type str)"),
    ((IntRaises(),), {}, ZeroDivisionError, "inside __int__"),
    ((), {"key": None}, TypeError, "an integer is required"),
    ((), {"key": 2**31}, OverflowError, "value too large to convert to int"),
    ((), {"key": IntRaises()}, ZeroDivisionError, "inside __int__"),
]


@pytest.mark.parametrize("args,kwargs,exc,message", FAILURES)
def test_failures(key, args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        key.pressed(*args, **kwargs)
    if message is not None:
        assert str(info.value) == message
    else:
        assert type(info.value) is OverflowError


def test_int_returning_bool_warns_then_passes(key, keyboard):
    keyboard.frame(down=[1])
    with pytest.warns(DeprecationWarning) as record:
        assert key.down(IntReturns(True)) is True
    assert str(record[0].message).startswith(
        "__int__ returned non-int (type bool).  The ability to return an instance of a strict "
        "subclass of int is deprecated")
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            key.down(IntReturns(True))


@pytest.mark.parametrize("name", NAMES)
def test_failure_records_point_at_the_definition(key, name):
    with pytest.raises(TypeError) as info:
        getattr(key, name)()
    last = traceback.extract_tb(info.value.__traceback__)[-1]
    assert (last.filename, last.name, last.lineno) == (
        "src/tobrim/key/key.pyi", f"tobrim.key.key.{name}", LINES[name])
    tb = info.value.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    assert tb.tb_frame.f_globals is vars(key)


def test_count_word_offset_bit_is_cleared(key, keyboard):
    import _runtime_test
    keyboard.frame(down=[70])
    assert _runtime_test.call_offset(key.down, 70) is True
    with pytest.raises(TypeError, match=r"\(2 given\)"):
        _runtime_test.call_offset(key.down, 70, 71)


def _repeat(call, times):
    for _ in range(times):
        try:
            call()
        except Exception:
            pass


@pytest.mark.skipif(not DEBUG, reason="reference totals need the debug interpreter")
def test_successful_calls_leave_the_reference_total_unchanged(key, keyboard):
    keyboard.frame(down=[65])
    big = 2**40 + 65

    def calls():
        key.pressed(65)
        key.down(key=65)
        key.up(**{runtime_key(): 65})
        key.released(IntReturns(65))
        key.down(-big + big + 65)

    _repeat(calls, 5)
    before = sys.gettotalrefcount()
    _repeat(calls, 500)
    assert sys.gettotalrefcount() - before < 20


@pytest.mark.parametrize("args,kwargs,exc,message", FAILURES)
def test_failures_release_what_they_took(key, args, kwargs, exc, message):
    # Failures are checked on the objects they were given and on the heap
    # (the reference total of failing calls: test_reliability.py).
    values = list(args) + list(kwargs.values())
    counts = [sys.getrefcount(v) for v in values]
    # Enough warm-up calls to refill the interpreter's free lists, which a
    # full collection empties.
    _repeat(lambda: key.pressed(*args, **kwargs), 200)
    blocks = sys.getallocatedblocks()
    _repeat(lambda: key.pressed(*args, **kwargs), 500)
    assert sys.getallocatedblocks() - blocks < 20
    assert [sys.getrefcount(v) for v in values] == counts
