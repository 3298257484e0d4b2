// _runtime_test: a second module of the same kind as tobrim.key.key, made
// only for the tests.  It shares the function type through the registry and
// makes function objects of every calling convention the runtime serves;
// each wrapper answers with what it received.
#include <string.h>

#include "runtime/function_object.h"

namespace {

struct test_state {
    PyObject *module_dict;
    PyObject *source_path;
    PyTypeObject *metaclass;
    PyTypeObject *function_type;
    __Pyx_CodeObjectCache code_cache;
    PyObject *str_annotate;
    PyObject *str_asyncio_coroutines;
    PyObject *str_is_coroutine;
};

test_state state;

// Tuple of a call's positional arguments, from a vector.
PyObject *args_tuple(PyObject *const *args, Py_ssize_t nargs) {
    PyObject *t = PyTuple_New(nargs);
    if (t == nullptr)
        return nullptr;
    for (Py_ssize_t i = 0; i < nargs; i++)
        PyTuple_SET_ITEM(t, i, Py_NewRef(args[i]));
    return t;
}

PyObject *none_if_null(PyObject *o) { return o ? o : Py_None; }

PyObject *w_noargs(PyObject *self, PyObject *arg) {
    return Py_BuildValue("(sOO)", "noargs", self, none_if_null(arg));
}

PyObject *w_o(PyObject *self, PyObject *arg) { return Py_BuildValue("(sOO)", "o", self, arg); }

PyObject *w_fastcall(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames) {
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject *pos = args_tuple(args, nargs);
    PyObject *kwv = args_tuple(args + nargs, nkw);
    PyObject *r = nullptr;
    if (pos && kwv)
        r = Py_BuildValue("(sOOOO)", "fastcall", self, pos, none_if_null(kwnames), kwv);
    Py_XDECREF(pos);
    Py_XDECREF(kwv);
    return r;
}

PyObject *w_method(PyObject *self, PyTypeObject *cls, PyObject *const *args, Py_ssize_t nargs,
                   PyObject *kwnames) {
    PyObject *pos = args_tuple(args, nargs);
    if (pos == nullptr)
        return nullptr;
    PyObject *r = Py_BuildValue("(sOOOO)", "method", self, none_if_null((PyObject *)cls), pos,
                                none_if_null(kwnames));
    Py_DECREF(pos);
    return r;
}

PyObject *w_varargs_keywords(PyObject *self, PyObject *args, PyObject *kw) {
    return Py_BuildValue("(sOOO)", "varargs_keywords", self, args, none_if_null(kw));
}

PyObject *w_varargs(PyObject *self, PyObject *args) {
    return Py_BuildValue("(sOO)", "varargs", self, args);
}

// Annotate functions for the one-argument call: {"format": arg, "self": self}.
PyObject *w_annotate(PyObject *self, PyObject *arg) {
    return Py_BuildValue("{sOsO}", "format", arg, "self", none_if_null(self));
}

// A wrapper that breaks the convention: null without an exception.
PyObject *w_null(PyObject *, PyObject *) { return nullptr; }

#define LONG_NAME                                                                            \
    "a_very_long_function_name_0123456789_0123456789_0123456789_0123456789_0123456789_"    \
    "0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_"        \
    "0123456789_0123456789_0123456789_0123456789_0123456789_end"

// Definitions, one per convention, looked up by name.
PyMethodDef defs[] = {
    {"noargs", __PYX_METH(w_noargs), METH_NOARGS, nullptr},
    {"o", __PYX_METH(w_o), METH_O, nullptr},
    {"fastcall_keywords", __PYX_METH(w_fastcall), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fastcall_keywords_coexist", __PYX_METH(w_fastcall),
     METH_FASTCALL | METH_KEYWORDS | METH_COEXIST, nullptr},
    {"fastcall_keywords_method", __PYX_METH(w_method),
     METH_METHOD | METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"varargs_keywords", __PYX_METH(w_varargs_keywords), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"varargs", __PYX_METH(w_varargs), METH_VARARGS, nullptr},
    {"fastcall", __PYX_METH(w_fastcall), METH_FASTCALL, nullptr},
    {LONG_NAME, __PYX_METH(w_noargs), METH_NOARGS, nullptr},
    {"documented", __PYX_METH(w_noargs), METH_NOARGS, "A documented function."},
    {"annotate_o", __PYX_METH(w_annotate), METH_O, nullptr},
    {"annotate_static", __PYX_METH(w_annotate), METH_O | METH_STATIC, nullptr},
    {"annotate_null", __PYX_METH(w_null), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// The defaults getter of objects made with `defaults`: the result of
// calling that object, whatever its shape.
PyObject *defaults_getter(PyObject *f) {
    return PyObject_CallNoArgs(__Pyx_CyFunction_Cast(f)->defaults);
}

// make(convention, flags=0, qualname=None, defaults=None): a new function
// object; `defaults` is a callable that serves as its defaults getter.
PyObject *t_make(PyObject *, PyObject *args) {
    const char *convention;
    int flags = 0;
    PyObject *qualname = Py_None, *defaults = Py_None;
    if (!PyArg_ParseTuple(args, "s|iOO", &convention, &flags, &qualname, &defaults))
        return nullptr;
    PyMethodDef *def = defs;
    if (strcmp(convention, "long") == 0)
        convention = LONG_NAME;
    while (def->ml_name && strcmp(def->ml_name, convention) != 0)
        def++;
    if (def->ml_name == nullptr) {
        PyErr_Format(PyExc_ValueError, "no convention %s", convention);
        return nullptr;
    }
    PyObject *own_name = nullptr;
    if (qualname == Py_None)
        qualname = own_name = PyUnicode_FromString(def->ml_name);
    if (qualname == nullptr)
        return nullptr;
    PyObject *module = PyUnicode_FromString("_runtime_test");
    PyObject *f = module ? __Pyx_CyFunction_New(def, flags, qualname, nullptr, module,
                                                state.module_dict, nullptr)
                         : nullptr;
    Py_XDECREF(module);
    Py_XDECREF(own_name);
    if (f != nullptr && defaults != Py_None) {
        __Pyx_CyFunction_Cast(f)->defaults = Py_NewRef(defaults);
        __Pyx_CyFunction_Cast(f)->defaults_getter = defaults_getter;
    }
    return f;
}

// entry(f): the name of the fast-call entry stored in f, or None.
PyObject *t_entry(PyObject *, PyObject *f) {
    if (!Py_IS_TYPE(f, state.function_type)) {
        PyErr_SetString(PyExc_TypeError, "not a function object");
        return nullptr;
    }
    vectorcallfunc vc = __Pyx_CyFunction_Cast(f)->func.func.vectorcall;
    const char *name = vc == __Pyx_CyFunction_Vectorcall_NOARGS                 ? "NOARGS"
                       : vc == __Pyx_CyFunction_Vectorcall_O                    ? "O"
                       : vc == __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS    ? "FASTCALL_KEYWORDS"
                       : vc == __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS_METHOD
                           ? "FASTCALL_KEYWORDS_METHOD"
                           : nullptr;
    if (vc == nullptr)
        Py_RETURN_NONE;
    if (name == nullptr)
        return PyUnicode_FromString("foreign");
    return PyUnicode_FromString(name);
}

// call_offset(f, *args): a vectorcall whose count carries
// PY_VECTORCALL_ARGUMENTS_OFFSET, with a scratch slot before the arguments.
PyObject *t_call_offset(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "call_offset needs a callable");
        return nullptr;
    }
    PyObject *vec[8];
    if (nargs > 8) {
        PyErr_SetString(PyExc_TypeError, "too many arguments");
        return nullptr;
    }
    for (Py_ssize_t i = 1; i < nargs; i++)
        vec[i] = args[i];
    vec[0] = Py_None;
    return PyObject_Vectorcall(args[0], vec + 1,
                               static_cast<size_t>(nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               nullptr);
}

// add_traceback(exception, name, line): raises `exception` with one record.
PyObject *t_add_traceback(PyObject *, PyObject *args) {
    PyObject *exc;
    const char *name;
    int line;
    if (!PyArg_ParseTuple(args, "Osi", &exc, &name, &line))
        return nullptr;
    PyErr_SetRaisedException(Py_NewRef(exc));
    __Pyx_AddTraceback(name, line);
    return nullptr;
}

// cache(): (max_count, [lines]) of the traceback code-object cache.
PyObject *t_cache(PyObject *, PyObject *) {
    PyObject *lines = PyList_New(0);
    if (lines == nullptr)
        return nullptr;
    __Pyx_Lock_Acquire(&state.code_cache.lock);
    int max_count = state.code_cache.max_count;
    for (int i = 0; i < state.code_cache.count; i++) {
        PyObject *n = PyLong_FromLong(state.code_cache.entries[i].code_line);
        if (n == nullptr || PyList_Append(lines, n) < 0) {
            Py_XDECREF(n);
            Py_CLEAR(lines);
            break;
        }
        Py_DECREF(n);
    }
    __Pyx_Lock_Release(&state.code_cache.lock);
    if (lines == nullptr)
        return nullptr;
    return Py_BuildValue("(iN)", max_count, lines);
}

// clear(f): empties f's fields as the collector does with a cycle.
PyObject *t_clear(PyObject *, PyObject *f) {
    if (!Py_IS_TYPE(f, state.function_type)) {
        PyErr_SetString(PyExc_TypeError, "not a function object");
        return nullptr;
    }
    __Pyx_CyFunction_clear(f);
    Py_RETURN_NONE;
}

// instance_dict(f): the dict in f's managed dict pointer, or None; makes
// none.  The pointer is read where the interpreter keeps it, some words
// before the object (its MANAGED_DICT_OFFSET: three with the GIL, one on
// the free-threaded build), and not through its internal headers: their
// mimalloc part includes C++ library headers, which a build with musl's
// compiler driver does not have.  The interpreter replaces it under the
// object's critical section.
PyObject *t_instance_dict(PyObject *, PyObject *f) {
    if (!Py_IS_TYPE(f, state.function_type)) {
        PyErr_SetString(PyExc_TypeError, "not a function object");
        return nullptr;
    }
    PyObject *dict;
    Py_BEGIN_CRITICAL_SECTION(f);
    dict = Py_NewRef(none_if_null(reinterpret_cast<PyObject **>(f)[__PYX_MANAGED_DICT_SLOT]));
    Py_END_CRITICAL_SECTION();
    return dict;
}

// call_slot(f, args, kwargs): the type's tp_call with exactly these
// objects, so a dict that Python's call syntax refuses can reach it.
PyObject *t_call_slot(PyObject *, PyObject *args) {
    PyObject *f, *call_args, *kwargs;
    if (!PyArg_ParseTuple(args, "OO!O", &f, &PyTuple_Type, &call_args, &kwargs))
        return nullptr;
    ternaryfunc call = reinterpret_cast<ternaryfunc>(PyType_GetSlot(Py_TYPE(f), Py_tp_call));
    if (call == nullptr) {
        PyErr_SetString(PyExc_TypeError, "no call slot");
        return nullptr;
    }
    return call(f, call_args, kwargs == Py_None ? nullptr : kwargs);
}

// call_with_dict(f, args, kwds): calls a fast-call entry of the function
// type directly with a keyword dict (or None), the container form the
// interpreter's own call paths never hand it.
PyObject *t_call_with_dict(PyObject *, PyObject *args) {
    PyObject *func, *pos, *kwds;
    if (!PyArg_ParseTuple(args, "O!O!O", state.function_type, &func, &PyTuple_Type, &pos, &kwds))
        return nullptr;
    if (kwds != Py_None && !PyDict_Check(kwds)) {
        PyErr_SetString(PyExc_TypeError, "call_with_dict: keywords must be None or a dict");
        return nullptr;
    }
    PyCFunctionObject *f = reinterpret_cast<PyCFunctionObject *>(func);
    if ((f->m_ml->ml_flags & (METH_FASTCALL | METH_KEYWORDS | METH_METHOD)) !=
        (METH_FASTCALL | METH_KEYWORDS)) {
        PyErr_SetString(PyExc_TypeError, "call_with_dict: not a METH_FASTCALL | METH_KEYWORDS function");
        return nullptr;
    }
    auto meth = reinterpret_cast<PyCFunctionFastWithKeywords>(
        reinterpret_cast<void (*)(void)>(f->m_ml->ml_meth));
    PyObject *result = meth(f->m_self, &PyTuple_GET_ITEM(pos, 0), PyTuple_GET_SIZE(pos),
                            kwds == Py_None ? nullptr : kwds);
    if (result == nullptr && !PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "call_with_dict: error return without an exception");
    return result;
}

PyMethodDef module_methods[] = {
    {"make", t_make, METH_VARARGS, nullptr},
    {"entry", t_entry, METH_O, nullptr},
    {"call_offset", __PYX_METH(t_call_offset), METH_FASTCALL, nullptr},
    {"add_traceback", t_add_traceback, METH_VARARGS, nullptr},
    {"cache", t_cache, METH_NOARGS, nullptr},
    {"clear", t_clear, METH_O, nullptr},
    {"instance_dict", t_instance_dict, METH_O, nullptr},
    {"call_slot", t_call_slot, METH_VARARGS, nullptr},
    {"annotate_builtin", w_annotate, METH_O, nullptr},
    {"call_with_dict", t_call_with_dict, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_runtime_test", nullptr, -1, module_methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

const __Pyx_RuntimeModule __pyx_runtime_module = {
    &state.module_dict,
    &state.source_path,
    &state.function_type,
    &state.code_cache,
    &state.str_annotate,
    &state.str_asyncio_coroutines,
    &state.str_is_coroutine,
};

__PYX_EXPORT PyObject *PyInit__runtime_test(void) {
    PyObject *m = PyModule_Create(&module_def);
    if (m == nullptr)
        return nullptr;
    state.module_dict = Py_NewRef(PyModule_GetDict(m));
    // As a module's execute step does: the traceback frames' builtins.
    PyObject *builtins = PyImport_AddModuleRef("builtins");
    if (builtins == nullptr || PyDict_SetItemString(state.module_dict, "__builtins__", builtins) < 0) {
        Py_XDECREF(builtins);
        Py_DECREF(m);
        return nullptr;
    }
    Py_DECREF(builtins);
    state.source_path = PyUnicode_FromString("tests/ext/runtime_test.cpp");
    state.str_annotate = PyUnicode_InternFromString("__annotate__");
    state.str_asyncio_coroutines = PyUnicode_InternFromString("asyncio.coroutines");
    state.str_is_coroutine = PyUnicode_InternFromString("_is_coroutine");
    if (state.source_path == nullptr || state.str_annotate == nullptr ||
        state.str_asyncio_coroutines == nullptr || state.str_is_coroutine == nullptr ||
        __pyx_CommonTypesMetaclass_init(&state.metaclass) < 0 ||
        __pyx_CyFunction_init(state.metaclass, &state.function_type) < 0 ||
        PyModule_AddObjectRef(m, "function_type", (PyObject *)state.function_type) < 0 ||
        __Pyx_Module_DeclareNoGIL(m) < 0) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}
