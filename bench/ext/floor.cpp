// The floor of a call through a type of one's own: a callable whose type
// has a vectorcall entry that reads a compact int and calls raylib, and
// nothing else on the way.  The interpreter specialises a call of any object
// that is not one of its own function or type objects to
// CALL_NON_PY_GENERAL, which goes through PyObject_Vectorcall to the entry
// stored in the object; a function type of our own can be called no more
// cheaply than this.  (Only the interpreter's built-in function type gets
// the cheaper CALL_BUILTIN_O, which the METH_O baseline shows.)
#include "floor.h"

#include <stddef.h>

#include <raylib.h>

namespace {

struct VectorcallQuery {
    PyObject_HEAD
    vectorcallfunc vectorcall;
};

}  // namespace

// Every call but one compact int by position: the interpreter's own
// conversion, and a message for the wrong argument count.
__attribute__((cold, noinline)) static PyObject *floor_other(PyObject *const *args,
                                                             size_t nargsf, PyObject *kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs != 1 || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0)) {
        PyErr_Format(PyExc_TypeError,
                     "pressed() takes exactly one positional argument (%zd given)", nargs);
        return nullptr;
    }
    int key = PyLong_AsInt(args[0]);
    if (key == -1 && PyErr_Occurred())
        return nullptr;
    return PyBool_FromLong(IsKeyPressed(key));
}

// True and False are immortal: handing them out needs no reference count.
static PyObject *floor_vectorcall(PyObject *, PyObject *const *args, size_t nargsf,
                                  PyObject *kwnames) {
    if (__builtin_expect(PyVectorcall_NARGS(nargsf) == 1 && kwnames == nullptr, 1)) {
        auto *v = reinterpret_cast<PyLongObject *>(args[0]);
        if (__builtin_expect(PyLong_CheckExact(args[0]) && PyUnstable_Long_IsCompact(v), 1))
            return IsKeyPressed(static_cast<int>(PyUnstable_Long_CompactValue(v))) ? Py_True
                                                                                   : Py_False;
    }
    return floor_other(args, nargsf, kwnames);
}

// Instances hold a reference to their heap type.
static void floor_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

static PyMemberDef floor_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(VectorcallQuery, vectorcall), Py_READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

static PyType_Slot floor_slots[] = {
    {Py_tp_call, reinterpret_cast<void *>(PyVectorcall_Call)},
    {Py_tp_dealloc, reinterpret_cast<void *>(floor_dealloc)},
    {Py_tp_members, floor_members},
    {0, nullptr},
};

static PyType_Spec floor_spec = {
    "_bench_baseline.VectorcallQuery",
    sizeof(VectorcallQuery),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    floor_slots,
};

PyObject *bench_new_floor() {
    PyObject *type = PyType_FromSpec(&floor_spec);
    if (type == nullptr)
        return nullptr;
    VectorcallQuery *q = PyObject_New(VectorcallQuery, reinterpret_cast<PyTypeObject *>(type));
    Py_DECREF(type);
    if (q == nullptr)
        return nullptr;
    q->vectorcall = floor_vectorcall;
    return reinterpret_cast<PyObject *>(q);
}
