// The constant type "Enum": named layout constants of the view machinery, and
// its unpickling function.
#pragma once

#include <Python.h>

namespace zalmor::frame {

// Creates the type "<qualified>.Enum". Returns 0, or -1 with an exception set.
int prepare_enum_type(const char* qualified);

// Creates the five layout constants and stores `__pyx_unpickle_Enum` in the
// module namespace. Returns 0, or -1 with an exception set.
int setup_layout_constants(PyObject* module);

}  // namespace zalmor::frame
