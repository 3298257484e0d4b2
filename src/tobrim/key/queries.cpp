// The five key queries.  Each is three layers: the argument wrapper (the
// method definition's entry: binds `key`, converts it, reports failures),
// the implementation (turns the answer into a bool object) and the query
// (calls raylib).  The five differ only in the values of their table row.
#include <raylib.h>

#include "int_conversion.h"
#include "module_state.h"
#include "runtime/keywords.h"
#include "runtime/traceback.h"

namespace {

struct __pyx_key_query {
    const char *name;      // messages
    const char *qualname;  // traceback records
    int line;              // definition line
    bool (*query)(int);    // raylib
};

constexpr __pyx_key_query __pyx_key_queries[5] = {
    {"pressed", "tobrim.key.key.pressed", 9, IsKeyPressed},
    {"released", "tobrim.key.key.released", 12, IsKeyReleased},
    {"pressed_repeat", "tobrim.key.key.pressed_repeat", 15, IsKeyPressedRepeat},
    {"down", "tobrim.key.key.down", 18, IsKeyDown},
    {"up", "tobrim.key.key.up", 21, IsKeyUp},
};

}  // namespace

// The parameter-name list refers to the state slot, so the identity scan
// sees the very interned string the state holds.
static __Pyx_ArgName __pyx_pyargnames[] = {
    &__pyx_mstate_global_static.__pyx_string_tab[__pyx_k_key],
    nullptr,
};

__PYX_COLD static int __Pyx_RaiseArgtupleInvalid(const char *func_name, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 func_name, "exactly", Py_ssize_t(1), "", given);
    return -1;
}

// Binding of every call but the two common forms: a new reference to the
// bound value, or null with an error set and nothing held.
__attribute__((noinline)) static PyObject *__pyx_bind_key(PyObject *const *args,
                                                         Py_ssize_t nargs, PyObject *kwds,
                                                         const char *func_name) {
    Py_ssize_t kwds_len = 0;
    if (kwds != nullptr)
        kwds_len = PyType_HasFeature(Py_TYPE(kwds), Py_TPFLAGS_TUPLE_SUBCLASS)
                       ? PyTuple_GET_SIZE(kwds)
                       : PyDict_GET_SIZE(kwds);
    if (nargs > 1 || (kwds_len == 0 && nargs != 1)) {
        __Pyx_RaiseArgtupleInvalid(func_name, nargs);
        return nullptr;
    }
    PyObject *values[1] = {nargs == 1 ? Py_NewRef(args[0]) : nullptr};
    if (kwds_len == 0)
        return values[0];
    if (__Pyx_ParseKeywords(kwds, args + nargs, __pyx_pyargnames, values, nargs, kwds_len,
                            func_name) < 0) {
        Py_XDECREF(values[0]);
        return nullptr;
    }
    if (values[0] == nullptr)
        __Pyx_RaiseArgtupleInvalid(func_name, 0);
    return values[0];
}

// The keyword form written in Python source, `pressed(key=65)`: the one name
// is the very interned string the state holds, so binding it is the identity
// scan's first hit.
static inline bool __pyx_is_key_keyword_call(Py_ssize_t nargs, PyObject *kwds) {
    return nargs == 0 && PyType_HasFeature(Py_TYPE(kwds), Py_TPFLAGS_TUPLE_SUBCLASS) &&
           PyTuple_GET_SIZE(kwds) == 1 &&
           PyTuple_GET_ITEM(kwds, 0) == __pyx_mstate_global_static.__pyx_string_tab[__pyx_k_key];
}

__PYX_COLD static PyObject *__pyx_key_query_failed(PyObject *value, const __pyx_key_query &q) {
    Py_XDECREF(value);
    __Pyx_AddTraceback(q.qualname, q.line);
    return nullptr;
}

// Query layer; the dispatch flag has no effect on the answer.
template <int I>
static inline int __pyx_f_key_query(int key, int __pyx_skip_dispatch) {
    (void)__pyx_skip_dispatch;
    return __pyx_key_queries[I].query(key);
}

// Implementation layer; cannot fail.  True and False are immortal, so
// handing them out is handing out a new reference (as Py_RETURN_TRUE does).
template <int I>
static inline PyObject *__pyx_pf_key_query(PyObject *self, int key) {
    (void)self;
    return __pyx_f_key_query<I>(key, 0) ? Py_True : Py_False;
}

// Argument wrapper.  The two common calls, one small int by position or by
// the keyword `key`, call no interpreter function.
template <int I>
static PyObject *__pyx_pw_key_query(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                    PyObject *kwds) noexcept {
    const __pyx_key_query &q = __pyx_key_queries[I];
    PyObject *value;
    if (__PYX_LIKELY(kwds == nullptr ? nargs == 1 : __pyx_is_key_keyword_call(nargs, kwds))) {
        value = Py_NewRef(args[0]);
    } else {
        value = __pyx_bind_key(args, nargs, kwds, q.name);
        if (value == nullptr)
            return __pyx_key_query_failed(nullptr, q);
    }
    int key = __Pyx_PyLong_As_int(value);
    if (__PYX_UNLIKELY(key == -1) && PyErr_Occurred())
        return __pyx_key_query_failed(value, q);
    PyObject *result = __pyx_pf_key_query<I>(self, key);
    Py_DECREF(value);
    return result;
}

#define __PYX_KEY_QUERY_DEF(i)                                                             \
    {__pyx_key_queries[i].name, __PYX_METH(__pyx_pw_key_query<i>), METH_FASTCALL | METH_KEYWORDS, \
     nullptr}

static PyMethodDef __pyx_mdef_pressed = __PYX_KEY_QUERY_DEF(0);
static PyMethodDef __pyx_mdef_released = __PYX_KEY_QUERY_DEF(1);
static PyMethodDef __pyx_mdef_pressed_repeat = __PYX_KEY_QUERY_DEF(2);
static PyMethodDef __pyx_mdef_down = __PYX_KEY_QUERY_DEF(3);
static PyMethodDef __pyx_mdef_up = __PYX_KEY_QUERY_DEF(4);

const __pyx_key_function __pyx_key_functions[5] = {
    {&__pyx_mdef_pressed, __pyx_k_pressed, 0, 9},
    {&__pyx_mdef_released, __pyx_k_released, 1, 12},
    {&__pyx_mdef_pressed_repeat, __pyx_k_pressed_repeat, 2, 15},
    {&__pyx_mdef_down, __pyx_k_down, 3, 18},
    {&__pyx_mdef_up, __pyx_k_up, 4, 21},
};
