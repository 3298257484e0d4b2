// What differs between the interpreters the runtime serves (CPython 3.13,
// 3.14 and 3.15), in one place.  Every call or read of the interpreter's
// own records whose form depends on the version or the build is an inline
// function here, so that the other files read the same on every
// interpreter.  The reads stay direct: they compile to the same loads the
// interpreter's own inline functions make.
#ifndef TOBRIM_RUNTIME_INTERPRETER_COMPAT_H
#define TOBRIM_RUNTIME_INTERPRETER_COMPAT_H

#include "config.h"

#include <stdint.h>

#include <frameobject.h>
// The frame record itself, for its line number field.
#define Py_BUILD_CORE 1
#include <internal/pycore_frame.h>
#undef Py_BUILD_CORE

// --- integers ----------------------------------------------------------------
//
// An int's value is a tag (the sign in the two low bits: 0 positive, 1 zero,
// 2 negative; the digit count above _PyLong_NON_SIZE_BITS) and 30-bit
// digits, least significant first.

static inline uintptr_t __Pyx_PyLong_Tag(const PyLongObject *v) {
    return v->long_value.lv_tag;
}

static inline uint32_t __Pyx_PyLong_Digit(const PyLongObject *v, int i) {
    return v->long_value.ob_digit[i];
}

// Whether a tag is that of zero or a one-digit value.
static inline bool __Pyx_PyLong_TagIsCompact(uintptr_t tag) {
    return tag < (uintptr_t{2} << _PyLong_NON_SIZE_BITS);
}

// +1, 0 or -1 from the tag's sign bits.
static inline int __Pyx_PyLong_TagSign(uintptr_t tag) {
    return 1 - static_cast<int>(tag & 3);
}

static inline Py_ssize_t __Pyx_PyLong_TagDigitCount(uintptr_t tag) {
    return static_cast<Py_ssize_t>(tag >> _PyLong_NON_SIZE_BITS);
}

// --- the thread state's pending exception --------------------------------------
//
// One object, the exception itself (its type and traceback hang off it).

// Takes the pending exception out of the thread state: a new reference, or
// null when none is pending.
static inline PyObject *__Pyx_ThreadState_TakeException(PyThreadState *tstate) {
    PyObject *value = tstate->current_exception;
    tstate->current_exception = nullptr;
    return value;
}

// Makes `value` (a reference that is stolen, or null) the pending exception;
// returns the one it replaces, a reference the caller releases.
static inline PyObject *__Pyx_ThreadState_SwapException(PyThreadState *tstate, PyObject *value) {
    PyObject *previous = tstate->current_exception;
    tstate->current_exception = value;
    return previous;
}

// --- objects -----------------------------------------------------------------

// Asks the interpreter to count references to a long-lived object lazily
// where the build supports it (the free-threaded build: no contention on
// the count from several threads).  A hint: a build without it ignores it,
// and 3.13 has no public call for it.
static inline void __Pyx_EnableDeferredRefcount(PyObject *op) {
#if PY_VERSION_HEX >= 0x030E0000
    (void)PyUnstable_Object_EnableDeferredRefcount(op);
#else
    (void)op;
#endif
}

// --- frames --------------------------------------------------------------------

// Sets the line a frame object reports when it has no running code to ask
// (a frame made for a traceback record).
static inline void __Pyx_Frame_SetLine(PyFrameObject *frame, int line) {
    frame->f_lineno = line;
}

#endif
