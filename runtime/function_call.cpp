// The function type's generic call slot (tp_call): a call with an argument
// tuple and a keyword dict.  With a fast-call entry the call is turned into
// a vectorcall; without one (METH_VARARGS | METH_KEYWORDS) it is dispatched
// on the classic calling conventions.
#include "function_object.h"

// One step of PyDict_Next that hands out new references.
static int __Pyx_PyDict_NextRef(PyObject *dict, Py_ssize_t *pos, PyObject **key,
                                PyObject **value) {
    if (!PyDict_Next(dict, pos, key, value))
        return 0;
    Py_INCREF(*key);
    Py_INCREF(*value);
    return 1;
}

// Keyword dict to argument vector and keyword-name tuple.  No Python code
// runs between reading the count and the end of the loop, so the dict
// cannot change under it; without the GIL, the dict's critical section
// keeps other threads from changing it meanwhile.
__PYX_COLD static PyObject *__Pyx_PyVectorcall_FastCallDict_kw(PyObject *func,
                                                              vectorcallfunc vc,
                                                              PyObject *const *args,
                                                              Py_ssize_t nargs, PyObject *kw) {
    PyObject **newargs = nullptr;
    PyObject *kwnames = nullptr;
    Py_ssize_t nkw = 0;
    unsigned long keys_are_strings = Py_TPFLAGS_UNICODE_SUBCLASS;
    Py_BEGIN_CRITICAL_SECTION(kw);
    nkw = PyDict_GET_SIZE(kw);
    newargs = static_cast<PyObject **>(
        PyMem_Malloc(static_cast<size_t>(nargs + nkw) * sizeof(PyObject *)));
    kwnames = newargs != nullptr ? PyTuple_New(nkw) : nullptr;
    if (kwnames != nullptr) {
        Py_ssize_t pos = 0, i = 0;
        PyObject *key, *value;
        while (__Pyx_PyDict_NextRef(kw, &pos, &key, &value)) {
            keys_are_strings &= Py_TYPE(key)->tp_flags;
            PyTuple_SET_ITEM(kwnames, i, key);
            newargs[nargs + i] = value;
            i++;
        }
    }
    Py_END_CRITICAL_SECTION();
    if (newargs == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    if (kwnames == nullptr) {
        PyMem_Free(newargs);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < nargs; i++)
        newargs[i] = args[i];
    PyObject *res;
    if (keys_are_strings == 0) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        res = nullptr;
    } else {
        res = vc(func, newargs, static_cast<size_t>(nargs), kwnames);
    }
    Py_DECREF(kwnames);
    for (Py_ssize_t i = 0; i < nkw; i++)
        Py_DECREF(newargs[nargs + i]);
    PyMem_Free(newargs);
    return res;
}

static PyObject *__Pyx_PyVectorcall_FastCallDict(PyObject *func, vectorcallfunc vc,
                                                 PyObject *const *args, Py_ssize_t nargs,
                                                 PyObject *kw) {
    if (kw == nullptr || PyDict_GET_SIZE(kw) == 0)
        return vc(func, args, static_cast<size_t>(nargs), nullptr);
    return __Pyx_PyVectorcall_FastCallDict_kw(func, vc, args, nargs, kw);
}

// The classic conventions, for definitions without a fast-call entry.
static PyObject *__Pyx_CyFunction_CallMethod(PyObject *func, PyObject *self, PyObject *arg,
                                             PyObject *kw) {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    PyMethodDef *def = f->func.func.m_ml;
    PyCFunction meth = def->ml_meth;
    bool has_kw = kw != nullptr && PyDict_Size(kw) != 0;
    switch (def->ml_flags & (METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O)) {
    case METH_VARARGS:
        if (has_kw)
            break;
        return meth(self, arg);
    case METH_VARARGS | METH_KEYWORDS:
        return reinterpret_cast<PyCFunctionWithKeywords>(reinterpret_cast<void (*)(void)>(meth))(
            self, arg, kw);
    case METH_NOARGS:
        if (has_kw)
            break;
        if (PyTuple_GET_SIZE(arg) != 0)
            return __Pyx_CyFunction_raise_argument_count_error(f, "takes no arguments",
                                                               PyTuple_GET_SIZE(arg));
        return meth(self, nullptr);
    case METH_O:
        if (has_kw)
            break;
        if (PyTuple_GET_SIZE(arg) != 1)
            return __Pyx_CyFunction_raise_argument_count_error(f, "takes exactly one argument",
                                                               PyTuple_GET_SIZE(arg));
        return meth(self, PyTuple_GET_ITEM(arg, 0));
    default:
        PyErr_SetString(PyExc_SystemError, "Bad call flags for CyFunction");
        return nullptr;
    }
    return __Pyx_CyFunction_raise_type_error(f, "takes no keyword arguments");
}

static PyObject *__Pyx_CyFunction_Call(PyObject *func, PyObject *arg, PyObject *kw) {
    return __Pyx_CyFunction_CallMethod(func, __Pyx_CyFunction_Cast(func)->func.func.m_self, arg,
                                       kw);
}

PyObject *__Pyx_CyFunction_CallAsMethod(PyObject *func, PyObject *args, PyObject *kw) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    if (vectorcallfunc vc = f->func.func.vectorcall)
        return __Pyx_PyVectorcall_FastCallDict(func, vc, &PyTuple_GET_ITEM(args, 0),
                                               PyTuple_GET_SIZE(args), kw);
    if (__Pyx_CyFunction_SelfRule(f)) {
        PyObject *rest = PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args));
        if (rest == nullptr)
            return nullptr;
        PyObject *self = PyTuple_GetItem(args, 0);
        if (self == nullptr) {
            Py_DECREF(rest);
            // A cleared object has no qualified name left; its definition's
            // name stands in.
            PyObject *qualname = __Pyx_CyFunction_GetField(func, &f->func_qualname);
            if (qualname != nullptr)
                PyErr_Format(PyExc_TypeError, "unbound method %.200S() needs an argument",
                             qualname);
            else
                PyErr_Format(PyExc_TypeError, "unbound method %.200s() needs an argument",
                             f->func.func.m_ml->ml_name);
            Py_XDECREF(qualname);
            return nullptr;
        }
        PyObject *result = __Pyx_CyFunction_CallMethod(func, self, rest, kw);
        Py_DECREF(rest);
        return result;
    }
    return __Pyx_CyFunction_Call(func, args, kw);
}
