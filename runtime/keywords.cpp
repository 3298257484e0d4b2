// Keyword binding: the identity scan over interned names, then matching by
// value for names built at run time, str subclasses and non-strings, and
// the errors for duplicate, unexpected and non-string keywords.
#include "keywords.h"

#include <string.h>

__PYX_COLD static void __Pyx_RaiseDoubleKeywordsError(const char *function_name,
                                                      PyObject *key) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                 function_name, key);
}

__PYX_COLD static void __Pyx_RaiseUnexpectedKeyword(const char *function_name, PyObject *key) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function_name,
                 key);
}

// Equal characters: length, kind, then the bytes.  The caller has compared
// the cached hashes already.
static bool __Pyx_UnicodeKeywordsEqual(PyObject *s1, PyObject *s2) {
    Py_ssize_t length = PyUnicode_GET_LENGTH(s1);
    if (length != PyUnicode_GET_LENGTH(s2))
        return false;
    unsigned int kind = PyUnicode_KIND(s1);
    if (kind != PyUnicode_KIND(s2))
        return false;
    return memcmp(PyUnicode_DATA(s1), PyUnicode_DATA(s2), static_cast<size_t>(length) * kind) == 0;
}

static Py_hash_t __Pyx_CachedHash(PyObject *s) {
    return reinterpret_cast<PyASCIIObject *>(s)->hash;
}

// An exact str: no Python-level comparison, only hashes and characters.
int __Pyx_MatchKeywordArg_str(PyObject *key, __Pyx_ArgName *argnames,
                              __Pyx_ArgName *first_kw_arg, Py_ssize_t *index_found,
                              const char *function_name) {
    Py_hash_t hash = __Pyx_CachedHash(key);
    if (hash == -1) {
        hash = PyObject_Hash(key);
        if (hash == -1)
            return -1;
    }
    for (__Pyx_ArgName *name = first_kw_arg; *name; name++) {
        PyObject *stored = **name;
        if (__Pyx_CachedHash(stored) == hash && __Pyx_UnicodeKeywordsEqual(stored, key)) {
            *index_found = name - argnames;
            return 1;
        }
    }
    for (__Pyx_ArgName *name = argnames; name != first_kw_arg; name++) {
        PyObject *stored = **name;
        if (__Pyx_CachedHash(stored) == hash && __Pyx_UnicodeKeywordsEqual(stored, key)) {
            __Pyx_RaiseDoubleKeywordsError(function_name, key);
            return -1;
        }
    }
    return 0;
}

// Anything else: a str subclass's own __eq__ decides.
int __Pyx_MatchKeywordArg_nostr(PyObject *key, __Pyx_ArgName *argnames,
                                __Pyx_ArgName *first_kw_arg, Py_ssize_t *index_found,
                                const char *function_name) {
    if (!PyType_HasFeature(Py_TYPE(key), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", function_name);
        return -1;
    }
    for (__Pyx_ArgName *name = first_kw_arg; *name; name++) {
        int eq = PyObject_RichCompareBool(**name, key, Py_EQ);
        if (eq == 1) {
            *index_found = name - argnames;
            return 1;
        }
        if (eq < 0)
            return -1;
    }
    for (__Pyx_ArgName *name = argnames; name != first_kw_arg; name++) {
        int eq = PyObject_RichCompareBool(**name, key, Py_EQ);
        if (eq == 1) {
            __Pyx_RaiseDoubleKeywordsError(function_name, key);
            return -1;
        }
        if (eq < 0)
            return -1;
    }
    return 0;
}

int __Pyx_MatchKeywordArg(PyObject *key, __Pyx_ArgName *argnames, __Pyx_ArgName *first_kw_arg,
                          Py_ssize_t *index_found, const char *function_name) {
    if (Py_IS_TYPE(key, &PyUnicode_Type))
        return __Pyx_MatchKeywordArg_str(key, argnames, first_kw_arg, index_found,
                                         function_name);
    return __Pyx_MatchKeywordArg_nostr(key, argnames, first_kw_arg, index_found, function_name);
}

static __Pyx_ArgName *__Pyx_FindByIdentity(PyObject *key, __Pyx_ArgName *first_kw_arg) {
    for (__Pyx_ArgName *name = first_kw_arg; *name; name++)
        if (**name == key)
            return name;
    return nullptr;
}

void __Pyx_RejectUnknownKeyword(PyObject *kwds, __Pyx_ArgName *argnames,
                                __Pyx_ArgName *first_kw_arg, const char *function_name) {
    Py_ssize_t pos = 0;
    PyObject *key;
    while (PyDict_Next(kwds, &pos, &key, nullptr)) {
        if (__Pyx_FindByIdentity(key, first_kw_arg))
            continue;
        // The key is borrowed from the dict, and a str subclass's __eq__ may
        // take it out of the dict: hold it while it is compared and named.
        Py_INCREF(key);
        Py_ssize_t index_found = 0;
        int r = __Pyx_MatchKeywordArg(key, argnames, first_kw_arg, &index_found, function_name);
        if (r == 0)
            __Pyx_RaiseUnexpectedKeyword(function_name, key);
        Py_DECREF(key);
        if (r != 1)
            return;
    }
}

// Names tuple: values follow the positional arguments in the caller's
// vector.  The first unexpected name in call order is the one reported.
static int __Pyx_ParseKeywordsTuple(PyObject *kwds, PyObject *const *kwvalues,
                                    __Pyx_ArgName *argnames, __Pyx_ArgName *first_kw_arg,
                                    PyObject **values, Py_ssize_t num_kwargs,
                                    const char *function_name) {
    for (Py_ssize_t i = 0; i < num_kwargs; i++) {
        PyObject *key = PyTuple_GET_ITEM(kwds, i);
        Py_ssize_t index_found;
        if (__Pyx_ArgName *name = __Pyx_FindByIdentity(key, first_kw_arg)) {
            index_found = name - argnames;
        } else {
            index_found = 0;
            int r = __Pyx_MatchKeywordArg(key, argnames, first_kw_arg, &index_found,
                                          function_name);
            if (r < 0)
                return -1;
            if (r == 0) {
                __Pyx_RaiseUnexpectedKeyword(function_name, key);
                return -1;
            }
        }
        // A native caller may name one parameter twice; keep the first value
        // rather than lose a reference.
        if (values[index_found] != nullptr) {
            __Pyx_RaiseDoubleKeywordsError(function_name, key);
            return -1;
        }
        values[index_found] = Py_NewRef(kwvalues[i]);
    }
    return 0;
}

// Every key of the dict named a parameter, yet the lookups bound fewer: a
// str subclass whose __eq__ matches a name that its hash does not lead to.
// Bind the keywords again by value, as the names-tuple path binds them.
__PYX_COLD static int __Pyx_ParseKeywordDictByValue(PyObject *kwds, __Pyx_ArgName *argnames,
                                                    __Pyx_ArgName *first_kw_arg,
                                                    PyObject **values,
                                                    const char *function_name) {
    for (__Pyx_ArgName *name = first_kw_arg; *name; name++)
        Py_CLEAR(values[name - argnames]);
    // Own copies: the comparisons run Python code, which may change the dict.
    PyObject *keys = PyDict_Keys(kwds);
    if (keys == nullptr)
        return -1;
    PyObject *names = PyList_AsTuple(keys);
    Py_DECREF(keys);
    PyObject *kwvalues = names != nullptr ? PyDict_Values(kwds) : nullptr;
    int r = -1;
    if (kwvalues != nullptr)
        r = __Pyx_ParseKeywordsTuple(names, PySequence_Fast_ITEMS(kwvalues), argnames,
                                     first_kw_arg, values, PyTuple_GET_SIZE(names),
                                     function_name);
    Py_XDECREF(kwvalues);
    Py_XDECREF(names);
    return r;
}

static int __Pyx_ParseKeywordDict(PyObject *kwds, __Pyx_ArgName *argnames,
                                  __Pyx_ArgName *first_kw_arg, PyObject **values,
                                  Py_ssize_t num_kwargs, const char *function_name) {
    if (!PyArg_ValidateKeywordArguments(kwds))
        return -1;
    Py_ssize_t found = 0;
    for (__Pyx_ArgName *name = first_kw_arg; *name && found < num_kwargs; name++) {
        PyObject *value;
        int r = PyDict_GetItemRef(kwds, **name, &value);
        if (r < 0)
            return -1;
        if (r == 1) {
            values[name - argnames] = value;
            found++;
        }
    }
    if (found < num_kwargs) {
        __Pyx_RejectUnknownKeyword(kwds, argnames, first_kw_arg, function_name);
        if (!PyErr_Occurred())
            return __Pyx_ParseKeywordDictByValue(kwds, argnames, first_kw_arg, values,
                                                 function_name);
        return -1;
    }
    return 0;
}

int __Pyx_ParseKeywords(PyObject *kwds, PyObject *const *kwvalues, __Pyx_ArgName *argnames,
                        PyObject **values, Py_ssize_t num_pos_args, Py_ssize_t num_kwargs,
                        const char *function_name) {
    __Pyx_ArgName *first_kw_arg = argnames + num_pos_args;
    if (PyType_HasFeature(Py_TYPE(kwds), Py_TPFLAGS_TUPLE_SUBCLASS))
        return __Pyx_ParseKeywordsTuple(kwds, kwvalues, argnames, first_kw_arg, values,
                                        num_kwargs, function_name);
    return __Pyx_ParseKeywordDict(kwds, argnames, first_kw_arg, values, num_kwargs,
                                  function_name);
}
