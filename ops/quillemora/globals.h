// The names quillemora's functions use at call time: interned attribute names,
// the constant 1, and the lookup of module globals (`np`, `sp`) as module-level
// code sees them, in the module's namespace first, then in the builtins.
#pragma once

#include <Python.h>

#include "frame/module.h"

namespace zalmor::quillemora {

// Interned texts and constants, made once by the module body. Borrowed; they
// live as long as the process.
struct Names {
    PyObject* np;
    PyObject* sp;
    PyObject* linalg;
    PyObject* cond;
    PyObject* finfo;
    PyObject* dtype;
    PyObject* eps;
    PyObject* eye;
    PyObject* dot;
    PyObject* inv;
    PyObject* solve;
    PyObject* lu_factor;
    PyObject* lu_solve;
    PyObject* pinv;
    PyObject* lstsq;
    PyObject* one;   // the integer 1
    PyObject* zero;  // the integer 0, the index of lstsq's solution
};

extern Names names;

// Makes `names`. Returns 0, or -1 with an exception set. Safe to call again
// after a failed start-up.
int make_names();

using frame::lookup_global;

// The global `global`, then its attribute `first`, then that one's attribute
// `second` (e.g. sp.linalg.solve): a new reference, or null with the error set.
PyObject* global_attr(PyObject* global, PyObject* first, PyObject* second);

}  // namespace zalmor::quillemora
