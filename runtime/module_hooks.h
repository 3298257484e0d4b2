// What the runtime needs to know about the module it is compiled into.
//
// The runtime is compiled into every module that uses it, and each module
// keeps its own state.  A module hands the runtime the locations of the
// state slots it reads (never the values, which are filled during the
// module's execute step) through one constant record it defines.
#ifndef TOBRIM_RUNTIME_MODULE_HOOKS_H
#define TOBRIM_RUNTIME_MODULE_HOOKS_H

#include "config.h"

struct __Pyx_CodeObjectCache;

struct __Pyx_RuntimeModule {
    // Globals of traceback frames.  It must hold __builtins__, as a module's
    // execute step sets it: CPython 3.13 looks a new frame's builtins up
    // there while the exception being recorded is pending, and without
    // them makes no frame, and so no record.
    PyObject *const *module_dict;
    PyObject *const *source_path;     // file name of traceback records
    PyTypeObject *const *function_type;
    __Pyx_CodeObjectCache *code_cache;
    PyObject *const *str_annotate;            // "__annotate__"
    PyObject *const *str_asyncio_coroutines;  // "asyncio.coroutines"
    PyObject *const *str_is_coroutine;        // "_is_coroutine"
};

// Defined by the module.
extern const __Pyx_RuntimeModule __pyx_runtime_module;

#endif
