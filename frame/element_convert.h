// Conversion of single elements between Python objects and view memory.
#pragma once

#include <Python.h>

#include "type_info.h"

namespace zalmor::frame {

using ToObject = PyObject* (*)(const char* item);
using FromObject = int (*)(char* item, PyObject* value);  // 0, or -1 with an exception

struct ElementConverters {
    ToObject to_object;
    FromObject from_object;
};

// The converters for a scalar element type of this package (integers of 4 or 8
// bytes, double, double complex); null converters for any other type.
ElementConverters converters_for(const TypeInfo& type) noexcept;

}  // namespace zalmor::frame
