// What differs between the free-threaded build of the interpreter (no GIL:
// Py_GIL_DISABLED) and the builds with the GIL, in one place, so that the
// other files read the same on every build.  With the GIL every entry runs
// with the lock held and what follows costs nothing: no lock, no atomic
// operation, the module definition and the record as they are.  Without
// it, the state that changes after start-up (each function object's lazily
// made and settable fields, the traceback code-object cache, the create
// step's interpreter id) is guarded as the interpreter's own objects guard
// theirs.
#ifndef TOBRIM_RUNTIME_FREE_THREADING_H
#define TOBRIM_RUNTIME_FREE_THREADING_H

#include "config.h"

#include <stdint.h>

// --- the function object's record ------------------------------------------
//
// The object header is 16 bytes larger without the GIL (owning thread id,
// a local and a shared reference count, a per-object lock).
#ifdef Py_GIL_DISABLED
#define __PYX_FUNCTION_RECORD_SIZE 184
#else
#define __PYX_FUNCTION_RECORD_SIZE 168
#endif

// Where the interpreter keeps an object's managed dict pointer, in words
// before the object (MANAGED_DICT_OFFSET): the tests read it there.
#ifdef Py_GIL_DISABLED
#define __PYX_MANAGED_DICT_SLOT (-1)
#else
#define __PYX_MANAGED_DICT_SLOT (-3)
#endif

// --- the module definition -------------------------------------------------
//
// A module that does not say it runs without the GIL turns the GIL back on
// for the whole process when it is imported.  The slot, and the call for a
// single-phase module, exist only where there is a GIL to keep off.
#ifdef Py_GIL_DISABLED
#define __PYX_MOD_GIL_SLOT {Py_mod_gil, Py_MOD_GIL_NOT_USED},
static inline int __Pyx_Module_DeclareNoGIL(PyObject *module) {
    return PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED);
}
#else
#define __PYX_MOD_GIL_SLOT
static inline int __Pyx_Module_DeclareNoGIL(PyObject *) { return 0; }
#endif

// --- a lock of the module's own --------------------------------------------
//
// A PyMutex without the GIL (zero is unlocked, so a static record needs no
// set-up); with it, nothing: the type takes no room in a record
// ([[no_unique_address]]) and taking it is no operation.
#ifdef Py_GIL_DISABLED
struct __Pyx_Lock {
    PyMutex mutex;
};
static inline void __Pyx_Lock_Acquire(__Pyx_Lock *lock) { PyMutex_Lock(&lock->mutex); }
static inline void __Pyx_Lock_Release(__Pyx_Lock *lock) { PyMutex_Unlock(&lock->mutex); }
#else
struct __Pyx_Lock {};
static inline void __Pyx_Lock_Acquire(__Pyx_Lock *) {}
static inline void __Pyx_Lock_Release(__Pyx_Lock *) {}
#endif

// --- a value set once ------------------------------------------------------

// Stores `desired` into *slot if it holds `expected`, in one atomic step
// without the GIL; returns what *slot held before.
static inline int64_t __Pyx_CompareExchangeInt64(int64_t *slot, int64_t expected,
                                                 int64_t desired) {
#ifdef Py_GIL_DISABLED
    _Py_atomic_compare_exchange_int64(slot, &expected, desired);
    return expected;
#else
    int64_t found = *slot;
    if (found == expected)
        *slot = desired;
    return found;
#endif
}

// --- per-object critical sections --------------------------------------------
//
// Py_BEGIN_CRITICAL_SECTION(op) / Py_END_CRITICAL_SECTION() lock the
// object's own mutex without the GIL and are braces with it.  Code that
// may suspend the section (any call that can block or run Python code)
// re-checks what it read before it stores.

#endif
