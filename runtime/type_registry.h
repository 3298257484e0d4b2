// The registry through which every module of this kind in the process shares
// one metaclass and one function type: the module "_cython_3_2_8" in
// sys.modules, whose dictionary maps a short type name to the type.
#ifndef TOBRIM_RUNTIME_TYPE_REGISTRY_H
#define TOBRIM_RUNTIME_TYPE_REGISTRY_H

#include "config.h"

#define __PYX_REGISTRY_NAME "_cython_3_2_8"

// New reference to the registered type of the spec's short name, created and
// published first if the registry has none.  `metaclass` and `bases` may be
// null.
PyObject *__Pyx_FetchCommonTypeFromSpec(PyTypeObject *metaclass, PyType_Spec *spec,
                                        PyObject *bases);

// 0 when `cached` is a type of the expected basic size (0: any size), else
// -1 with a TypeError naming `name`.
int __Pyx_VerifyCachedType(PyObject *cached, const char *name, Py_ssize_t expected_basicsize);

// The two stages of a module's execute step that fill its type slots; each
// returns -1 with an error set when it yields no type, else 0.
int __pyx_CommonTypesMetaclass_init(PyTypeObject **metaclass_slot);
int __pyx_CyFunction_init(PyTypeObject *metaclass, PyTypeObject **function_type_slot);

#endif
