"""The instance dictionary of function objects and its "__annotate__" entry:
the annotation getters and setters reach the object's own attribute storage,
never a dict that an attribute holds, and make no dict where none exists."""
import sys

import pytest

import _runtime_test as rt

from conftest import DEBUG

pytestmark = pytest.mark.core


def _attribute_deleted(f):
    f.mark = "m"
    del f.mark


def _vars_cleared(f):
    f.mark = "m"
    vars(f).clear()


def _cleared(f):
    f.mark = "m"
    rt.clear(f)


def _dict_assigned(f):
    f.__dict__ = {"other": 2}   # a new dict each time: it becomes f's own


# How a fresh function object is prepared: (preparation, the instance dict it
# leaves, or None when it leaves none).
SETUPS = {
    "new": (lambda f: None, None),
    "annotations read": (lambda f: (f.__annotations__, f.__annotate__), None),
    "attribute set": (lambda f: setattr(f, "mark", "m"), {"mark": "m"}),
    "__dict__ read": (lambda f: f.__dict__, {}),
    "only attribute deleted": (_attribute_deleted, {}),
    "vars(f).clear()": (_vars_cleared, {}),
    "__dict__ assigned": (_dict_assigned, {"other": 2}),
    "__annotate__ set to None": (lambda f: setattr(f, "__annotate__", None),
                                 {"__annotate__": None}),
    "cleared by the collector": (_cleared, None),
}


def _is_placeholder(annotate, annotations):
    return annotate.__name__ == "__annotate__" and annotate.__self__ is annotations


def _with(before, **entries):
    return {**(before or {}), **entries}


# What is done to the prepared object; each checks the outcome given the
# instance dict the preparation left.
def dict_attribute_then_annotations_set(f, before):
    cache = {}
    f.cache = cache
    f.__annotations__ = {}
    assert cache == {}
    assert f.__annotate__ is None
    assert vars(f) == _with(before, cache={}, __annotate__=None) and f.cache is cache


def dict_attribute_holding_annotate(f, before):
    calls = []
    config = {"__annotate__": lambda format: calls.append(format) or {"x": 1}}
    f.config = config
    annotations = f.__annotations__
    assert annotations == {} and calls == []
    entry = (before or {}).get("__annotate__", "absent")
    if entry == "absent":
        assert _is_placeholder(f.__annotate__, annotations)
    else:
        assert f.__annotate__ is entry
    assert list(config) == ["__annotate__"] and calls == []
    assert vars(f) == _with(before, config=config)


def attribute_then_annotations_set(f, before):
    f.tag = 1
    f.__annotations__ = {"key": int}
    assert f.__annotate__ is None and f.__annotations__ == {"key": int}
    assert vars(f) == _with(before, tag=1, __annotate__=None)


def dict_attribute_then_annotations_deleted(f, before):
    cache = {}
    f.cache = cache
    del f.__annotations__
    assert cache == {}
    assert vars(f) == _with(before, cache={}, __annotate__=None)
    assert f.__annotations__ == {}


def annotations_set(f, before):
    mine = {"a": 1}
    f.__annotations__ = mine
    if before is None:
        assert _is_placeholder(f.__annotate__, mine) and f.__annotate__() is mine
        assert rt.instance_dict(f) is None
    else:
        assert f.__annotate__ is None and f.__annotations__ is mine
        assert vars(f) == _with(before, __annotate__=None)


def annotations_read(f, before):
    annotations = f.__annotations__
    annotate = f.__annotate__
    assert f.__annotations__ is annotations
    if before is None:
        assert _is_placeholder(annotate, annotations) and annotations == {}
        assert rt.instance_dict(f) is None
    else:
        assert rt.instance_dict(f) == before


ACTIONS = [dict_attribute_then_annotations_set, dict_attribute_holding_annotate,
           attribute_then_annotations_set, dict_attribute_then_annotations_deleted,
           annotations_set, annotations_read]


@pytest.mark.parametrize("action", ACTIONS, ids=lambda a: a.__name__)
@pytest.mark.parametrize("setup", SETUPS)
def test_annotations_reach_the_instance_dict_only(setup, action):
    prepare, before = SETUPS[setup]
    f = rt.make("o")
    prepare(f)
    if before is None:
        assert rt.instance_dict(f) is None
    else:
        assert rt.instance_dict(f) == before
    action(f, before)


def test_reproducers_on_the_module_functions(run_python):
    proc = run_python("""
import tobrim.key.key as k
cache = {}; k.pressed.cache = cache; k.pressed.__annotations__ = {}
print(cache, vars(k.pressed))
calls = []
k.released.config = {'__annotate__': lambda fmt: calls.append(fmt) or {'x': 1}}
print(k.released.__annotations__, calls)
p = k.down; p.tag = 1; p.__annotations__ = {'key': int}
print(p.__annotate__, vars(p))
ns = vars(k); k.up.namespace = ns; del k.up.__annotations__
print('__annotate__' in ns)
""")
    assert proc.stdout.splitlines() == [
        "{} {'cache': {}, '__annotate__': None}",
        "{} []",
        "None {'tag': 1, '__annotate__': None}",
        "False",
    ]


@pytest.mark.skipif(not DEBUG, reason="reference totals exist on the debug interpreter only")
def test_no_references_kept():
    def run_all(times):
        for _ in range(times):
            for prepare, before in SETUPS.values():
                for action in ACTIONS:
                    f = rt.make("o")
                    prepare(f)
                    action(f, before)
    run_all(3)
    times = 10
    totals = []
    for _ in range(3):
        start = sys.gettotalrefcount()
        run_all(times)
        totals.append(sys.gettotalrefcount() - start)
    # The measuring itself holds a reference or two; a kept reference per
    # repetition would add at least `times`.
    assert min(totals) < times, totals
