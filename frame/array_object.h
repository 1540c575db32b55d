// The array type: the owner of freshly made result memory.
#pragma once

#include <Python.h>

#include <span>

namespace zalmor::frame {

struct ArrayObject {
    PyObject_HEAD
    char* data;          // cache-line aligned start of the items
    void* block;         // the allocation behind `data`, freed with it
    Py_ssize_t len;      // bytes
    PyObject* format;    // bytes
    int ndim;
    Py_ssize_t* shape;   // one block: ndim extents, then ndim strides
    Py_ssize_t* strides;
    Py_ssize_t itemsize;
    PyObject* mode;      // "c" or "fortran"
    bool free_data;
    bool dtype_is_object;
};

extern PyTypeObject* array_type;

// Creates the array type of the module named `qualified` (type name
// "<qualified>.array"). Returns 0, or -1 with an exception set.
int prepare_array_type(const char* qualified);

// A new array of `extents` with uninitialised items, in C order (or Fortran
// order), as the type's constructor makes it with allocate_buffer left true:
// ValueError "Invalid shape in axis %d: %d." for an extent below 1, MemoryError
// when memory runs out or the byte count overflows. Needs the interpreter lock;
// returns a new reference or null.
PyObject* new_array(std::span<const Py_ssize_t> extents, Py_ssize_t itemsize, const char* format,
                    bool fortran = false);

}  // namespace zalmor::frame
