// Fetching shared types from the registry module, or creating and
// publishing them there, and the shared metaclass.
#include "type_registry.h"

#include <string.h>

#include "function_object.h"

// --- the shared metaclass --------------------------------------------------

// A data descriptor on the metaclass, so the function type reports the
// registry as its module while its own dict entry "__module__" (the member
// of each function object) is left to the instances.
static PyObject *__pyx_CommonTypesMetaclass_get_module(PyObject *, void *) noexcept {
    return PyUnicode_FromString(__PYX_REGISTRY_NAME);
}

static PyGetSetDef __pyx_CommonTypesMetaclass_getset[] = {
    {"__module__", __pyx_CommonTypesMetaclass_get_module, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyType_Slot __pyx_CommonTypesMetaclass_slots[] = {
    {Py_tp_getset, __pyx_CommonTypesMetaclass_getset},
    {0, nullptr},
};

static PyType_Spec __pyx_CommonTypesMetaclass_spec = {
    __PYX_REGISTRY_NAME "._common_types_metatype",
    0,
    0,
    Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    __pyx_CommonTypesMetaclass_slots,
};

// --- fetching --------------------------------------------------------------

int __Pyx_VerifyCachedType(PyObject *cached, const char *name, Py_ssize_t expected_basicsize) {
    if (!PyType_HasFeature(Py_TYPE(cached), Py_TPFLAGS_TYPE_SUBCLASS)) {
        PyErr_Format(PyExc_TypeError, "Shared Cython type %.200s is not a type object", name);
        return -1;
    }
    if (expected_basicsize != 0 &&
        reinterpret_cast<PyTypeObject *>(cached)->tp_basicsize != expected_basicsize) {
        PyErr_Format(PyExc_TypeError, "Shared Cython type %.200s has the wrong size, try recompiling",
                     name);
        return -1;
    }
    return 0;
}

// Takes over the reference to `found`: returns it if it passes, else null.
static PyObject *__Pyx_AdoptCachedType(PyObject *found, const char *name, PyType_Spec *spec) {
    if (__Pyx_VerifyCachedType(found, name, spec->basicsize) < 0) {
        Py_DECREF(found);
        return nullptr;
    }
    return found;
}

// The interpreter gives a type with a managed dict inline attribute values:
// an attribute set on an instance is stored in the instance itself and no
// dict object is made.  Nothing but the interpreter's internals can then
// tell whether an instance dictionary exists, or tell the instance's own
// storage from an attribute's value (the annotation entries must know).
// Without the flag every attribute lives in the managed dict, made by the
// first attribute set or read of __dict__, and the dict pointer alone
// answers.  Only a type that has no instance yet may lose the flag: this
// runs before the type is published.
static void __Pyx_KeepInstanceAttributesInDict(PyTypeObject *type) {
    if (PyType_HasFeature(type, Py_TPFLAGS_INLINE_VALUES)) {
        type->tp_flags &= ~Py_TPFLAGS_INLINE_VALUES;
        PyType_Modified(type);
    }
}

// Creates the type and publishes it unless another module got there first,
// in which case that module's type is adopted and ours discarded.
static PyObject *__Pyx_PublishCommonType(PyObject *registry, PyObject *dict, PyObject *key,
                                         PyTypeObject *metaclass, PyType_Spec *spec,
                                         PyObject *bases, const char *name) {
    PyObject *created = PyType_FromMetaclass(metaclass, registry, spec, bases);
    if (created == nullptr)
        return nullptr;
    __Pyx_KeepInstanceAttributesInDict(reinterpret_cast<PyTypeObject *>(created));
    PyObject *stored = nullptr;
    (void)PyDict_SetDefaultRef(dict, key, created, &stored);
    if (stored == created) {
        Py_DECREF(stored);
        return created;
    }
    Py_DECREF(created);
    if (stored == nullptr)
        return nullptr;
    return __Pyx_AdoptCachedType(stored, name, spec);
}

PyObject *__Pyx_FetchCommonTypeFromSpec(PyTypeObject *metaclass, PyType_Spec *spec,
                                        PyObject *bases) {
    const char *dot = strrchr(spec->name, '.');
    const char *name = dot ? dot + 1 : spec->name;
    PyObject *key = PyUnicode_FromString(name);
    if (key == nullptr)
        return nullptr;
    PyObject *result = nullptr;
    PyObject *registry = PyImport_AddModuleRef(__PYX_REGISTRY_NAME);
    if (registry != nullptr) {
        PyObject *dict = PyModule_GetDict(registry);
        PyObject *found = nullptr;
        if (dict != nullptr) {
            switch (PyDict_GetItemRef(dict, key, &found)) {
            case 1:
                result = __Pyx_AdoptCachedType(found, name, spec);
                break;
            case 0:
                result = __Pyx_PublishCommonType(registry, dict, key, metaclass, spec, bases,
                                                 name);
                break;
            default:
                break;
            }
        }
        Py_DECREF(registry);
    }
    Py_DECREF(key);
    return result;
}

// --- the execute step's stages ---------------------------------------------

int __pyx_CommonTypesMetaclass_init(PyTypeObject **metaclass_slot) {
    PyObject *bases = PyTuple_Pack(1, reinterpret_cast<PyObject *>(&PyType_Type));
    if (bases == nullptr)
        return -1;
    PyObject *type = __Pyx_FetchCommonTypeFromSpec(nullptr, &__pyx_CommonTypesMetaclass_spec, bases);
    Py_DECREF(bases);
    Py_XSETREF(*metaclass_slot, reinterpret_cast<PyTypeObject *>(type));
    return type == nullptr ? -1 : 0;
}

int __pyx_CyFunction_init(PyTypeObject *metaclass, PyTypeObject **function_type_slot) {
    PyObject *type = __Pyx_FetchCommonTypeFromSpec(metaclass, &__pyx_CyFunctionType_spec, nullptr);
    Py_XSETREF(*function_type_slot, reinterpret_cast<PyTypeObject *>(type));
    return type == nullptr ? -1 : 0;
}
