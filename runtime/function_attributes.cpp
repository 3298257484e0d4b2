// The function type's attribute table: what tools that inspect or wrap
// Python functions read (name, qualified name, doc, dict, globals, closure,
// code, defaults), with their setters' checks and warnings.  The
// annotation entries live in function_annotations.cpp.
//
// The type is shared, so these serve every function object in the process,
// including other modules' objects with docs and defaults getters.
#include "function_object.h"

// The name setters: str or a str subclass, stored as it is; no deletion.
static int __Pyx_SetStrField(PyObject *op, PyObject **field, PyObject *value,
                             const char *message) {
    if (value == nullptr || !PyType_HasFeature(Py_TYPE(value), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        PyErr_SetString(PyExc_TypeError, message);
        return -1;
    }
    __Pyx_CyFunction_SetField(op, field, value);
    return 0;
}

// --- __name__, __qualname__ -----------------------------------------------

static PyObject *__Pyx_CyFunction_get_name(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (PyObject *name = __Pyx_CyFunction_GetField(op, &f->func_name))
        return name;
    PyObject *made = PyUnicode_InternFromString(f->func.func.m_ml->ml_name);
    if (made == nullptr)
        return nullptr;
    return __Pyx_CyFunction_PublishField(op, &f->func_name, made);
}

static int __Pyx_CyFunction_set_name(PyObject *op, PyObject *value, void *) noexcept {
    return __Pyx_SetStrField(op, &__Pyx_CyFunction_Cast(op)->func_name, value,
                             "__name__ must be set to a string object");
}

// A cleared object has no qualified name; it answers None.
static PyObject *__Pyx_CyFunction_get_qualname(PyObject *op, void *) noexcept {
    PyObject *q = __Pyx_CyFunction_GetField(op, &__Pyx_CyFunction_Cast(op)->func_qualname);
    return q ? q : Py_NewRef(Py_None);
}

static int __Pyx_CyFunction_set_qualname(PyObject *op, PyObject *value, void *) noexcept {
    return __Pyx_SetStrField(op, &__Pyx_CyFunction_Cast(op)->func_qualname, value,
                             "__qualname__ must be set to a string object");
}

// --- __doc__ ---------------------------------------------------------------

// None is not cached, so a later read looks at the definition again.
static PyObject *__Pyx_CyFunction_get_doc(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (PyObject *doc = __Pyx_CyFunction_GetField(op, &f->func_doc))
        return doc;
    const char *doc = f->func.func.m_ml->ml_doc;
    if (doc == nullptr)
        Py_RETURN_NONE;
    PyObject *made = PyUnicode_FromString(doc);
    if (made == nullptr)
        return nullptr;
    return __Pyx_CyFunction_PublishField(op, &f->func_doc, made);
}

static int __Pyx_CyFunction_set_doc(PyObject *op, PyObject *value, void *) noexcept {
    __Pyx_CyFunction_SetField(op, &__Pyx_CyFunction_Cast(op)->func_doc, value ? value : Py_None);
    return 0;
}

// --- __globals__, __closure__, __code__ ------------------------------------

static PyObject *__Pyx_CyFunction_get_globals(PyObject *op, void *) noexcept {
    PyObject *g = __Pyx_CyFunction_Cast(op)->func_globals;
    return Py_NewRef(g ? g : Py_None);
}

static PyObject *__Pyx_CyFunction_get_closure(PyObject *, void *) noexcept { Py_RETURN_NONE; }

static PyObject *__Pyx_CyFunction_get_code(PyObject *op, void *) noexcept {
    PyObject *code = __Pyx_CyFunction_Cast(op)->func_code;
    return Py_NewRef(code ? code : Py_None);
}

// --- __defaults__, __kwdefaults__ -------------------------------------------

// Fills both defaults fields from the defaults getter, together.  A result
// that is not a tuple of at least two items stores nothing.
static int __Pyx_CyFunction_init_defaults(__pyx_CyFunctionObject *f) {
    PyObject *op = reinterpret_cast<PyObject *>(f);
    PyObject *res = f->defaults_getter(op);
    if (res == nullptr)
        return -1;
    if (!PyTuple_Check(res) || PyTuple_GET_SIZE(res) < 2) {
        PyErr_SetString(PyExc_TypeError, "defaults getter must return a tuple of at least two items");
        Py_DECREF(res);
        return -1;
    }
    PyObject *old_tuple, *old_kwdict;
    Py_BEGIN_CRITICAL_SECTION(op);
    old_tuple = f->defaults_tuple;
    old_kwdict = f->defaults_kwdict;
    f->defaults_tuple = Py_NewRef(PyTuple_GET_ITEM(res, 0));
    f->defaults_kwdict = Py_NewRef(PyTuple_GET_ITEM(res, 1));
    Py_END_CRITICAL_SECTION();
    Py_XDECREF(old_tuple);
    Py_XDECREF(old_kwdict);
    Py_DECREF(res);
    return 0;
}

static PyObject *__Pyx_CyFunction_get_defaults_field(__pyx_CyFunctionObject *f,
                                                     PyObject **field) {
    PyObject *op = reinterpret_cast<PyObject *>(f);
    PyObject *value = __Pyx_CyFunction_GetField(op, field);
    if (value == nullptr && f->defaults_getter != nullptr) {
        if (__Pyx_CyFunction_init_defaults(f) < 0)
            return nullptr;
        value = __Pyx_CyFunction_GetField(op, field);
    }
    return value ? value : Py_NewRef(Py_None);
}

static PyObject *__Pyx_CyFunction_get_defaults(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    return __Pyx_CyFunction_get_defaults_field(f, &f->defaults_tuple);
}

static PyObject *__Pyx_CyFunction_get_kwdefaults(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    return __Pyx_CyFunction_get_defaults_field(f, &f->defaults_kwdict);
}

// The stored value is only reported back: binding never reads it, as the
// warning says.
static int __Pyx_CyFunction_set_defaults_field(PyObject *op, PyObject **field, PyObject *value,
                                               unsigned long type_flag, const char *type_error,
                                               const char *warning) {
    if (value == nullptr)
        value = Py_None;
    if (value != Py_None && !PyType_HasFeature(Py_TYPE(value), type_flag)) {
        PyErr_SetString(PyExc_TypeError, type_error);
        return -1;
    }
    if (PyErr_WarnEx(PyExc_RuntimeWarning, warning, 1) < 0)
        return -1;
    __Pyx_CyFunction_SetField(op, field, value);
    return 0;
}

static int __Pyx_CyFunction_set_defaults(PyObject *op, PyObject *value, void *) noexcept {
    return __Pyx_CyFunction_set_defaults_field(
        op, &__Pyx_CyFunction_Cast(op)->defaults_tuple, value, Py_TPFLAGS_TUPLE_SUBCLASS,
        "__defaults__ must be set to a tuple object",
        "changes to cyfunction.__defaults__ will not currently affect the values used in "
        "function calls");
}

static int __Pyx_CyFunction_set_kwdefaults(PyObject *op, PyObject *value, void *) noexcept {
    return __Pyx_CyFunction_set_defaults_field(
        op, &__Pyx_CyFunction_Cast(op)->defaults_kwdict, value, Py_TPFLAGS_DICT_SUBCLASS,
        "__kwdefaults__ must be set to a dict object",
        "changes to cyfunction.__kwdefaults__ will not currently affect the values used in "
        "function calls");
}

// --- the table ---------------------------------------------------------------

PyGetSetDef __pyx_CyFunction_getsets[] = {
    {"func_doc", __Pyx_CyFunction_get_doc, __Pyx_CyFunction_set_doc, nullptr, nullptr},
    {"__doc__", __Pyx_CyFunction_get_doc, __Pyx_CyFunction_set_doc, nullptr, nullptr},
    {"func_name", __Pyx_CyFunction_get_name, __Pyx_CyFunction_set_name, nullptr, nullptr},
    {"__name__", __Pyx_CyFunction_get_name, __Pyx_CyFunction_set_name, nullptr, nullptr},
    {"__qualname__", __Pyx_CyFunction_get_qualname, __Pyx_CyFunction_set_qualname, nullptr,
     nullptr},
    {"func_dict", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"func_globals", __Pyx_CyFunction_get_globals, nullptr, nullptr, nullptr},
    {"__globals__", __Pyx_CyFunction_get_globals, nullptr, nullptr, nullptr},
    {"func_closure", __Pyx_CyFunction_get_closure, nullptr, nullptr, nullptr},
    {"__closure__", __Pyx_CyFunction_get_closure, nullptr, nullptr, nullptr},
    {"func_code", __Pyx_CyFunction_get_code, nullptr, nullptr, nullptr},
    {"__code__", __Pyx_CyFunction_get_code, nullptr, nullptr, nullptr},
    {"func_defaults", __Pyx_CyFunction_get_defaults, __Pyx_CyFunction_set_defaults, nullptr,
     nullptr},
    {"__defaults__", __Pyx_CyFunction_get_defaults, __Pyx_CyFunction_set_defaults, nullptr,
     nullptr},
    {"__kwdefaults__", __Pyx_CyFunction_get_kwdefaults, __Pyx_CyFunction_set_kwdefaults,
     nullptr, nullptr},
    {"__annotations__", __Pyx_CyFunction_get_annotations, __Pyx_CyFunction_set_annotations,
     nullptr, nullptr},
    {"__annotate__", __Pyx_CyFunction_get_annotate, __Pyx_CyFunction_set_annotate, nullptr,
     nullptr},
    {"_is_coroutine", __Pyx_CyFunction_get_is_coroutine, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
