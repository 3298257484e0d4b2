// The function type shared by every module built on this runtime: its
// record, flag bits, creation and fast-call entries.
//
// A function object pairs a static PyMethodDef (name, wrapper, calling
// convention) with what a Python function carries: qualified name, module,
// globals, code object, doc, defaults and annotations.  The type itself is
// published in the shared registry (type_registry.h), so the slot functions
// that serve an object may be those of the module that published it first;
// the record layout below is therefore a contract among those modules.
//
// This is the runtime's chief header: a module built on the runtime
// includes it alone and gets the rest of the runtime's interface with it
// (the hooks it must define, the registry stages, traceback records and
// keyword binding).
#ifndef TOBRIM_RUNTIME_FUNCTION_OBJECT_H
#define TOBRIM_RUNTIME_FUNCTION_OBJECT_H

#include "config.h"
#include "free_threading.h"
#include "keywords.h"
#include "module_hooks.h"
#include "traceback.h"
#include "type_registry.h"

// Function-object flag bits (field `flags`).
enum : int {
    FUNCTION_FLAG_STATIC = 0x01,     // cancels the self rule
    FUNCTION_FLAG_IN_CLASS = 0x04,   // with STATIC clear, the first argument is self
    FUNCTION_FLAG_COROUTINE = 0x08,  // marks a coroutine function
};

struct __pyx_CyFunctionObject {
    // ob_base, m_ml, m_self, m_module, m_weakreflist, vectorcall, mm_class
    PyCMethodObject func;
    PyObject *func_name;        // lazily made from ml_name
    PyObject *func_qualname;    // never null while alive
    PyObject *func_doc;         // lazily made from ml_doc
    PyObject *func_globals;     // never null while alive
    PyObject *func_code;
    PyObject *func_closure;
    PyObject *defaults;         // storage for the defaults getter
    int flags;
    PyObject *defaults_tuple;
    PyObject *defaults_kwdict;
    PyObject *(*defaults_getter)(PyObject *);
    PyObject *func_annotations;
    PyObject *func_is_coroutine;
};

static_assert(sizeof(void *) != 8 || sizeof(__pyx_CyFunctionObject) == __PYX_FUNCTION_RECORD_SIZE,
              "the record size is shared with other modules through the registry");

static inline __pyx_CyFunctionObject *__Pyx_CyFunction_Cast(PyObject *op) {
    return reinterpret_cast<__pyx_CyFunctionObject *>(op);
}

// --- fields that change after creation --------------------------------------
//
// Names, doc, defaults, annotations and the coroutine marker are made on
// first read or set at any time.  Each is read and stored under the
// object's critical section (nothing without the GIL, where the lock
// serialises every entry), so that a reader never takes a reference to a
// value a setter on another thread has released, nor sees a half-made one.

// A new reference to the field's value, or null when it is empty.
static inline PyObject *__Pyx_CyFunction_GetField(PyObject *op, PyObject *const *field) {
    PyObject *value;
    (void)op;  // with the GIL the section is empty braces
    Py_BEGIN_CRITICAL_SECTION(op);
    value = Py_XNewRef(*field);
    Py_END_CRITICAL_SECTION();
    return value;
}

// Stores a new reference to `value` (or null) in the field and returns the
// old value, for the caller to release once the section is left: the store
// comes first, so code run by the release never sees the old value.
static inline PyObject *__Pyx_CyFunction_SwapField(PyObject *op, PyObject **field,
                                                   PyObject *value) {
    PyObject *old;
    (void)op;
    Py_BEGIN_CRITICAL_SECTION(op);
    old = *field;
    *field = Py_XNewRef(value);
    Py_END_CRITICAL_SECTION();
    return old;
}

static inline void __Pyx_CyFunction_SetField(PyObject *op, PyObject **field, PyObject *value) {
    Py_XDECREF(__Pyx_CyFunction_SwapField(op, field, value));
}

// Publishes a value made for an empty field (the reference is stolen) and
// returns a new reference to the field's value: the one made, or the one
// another thread published first.
static inline PyObject *__Pyx_CyFunction_PublishField(PyObject *op, PyObject **field,
                                                      PyObject *made) {
    PyObject *value;
    (void)op;
    Py_BEGIN_CRITICAL_SECTION(op);
    if (*field == nullptr) {
        *field = made;
        made = nullptr;
    }
    value = Py_NewRef(*field);
    Py_END_CRITICAL_SECTION();
    Py_XDECREF(made);
    return value;
}

// The self rule: the first positional argument becomes the wrapper's self.
static inline bool __Pyx_CyFunction_SelfRule(const __pyx_CyFunctionObject *f) {
    return (f->flags & (FUNCTION_FLAG_STATIC | FUNCTION_FLAG_IN_CLASS)) == FUNCTION_FLAG_IN_CLASS;
}

extern PyType_Spec __pyx_CyFunctionType_spec;

// New tracked function object of the module's function type; the arguments
// are borrowed.  Null with an error set on failure.
PyObject *__Pyx_CyFunction_New(PyMethodDef *ml, int flags, PyObject *qualname,
                               PyObject *closure, PyObject *module, PyObject *globals,
                               PyObject *code);

PyObject *__Pyx_CyFunction_Vectorcall_NOARGS(PyObject *func, PyObject *const *args,
                                             size_t nargsf, PyObject *kwnames) noexcept;
PyObject *__Pyx_CyFunction_Vectorcall_O(PyObject *func, PyObject *const *args,
                                        size_t nargsf, PyObject *kwnames) noexcept;
PyObject *__Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS(PyObject *func, PyObject *const *args,
                                                        size_t nargsf,
                                                        PyObject *kwnames) noexcept;
PyObject *__Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS_METHOD(PyObject *func,
                                                               PyObject *const *args,
                                                               size_t nargsf,
                                                               PyObject *kwnames) noexcept;

// Argument errors naming the definition's ml_name: "%.200s() %s" and
// "%.200s() %s (%zd given)".  Both return null for the caller to pass on.
PyObject *__Pyx_CyFunction_raise_type_error(__pyx_CyFunctionObject *f, const char *message);
PyObject *__Pyx_CyFunction_raise_argument_count_error(__pyx_CyFunctionObject *f,
                                                      const char *message, Py_ssize_t count);

int __Pyx_CyFunction_clear(PyObject *op) noexcept;

// tp_call (function_call.cpp), the attribute table (function_attributes.cpp)
// and its annotation entries (function_annotations.cpp).
PyObject *__Pyx_CyFunction_CallAsMethod(PyObject *func, PyObject *args, PyObject *kw) noexcept;
extern PyGetSetDef __pyx_CyFunction_getsets[];
PyObject *__Pyx_CyFunction_get_annotations(PyObject *op, void *) noexcept;
int __Pyx_CyFunction_set_annotations(PyObject *op, PyObject *value, void *) noexcept;
PyObject *__Pyx_CyFunction_get_annotate(PyObject *op, void *) noexcept;
int __Pyx_CyFunction_set_annotate(PyObject *op, PyObject *value, void *) noexcept;
PyObject *__Pyx_CyFunction_get_is_coroutine(PyObject *op, void *) noexcept;

#endif
