"""What introspection reads on a function object: names, doc, dict,
globals, closure, code, defaults, annotations and the coroutine marker."""
import functools
import gc
import inspect
import sys
import warnings

import pytest

import _runtime_test as rt

pytestmark = pytest.mark.core

COROUTINE = 0x08


def test_introspection_of_pressed(key):
    f = key.pressed
    assert f.__name__ == "pressed" and f.__name__ is f.__name__ is f.func_name
    assert sys.intern("".join(["p", "ressed"])) is f.__name__
    assert f.__qualname__ == "pressed"
    assert f.__doc__ is None and f.func_doc is None
    assert f.__defaults__ is None and f.__kwdefaults__ is None and f.func_defaults is None
    assert f.__closure__ is None and f.func_closure is None
    assert f.__globals__ is vars(key) is f.func_globals
    assert f.__code__ is f.func_code
    assert f.__annotations__ == {} and f.__annotations__ is f.__annotations__
    assert f._is_coroutine is False and f._is_coroutine is f._is_coroutine
    assert str(inspect.signature(f)) == "(key)"


def test_wraps_and_signature(key):
    @functools.wraps(key.down)
    def wrapper(*args, **kwargs):
        return key.down(*args, **kwargs)
    assert wrapper.__name__ == "down" and wrapper.__wrapped__ is key.down
    assert str(inspect.signature(wrapper)) == "(key)"


@pytest.mark.parametrize("attr,value,message", [
    ("__name__", 5, "__name__ must be set to a string object"),
    ("__name__", None, "__name__ must be set to a string object"),
    ("__qualname__", 5, "__qualname__ must be set to a string object"),
    ("__defaults__", [1], "__defaults__ must be set to a tuple object"),
    ("__kwdefaults__", [1], "__kwdefaults__ must be set to a dict object"),
    ("__annotations__", [1], "__annotations__ must be set to a dict object"),
    ("__annotate__", 5, "__annotate__ must be callable or None"),
])
def test_setters_refuse_wrong_types(attr, value, message):
    f = rt.make("o")
    before = getattr(f, attr)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(TypeError) as info:
            setattr(f, attr, value)
    assert str(info.value) == message
    assert getattr(f, attr) == before


@pytest.mark.parametrize("attr", ["__name__", "__qualname__", "__annotate__"])
def test_deletion_refused(attr):
    with pytest.raises(TypeError):
        delattr(rt.make("o"), attr)


@pytest.mark.parametrize("attr", ["__globals__", "__closure__", "__code__", "_is_coroutine",
                                  "func_globals", "func_code"])
def test_read_only(key, attr):
    with pytest.raises(AttributeError):
        setattr(key.pressed, attr, None)


def test_names_and_doc_setters():
    f = rt.make("o")

    class S(str):
        pass
    name = S("renamed")
    f.__name__ = name
    assert f.__name__ is name and f.func_name is name
    f.__qualname__ = "C.renamed"
    assert repr(f).startswith("<cyfunction C.renamed at ") and f.__reduce__() == "C.renamed"
    f.__doc__ = 5
    assert f.__doc__ == 5 and f.func_doc == 5
    del f.__doc__
    assert f.__doc__ is None
    d = rt.make("documented")
    assert d.__doc__ == "A documented function." and d.__doc__ is d.__doc__


def test_defaults_setters_warn(key):
    f = rt.make("o")
    with pytest.warns(RuntimeWarning, match="changes to cyfunction.__defaults__ will not currently affect"):
        f.__defaults__ = (1,)
    assert f.__defaults__ == (1,)
    with pytest.warns(RuntimeWarning):
        del f.__defaults__
    assert f.__defaults__ is None
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        with pytest.raises(RuntimeWarning, match="__kwdefaults__"):
            f.__kwdefaults__ = {"a": 1}
    assert f.__kwdefaults__ is None
    with pytest.warns(RuntimeWarning):
        f.__kwdefaults__ = {"a": 1}
    assert f.__kwdefaults__ == {"a": 1}


def test_defaults_do_not_change_binding(key):
    with pytest.warns(RuntimeWarning):
        key.up.__defaults__ = (65,)
    try:
        with pytest.raises(TypeError, match=r"^up\(\) takes exactly 1 positional argument \(0 given\)$"):
            key.up()
    finally:
        with pytest.warns(RuntimeWarning):
            key.up.__defaults__ = None


# --- defaults from a defaults getter (other modules' function objects) ------

def test_defaults_fill_runs_once_and_sets_both():
    # Made at run time: the free-threaded build makes constants immortal.
    positional, keywords = tuple([1, 2]), {"k": 3}
    calls = []
    f = rt.make("o", 0, None, lambda: calls.append(1) or (positional, keywords, "ignored"))
    with pytest.warns(RuntimeWarning):
        f.__kwdefaults__ = {"replaced": True}
    assert f.__defaults__ is positional and f.func_defaults is positional
    assert f.__kwdefaults__ is keywords and calls == [1]
    before = sys.getrefcount(positional)
    del f
    gc.collect()
    assert sys.getrefcount(positional) == before - 1


@pytest.mark.parametrize("result", [None, 5, [(), {}], ((),)], ids=repr)
def test_defaults_getter_of_another_shape_stores_nothing(result):
    calls = []
    f = rt.make("o", 0, None, lambda: calls.append(1) or result)
    for attr in ("__defaults__", "__kwdefaults__"):
        with pytest.raises(TypeError, match="^defaults getter must return a tuple of at least two items$"):
            getattr(f, attr)
    assert calls == [1, 1]
    with pytest.warns(RuntimeWarning):
        f.__defaults__ = (9,)
    assert f.__defaults__ == (9,)


def test_failing_defaults_getter_is_retried():
    results = [LookupError("not yet"), ((1,), None)]

    def getter():
        result = results.pop(0)
        if isinstance(result, Exception):
            raise result
        return result
    f = rt.make("o", 0, None, getter)
    with pytest.raises(LookupError, match="^not yet$"):
        f.__kwdefaults__
    assert f.__defaults__ == (1,) and f.__kwdefaults__ is None and results == []


def test_instance_dict():
    f = rt.make("o")
    assert f.__dict__ == {}
    f.tag = 1
    assert f.__dict__ == {"tag": 1} and f.func_dict is f.__dict__
    f.__dict__ = {"other": 2}
    assert f.other == 2


def test_placeholder_annotate(key):
    f = rt.make("o")
    annotate = f.__annotate__
    assert annotate.__name__ == "__annotate__"
    assert annotate.__doc__ == ("Placeholder __annotate__ function to allow 'functools.wraps' "
                                "to work on Cython functions.")
    assert annotate(1) is f.__annotations__ and annotate() is annotate(1, 2, 3)
    assert f.__annotate__ is not annotate


def test_assigned_annotate_is_called_once():
    f = rt.make("o")
    calls = []

    def annotate(format):
        calls.append(format)
        return {"key": int}
    f.__annotate__ = annotate
    assert f.__annotations__ == {"key": int} and f.__annotations__ is f.__annotations__
    assert calls == [1] and f.__annotate__ is annotate


def test_annotate_must_return_a_dict():
    f = rt.make("o")
    calls = []
    f.__annotate__ = lambda format: calls.append(format) or 5
    for _ in range(2):
        with pytest.raises(TypeError, match="^__annotate__ must return a dict$"):
            f.__annotations__
    assert calls == [1, 1]


def test_annotate_none_and_annotations_assignment():
    f = rt.make("o")
    cached = f.__annotations__
    f.__annotate__ = None
    assert f.__annotate__ is None and f.__annotations__ is cached
    g = rt.make("o")
    g.__annotate__ = None
    assert g.__annotations__ == {}
    # Without an instance dict, assigning annotations creates none.
    h = rt.make("o")
    mine = {"a": 1}
    h.__annotations__ = mine
    assert h.__annotate__() is mine
    referred = [o for o in gc.get_referents(h)
                if type(o) is dict and o is not mine and o is not h.__globals__]
    assert referred == []
    # With one, the annotate entry becomes None.
    h.__dict__
    h.__annotations__ = {"b": 2}
    assert h.__annotate__ is None and h.__annotations__ == {"b": 2}
    del h.__annotations__
    assert h.__annotations__ == {}


class CallableInstance:
    def __call__(self, format):
        return {"format": format, "self": self}


# Annotate functions of every kind the one-argument call tells apart:
# (make it, the dict it answers given the annotate function itself).
ANNOTATE_KINDS = {
    "function type, METH_O": (lambda: rt.make("annotate_o"), lambda a: {"format": 1, "self": a}),
    "function type, METH_O|METH_STATIC": (lambda: rt.make("annotate_static"),
                                          lambda a: {"format": 1, "self": None}),
    "built-in, METH_O": (lambda: rt.annotate_builtin, lambda a: {"format": 1, "self": rt}),
    "function type, fast call": (lambda: rt.make("fastcall_keywords"), None),
    "Python function": (lambda: (lambda format: {"format": format}), lambda a: {"format": 1}),
    "no vectorcall": (CallableInstance, lambda a: {"format": 1, "self": a}),
}


@pytest.mark.parametrize("kind", ANNOTATE_KINDS)
def test_annotate_function_kinds(kind):
    make, expected = ANNOTATE_KINDS[kind]
    f = rt.make("o")
    f.__annotate__ = annotate = make()
    if expected is None:
        # A tuple comes back: the call reached the wrapper, the check refused it.
        with pytest.raises(TypeError, match="^__annotate__ must return a dict$"):
            f.__annotations__
    else:
        assert f.__annotations__ == expected(annotate)


def test_annotate_returning_null_without_error():
    f = rt.make("o")
    f.__annotate__ = rt.make("annotate_null")
    with pytest.raises(SystemError, match="^NULL result without error in PyObject_Call$"):
        f.__annotations__


def library_annotations():
    """The library's reader of annotations and the keyword sets to read them
    with: annotationlib's in each format it evaluates, or on 3.13, which has
    no annotationlib, inspect.get_annotations."""
    if sys.version_info >= (3, 14):
        import annotationlib
        return annotationlib.get_annotations, [{"format": annotationlib.Format.VALUE},
                                               {"format": annotationlib.Format.FORWARDREF}]
    return inspect.get_annotations, [{}, {"eval_str": True}]


def test_library_annotations_and_wraps(key):
    get_annotations, formats = library_annotations()
    assert get_annotations(key.pressed) == {}
    f = rt.make("o")
    f.__annotate__ = lambda format: {"key": int}
    for kwargs in formats:
        assert get_annotations(f, **kwargs) == {"key": int}
    for wrapped, annotations in ((key.pressed, {}), (f, {"key": int})):
        @functools.wraps(wrapped)
        def wrapper(*args):
            return wrapped(*args)
        assert wrapper.__annotations__ == annotations
        assert get_annotations(wrapper) == annotations


def test_coroutine_marker():
    import asyncio.coroutines
    f = rt.make("o", COROUTINE)
    assert f._is_coroutine is asyncio.coroutines._is_coroutine


def test_coroutine_marker_without_asyncio(run_python):
    proc = run_python("""
import sys
sys.modules["asyncio.coroutines"] = None
import _runtime_test as rt
f = rt.make("o", 8)
print(f._is_coroutine, f._is_coroutine is f._is_coroutine, rt.make("o")._is_coroutine)
""")
    assert proc.stdout.strip() == "True True False"
