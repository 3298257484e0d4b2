// Binding keyword arguments to a function's parameters.
//
// A parameter-name list is a null-terminated array of pointers to the state
// slots that hold the parameters' interned names, so that the common case, a
// keyword written in Python source, is decided by identity.  `first_kw_arg`
// points at the first parameter not bound by position.  Positions reported
// through `index_found` count from the start of the list.
#ifndef TOBRIM_RUNTIME_KEYWORDS_H
#define TOBRIM_RUNTIME_KEYWORDS_H

#include "config.h"

typedef PyObject *const *const __Pyx_ArgName;  // a slot holding an interned name

// Binds the keywords in `kwds` (a names tuple whose values are `kwvalues`, or
// a dict) into `values`, one owned reference per bound parameter.  0, or -1
// with an error set.
int __Pyx_ParseKeywords(PyObject *kwds, PyObject *const *kwvalues, __Pyx_ArgName *argnames,
                        PyObject **values, Py_ssize_t num_pos_args, Py_ssize_t num_kwargs,
                        const char *function_name);

// 1 with `index_found` set when `key` names a parameter from `first_kw_arg`
// on, 0 when it names none, -1 with an error set (no string, repeats a
// parameter bound by position, or hashing/comparison raised).
int __Pyx_MatchKeywordArg(PyObject *key, __Pyx_ArgName *argnames, __Pyx_ArgName *first_kw_arg,
                          Py_ssize_t *index_found, const char *function_name);
int __Pyx_MatchKeywordArg_str(PyObject *key, __Pyx_ArgName *argnames,
                              __Pyx_ArgName *first_kw_arg, Py_ssize_t *index_found,
                              const char *function_name);
int __Pyx_MatchKeywordArg_nostr(PyObject *key, __Pyx_ArgName *argnames,
                                __Pyx_ArgName *first_kw_arg, Py_ssize_t *index_found,
                                const char *function_name);

// Sets the error for the first key of `kwds`, in the dict's order, that no
// parameter from `first_kw_arg` on takes.
void __Pyx_RejectUnknownKeyword(PyObject *kwds, __Pyx_ArgName *argnames,
                                __Pyx_ArgName *first_kw_arg, const char *function_name);

#endif
