// View objects: the owners behind view records, and the slice subtype through
// which views are handed to Python code.
#pragma once

#include <Python.h>
#include <pythread.h>

#include "element_convert.h"
#include "type_info.h"
#include "view_layout.h"
#include "zalmor/capi.h"

namespace zalmor::frame {

// `lock`, `flags` and `dtype_is_object` are read by nothing in this package:
// they are part of the view object's published description (the lock from the
// module's pool of 8, the request flags the buffer was taken with, whether the
// items are Python objects), kept so that code written against that
// description finds them filled in. The acquisition count alone is atomic.
struct ViewObject {
    __pyx_memoryview_obj head;  // object header and acquisition count (see capi.h)
    PyObject* obj;              // the object whose buffer is held, or null for slices
    PyThread_type_lock lock;    // from the module's pool
    Py_buffer view;             // the buffer held (for slices: the slice's own description)
    int flags;                  // the buffer request flags
    bool dtype_is_object;       // the format is exactly "O"
    const TypeInfo* typeinfo;   // element type, when known
    // The held buffer's shape and strides as exported, where its exporter
    // left them out (filled on export).
    Py_ssize_t full_shape[kMaxDims];
    Py_ssize_t full_strides[kMaxDims];
};

struct SliceObject {
    ViewObject base;
    __Pyx_memviewslice from_slice;  // holds one acquisition of its owner
    PyObject* from_object;          // the base object (the array behind the owner)
    ElementConverters convert;
};

extern PyTypeObject* view_type;
extern PyTypeObject* slice_type;

// Creates the view object type "<qualified>.memoryview" and its slice subtype
// "<qualified>._memoryviewslice". Returns 0, or -1 with an exception set.
int prepare_view_types(const char* qualified);

// Allocates the pool of locks that view objects are given. Returns 0 or -1.
int allocate_lock_pool();

// A new view object holding `obj`'s buffer requested with `flags`. New reference
// or null with the exporter's error.
ViewObject* new_view_object(PyObject* obj, int flags, const TypeInfo* typeinfo);

// Adds one acquisition; the first one takes a reference to the object. Needs the
// interpreter lock when the count may be 0.
void acquire(ViewObject* view) noexcept;

// A new slice object over `record`'s memory, with `ndim` dimensions, taking one
// acquisition of its owner. None for a None view. Needs the interpreter lock.
PyObject* slice_from_record(const __Pyx_memviewslice& record, int ndim, const TypeInfo* typeinfo,
                            ElementConverters convert);

}  // namespace zalmor::frame
