// Typed view records: accepting Python objects as views, making result arrays,
// handing views back to Python.
#pragma once

#include <Python.h>

#include <source_location>
#include <span>

#include "type_info.h"
#include "zalmor/capi.h"

namespace zalmor::frame {

// Accepts `obj` as an `ndim`-dimensional strided, direct view of `type` and
// fills `out` with one acquisition. None gives the None view. Returns 0, or -1
// with ValueError/TypeError/BufferError set and `out` left empty. Needs the
// interpreter lock.
int accept_view(PyObject* obj, int ndim, const TypeInfo& type, __Pyx_memviewslice& out);

// A new C-ordered result array of `extents`, items of `type` with buffer format
// `format`, as a view with one acquisition. Takes the interpreter lock for the
// allocation, so it may be called without it. On failure returns the null view
// with the exception set and a traceback entry for `qualname` added.
__Pyx_memviewslice new_result(std::span<const Py_ssize_t> extents, const TypeInfo& type,
                              const char* format, const char* qualname,
                              std::source_location where = std::source_location::current());

// A new Python view object (None for a None view) over `view`'s memory, taking
// its own acquisition. Needs the interpreter lock.
PyObject* view_to_python(const __Pyx_memviewslice& view, int ndim, const TypeInfo& type);

// Start-up of the view machinery: its types (before the module's bindings),
// then its constants, lock pool and `__pyx_unpickle_Enum` (last).
int prepare_view_machinery(const char* qualified);
int setup_view_machinery(PyObject* module);

}  // namespace zalmor::frame
