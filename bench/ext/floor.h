// The benchmark-only floor of a call through a type of one's own.
#ifndef TOBRIM_BENCH_FLOOR_H
#define TOBRIM_BENCH_FLOOR_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// A new instance of the floor type, callable as pressed(key); null with an
// error set on failure.
PyObject *bench_new_floor();

#endif
