// Traceback records: the per-line code-object cache, then the record itself.
#include "traceback.h"

#include <string.h>

#include "interpreter_compat.h"
#include "module_hooks.h"

// --- the code-object cache -------------------------------------------------

// Position of the entry for `line`, or where it belongs in sorted order.
static int __pyx_bisect_code_objects(const __Pyx_CodeObjectCacheEntry *entries, int count,
                                     int line) {
    int start = 0, mid = 0, end = count - 1;
    if (end >= 0 && line > entries[end].code_line)
        return count;
    while (start < end) {
        mid = start + (end - start) / 2;
        if (line < entries[mid].code_line)
            end = mid;
        else if (line > entries[mid].code_line)
            start = mid + 1;
        else
            return mid;
    }
    if (line <= entries[mid].code_line)
        return mid;
    return mid + 1;
}

// The cached code object for `line` as a new reference, taken under the
// cache's lock so that it stays alive while the record uses it, whatever
// another thread then stores at that line.
static PyCodeObject *__pyx__find_code_object(__Pyx_CodeObjectCache *cache, int line) {
    PyCodeObject *code = nullptr;
    __Pyx_Lock_Acquire(&cache->lock);
    if (cache->entries != nullptr) {
        int pos = __pyx_bisect_code_objects(cache->entries, cache->count, line);
        if (pos < cache->count && cache->entries[pos].code_line == line)
            code = reinterpret_cast<PyCodeObject *>(
                Py_NewRef(reinterpret_cast<PyObject *>(cache->entries[pos].code_object)));
    }
    __Pyx_Lock_Release(&cache->lock);
    return code;
}

// Running out of memory here only means the code object is not cached.  A
// code object replaced at the same line is returned, to be released once
// the lock is let go.
static PyCodeObject *__pyx__insert_code_object_locked(__Pyx_CodeObjectCache *cache, int line,
                                                      PyCodeObject *code) {
    enum { step = 64 };
    if (cache->entries == nullptr) {
        auto *entries = static_cast<__Pyx_CodeObjectCacheEntry *>(
            PyMem_Malloc(step * sizeof(__Pyx_CodeObjectCacheEntry)));
        if (entries == nullptr)
            return nullptr;
        cache->entries = entries;
        cache->count = 1;
        cache->max_count = step;
        entries[0].code_line = line;
        entries[0].code_object = reinterpret_cast<PyCodeObject *>(
            Py_NewRef(reinterpret_cast<PyObject *>(code)));
        return nullptr;
    }
    int pos = __pyx_bisect_code_objects(cache->entries, cache->count, line);
    if (pos < cache->count && cache->entries[pos].code_line == line) {
        PyCodeObject *old = cache->entries[pos].code_object;
        cache->entries[pos].code_object = reinterpret_cast<PyCodeObject *>(
            Py_NewRef(reinterpret_cast<PyObject *>(code)));
        return old;
    }
    if (cache->count == cache->max_count) {
        int new_max = cache->max_count + step;
        auto *entries = static_cast<__Pyx_CodeObjectCacheEntry *>(PyMem_Realloc(
            cache->entries, static_cast<size_t>(new_max) * sizeof(__Pyx_CodeObjectCacheEntry)));
        if (entries == nullptr)
            return nullptr;
        cache->entries = entries;
        cache->max_count = new_max;
    }
    for (int i = cache->count; i > pos; i--)
        cache->entries[i] = cache->entries[i - 1];
    cache->entries[pos].code_line = line;
    cache->entries[pos].code_object =
        reinterpret_cast<PyCodeObject *>(Py_NewRef(reinterpret_cast<PyObject *>(code)));
    cache->count++;
    return nullptr;
}

static void __pyx__insert_code_object(__Pyx_CodeObjectCache *cache, int line,
                                      PyCodeObject *code) {
    __Pyx_Lock_Acquire(&cache->lock);
    PyCodeObject *replaced = __pyx__insert_code_object_locked(cache, line, code);
    __Pyx_Lock_Release(&cache->lock);
    Py_XDECREF(reinterpret_cast<PyObject *>(replaced));
}

// --- the pending exception, set aside and put back -------------------------

struct __Pyx_SavedException {
    PyObject *value;
    PyObject *type;
    PyObject *traceback;
};

static void __Pyx_ErrFetchInState(PyThreadState *tstate, __Pyx_SavedException *saved) {
    saved->value = __Pyx_ThreadState_TakeException(tstate);
    saved->type = nullptr;
    saved->traceback = nullptr;
    if (saved->value != nullptr) {
        saved->type = Py_NewRef(reinterpret_cast<PyObject *>(Py_TYPE(saved->value)));
        saved->traceback =
            Py_XNewRef(reinterpret_cast<PyBaseExceptionObject *>(saved->value)->traceback);
    }
}

static void __Pyx_ErrRestoreInState(PyThreadState *tstate, __Pyx_SavedException *saved) {
    PyObject *value = saved->value;
    if (value != nullptr &&
        reinterpret_cast<PyBaseExceptionObject *>(value)->traceback != saved->traceback)
        PyException_SetTraceback(value, saved->traceback);
    Py_XDECREF(__Pyx_ThreadState_SwapException(tstate, value));
    Py_XDECREF(saved->type);
    Py_XDECREF(saved->traceback);
}

// --- the record ------------------------------------------------------------

static PyCodeObject *__Pyx_CreateCodeObjectForTraceback(const char *funcname, int py_line) {
    const char *filename = PyUnicode_AsUTF8(*__pyx_runtime_module.source_path);
    if (filename == nullptr)
        return nullptr;
    return PyCode_NewEmpty(filename, funcname, py_line);
}

void __Pyx_AddTraceback(const char *funcname, int py_line) {
    PyThreadState *tstate = PyThreadState_GetUnchecked();
    __Pyx_CodeObjectCache *cache = __pyx_runtime_module.code_cache;
    PyCodeObject *code = __pyx__find_code_object(cache, py_line);
    if (code == nullptr) {
        __Pyx_SavedException saved;
        __Pyx_ErrFetchInState(tstate, &saved);
        code = __Pyx_CreateCodeObjectForTraceback(funcname, py_line);
        if (code == nullptr) {
            Py_XDECREF(saved.value);
            Py_XDECREF(saved.type);
            Py_XDECREF(saved.traceback);
            return;
        }
        __Pyx_ErrRestoreInState(tstate, &saved);
        __pyx__insert_code_object(cache, py_line, code);
    }
    PyFrameObject *frame = PyFrame_New(tstate, code, *__pyx_runtime_module.module_dict, nullptr);
    if (frame == nullptr) {
        Py_DECREF(code);
        return;
    }
    __Pyx_Frame_SetLine(frame, py_line);
    PyTraceBack_Here(frame);
    Py_DECREF(code);
    Py_DECREF(frame);
}
