// The benchmark-only module: the bindings of one key query that the key
// module's functions are measured against.
//   pressed             a built-in function with the one-argument convention
//                       (METH_O) and the interpreter's own int and bool
//                       conversions: the cheapest call the C API allows at
//                       all, through the interpreter's CALL_BUILTIN_O, which
//                       no type of a module's own can get; a reference
//   vectorcall_pressed  the floor for a function type of one's own
//                       (floor.cpp)
// Single-phase initialisation; the module is never installed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <raylib.h>

#include "floor.h"

static PyObject *pressed(PyObject *, PyObject *arg) {
    int key = PyLong_AsInt(arg);
    if (key == -1 && PyErr_Occurred())
        return nullptr;
    return PyBool_FromLong(IsKeyPressed(key));
}

static PyMethodDef methods[] = {
    {"pressed", pressed, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

static PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_bench_baseline", nullptr, 0, methods, nullptr, nullptr, nullptr,
    nullptr,
};

PyMODINIT_FUNC PyInit__bench_baseline() {
    PyObject *m = PyModule_Create(&module);
    if (m == nullptr)
        return nullptr;
    if (PyModule_Add(m, "vectorcall_pressed", bench_new_floor()) < 0) {
        Py_DECREF(m);
        return nullptr;
    }
#ifdef Py_GIL_DISABLED
    // Measured on the free-threaded build with the GIL off, as the key
    // module leaves it.
    if (PyUnstable_Module_SetGIL(m, Py_MOD_GIL_NOT_USED) < 0) {
        Py_DECREF(m);
        return nullptr;
    }
#endif
    return m;
}
