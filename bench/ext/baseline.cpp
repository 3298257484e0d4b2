// The cheapest binding of one key query that the C API allows: a built-in
// function with the one-argument convention (METH_O), the interpreter's own
// int and bool conversions, single-phase initialisation.  The benchmarks
// set tobrim.key.key.pressed against it; it is never installed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <raylib.h>

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

PyMODINIT_FUNC PyInit__bench_baseline() { return PyModule_Create(&module); }
