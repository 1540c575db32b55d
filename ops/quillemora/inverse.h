// inv: the inverse of a matrix, or the solution of A·X = b, by one of five
// methods over scipy.linalg, with the pseudo-inverse as the fall-back of the
// direct methods for non-square and singular matrices.
#pragma once

#include <Python.h>

#include "zalmor/capi.h"

namespace zalmor::quillemora {

// The row published as "inv". `A` is a NumPy array of float64 items with two
// dimensions (borrowed); `opt` may be null. Returns a new reference to the
// result (an ndarray or None), or null with an exception set and a traceback
// entry added. The caller holds the interpreter lock.
PyObject* inv(PyObject* A, __pyx_opt_args_6zalmor_3ops_10quillemora_inv* opt);

}  // namespace zalmor::quillemora
