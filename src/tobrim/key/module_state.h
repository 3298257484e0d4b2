// The module's single static state record and the indices of its string
// table.  Every object field owns one reference for the life of the process:
// the module definition has no clear or free step.
#ifndef TOBRIM_KEY_MODULE_STATE_H
#define TOBRIM_KEY_MODULE_STATE_H

#include "runtime/config.h"
#include "runtime/traceback.h"

// An unbound method of a builtin type, looked up on first use.
struct __Pyx_CachedCFunction {
    PyObject *type;
    PyObject **method_name;  // the string-table slot, not the name
    PyCFunction func;
    PyObject *method;
    int flag;
};

// Indices into __pyx_string_tab (see string_table.txt).
enum __pyx_string_index : int {
    __pyx_k_unknown = 0,           // "?"
    __pyx_k_source_path = 1,       // "src/tobrim/key/key.pyi"
    __pyx_k_annotate = 3,          // "__annotate__"
    __pyx_k_asyncio_coroutines = 4,
    __pyx_k_module_name = 6,       // "tobrim.key.key"
    __pyx_k_down = 7,
    __pyx_k_is_coroutine = 9,
    __pyx_k_items = 10,
    __pyx_k_key = 11,
    __pyx_k_main = 12,             // "__main__"
    __pyx_k_name = 14,             // "__name__"
    __pyx_k_pop = 15,
    __pyx_k_pressed = 16,
    __pyx_k_pressed_repeat = 17,
    __pyx_k_released = 19,
    __pyx_k_test = 22,             // "__test__"
    __pyx_k_up = 23,
    __pyx_k_values = 24,
    __pyx_k_linetable_released = 25,
    __pyx_k_linetable_up = 26,
    __pyx_k_linetable_pressed_repeat = 27,
    __pyx_k_linetable_pressed = 28,
    __pyx_k_linetable_down = 29,
    __pyx_string_tab_size = 30,
};

struct __pyx_mstatetype {
    PyObject *__pyx_d;
    PyObject *__pyx_b;
    PyObject *__pyx_cython_runtime;
    PyObject *__pyx_empty_tuple;
    PyObject *__pyx_empty_bytes;
    PyObject *__pyx_empty_unicode;
    __Pyx_CachedCFunction __pyx_umethod_PyDict_Type_items;
    __Pyx_CachedCFunction __pyx_umethod_PyDict_Type_pop;
    __Pyx_CachedCFunction __pyx_umethod_PyDict_Type_values;
    PyObject *__pyx_codeobj_tab[5];
    PyObject *__pyx_string_tab[__pyx_string_tab_size];
    PyTypeObject *__pyx_CommonTypesMetaclassType;
    PyTypeObject *__pyx_CyFunctionType;
    __Pyx_CodeObjectCache __pyx_code_cache;
};

extern __pyx_mstatetype __pyx_mstate_global_static;

// Stages of the execute step supplied by their own files; 0 or -1.
int __Pyx_InitConstants(__pyx_mstatetype *state);
int __Pyx_CreateCodeObjects(__pyx_mstatetype *state);

// One key query as the execute step creates it.
struct __pyx_key_function {
    PyMethodDef *def;
    int name;       // string-table entry: name, qualified name, dictionary key
    int code_slot;  // __pyx_codeobj_tab
    int line;       // definition line
};
extern const __pyx_key_function __pyx_key_functions[5];

#endif
