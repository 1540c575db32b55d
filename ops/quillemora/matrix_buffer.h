// A matrix argument taken as a two-dimensional buffer of float64 items, held
// while a function runs and released when it returns, on every path.
#pragma once

#include <Python.h>

namespace zalmor::quillemora {

class MatrixBuffer {
public:
    MatrixBuffer() noexcept = default;
    MatrixBuffer(const MatrixBuffer&) = delete;
    MatrixBuffer& operator=(const MatrixBuffer&) = delete;
    ~MatrixBuffer() { release(); }

    // Requests the buffer of `matrix` with strides and format only (any
    // strides, read-only accepted) and checks it: two dimensions, format of a
    // native 8-byte float, item size 8, direct access. Returns 0, or -1 with a
    // ValueError (or the exporter's error) set and nothing held.
    int acquire(PyObject* matrix);
    void release() noexcept;

private:
    Py_buffer buffer_{};
    bool held_ = false;
};

}  // namespace zalmor::quillemora
