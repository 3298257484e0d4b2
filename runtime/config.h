// Build settings shared by every source file of the runtime and of the
// modules built on it: the interpreter's headers and the few compiler
// attributes the runtime uses.
#ifndef TOBRIM_RUNTIME_CONFIG_H
#define TOBRIM_RUNTIME_CONFIG_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if !defined(__GNUC__)
#error "the runtime relies on GCC/Clang attributes"
#endif

// Failure paths: kept out of line and out of the hot code's cache lines.
#define __PYX_COLD __attribute__((cold, noinline))
#define __PYX_LIKELY(x) __builtin_expect(!!(x), 1)
#define __PYX_UNLIKELY(x) __builtin_expect(!!(x), 0)
// The only symbols a module exports; everything else is hidden by the build.
#define __PYX_EXPORT extern "C" __attribute__((visibility("default")))
#define __PYX_EXPORT_DATA __attribute__((visibility("default")))

// Casts a typed entry point to the generic form stored in interpreter tables.
#define __PYX_FUNC(f) reinterpret_cast<void *>(f)
#define __PYX_METH(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

#endif
