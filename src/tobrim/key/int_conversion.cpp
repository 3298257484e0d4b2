// The out-of-line parts of the key-code conversion: integers of two or more
// digits, and objects that convert through their type's __int__.
#include "int_conversion.h"

#include <stdint.h>

__PYX_COLD static int __Pyx_RaiseOverflow() {
    PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
    return -1;
}

__attribute__((noinline)) int __Pyx_PyLong_As_int_wide(PyObject *x) {
    const PyLongObject *v = reinterpret_cast<const PyLongObject *>(x);
    uintptr_t tag = __Pyx_PyLong_Tag(v);
    Py_ssize_t digits = __Pyx_PyLong_TagSign(tag) * __Pyx_PyLong_TagDigitCount(tag);
    int64_t value;
    if (digits == 2 || digits == -2) {
        // Below 2**60 in magnitude: still read in place.
        int64_t magnitude = (static_cast<int64_t>(__Pyx_PyLong_Digit(v, 1)) << PyLong_SHIFT) |
                            static_cast<int64_t>(__Pyx_PyLong_Digit(v, 0));
        value = digits == 2 ? magnitude : -magnitude;
    } else {
        // Outside the 64-bit range this sets the interpreter's own
        // OverflowError and gives -1, which fits: the caller's -1 rule then
        // reports that error.
        value = PyLong_AsLong(x);
    }
    if (static_cast<int64_t>(static_cast<int32_t>(value)) != value)
        return __Pyx_RaiseOverflow();
    return static_cast<int>(value);
}

// Only nb_int is consulted: an object offering just __index__ is no integer
// here.
__PYX_COLD int __Pyx_PyLong_As_int_nonlong(PyObject *x) {
    PyNumberMethods *m = Py_TYPE(x)->tp_as_number;
    PyObject *res = (m != nullptr && m->nb_int != nullptr) ? m->nb_int(x) : nullptr;
    if (res == nullptr) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_TypeError, "an integer is required");
        return -1;
    }
    if (!PyLong_CheckExact(res)) {
        PyTypeObject *rt = Py_TYPE(res);
        if (!PyType_HasFeature(rt, Py_TPFLAGS_LONG_SUBCLASS)) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", rt->tp_name);
            Py_DECREF(res);
            return -1;
        }
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an "
                             "instance of a strict subclass of int is deprecated, and may be "
                             "removed in a future version of Python.",
                             rt->tp_name) < 0) {
            Py_DECREF(res);
            return -1;
        }
    }
    int value = __Pyx_PyLong_As_int(res);
    Py_DECREF(res);
    return value;
}
