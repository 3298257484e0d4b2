"""Import, re-import, re-initialisation and the one-interpreter rule."""
import sys
import textwrap

import pytest

from conftest import EXT_SUFFIX

pytestmark = pytest.mark.core


def test_namespace(key):
    names = [n for n in vars(key) if not n.startswith("__") or n in ("__builtins__", "__test__")]
    assert names == ["__builtins__", "pressed", "released", "pressed_repeat", "down", "up", "__test__"]
    assert key.__test__ == {}
    assert key.__name__ == "tobrim.key.key"
    assert key.__package__ == "tobrim.key"
    # The full tag (ABI, debug "d", platform), not a bare ".so".
    assert key.__file__.endswith("/key" + EXT_SUFFIX)
    assert not hasattr(key, "__path__")
    assert key.__loader__ is key.__spec__.loader


def test_reimport_gives_the_same_objects(run_python):
    run_python(textwrap.dedent("""
        import sys
        import tobrim.key.key as first
        pressed = first.pressed
        del sys.modules["tobrim.key.key"]
        import tobrim.key.key as second
        assert second is first and second.pressed is pressed
        assert sys.modules["tobrim.key.key"] is first
    """))


def test_exec_on_another_module_is_refused(run_python):
    run_python(textwrap.dedent("""
        import ctypes, types
        import tobrim.key.key as key
        lib = ctypes.PyDLL(key.__file__)
        lib.PyInit_key.restype = ctypes.c_void_p
        moduledef = lib.PyInit_key()
        exec_def = ctypes.pythonapi.PyModule_ExecDef
        exec_def.argtypes = [ctypes.py_object, ctypes.c_void_p]
        exec_def.restype = ctypes.c_int
        other = types.ModuleType("other")
        try:
            exec_def(other, moduledef)
        except RuntimeError as e:
            assert str(e) == ("Module 'key' has already been imported. "
                              "Re-initialisation is not supported."), e
        else:
            raise AssertionError("no RuntimeError")
        assert exec_def(key, moduledef) == 0
        assert key.pressed(65) is False
    """))


def test_second_interpreter_is_refused(run_python):
    proc = run_python(textwrap.dedent("""
        import _interpreters
        import tobrim.key.key
        interp = _interpreters.create("legacy")
        err = _interpreters.exec(interp, "import tobrim.key.key")
        print(err.type.__name__, err.msg, sep="|")
        _interpreters.destroy(interp)
    """))
    assert proc.stdout.strip() == ("ImportError|Interpreter change detected - this module can only "
                                   "be loaded into one interpreter per process.")


def test_first_interpreter_owns_the_module(run_python):
    proc = run_python(textwrap.dedent("""
        import _interpreters
        interp = _interpreters.create("legacy")
        assert _interpreters.exec(interp, "import tobrim.key.key") is None
        try:
            import tobrim.key.key
        except ImportError as e:
            print(e)
    """))
    assert "Interpreter change detected" in proc.stdout


def test_registry_holds_the_shared_types(key):
    registry = sys.modules["_cython_3_2_8"]
    ftype = type(key.pressed)
    assert vars(registry)["cython_function_or_method"] is ftype
    assert vars(registry)["_common_types_metatype"] is type(ftype)
    assert ftype.__name__ == "cython_function_or_method"
    assert ftype.__module__ == "_cython_3_2_8"
    assert ftype.__module__ is not ftype.__module__
    assert type(ftype).__bases__ == (type,)


def test_second_module_shares_the_function_type(run_python):
    proc = run_python(textwrap.dedent("""
        import gc
        import tobrim.key.key as key
        before = {id(o) for o in gc.get_objects() if isinstance(o, type)}
        import _runtime_test
        made = [o.__name__ for o in gc.get_objects() if isinstance(o, type) and id(o) not in before]
        print(_runtime_test.function_type is type(key.pressed), made)
    """))
    assert proc.stdout.split() == ["True", "[]"]


@pytest.mark.parametrize("entry,message", [
    ("42", "Shared Cython type cython_function_or_method is not a type object"),
    ("type('T', (), {})", "Shared Cython type cython_function_or_method has the wrong size, try recompiling"),
])
def test_bad_registry_entry_fails_the_import(run_python, entry, message):
    proc = run_python(textwrap.dedent(f"""
        import sys, types, traceback
        registry = types.ModuleType("_cython_3_2_8")
        registry.cython_function_or_method = {entry}
        sys.modules["_cython_3_2_8"] = registry
        try:
            import tobrim.key.key
        except TypeError as e:
            last = traceback.extract_tb(e.__traceback__)[-1]
            print(e, last.name, last.lineno, sep="|")
    """))
    assert proc.stdout.strip() == f"{message}|init tobrim.key.key|1"


def test_fresh_process_fills_the_registry(run_python):
    proc = run_python(textwrap.dedent("""
        import sys, types
        sys.modules["_cython_3_2_8"] = types.ModuleType("_cython_3_2_8")
        import tobrim.key.key as key
        entries = vars(sys.modules["_cython_3_2_8"])
        print(type(key.pressed) is entries["cython_function_or_method"],
              type(type(key.pressed)) is entries["_common_types_metatype"])
        del sys.modules["_cython_3_2_8"]
        import _runtime_test
        print(_runtime_test.function_type is type(key.pressed),
              "_cython_3_2_8" in sys.modules)
    """))
    assert proc.stdout.split() == ["True", "True", "False", "True"]


# Another module publishing between the lookup and the insertion: a key that
# hashes like the type's name, unequal to it at the lookup and equal at the
# insertion, stands in for the winner's entry.
RACE = """
import sys, types, traceback
class Winner(str):
    compared = 0
    def __hash__(self):
        return hash("cython_function_or_method")
    def __eq__(self, other):
        Winner.compared += 1
        if Winner.compared > 1 and {raise_at_insertion}:
            raise RuntimeError("insertion refused")
        return Winner.compared > 1
"""


@pytest.mark.parametrize("winner,raise_at_insertion,outcome", [
    ("42", False, "TypeError|Shared Cython type cython_function_or_method is not a type object"),
    ("type('T', (), {})", False,
     "TypeError|Shared Cython type cython_function_or_method has the wrong size, try recompiling"),
    ("42", True, "RuntimeError|insertion refused"),
])
def test_lost_race_to_a_bad_winner_fails_the_import(run_python, winner, raise_at_insertion, outcome):
    proc = run_python(RACE.format(raise_at_insertion=raise_at_insertion) + textwrap.dedent(f"""
        registry = types.ModuleType("_cython_3_2_8")
        sys.modules["_cython_3_2_8"] = registry
        entry = {winner}
        vars(registry)[Winner("decoy")] = entry
        try:
            import tobrim.key.key
        except Exception as e:
            (init,) = [f for f in traceback.extract_tb(e.__traceback__) if f.name.startswith("init ")]
            kept = [v for k, v in vars(registry).items() if type(k) is Winner] == [entry]
            print(type(e).__name__, e, init.name, init.lineno, kept, sep="|")
    """))
    assert proc.stdout.strip() == f"{outcome}|init tobrim.key.key|1|True"


def test_lost_race_adopts_the_winner(run_python):
    proc = run_python(RACE.format(raise_at_insertion=False) + textwrap.dedent("""
        import gc, weakref
        import tobrim.key.key as key
        entries = vars(sys.modules["_cython_3_2_8"])
        winner = entries.pop("cython_function_or_method")
        entries[Winner("decoy")] = winner
        before = {id(t) for t in gc.get_objects() if isinstance(t, type)}
        import _runtime_test
        gc.collect()
        made = [t for t in gc.get_objects() if isinstance(t, type) and id(t) not in before
                and t.__name__ == "cython_function_or_method"]
        print(_runtime_test.function_type is winner is type(key.pressed), Winner.compared, made)
    """))
    assert proc.stdout.split() == ["True", "2", "[]"]


def test_any_metaclass_entry_passes(run_python):
    run_python(textwrap.dedent("""
        import sys, types
        registry = types.ModuleType("_cython_3_2_8")
        class Meta(type): pass
        registry._common_types_metatype = Meta
        sys.modules["_cython_3_2_8"] = registry
        import tobrim.key.key as key
        assert type(type(key.pressed)) is Meta
    """))


def test_module_under_another_spec_name_is_entered_under_its_own(run_python):
    run_python(textwrap.dedent("""
        import glob, importlib.machinery, importlib.util, os, sys
        # Found without importing the package, which imports the module.
        so = glob.glob(os.environ["PYTHONPATH"] + "/tobrim/key/key.cpython-*.so")[0]
        loader = importlib.machinery.ExtensionFileLoader("key", so)
        spec = importlib.util.spec_from_file_location("key", so, loader=loader)
        try:
            module = importlib.util.module_from_spec(spec)
        except ImportError as e:
            # The interpreter looks for PyInit_<last part of the name>.
            raise
        spec.loader.exec_module(module)
        assert module.__name__ == "key"
        assert sys.modules["tobrim.key.key"] is module
    """))


def test_main_flag_names_the_module_main(run_python):
    run_python(textwrap.dedent("""
        import ctypes, glob, os, sys
        # Found without importing the package, which imports the module.
        (so,) = glob.glob(os.environ["PYTHONPATH"] + "/tobrim/key/key.cpython-*.so")
        # The same file, so the interpreter's later load finds this handle.
        ctypes.c_int.in_dll(ctypes.PyDLL(so), "__pyx_module_is_main_tobrim__key__key").value = 1
        import tobrim.key.key
        module = sys.modules["tobrim.key.key"]
        assert module.__name__ == "__main__", module.__name__
        assert module.pressed(65) is False
    """))


def test_spec_attributes_copied_by_the_create_step(run_python):
    proc = run_python(textwrap.dedent("""
        import ctypes, glob, os, types
        # Found without importing the package, which imports the module.
        (so,) = glob.glob(os.environ["PYTHONPATH"] + "/tobrim/key/key.cpython-*.so")
        lib = ctypes.PyDLL(so)
        lib.PyInit_key.restype = ctypes.c_void_p
        create = ctypes.pythonapi.PyModule_FromDefAndSpec2
        create.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
        create.restype = ctypes.py_object
        spec = types.SimpleNamespace(name="made", loader="L", origin=None,
                                     submodule_search_locations=None)
        module = create(lib.PyInit_key(), spec, 1013)
        d = vars(module)
        print(module.__name__, d["__loader__"], d["__file__"], "__path__" in d, d.get("__package__"))
        spec = types.SimpleNamespace(name="other", parent="p", submodule_search_locations=["x"])
        d = vars(create(lib.PyInit_key(), spec, 1013))
        print(d["__loader__"], "__file__" in d, d["__package__"], d["__path__"])
    """))
    assert proc.stdout.splitlines() == ["made L None False None", "None False p ['x']"]
