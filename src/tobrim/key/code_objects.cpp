// The code objects of the five key queries: what introspection sees for a
// function written in Python (parameter name, argument counts, source file,
// first line, source positions), with zero-filled instructions that never
// run.
#include <string.h>

#include "module_state.h"

// Packed description of one code object, least significant bit first.
struct __Pyx_PyCode_New_function_description {
    unsigned int argcount : 1;
    unsigned int num_posonly_args : 1;
    unsigned int num_kwonly_args : 1;
    unsigned int nlocals : 1;
    unsigned int flags : 10;
    unsigned int first_line : 5;
};

// CO_OPTIMIZED | CO_NEWLOCALS, one positional parameter, one local.
static constexpr __Pyx_PyCode_New_function_description __pyx_describe(unsigned int line) {
    return {1, 0, 0, 1, CO_OPTIMIZED | CO_NEWLOCALS, line};
}

struct __Pyx_CodeObjectInput {
    __Pyx_PyCode_New_function_description descr;
    int name;       // string-table entry of the function's name
    int linetable;  // string-table entry of its location table
};

static const __Pyx_CodeObjectInput __pyx_code_inputs[5] = {
    {__pyx_describe(9), __pyx_k_pressed, __pyx_k_linetable_pressed},
    {__pyx_describe(12), __pyx_k_released, __pyx_k_linetable_released},
    {__pyx_describe(15), __pyx_k_pressed_repeat, __pyx_k_linetable_pressed_repeat},
    {__pyx_describe(18), __pyx_k_down, __pyx_k_linetable_down},
    {__pyx_describe(21), __pyx_k_up, __pyx_k_linetable_up},
};

static PyObject *__Pyx_PyCode_New(__pyx_mstatetype *state,
                                  __Pyx_PyCode_New_function_description descr,
                                  PyObject *const *varnames, PyObject *filename,
                                  PyObject *funcname, PyObject *linetable,
                                  PyObject *tuple_dedup_map) {
    PyObject *names = PyTuple_New(descr.nlocals);
    if (names == nullptr)
        return nullptr;
    for (unsigned int i = 0; i < descr.nlocals; i++)
        PyTuple_SET_ITEM(names, i, Py_NewRef(varnames[i]));
    // All code objects of the stage share the first equal names tuple.
    PyObject *shared_names = PyDict_SetDefault(tuple_dedup_map, names, names);
    if (shared_names == nullptr) {
        Py_DECREF(names);
        return nullptr;
    }
    PyObject *code_bytes;
    if (linetable != nullptr) {
        Py_ssize_t size = (2 * PyBytes_GET_SIZE(linetable) + 4) & ~Py_ssize_t(3);
        code_bytes = PyBytes_FromStringAndSize(nullptr, size);
        if (code_bytes == nullptr) {
            Py_DECREF(names);
            return nullptr;
        }
        memset(PyBytes_AS_STRING(code_bytes), 0, static_cast<size_t>(size));
    } else {
        code_bytes = Py_NewRef(state->__pyx_empty_bytes);
        linetable = state->__pyx_empty_bytes;
    }
    PyCodeObject *code = PyUnstable_Code_NewWithPosOnlyArgs(
        descr.argcount, descr.num_posonly_args, descr.num_kwonly_args, descr.nlocals, 0,
        descr.flags, code_bytes, state->__pyx_empty_tuple, state->__pyx_empty_tuple,
        shared_names, state->__pyx_empty_tuple, state->__pyx_empty_tuple, filename, funcname,
        funcname, descr.first_line, linetable, state->__pyx_empty_bytes);
    if (code != nullptr)
        code->_co_firsttraceable = 0;
    Py_DECREF(code_bytes);
    Py_DECREF(names);
    return reinterpret_cast<PyObject *>(code);
}

int __Pyx_CreateCodeObjects(__pyx_mstatetype *state) {
    PyObject *tuple_dedup_map = PyDict_New();
    if (tuple_dedup_map == nullptr)
        return -1;
    PyObject **tab = state->__pyx_string_tab;
    for (int i = 0; i < 5; i++) {
        const __Pyx_CodeObjectInput &in = __pyx_code_inputs[i];
        PyObject *varnames[] = {tab[__pyx_k_key]};
        PyObject *code = __Pyx_PyCode_New(state, in.descr, varnames, tab[__pyx_k_source_path],
                                          tab[in.name], tab[in.linetable], tuple_dedup_map);
        Py_XSETREF(state->__pyx_codeobj_tab[i], code);
        if (code == nullptr) {
            Py_DECREF(tuple_dedup_map);
            return -1;
        }
    }
    Py_DECREF(tuple_dedup_map);
    return 0;
}
