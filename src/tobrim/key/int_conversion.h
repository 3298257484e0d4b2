// Conversion of a Python object to a C int key code.
//
// Integers (int, bool and int subclasses) are read in place from the
// interpreter's representation; their own __int__ is never called.  The
// common case, an integer of at most one digit, touches no interpreter
// function.  Returns -1 with an error set on failure; -1 is also a valid
// result, so callers test PyErr_Occurred() when they get it.
#ifndef TOBRIM_KEY_INT_CONVERSION_H
#define TOBRIM_KEY_INT_CONVERSION_H

#include "runtime/interpreter_compat.h"

// Integers of two digits or more, and everything that is no integer.
int __Pyx_PyLong_As_int_wide(PyObject *x);
int __Pyx_PyLong_As_int_nonlong(PyObject *x);

static inline int __Pyx_PyLong_As_int(PyObject *x) {
    if (__PYX_LIKELY(PyType_HasFeature(Py_TYPE(x), Py_TPFLAGS_LONG_SUBCLASS))) {
        const PyLongObject *v = reinterpret_cast<const PyLongObject *>(x);
        uintptr_t tag = __Pyx_PyLong_Tag(v);
        // At most one digit: a 30-bit digit with the tag's sign.
        if (__PYX_LIKELY(__Pyx_PyLong_TagIsCompact(tag)))
            return __Pyx_PyLong_TagSign(tag) * static_cast<int>(__Pyx_PyLong_Digit(v, 0));
        return __Pyx_PyLong_As_int_wide(x);
    }
    return __Pyx_PyLong_As_int_nonlong(x);
}

#endif
