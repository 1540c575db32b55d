#include "ops/quillemora/matrix_buffer.h"

#include "frame/buffer_check.h"
#include "frame/type_info.h"

namespace zalmor::quillemora {
namespace {

// Strides and format; no contiguity and no writability asked for.
constexpr int kRequestFlags = PyBUF_FORMAT | PyBUF_STRIDES;

}  // namespace

int MatrixBuffer::acquire(PyObject* matrix) {
    release();
    if (PyObject_GetBuffer(matrix, &buffer_, kRequestFlags) < 0) return -1;
    held_ = true;
    // NumPy gives float64 items the format "d", which needs no parsing.
    const char* format = buffer_.format;
    const bool plain = format != nullptr && format[0] == 'd' && format[1] == '\0';
    if (frame::check_buffer(buffer_, 2, frame::kFloat64, !plain) < 0) {
        release();
        return -1;
    }
    return 0;
}

void MatrixBuffer::release() noexcept {
    if (!held_) return;
    held_ = false;
    // The exporter's release hook runs with any pending error set aside.
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyBuffer_Release(&buffer_);
    PyErr_Restore(type, value, tb);
}

}  // namespace zalmor::quillemora
