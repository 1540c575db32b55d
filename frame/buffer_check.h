// The checks a buffer passes before its memory is used as items of a known
// element type: number of dimensions, format text, item size, direct access.
#pragma once

#include <Python.h>

#include "type_info.h"

namespace zalmor::frame {

// Checks an acquired buffer against `ndim` dimensions of `type`, in this order:
// the number of dimensions, the format text (when `check_format`), the item
// size, and, for a buffer of at least one byte, that every dimension is
// strided and direct (no suboffset of 0 or more). Returns 0, or -1 with a
// ValueError set. Needs the interpreter lock.
int check_buffer(const Py_buffer& buf, int ndim, const TypeInfo& type, bool check_format);

}  // namespace zalmor::frame
