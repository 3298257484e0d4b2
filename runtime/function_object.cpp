// The function type: creation, the four fast-call entries, the life-cycle
// slots, repr, __reduce__ and binding as a method, then the member and
// method tables and the type spec.  The generic call slot lives in
// function_call.cpp and the attribute table in function_attributes.cpp.
#include "function_object.h"

#include <stddef.h>

#include "module_hooks.h"

// --- argument errors -------------------------------------------------------

__PYX_COLD PyObject *__Pyx_CyFunction_raise_type_error(__pyx_CyFunctionObject *f,
                                                       const char *message) {
    PyErr_Format(PyExc_TypeError, "%.200s() %s", f->func.func.m_ml->ml_name, message);
    return nullptr;
}

__PYX_COLD PyObject *__Pyx_CyFunction_raise_argument_count_error(__pyx_CyFunctionObject *f,
                                                                 const char *message,
                                                                 Py_ssize_t count) {
    PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", f->func.func.m_ml->ml_name,
                 message, count);
    return nullptr;
}

// --- fast-call entries -----------------------------------------------------

// Shared check of the NOARGS and O entries: 1 when the self rule applies and
// supplies self, 0 when it does not apply, -1 with an error set.
static int __Pyx_CyFunction_Vectorcall_CheckArgs(__pyx_CyFunctionObject *f, Py_ssize_t nargs,
                                                 PyObject *kwnames) {
    int self_rule = __Pyx_CyFunction_SelfRule(f);
    if (self_rule && nargs == 0) {
        __Pyx_CyFunction_raise_type_error(f, "needs an argument");
        return -1;
    }
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
        __Pyx_CyFunction_raise_type_error(f, "takes no keyword arguments");
        return -1;
    }
    return self_rule;
}

PyObject *__Pyx_CyFunction_Vectorcall_NOARGS(PyObject *func, PyObject *const *args,
                                             size_t nargsf, PyObject *kwnames) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    PyMethodDef *def = f->func.func.m_ml;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *self;
    switch (__Pyx_CyFunction_Vectorcall_CheckArgs(f, nargs, kwnames)) {
    case 1:
        self = args[0];
        nargs -= 1;
        break;
    case 0:
        self = f->func.func.m_self;
        break;
    default:
        return nullptr;
    }
    if (__PYX_UNLIKELY(nargs != 0))
        return __Pyx_CyFunction_raise_argument_count_error(f, "takes no arguments", nargs);
    return def->ml_meth(self, nullptr);
}

PyObject *__Pyx_CyFunction_Vectorcall_O(PyObject *func, PyObject *const *args, size_t nargsf,
                                        PyObject *kwnames) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    PyMethodDef *def = f->func.func.m_ml;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *self;
    switch (__Pyx_CyFunction_Vectorcall_CheckArgs(f, nargs, kwnames)) {
    case 1:
        self = args[0];
        args += 1;
        nargs -= 1;
        break;
    case 0:
        self = f->func.func.m_self;
        break;
    default:
        return nullptr;
    }
    if (__PYX_UNLIKELY(nargs != 1))
        return __Pyx_CyFunction_raise_argument_count_error(f, "takes exactly one argument",
                                                           nargs);
    return def->ml_meth(self, args[0]);
}

// The call path of the module's own functions: one masked flag test, then
// the caller's vector and keyword names go to the wrapper untouched.
PyObject *__Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS(PyObject *func, PyObject *const *args,
                                                        size_t nargsf,
                                                        PyObject *kwnames) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    auto meth = reinterpret_cast<PyCFunctionFastWithKeywords>(
        reinterpret_cast<void (*)(void)>(f->func.func.m_ml->ml_meth));
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (__PYX_UNLIKELY(__Pyx_CyFunction_SelfRule(f))) {
        if (nargs == 0)
            return __Pyx_CyFunction_raise_type_error(f, "needs an argument");
        return meth(args[0], args + 1, nargs - 1, kwnames);
    }
    return meth(f->func.func.m_self, args, nargs, kwnames);
}

PyObject *__Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS_METHOD(PyObject *func,
                                                               PyObject *const *args,
                                                               size_t nargsf,
                                                               PyObject *kwnames) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(func);
    auto meth = reinterpret_cast<PyCMethod>(
        reinterpret_cast<void (*)(void)>(f->func.func.m_ml->ml_meth));
    PyTypeObject *cls = f->func.mm_class;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (__PYX_UNLIKELY(__Pyx_CyFunction_SelfRule(f))) {
        if (nargs == 0)
            return __Pyx_CyFunction_raise_type_error(f, "needs an argument");
        return meth(args[0], cls, args + 1, nargs - 1, kwnames);
    }
    return meth(f->func.func.m_self, cls, args, nargs, kwnames);
}

// --- creation --------------------------------------------------------------

static void __Pyx_CyFunction_Init(__pyx_CyFunctionObject *f, PyMethodDef *ml, int flags,
                                  PyObject *qualname, PyObject *closure, PyObject *module,
                                  PyObject *globals, PyObject *code) {
    PyObject *op = reinterpret_cast<PyObject *>(f);
    f->flags = flags;
    f->func.func.m_weakreflist = nullptr;
    f->func.func.m_ml = ml;
    f->func.func.m_self = op;
    f->func_closure = Py_XNewRef(closure);
    f->func.func.m_module = Py_XNewRef(module);
    f->func_name = nullptr;
    f->func_qualname = Py_NewRef(qualname);
    f->func_doc = nullptr;
    f->func.mm_class = nullptr;
    f->func_globals = Py_NewRef(globals);
    f->func_code = Py_XNewRef(code);
    f->defaults = nullptr;
    f->defaults_tuple = nullptr;
    f->defaults_kwdict = nullptr;
    f->defaults_getter = nullptr;
    f->func_annotations = nullptr;
    f->func_is_coroutine = nullptr;
    f->func.func.vectorcall = nullptr;
}

// The fast-call entry for a calling convention, or null for the classic
// keyword convention (served by tp_call).  `ok` is cleared for conventions
// the type does not serve.
static vectorcallfunc __Pyx_CyFunction_ChooseEntry(int ml_flags, bool *ok) {
    *ok = true;
    switch (ml_flags & (METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O | METH_FASTCALL |
                        METH_METHOD)) {
    case METH_VARARGS | METH_KEYWORDS:
        return nullptr;
    case METH_NOARGS:
        return __Pyx_CyFunction_Vectorcall_NOARGS;
    case METH_O:
        return __Pyx_CyFunction_Vectorcall_O;
    case METH_FASTCALL | METH_KEYWORDS:
        return __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS;
    case METH_METHOD | METH_FASTCALL | METH_KEYWORDS:
        return __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS_METHOD;
    default:
        *ok = false;
        return nullptr;
    }
}

__PYX_COLD static PyObject *__Pyx_CyFunction_BadFlags(PyObject *op) {
    PyErr_SetString(PyExc_SystemError, "Bad call flags for CyFunction");
    Py_DECREF(op);
    return nullptr;
}

PyObject *__Pyx_CyFunction_New(PyMethodDef *ml, int flags, PyObject *qualname,
                               PyObject *closure, PyObject *module, PyObject *globals,
                               PyObject *code) {
    __pyx_CyFunctionObject *f =
        PyObject_GC_New(__pyx_CyFunctionObject, *__pyx_runtime_module.function_type);
    if (f == nullptr)
        return nullptr;
    __Pyx_CyFunction_Init(f, ml, flags, qualname, closure, module, globals, code);
    PyObject *op = reinterpret_cast<PyObject *>(f);
    bool ok;
    f->func.func.vectorcall = __Pyx_CyFunction_ChooseEntry(ml->ml_flags, &ok);
    if (__PYX_UNLIKELY(!ok))
        return __Pyx_CyFunction_BadFlags(op);
    PyObject_GC_Track(op);
    return op;
}

// --- life cycle ------------------------------------------------------------

// Every owned field is emptied before its reference is released, so code run
// by a release never sees the old value.
int __Pyx_CyFunction_clear(PyObject *op) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    Py_CLEAR(f->func_closure);
    Py_CLEAR(f->func.func.m_module);
    PyObject_ClearManagedDict(op);
    Py_CLEAR(f->func_name);
    Py_CLEAR(f->func_qualname);
    Py_CLEAR(f->func_doc);
    Py_CLEAR(f->func_globals);
    Py_CLEAR(f->func_code);
    {
        PyTypeObject *cls = f->func.mm_class;
        f->func.mm_class = nullptr;
        Py_XDECREF(cls);
    }
    Py_CLEAR(f->defaults_tuple);
    Py_CLEAR(f->defaults_kwdict);
    Py_CLEAR(f->func_annotations);
    Py_CLEAR(f->func_is_coroutine);
    Py_CLEAR(f->defaults);
    return 0;
}

// Weak references are cleared (and their callbacks run) while every field is
// still intact.  Instances of a heap type own a reference to it.
static void __Pyx_CyFunction_dealloc(PyObject *op) noexcept {
    PyTypeObject *tp = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    if (__Pyx_CyFunction_Cast(op)->func.func.m_weakreflist != nullptr)
        PyObject_ClearWeakRefs(op);
    __Pyx_CyFunction_clear(op);
    PyObject_GC_Del(op);
    Py_DECREF(tp);
}

static int __Pyx_CyFunction_traverse(PyObject *op, visitproc visit, void *arg) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(f->func_closure);
    Py_VISIT(f->func.func.m_module);
    if (int r = PyObject_VisitManagedDict(op, visit, arg))
        return r;
    Py_VISIT(f->func_doc);
    Py_VISIT(f->func_globals);
    Py_VISIT(f->func.mm_class);
    Py_VISIT(f->defaults_tuple);
    Py_VISIT(f->defaults_kwdict);
    Py_VISIT(f->func_annotations);
    Py_VISIT(f->func_is_coroutine);
    Py_VISIT(f->defaults);
    return 0;
}

// --- repr, pickling, binding ----------------------------------------------

// A cleared object has lost its qualified name; it is then named by its
// definition instead.
static PyObject *__Pyx_CyFunction_repr(PyObject *op) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    PyObject *qualname = __Pyx_CyFunction_GetField(op, &f->func_qualname);
    PyObject *repr = PyUnicode_FromFormat("<cyfunction %V at %p>", qualname,
                                          f->func.func.m_ml->ml_name, static_cast<void *>(op));
    Py_XDECREF(qualname);
    return repr;
}

// Pickling treats a string result as the name of a global: the function is
// pickled by reference to its __module__ and qualified name.
static PyObject *__Pyx_CyFunction_reduce(PyObject *op, PyObject *) noexcept {
    __pyx_CyFunctionObject *f = __Pyx_CyFunction_Cast(op);
    PyObject *qualname = __Pyx_CyFunction_GetField(op, &f->func_qualname);
    if (__PYX_UNLIKELY(qualname == nullptr))
        return PyUnicode_FromString(f->func.func.m_ml->ml_name);
    return qualname;
}

static PyObject *__Pyx_PyMethod_New(PyObject *func, PyObject *self, PyObject *) noexcept {
    if (self == nullptr)
        return Py_NewRef(func);
    return PyMethod_New(func, self);
}

// --- tables and type spec --------------------------------------------------

static PyMemberDef __pyx_CyFunction_members[] = {
    // T_OBJECT (6): an empty field reads as None, unlike Py_T_OBJECT_EX.
    {"__module__", _Py_T_OBJECT, offsetof(__pyx_CyFunctionObject, func.func.m_module), 0,
     nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET,
     offsetof(__pyx_CyFunctionObject, func.func.vectorcall), Py_READONLY, nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET,
     offsetof(__pyx_CyFunctionObject, func.func.m_weakreflist), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

static PyMethodDef __pyx_CyFunction_methods[] = {
    {"__reduce__", __PYX_METH(__Pyx_CyFunction_reduce), METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot __pyx_CyFunctionType_slots[] = {
    {Py_tp_dealloc, __PYX_FUNC(__Pyx_CyFunction_dealloc)},
    {Py_tp_repr, __PYX_FUNC(__Pyx_CyFunction_repr)},
    {Py_tp_call, __PYX_FUNC(__Pyx_CyFunction_CallAsMethod)},
    {Py_tp_traverse, __PYX_FUNC(__Pyx_CyFunction_traverse)},
    {Py_tp_clear, __PYX_FUNC(__Pyx_CyFunction_clear)},
    {Py_tp_methods, __pyx_CyFunction_methods},
    {Py_tp_members, __pyx_CyFunction_members},
    {Py_tp_getset, __pyx_CyFunction_getsets},
    {Py_tp_descr_get, __PYX_FUNC(__Pyx_PyMethod_New)},
    {0, nullptr},
};

PyType_Spec __pyx_CyFunctionType_spec = {
    "_cython_3_2_8.cython_function_or_method",
    sizeof(__pyx_CyFunctionObject),
    0,
    Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_HAVE_GC |
        Py_TPFLAGS_METHOD_DESCRIPTOR,
    __pyx_CyFunctionType_slots,
};
