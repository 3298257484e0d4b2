// Traceback records pointing into a module's source.
//
// The module runs no Python frames of its own, so each record is made from
// a code object and a frame built for the purpose.  Code objects are cached
// per source line, so repeated failures at one line build one code object.
#ifndef TOBRIM_RUNTIME_TRACEBACK_H
#define TOBRIM_RUNTIME_TRACEBACK_H

#include "config.h"
#include "free_threading.h"

struct __Pyx_CodeObjectCacheEntry {
    PyCodeObject *code_object;  // owned
    int code_line;
};

// Entries 0 to count - 1 are sorted by strictly increasing line.  The
// storage grows 64 entries at a time and is never freed.  Without the GIL
// the lock guards the three fields (with it, the lock is nothing).
struct __Pyx_CodeObjectCache {
    int count;
    int max_count;
    __Pyx_CodeObjectCacheEntry *entries;
    [[no_unique_address]] __Pyx_Lock lock;
};

// Adds the newest traceback entry "funcname" at `py_line` to the pending
// exception.  Raises nothing of its own; if the code object or the frame
// cannot be made, that failure is what is left pending.
void __Pyx_AddTraceback(const char *funcname, int py_line);

#endif
