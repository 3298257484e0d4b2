// The string table: one zlib stream in read-only data, decompressed once at
// import through the interpreter's own zlib module, cut by the length
// table into strings (most of them interned) and byte strings, then hashed.
#include "module_state.h"
#include "string_table_data.h"

// New bytes object with the decompressed stream, or null with an error set.
static PyObject *__Pyx_DecompressString(const unsigned char *stream, Py_ssize_t length,
                                        int algo) {
    PyObject *name = PyUnicode_FromString("decompress");
    if (name == nullptr)
        return nullptr;
    PyObject *module = PyImport_ImportModule("zlib");
    PyObject *decompress = module ? PyObject_GetAttr(module, name) : nullptr;
    if (decompress == nullptr) {
        PyErr_Format(PyExc_ImportError,
                     "Failed to import '%.20s.decompress' - cannot initialise module strings. "
                     "String compression was configured with the C macro "
                     "'CYTHON_COMPRESS_STRINGS=%d'.",
                     "zlib", algo);
        Py_XDECREF(module);
        Py_DECREF(name);
        return nullptr;
    }
    // The view spares a copy of the stream.
    PyObject *view = PyMemoryView_FromMemory(
        const_cast<char *>(reinterpret_cast<const char *>(stream)), length, PyBUF_READ);
    PyObject *result = nullptr;
    if (view != nullptr) {
        result = PyObject_CallFunctionObjArgs(decompress, view, nullptr);
        Py_DECREF(view);
    }
    Py_DECREF(decompress);
    Py_DECREF(module);
    Py_DECREF(name);
    return result;
}

// The cutting below reads exactly the table's bytes; anything else coming
// back from the decompressor is refused rather than read past its end.
__PYX_COLD static int __Pyx_RejectDecompressed(PyObject *data) {
    if (PyBytes_CheckExact(data))
        PyErr_Format(PyExc_ImportError,
                     "cannot initialise module strings: the string table decompressed to "
                     "%zd bytes, expected %zd",
                     PyBytes_GET_SIZE(data), __pyx_string_data_length);
    else
        PyErr_Format(PyExc_ImportError,
                     "cannot initialise module strings: the decompressor returned %.200s, "
                     "expected bytes",
                     Py_TYPE(data)->tp_name);
    Py_DECREF(data);
    return -1;
}

int __Pyx_InitConstants(__pyx_mstatetype *state) {
    static_assert(__pyx_string_tab_count == __pyx_string_tab_size);
    PyObject *data = __Pyx_DecompressString(__pyx_string_stream, __pyx_string_stream_length, 1);
    if (data == nullptr)
        return -1;
    if (!PyBytes_CheckExact(data) || PyBytes_GET_SIZE(data) != __pyx_string_data_length)
        return __Pyx_RejectDecompressed(data);
    const char *bytes = PyBytes_AS_STRING(data);
    Py_ssize_t pos = 0;
    for (int i = 0; i < __pyx_string_tab_count; i++) {
        Py_ssize_t length = __pyx_string_index[i].length;
        PyObject *entry;
        if (i < __pyx_string_tab_first_bytes) {
            entry = PyUnicode_DecodeUTF8(bytes + pos, length, nullptr);
            if (entry != nullptr && i >= __pyx_string_tab_first_interned)
                PyUnicode_InternInPlace(&entry);
        } else {
            entry = PyBytes_FromStringAndSize(bytes + pos, length);
        }
        if (entry == nullptr) {
            Py_DECREF(data);
            return -1;
        }
        Py_XSETREF(state->__pyx_string_tab[i], entry);
        pos += length;
    }
    Py_DECREF(data);
    for (int i = 0; i < __pyx_string_tab_count; i++)
        if (PyObject_Hash(state->__pyx_string_tab[i]) == -1)
            return -1;
    return 0;
}
