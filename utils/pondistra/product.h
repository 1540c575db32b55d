// product: the cartesian product of integer ranges, for native and Python callers.
#pragma once

#include <Python.h>

#include "zalmor/capi.h"

namespace zalmor::pondistra {

// The table row "product": a new (R, k) view of unsigned int holding every
// index tuple of the ranges `ns`, or the (0, 0) view when a size is 0; the
// null view with an exception set on failure. Needs the interpreter lock.
__Pyx_memviewslice product(__Pyx_memviewslice ns, int skip_dispatch);

// product(ns) from Python: one positional argument.
PyObject* product_python(PyObject* module, PyObject* ns);

}  // namespace zalmor::pondistra
