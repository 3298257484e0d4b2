"""The function type: creation by convention, the fast-call entries and
their messages, tp_call, repr, __reduce__ and pickling, binding, the type's
flags, and the life cycle."""
import gc
import pickle
import sys
import weakref

import pytest

import _runtime_test as rt

pytestmark = pytest.mark.core

STATIC, IN_CLASS = 0x01, 0x04


@pytest.mark.parametrize("convention,entry", [
    ("noargs", "NOARGS"),
    ("o", "O"),
    ("fastcall_keywords", "FASTCALL_KEYWORDS"),
    ("fastcall_keywords_coexist", "FASTCALL_KEYWORDS"),
    ("fastcall_keywords_method", "FASTCALL_KEYWORDS_METHOD"),
    ("varargs_keywords", None),
])
def test_entry_is_chosen_from_the_convention(convention, entry):
    assert rt.entry(rt.make(convention)) == entry


@pytest.mark.parametrize("convention", ["varargs", "fastcall"])
def test_unsupported_conventions_make_no_object(convention):
    with pytest.raises(SystemError, match="^Bad call flags for CyFunction$"):
        rt.make(convention)


def test_fast_call_entry_is_the_creating_modules_own(key):
    # The type is shared, but each object keeps the entry of the module that
    # made it: the key module's functions carry its copy, not this module's.
    for name in ["pressed", "released", "pressed_repeat", "down", "up"]:
        assert rt.entry(getattr(key, name)) == "foreign"


# (convention, flags, args, kwargs, message)
CALL_ERRORS = [
    ("noargs", 0, (), {"a": 1}, "noargs() takes no keyword arguments"),
    ("noargs", 0, (1, 2), {}, "noargs() takes no arguments (2 given)"),
    ("o", 0, (), {}, "o() takes exactly one argument (0 given)"),
    ("o", 0, (1, 2), {}, "o() takes exactly one argument (2 given)"),
    ("o", 0, (1,), {"a": 1}, "o() takes no keyword arguments"),
    ("o", IN_CLASS, ("self",), {}, "o() takes exactly one argument (0 given)"),
    ("o", IN_CLASS, (), {}, "o() needs an argument"),
    ("o", IN_CLASS, (), {"a": 1}, "o() needs an argument"),
    ("noargs", IN_CLASS, (), {"a": 1}, "noargs() needs an argument"),
    ("noargs", IN_CLASS, ("self", 1), {}, "noargs() takes no arguments (1 given)"),
    ("fastcall_keywords", IN_CLASS, (), {}, "fastcall_keywords() needs an argument"),
    ("fastcall_keywords_method", IN_CLASS, (), {}, "fastcall_keywords_method() needs an argument"),
]


@pytest.mark.parametrize("convention,flags,args,kwargs,message", CALL_ERRORS)
def test_call_errors(convention, flags, args, kwargs, message):
    f = rt.make(convention, flags)
    with pytest.raises(TypeError) as info:
        f(*args, **kwargs)
    assert str(info.value) == message


def test_wrappers_receive_self_and_arguments():
    f = rt.make("noargs")
    assert f() == ("noargs", f, None)
    assert rt.make("noargs", IN_CLASS)("me") == ("noargs", "me", None)
    assert rt.make("noargs", IN_CLASS | STATIC)() [1] is not None
    o = rt.make("o")
    assert o(5) == ("o", o, 5)
    assert rt.make("o", IN_CLASS)("me", 5) == ("o", "me", 5)
    fk = rt.make("fastcall_keywords")
    assert fk(1, 2, a=3) == ("fastcall", fk, (1, 2), ("a",), (3,))
    assert rt.make("fastcall_keywords", IN_CLASS)("me", 1) == ("fastcall", "me", (1,), None, ())
    m = rt.make("fastcall_keywords_method")
    assert m(1, b=2) == ("method", m, None, (1,), ("b",))


@pytest.mark.parametrize("convention,flags,args,expected", [
    ("noargs", 0, (), lambda f: ("noargs", f, None)),
    ("o", 0, (5,), lambda f: ("o", f, 5)),
    ("o", IN_CLASS, ("me", 5), lambda f: ("o", "me", 5)),
    ("fastcall_keywords", 0, (1, 2), lambda f: ("fastcall", f, (1, 2), None, ())),
    ("fastcall_keywords", IN_CLASS, ("me", 1), lambda f: ("fastcall", "me", (1,), None, ())),
    ("fastcall_keywords_method", 0, (1,), lambda f: ("method", f, None, (1,), None)),
])
def test_entries_clear_the_offset_bit_of_the_count(convention, flags, args, expected):
    f = rt.make(convention, flags)
    assert rt.call_offset(f, *args) == expected(f)


def test_noargs_accepts_an_empty_keyword_tuple():
    _testcapi = pytest.importorskip("_testcapi")
    f = rt.make("noargs")
    assert _testcapi.pyobject_vectorcall(f, (), ()) == ("noargs", f, None)


def test_long_names_are_cut_in_messages():
    f = rt.make("long")
    with pytest.raises(TypeError) as info:
        f(1)
    name = f"{rt.make('long').__reduce__()}"
    assert str(info.value) == name[:200] + "() takes no arguments (1 given)"


def test_messages_ignore_renaming(key):
    f = rt.make("o", 0, "renamed")
    with pytest.raises(TypeError, match=r"^o\(\) takes exactly one argument"):
        f()


# --- tp_call ---------------------------------------------------------------

def test_call_slot_builds_a_fast_call(key, keyboard):
    keyboard.frame(down=[32])
    call = type(key.pressed).__call__
    assert call(key.down, 32) is True
    assert call(key.down, key=32) is True
    fk = rt.make("fastcall_keywords")
    assert call(fk, 1, b=2, a=3) == ("fastcall", fk, (1,), ("b", "a"), (2, 3))
    names = call(fk, **{"key": 1})[3]
    assert names == ("key",)


def test_call_slot_passes_the_dict_keys_themselves(key, keyboard):
    keyboard.frame(down=[32])
    name = "".join(["k", "e", "y"])
    assert rt.call_slot(key.down, (), {name: 32}) is True
    fk = rt.make("fastcall_keywords")
    (seen,) = rt.call_slot(fk, (), {name: 32})[3]
    assert seen is name
    for kwargs in (None, {}):
        assert rt.call_slot(key.down, (32,), kwargs) is True
        assert rt.call_slot(fk, (32,), kwargs) == ("fastcall", fk, (32,), None, ())


@pytest.mark.parametrize("kwargs", [
    {1: 2},
    {"a": 1, 2: 3},
    {"a": 1, b"b": 2, "c": 3},
])
def test_call_slot_refuses_keys_that_are_not_strings(key, kwargs):
    fk = rt.make("fastcall_keywords")
    held = [*kwargs.keys(), *kwargs.values()]
    before = [sys.getrefcount(o) for o in held]
    for f in (fk, key.pressed):
        with pytest.raises(TypeError, match="^keywords must be strings$"):
            rt.call_slot(f, (1,), kwargs)
    assert [sys.getrefcount(o) for o in held] == before


def test_call_slot_classic_convention():
    f = rt.make("varargs_keywords")
    assert f(1, 2) == ("varargs_keywords", f, (1, 2), None)
    assert f(1, a=2) == ("varargs_keywords", f, (1,), {"a": 2})
    g = rt.make("varargs_keywords", IN_CLASS, "Cls.meth")
    assert g("me") == ("varargs_keywords", "me", (), None)
    with pytest.raises(TypeError, match=r"^unbound method Cls.meth\(\) needs an argument$"):
        g()


# --- repr, __reduce__, pickling, binding ------------------------------------

def test_repr_and_reduce(key):
    assert repr(key.pressed) == f"<cyfunction pressed at {hex(id(key.pressed))}>"
    assert key.pressed.__reduce__() == "pressed"
    assert key.pressed.__reduce__(1, 2) == "pressed"
    f = rt.make("o", 0, "first")
    assert repr(f).startswith("<cyfunction first at 0x")


def test_pickle_by_reference(key):
    for proto in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(key.pressed, proto)) is key.pressed


def test_binding_as_method(key):
    class C:
        q = key.pressed
        s = rt.make("o", STATIC)
    c = C()
    bound = c.q
    assert bound.__func__ is key.pressed and bound.__self__ is c
    assert C.q is key.pressed
    assert C.s is C.__dict__["s"]


def test_module_member(key):
    assert key.pressed.__module__ == "tobrim.key.key"
    f = rt.make("o")
    f.__module__ = "elsewhere"
    assert f.__module__ == "elsewhere"
    del f.__module__
    assert f.__module__ is None


def test_type_cannot_be_instantiated_or_changed(key):
    ftype = type(key.pressed)
    with pytest.raises(TypeError):
        ftype()
    with pytest.raises(TypeError):
        ftype.x = 1
    flags = ftype.__flags__
    for bit in (0x10, 0x80, 0x100, 0x400, 0x800, 0x4000, 0x20000):
        assert flags & bit


def test_weakref_callback_runs_before_fields_are_released():
    f = rt.make("o", 0, "weakly")
    seen = []
    ref = weakref.ref(f, lambda r: seen.append(r() is None))
    del f
    gc.collect()
    assert seen == [True] and ref() is None


def test_cycles_through_the_instance_dict_are_collected():
    f = rt.make("o")
    f.__dict__ if hasattr(f, "__dict__") else None
    ref = weakref.ref(f)
    f.module_attr = f
    del f
    gc.collect()
    assert ref() is None


def test_cleared_object_answers_without_its_fields():
    # What the collector's clear leaves behind must still be safe to touch.
    f = rt.make("varargs_keywords", IN_CLASS, "Cls.meth")
    f.__doc__ = "doc"
    rt.clear(f)
    assert f.__qualname__ is None and f.__globals__ is None and f.__module__ is None
    assert f.__name__ == "varargs_keywords" and f.__doc__ is None and f.__code__ is None
    assert repr(f) == f"<cyfunction varargs_keywords at {hex(id(f))}>"
    assert f.__reduce__() == "varargs_keywords"
    with pytest.raises(TypeError, match=r"^unbound method varargs_keywords\(\) needs an argument$"):
        f()
    assert f("me") == ("varargs_keywords", "me", (), None)
