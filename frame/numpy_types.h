// Import of NumPy's types with binary-size checks against the headers this
// module was built with.
#pragma once

#include <Python.h>

namespace zalmor::frame {

// Imports `builtins` and `numpy` and checks each type the modules rely on.
// Returns 0, or -1 with an exception set.
int import_numpy_types();

// numpy.ndarray, kept for type tests once the import succeeded; else null. Borrowed.
PyTypeObject* ndarray_type() noexcept;

}  // namespace zalmor::frame
