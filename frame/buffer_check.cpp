#include "buffer_check.h"

#include <string>

#include "buffer_format.h"
#include "errors.h"

namespace zalmor::frame {

int check_buffer(const Py_buffer& buf, int ndim, const TypeInfo& type, bool check_format) {
    if (buf.ndim != ndim) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)", ndim,
                     buf.ndim);
        return -1;
    }
    if (check_format) {
        const std::string problem = check_buffer_format(buf.format != nullptr ? buf.format : "B", type);
        if (!problem.empty()) {
            set_value_error(problem);
            return -1;
        }
    }
    if (static_cast<std::size_t>(buf.itemsize) != type.size) {
        PyErr_Format(PyExc_ValueError,
                     "Item size of buffer (%zu byte%s) does not match size of '%s' (%zu byte%s)",
                     static_cast<std::size_t>(buf.itemsize), buf.itemsize > 1 ? "s" : "", type.name,
                     type.size, type.size > 1 ? "s" : "");
        return -1;
    }
    if (buf.len > 0 && buf.suboffsets != nullptr) {
        for (int d = 0; d < ndim; ++d) {
            if (buf.strides == nullptr) {
                PyErr_SetString(PyExc_ValueError, "Buffer exposes suboffsets but no strides");
                return -1;
            }
            if (buf.suboffsets[d] >= 0) {
                PyErr_Format(PyExc_ValueError, "Buffer not compatible with direct access in dimension %d.", d);
                return -1;
            }
        }
    }
    return 0;
}

int buffer_layout(const Py_buffer& buf, Layout& out) {
    if (layout_of_buffer(static_cast<char*>(buf.buf), buf.len, buf.itemsize, buf.ndim, buf.shape, buf.strides,
                         out)) {
        return 0;
    }
    if (buf.ndim < 0 || buf.ndim > kMaxDims) {
        PyErr_Format(PyExc_BufferError, "Buffer has %d dimensions; at most %d are supported", buf.ndim,
                     kMaxDims);
    } else {
        PyErr_Format(PyExc_BufferError, "Buffer gives no shape for its %d dimensions", buf.ndim);
    }
    return -1;
}

}  // namespace zalmor::frame
