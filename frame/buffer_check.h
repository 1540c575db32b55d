// The checks a buffer passes before its memory is used as items of a known
// element type: number of dimensions, format text, item size, direct access;
// and the full layout of a buffer whose exporter left shape or strides out.
#pragma once

#include <Python.h>

#include "type_info.h"
#include "view_layout.h"

namespace zalmor::frame {

// Checks an acquired buffer against `ndim` dimensions of `type`, in this order:
// the number of dimensions, the format text (when `check_format`), the item
// size, and, for a buffer of at least one byte, that every dimension is
// strided and direct (no suboffset of 0 or more). Returns 0, or -1 with a
// ValueError set. Needs the interpreter lock.
int check_buffer(const Py_buffer& buf, int ndim, const TypeInfo& type, bool check_format);

// Fills `out` with the layout of `buf` (see layout_of_buffer: no strides means
// C-contiguous). Returns 0, or -1 with a BufferError set when the description
// gives no layout.
int buffer_layout(const Py_buffer& buf, Layout& out);

}  // namespace zalmor::frame
