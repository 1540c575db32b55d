// The array type: the owner of freshly made result memory.
#pragma once

#include <Python.h>

#include <span>

#include "limits.h"

namespace zalmor::frame {

struct ArrayObject {
    PyObject_HEAD
    char* data;          // cache-line aligned start of the items
    void* block;         // the allocation behind `data`, freed with it; null
                         // when the items follow the object in its own block
    Py_ssize_t len;      // bytes
    PyObject* format;    // bytes
    int ndim;
    Py_ssize_t* shape;   // into `layout`: ndim extents, then ndim strides
    Py_ssize_t* strides;
    Py_ssize_t itemsize;
    PyObject* mode;      // "c" or "fortran"
    bool fortran;        // mode is "fortran"
    bool free_data;
    bool dtype_is_object;
    Py_ssize_t layout[2 * kMaxDims];
};

extern PyTypeObject* array_type;

// Creates the array type of the module named `qualified` (type name
// "<qualified>.array"). Returns 0, or -1 with an exception set.
int prepare_array_type(const char* qualified);

// A new array of `extents` with uninitialised items, in C order (or Fortran
// order), as the type's constructor makes it with allocate_buffer left true:
// ValueError "Invalid shape in axis %d: %d." for an extent below 1, MemoryError
// when memory runs out or the byte count overflows. Needs the interpreter lock;
// returns a new reference or null. Small arrays are one allocation, object and
// items together.
PyObject* new_array(std::span<const Py_ssize_t> extents, Py_ssize_t itemsize, const char* format,
                    bool fortran = false);

// The whole array as a buffer, as its buffer protocol exports it for `flags`.
// Returns 0, or -1 with ValueError set. Needs the interpreter lock.
int export_array(PyObject* array, Py_buffer* view, int flags);

}  // namespace zalmor::frame
