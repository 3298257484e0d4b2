// The module's entry and initialisation: PyInit_key hands the interpreter
// the module definition; its create step makes the module object from the
// import spec, and its execute step fills the state and the namespace in a
// fixed order of stages.  One module object exists per process, in one
// interpreter only.
#include <stdio.h>

#include "module_state.h"
#include "runtime/function_object.h"
#include "runtime/interpreter_compat.h"

__pyx_mstatetype __pyx_mstate_global_static;

const __Pyx_RuntimeModule __pyx_runtime_module = {
    &__pyx_mstate_global_static.__pyx_d,
    &__pyx_mstate_global_static.__pyx_string_tab[__pyx_k_source_path],
    &__pyx_mstate_global_static.__pyx_CyFunctionType,
    &__pyx_mstate_global_static.__pyx_code_cache,
    &__pyx_mstate_global_static.__pyx_string_tab[__pyx_k_annotate],
    &__pyx_mstate_global_static.__pyx_string_tab[__pyx_k_asyncio_coroutines],
    &__pyx_mstate_global_static.__pyx_string_tab[__pyx_k_is_coroutine],
};

// An embedding program may set this before the execute step to make the
// module's __name__ "__main__".
extern "C" {
__PYX_EXPORT_DATA int __pyx_module_is_main_tobrim__key__key = 0;
}

static PyObject *__pyx_m = nullptr;
static int64_t main_interpreter_id = -1;

// --- create step -----------------------------------------------------------

// The first interpreter to create the module claims it in one step, so two
// interpreters creating it at once cannot both succeed.
static int __Pyx_check_single_interpreter() {
    int64_t id = PyInterpreterState_GetID(PyThreadState_Get()->interp);
    if (id == -1)
        return -1;
    int64_t first = __Pyx_CompareExchangeInt64(&main_interpreter_id, -1, id);
    if (first != -1 && first != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return -1;
    }
    return 0;
}

static int __Pyx_copy_spec_to_module(PyObject *spec, PyObject *moddict, const char *from_name,
                                     const char *to_name, int allow_none) {
    PyObject *value = PyObject_GetAttrString(spec, from_name);
    int result = 0;
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    if (allow_none || value != Py_None)
        result = PyDict_SetItemString(moddict, to_name, value);
    Py_DECREF(value);
    return result;
}

static PyObject *__pyx_pymod_create(PyObject *spec, PyModuleDef *) noexcept {
    if (__Pyx_check_single_interpreter() < 0)
        return nullptr;
    if (__pyx_m != nullptr)
        return Py_NewRef(__pyx_m);
    PyObject *modname = PyObject_GetAttrString(spec, "name");
    if (modname == nullptr)
        return nullptr;
    PyObject *module = PyModule_NewObject(modname);
    Py_DECREF(modname);
    if (module == nullptr)
        return nullptr;
    PyObject *moddict = PyModule_GetDict(module);
    if (moddict == nullptr ||
        __Pyx_copy_spec_to_module(spec, moddict, "loader", "__loader__", 1) < 0 ||
        __Pyx_copy_spec_to_module(spec, moddict, "origin", "__file__", 1) < 0 ||
        __Pyx_copy_spec_to_module(spec, moddict, "parent", "__package__", 1) < 0 ||
        __Pyx_copy_spec_to_module(spec, moddict, "submodule_search_locations", "__path__", 0) <
            0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// --- execute step ----------------------------------------------------------

static uint32_t __Pyx_get_runtime_version() { return Py_Version & ~0xFFu; }

static int __Pyx_check_binary_version(uint32_t ct_version, uint32_t rt_version) {
    const uint32_t mask = 0xFFFF0000u;
    if ((ct_version & mask) == (rt_version & mask))
        return 0;
    char message[200];
    snprintf(message, sizeof message,
             "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
             static_cast<int>(ct_version >> 24), static_cast<int>((ct_version >> 16) & 0xFF),
             "tobrim.key.key", "does not match", static_cast<int>(rt_version >> 24),
             static_cast<int>((rt_version >> 16) & 0xFF));
    return PyErr_WarnEx(nullptr, message, 1);
}

static void __Pyx_InitCachedBuiltins(__pyx_mstatetype *state) {
    PyObject *dict_type = reinterpret_cast<PyObject *>(&PyDict_Type);
    state->__pyx_umethod_PyDict_Type_items.type = dict_type;
    state->__pyx_umethod_PyDict_Type_items.method_name = &state->__pyx_string_tab[__pyx_k_items];
    state->__pyx_umethod_PyDict_Type_pop.type = dict_type;
    state->__pyx_umethod_PyDict_Type_pop.method_name = &state->__pyx_string_tab[__pyx_k_pop];
    state->__pyx_umethod_PyDict_Type_values.type = dict_type;
    state->__pyx_umethod_PyDict_Type_values.method_name =
        &state->__pyx_string_tab[__pyx_k_values];
}

static int __Pyx_InitGlobals(__pyx_mstatetype *state) {
    if (__pyx_CommonTypesMetaclass_init(&state->__pyx_CommonTypesMetaclassType) < 0 &&
        PyErr_Occurred())
        return -1;
    if (__pyx_CyFunction_init(state->__pyx_CommonTypesMetaclassType,
                              &state->__pyx_CyFunctionType) < 0 &&
        PyErr_Occurred())
        return -1;
    return 0;
}

// Stage 15: one function object per key query, held only by the module
// dictionary.  On failure `*line` is the function's line and `*pending` the
// object that was not stored.
static int __pyx_create_functions(__pyx_mstatetype *state, int *line, PyObject **pending) {
    PyObject **tab = state->__pyx_string_tab;
    for (const __pyx_key_function &kf : __pyx_key_functions) {
        *line = kf.line;
        PyObject *func = __Pyx_CyFunction_New(kf.def, 0, tab[kf.name], nullptr,
                                              tab[__pyx_k_module_name], state->__pyx_d,
                                              state->__pyx_codeobj_tab[kf.code_slot]);
        if (func == nullptr)
            return -1;
        __Pyx_EnableDeferredRefcount(func);
        if (PyDict_SetItem(state->__pyx_d, tab[kf.name], func) < 0) {
            *pending = func;
            return -1;
        }
        Py_DECREF(func);
    }
    return 0;
}

static int __pyx_pymod_exec_key(PyObject *module) noexcept {
    __pyx_mstatetype *state = &__pyx_mstate_global_static;
    if (__pyx_m != nullptr) {
        if (__pyx_m == module)
            return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'key' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    __pyx_m = Py_NewRef(module);
    bool stringtab_initialized = false;
    int line = 1;
    PyObject *pending = nullptr;
    PyObject *modules;
    int r;

    // Stages 3 to 9: no traceback record on failure.  Each store releases
    // what an earlier, failed execute step left in the slot.
    PyObject *dict = PyModule_GetDict(module);
    if (dict == nullptr)
        goto bad;
    Py_XSETREF(state->__pyx_d, Py_NewRef(dict));
    Py_XSETREF(state->__pyx_b, PyImport_AddModuleRef("builtins"));
    if (state->__pyx_b == nullptr)
        goto bad;
    Py_XSETREF(state->__pyx_cython_runtime, PyImport_AddModuleRef("cython_runtime"));
    if (state->__pyx_cython_runtime == nullptr)
        goto bad;
    if (PyObject_SetAttrString(module, "__builtins__", state->__pyx_b) < 0)
        goto bad;
    if (__Pyx_check_binary_version(PY_VERSION_HEX & ~0xFFu, __Pyx_get_runtime_version()) < 0)
        goto bad;
    Py_XSETREF(state->__pyx_empty_tuple, PyTuple_New(0));
    if (state->__pyx_empty_tuple == nullptr)
        goto bad;
    Py_XSETREF(state->__pyx_empty_bytes, PyBytes_FromStringAndSize("", 0));
    if (state->__pyx_empty_bytes == nullptr)
        goto bad;
    Py_XSETREF(state->__pyx_empty_unicode, PyUnicode_FromStringAndSize("", 0));
    if (state->__pyx_empty_unicode == nullptr)
        goto bad;
    if (__Pyx_InitConstants(state) < 0)
        goto bad;
    stringtab_initialized = true;

    // Stages 10 to 16: failures add an "init tobrim.key.key" record.
    if (__Pyx_InitGlobals(state) < 0)
        goto bad;
    if (__pyx_module_is_main_tobrim__key__key &&
        PyObject_SetAttr(module, state->__pyx_string_tab[__pyx_k_name],
                         state->__pyx_string_tab[__pyx_k_main]) < 0)
        goto bad;
    modules = PyImport_GetModuleDict();
    if (modules == nullptr)
        goto bad;
    r = PyDict_Contains(modules, state->__pyx_string_tab[__pyx_k_module_name]);
    if (r < 0 ||
        (r == 0 && PyDict_SetItem(modules, state->__pyx_string_tab[__pyx_k_module_name], module) < 0))
        goto bad;
    __Pyx_InitCachedBuiltins(state);
    if (__Pyx_CreateCodeObjects(state) < 0)
        goto bad;
    if (__pyx_create_functions(state, &line, &pending) < 0)
        goto bad;
    line = 1;
    pending = PyDict_New();
    if (pending == nullptr || PyDict_SetItem(state->__pyx_d, state->__pyx_string_tab[__pyx_k_test],
                                             pending) < 0)
        goto bad;
    Py_DECREF(pending);
    return 0;

bad:
    Py_XDECREF(pending);
    if (state->__pyx_d != nullptr && stringtab_initialized)
        __Pyx_AddTraceback("init tobrim.key.key", line);
    Py_CLEAR(__pyx_m);
    return -1;
}

// --- module definition -----------------------------------------------------

static PyMethodDef __pyx_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

static PyModuleDef_Slot __pyx_moduledef_slots[] = {
    {Py_mod_create, __PYX_FUNC(__pyx_pymod_create)},
    {Py_mod_exec, __PYX_FUNC(__pyx_pymod_exec_key)},
    __PYX_MOD_GIL_SLOT
    {0, nullptr},
};

static PyModuleDef __pyx_moduledef = {
    PyModuleDef_HEAD_INIT,
    "key",
    nullptr,
    0,
    __pyx_methods,
    __pyx_moduledef_slots,
    nullptr,
    nullptr,
    nullptr,
};

__PYX_EXPORT PyObject *PyInit_key(void) { return PyModuleDef_Init(&__pyx_moduledef); }
