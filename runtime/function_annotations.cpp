// Annotations and the coroutine marker of function objects: the lazy
// annotation protocol (__annotations__ made on demand by __annotate__),
// the placeholder __annotate__ that lets functools.wraps copy one from
// every function object, and _is_coroutine.
#include "function_object.h"
#include "module_hooks.h"

// The instance dictionary as a new reference (a key's __eq__ run by a
// lookup may replace it), or null when none exists.  The function type keeps
// instance attributes in the managed dict alone (type_registry.cpp), so the
// dict pointer holds all of an object's attribute storage and asking for it
// creates nothing: it is null until __dict__ is read, an attribute is set or
// the __annotate__ setter stores its entry, and again once the collector has
// cleared the object.  (For a type that stores attributes inline, the
// interpreter would make the dict here, from those attributes.)  The
// interpreter replaces the managed dict under the object's critical
// section, so the pointer is read and the reference taken under it.
static PyObject *__Pyx_CyFunction_InstanceDict(PyObject *op) {
    PyObject **dictptr = _PyObject_GetDictPtr(op);
    if (dictptr == nullptr)
        return nullptr;
    PyObject *dict;
    Py_BEGIN_CRITICAL_SECTION(op);
    dict = *dictptr;
    dict = dict != nullptr && PyDict_Check(dict) ? Py_NewRef(dict) : nullptr;
    Py_END_CRITICAL_SECTION();
    return dict;
}

// 1 with a new reference in *entry, 0 when there is none, -1 on error.
static int __Pyx_CyFunction_get_annotate_from_dict_if_exists(PyObject *op, PyObject **entry) {
    *entry = nullptr;
    PyObject *dict = __Pyx_CyFunction_InstanceDict(op);
    if (dict == nullptr)
        return 0;
    int found = PyDict_GetItemRef(dict, *__pyx_runtime_module.str_annotate, entry);
    Py_DECREF(dict);
    return found;
}

// --- the one-argument call ---------------------------------------------------

static bool __Pyx_IsAnySubtype2(PyTypeObject *tp, PyTypeObject *a, PyTypeObject *b) {
    if (PyObject *mro = tp->tp_mro) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); i++) {
            PyObject *base = PyTuple_GET_ITEM(mro, i);
            if (base == reinterpret_cast<PyObject *>(a) || base == reinterpret_cast<PyObject *>(b))
                return true;
        }
        return false;
    }
    for (; tp != nullptr; tp = tp->tp_base)
        if (tp == a || tp == b)
            return true;
    return false;
}

static PyObject *__Pyx_PyObject_CallMethO(PyObject *func, PyObject *arg) {
    PyCFunctionObject *cf = reinterpret_cast<PyCFunctionObject *>(func);
    PyObject *self = (cf->m_ml->ml_flags & METH_STATIC) ? nullptr : cf->m_self;
    if (Py_EnterRecursiveCall(" while calling a Python object"))
        return nullptr;
    PyObject *result = cf->m_ml->ml_meth(self, arg);
    Py_LeaveRecursiveCall();
    if (result == nullptr && !PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "NULL result without error in PyObject_Call");
    return result;
}

static PyObject *__Pyx_PyObject_CallOneArg(PyObject *func, PyObject *arg) {
    PyTypeObject *tp = Py_TYPE(func);
    PyTypeObject *ftype = *__pyx_runtime_module.function_type;
    if (__Pyx_IsAnySubtype2(tp, ftype, &PyCFunction_Type) &&
        (reinterpret_cast<PyCFunctionObject *>(func)->m_ml->ml_flags & METH_O))
        return __Pyx_PyObject_CallMethO(func, arg);
    vectorcallfunc vc = nullptr;
    if (tp == ftype)
        vc = __Pyx_CyFunction_Cast(func)->func.func.vectorcall;
    else if (PyType_HasFeature(tp, Py_TPFLAGS_HAVE_VECTORCALL))
        vc = PyVectorcall_Function(func);
    // The slot before the argument is scratch the callee may overwrite.
    PyObject *args[2] = {nullptr, arg};
    if (vc != nullptr)
        return vc(func, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    return PyObject_VectorcallDict(func, args + 1, 1, nullptr);
}

// --- __annotations__ ---------------------------------------------------------

PyObject *__Pyx_CyFunction_get_annotations(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (PyObject *annotations = __Pyx_CyFunction_GetField(op, &f->func_annotations))
        return annotations;
    PyObject *annotate;
    if (__Pyx_CyFunction_get_annotate_from_dict_if_exists(op, &annotate) < 0)
        return nullptr;
    if (annotate != nullptr && annotate != Py_None) {
        PyObject *format = PyLong_FromLong(1);  // VALUE
        if (format == nullptr) {
            Py_DECREF(annotate);
            return nullptr;
        }
        PyObject *result = __Pyx_PyObject_CallOneArg(annotate, format);
        Py_DECREF(format);
        Py_DECREF(annotate);
        if (result == nullptr)
            return nullptr;
        if (!PyType_HasFeature(Py_TYPE(result), Py_TPFLAGS_DICT_SUBCLASS)) {
            PyErr_SetString(PyExc_TypeError, "__annotate__ must return a dict");
            Py_DECREF(result);
            return nullptr;
        }
        // The call ran Python code; whatever it stored meanwhile is replaced.
        __Pyx_CyFunction_SetField(op, &f->func_annotations, result);
        return result;
    }
    Py_XDECREF(annotate);
    PyObject *made = PyDict_New();
    if (made == nullptr)
        return nullptr;
    return __Pyx_CyFunction_PublishField(op, &f->func_annotations, made);
}

int __Pyx_CyFunction_set_annotations(PyObject *op, PyObject *value, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (value == Py_None)
        value = nullptr;
    if (value != nullptr && !PyType_HasFeature(Py_TYPE(value), Py_TPFLAGS_DICT_SUBCLASS)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    __Pyx_CyFunction_SetField(op, &f->func_annotations, value);
    PyObject *dict = __Pyx_CyFunction_InstanceDict(op);
    if (dict == nullptr)
        return 0;
    int r = PyDict_SetItem(dict, *__pyx_runtime_module.str_annotate, Py_None);
    Py_DECREF(dict);
    return r;
}

// --- __annotate__ ------------------------------------------------------------

// Stands in for a missing annotate function: answers the annotations dict
// it is bound to, whatever the format.
static PyObject *__Pyx_CyFunction_annotate_impl(PyObject *self, PyObject *) noexcept {
    if (self == nullptr) {
        PyErr_SetString(PyExc_SystemError, "cython __annotate__ called without 'self' argument");
        return nullptr;
    }
    return Py_NewRef(self);
}

static PyMethodDef __Pyx_CyFunction_annotate_method = {
    "__annotate__", __Pyx_CyFunction_annotate_impl, METH_VARARGS,
    "Placeholder __annotate__ function to allow 'functools.wraps' to work on Cython functions.",
};

PyObject *__Pyx_CyFunction_get_annotate(PyObject *op, void *) noexcept {
    PyObject *annotate;
    int found = __Pyx_CyFunction_get_annotate_from_dict_if_exists(op, &annotate);
    if (found < 0)
        return nullptr;
    if (found > 0)
        return annotate;
    PyObject *annotations = __Pyx_CyFunction_get_annotations(op, nullptr);
    if (annotations == nullptr)
        return nullptr;
    PyObject *method = PyCMethod_New(&__Pyx_CyFunction_annotate_method, annotations, nullptr,
                                     nullptr);
    Py_DECREF(annotations);
    return method;
}

int __Pyx_CyFunction_set_annotate(PyObject *op, PyObject *value, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "__annotate__ cannot be deleted");
        return -1;
    }
    if (value != Py_None) {
        if (!PyCallable_Check(value)) {
            PyErr_SetString(PyExc_TypeError, "__annotate__ must be callable or None");
            return -1;
        }
        __Pyx_CyFunction_SetField(op, &f->func_annotations, nullptr);
    }
    PyObject *dict = PyObject_GenericGetDict(op, nullptr);
    if (dict == nullptr)
        return -1;
    int r = PyDict_SetItem(dict, *__pyx_runtime_module.str_annotate, value);
    Py_DECREF(dict);
    return r;
}

// --- _is_coroutine -----------------------------------------------------------

static PyObject *__Pyx_PyObject_GetAttrStr(PyObject *obj, PyObject *name) {
    PyTypeObject *tp = Py_TYPE(obj);
    if (tp->tp_getattro != nullptr)
        return tp->tp_getattro(obj, name);
    return PyObject_GetAttr(obj, name);
}

// asyncio's marker for a coroutine function, True when it cannot be had.
static PyObject *__Pyx_CyFunction_get_is_coroutine_value(__pyx_CyFunctionObject *f) {
    if (!(f->flags & FUNCTION_FLAG_COROUTINE))
        return Py_NewRef(Py_False);
    PyObject *fromlist = PyList_New(1);
    if (fromlist == nullptr)
        return nullptr;
    PyList_SET_ITEM(fromlist, 0, Py_NewRef(*__pyx_runtime_module.str_is_coroutine));
    PyObject *module = PyImport_ImportModuleLevelObject(
        *__pyx_runtime_module.str_asyncio_coroutines, nullptr, nullptr, fromlist, 0);
    Py_DECREF(fromlist);
    PyObject *value = nullptr;
    if (module != nullptr) {
        value = __Pyx_PyObject_GetAttrStr(module, *__pyx_runtime_module.str_is_coroutine);
        Py_DECREF(module);
    }
    if (value == nullptr) {
        PyErr_Clear();
        value = Py_NewRef(Py_True);
    }
    return value;
}

PyObject *__Pyx_CyFunction_get_is_coroutine(PyObject *op, void *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    if (PyObject *value = __Pyx_CyFunction_GetField(op, &f->func_is_coroutine))
        return value;
    PyObject *value = __Pyx_CyFunction_get_is_coroutine_value(f);
    if (value == nullptr)
        return nullptr;
    // The import ran Python code; a value stored meanwhile is kept.
    return __Pyx_CyFunction_PublishField(op, &f->func_is_coroutine, value);
}
