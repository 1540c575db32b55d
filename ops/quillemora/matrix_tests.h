// The square and singularity tests that guard inv's direct methods. Neither
// passes an error on: a failing test is reported as unraisable and gives 0.
#pragma once

#include <Python.h>

namespace zalmor::quillemora {

// 1 if the matrix has as many rows as columns, else 0. `matrix` is a NumPy
// array; its buffer must pass the float64 two-dimensional check (a failing
// check is reported and gives 0). The caller holds the interpreter lock.
int is_square(PyObject* matrix) noexcept;

// 1 if np.linalg.cond(matrix) > 1 / np.finfo(matrix.dtype).eps, else 0.
// `matrix` is a NumPy array, checked as for is_square. `np` is looked up at
// every use. The caller holds the interpreter lock.
int is_singular(PyObject* matrix) noexcept;

}  // namespace zalmor::quillemora
