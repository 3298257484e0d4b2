"""Keyword names that are not the interned parameter name: equal strings
built at run time, str subclasses, non-strings, and the duplicate and
unexpected keywords of names tuples and keyword dicts."""
import pytest

_testcapi = pytest.importorskip("_testcapi")
from fuzz_calls import AlwaysEqual, NeverEqual, RaisingEqual  # noqa: E402

pytestmark = pytest.mark.core


def runtime_key():
    return "".join(["k", "e", "y"])


def check(call, expected):
    """`expected` is the key code raylib must see (held, so True comes back)
    or (exception type, message)."""
    if isinstance(expected, int):
        assert call() is True
    else:
        exc, message = expected
        with pytest.raises(exc) as info:
            call()
        assert str(info.value) == message


def vectorcall(func, values, names):
    return _testcapi.pyobject_vectorcall(func, tuple(values), tuple(names))


# (positional values, keyword names, keyword values, key code seen or (exception, message))
CASES = [
    ((), [runtime_key()], [66], 66),
    ((), [AlwaysEqual("zzz")], [66], 66),
    ((), ["key"], [66], 66),
    ((), [NeverEqual("key")], [66], (TypeError, "down() got an unexpected keyword argument 'key'")),
    ((), [RaisingEqual("key")], [66], (LookupError, "from __eq__ of key")),
    ((), [b"key"], [66], (TypeError, "down() keywords must be strings")),
    ((), [5], [66], (TypeError, "down() keywords must be strings")),
    ((66,), [runtime_key()], [66], (TypeError, "down() got multiple values for keyword argument 'key'")),
    ((66,), [AlwaysEqual("x")], [66], (TypeError, "down() got multiple values for keyword argument 'x'")),
    ((), ["k", "key"], [1, 66], (TypeError, "down() got an unexpected keyword argument 'k'")),
    ((), ["key", "k"], [66, 1], (TypeError, "down() got an unexpected keyword argument 'k'")),
    ((), ["key", "key"], [66, 67], (TypeError, "down() got multiple values for keyword argument 'key'")),
    ((), [runtime_key(), "key"], [66, 67], (TypeError, "down() got multiple values for keyword argument 'key'")),
]


@pytest.mark.parametrize("values,names,kwvalues,expected", CASES)
def test_names_tuples(key, keyboard, values, names, kwvalues, expected):
    keyboard.frame(down=[66])
    check(lambda: vectorcall(key.down, list(values) + list(kwvalues), names), expected)


# (positional args, keyword dict, key code seen or (exception, message))
DICT_CASES = [
    ((), {runtime_key(): 66}, 66),
    ((), {AlwaysEqual("zzz"): 66}, 66),
    ((), {NeverEqual("key"): 66}, (TypeError, "down() got an unexpected keyword argument 'key'")),
    ((), {"key": 66, "a": 1, "b": 2}, (TypeError, "down() got an unexpected keyword argument 'a'")),
    ((), {"b": 2, "key": 66, "a": 1}, (TypeError, "down() got an unexpected keyword argument 'b'")),
    ((66,), {runtime_key(): 66}, (TypeError, "down() got multiple values for keyword argument 'key'")),
    ((66,), {"a": 1}, (TypeError, "down() got an unexpected keyword argument 'a'")),
]


@pytest.mark.parametrize("args,kwargs,expected", DICT_CASES)
def test_keyword_dicts(key, keyboard, args, kwargs, expected):
    keyboard.frame(down=[66])
    check(lambda: key.down(*args, **kwargs), expected)


def test_name_without_cached_hash_matches(key, keyboard):
    keyboard.frame(down=[66])
    # A str fresh from decoding has no hash cached yet.
    name = bytes([107, 101, 121]).decode()
    assert vectorcall(key.down, [66], [name]) is True
    assert hash(name) == hash("key")


def test_keyword_values_are_released(key):
    import sys
    value = 1000 + int("66")
    count = sys.getrefcount(value)
    for _ in range(50):
        with pytest.raises(TypeError):
            vectorcall(key.down, [value, value], ["key", "key"])
        with pytest.raises(TypeError):
            key.down(value, key=value)
    assert sys.getrefcount(value) == count


# Keyword dicts handed to the function's entry directly, as a native caller
# may: (positional args, keyword dict, key code seen or (exception, message)).
ENTRY_DICT_CASES = [
    ((), {runtime_key(): 66}, 66),
    ((), {"key": 66, "a": 1}, (TypeError, "down() got an unexpected keyword argument 'a'")),
    ((), {1: 66}, (TypeError, "keywords must be strings")),
    ((66,), {runtime_key(): 66}, (TypeError, "down() got multiple values for keyword argument 'key'")),
    # Every key names `key` by its __eq__, though its hash misses "key": the
    # keywords are bound by value, as a names tuple binds them.
    ((), {AlwaysEqual("zzz"): 66}, 66),
    ((), {"key": 66, AlwaysEqual("x"): 1}, (TypeError, "down() got multiple values for keyword argument 'x'")),
    ((), {AlwaysEqual("x"): 1, "key": 66}, (TypeError, "down() got multiple values for keyword argument 'key'")),
]


class EmptiesTheDict(str):
    """Its __eq__ drops the dict's reference to it."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        self.kwargs.clear()
        return False


def test_keyword_dict_emptied_by_a_comparison(key):
    import _runtime_test
    name = EmptiesTheDict("".join(["z", "z", "z"]))
    kwargs = {name: 66}
    name.kwargs = kwargs
    del name
    with pytest.raises(TypeError) as info:
        _runtime_test.call_with_dict(key.down, (), kwargs)
    assert str(info.value) == "down() got an unexpected keyword argument 'zzz'"


@pytest.mark.parametrize("args,kwargs,expected", ENTRY_DICT_CASES)
def test_keyword_dicts_at_the_entry(key, keyboard, args, kwargs, expected):
    import _runtime_test
    keyboard.frame(down=[66])
    check(lambda: _runtime_test.call_with_dict(key.down, args, kwargs), expected)
