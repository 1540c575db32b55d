#include "ops/quillemora/matrix_tests.h"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/ndarraytypes.h>

#include "frame/errors.h"
#include "frame/ref.h"
#include "ops/quillemora/globals.h"
#include "ops/quillemora/matrix_buffer.h"

namespace zalmor::quillemora {
namespace {

using frame::Ref;

constexpr const char* kSquareQualname = "zalmor.ops.quillemora.is_square";
constexpr const char* kSingularQualname = "zalmor.ops.quillemora.is_singular";

// Truth of a comparison's result: True 1, False and None 0, else its truth value.
int truth(PyObject* value) {
    if (value == Py_True) return 1;
    if (value == Py_False || value == Py_None) return 0;
    return PyObject_IsTrue(value);
}

// The body of is_singular; -1 with an exception set on failure.
int singular(PyObject* matrix) {
    MatrixBuffer buffer;
    if (buffer.acquire(matrix) < 0) return -1;

    Ref cond = Ref::steal(global_attr(names.np, names.linalg, names.cond));
    if (!cond) return -1;
    Ref condition = Ref::steal(PyObject_CallOneArg(cond.get(), matrix));
    if (!condition) return -1;

    Ref np = Ref::steal(lookup_global(names.np));
    if (!np) return -1;
    Ref finfo = Ref::steal(PyObject_GetAttr(np.get(), names.finfo));
    if (!finfo) return -1;
    Ref dtype = Ref::steal(PyObject_GetAttr(matrix, names.dtype));
    if (!dtype) return -1;
    Ref info = Ref::steal(PyObject_CallOneArg(finfo.get(), dtype.get()));
    if (!info) return -1;
    Ref eps = Ref::steal(PyObject_GetAttr(info.get(), names.eps));
    if (!eps) return -1;

    Ref threshold = Ref::steal(PyNumber_TrueDivide(names.one, eps.get()));
    if (!threshold) return -1;
    Ref above = Ref::steal(PyObject_RichCompare(condition.get(), threshold.get(), Py_GT));
    if (!above) return -1;
    return truth(above.get());
}

}  // namespace

int is_square(PyObject* matrix) noexcept {
    MatrixBuffer buffer;
    if (buffer.acquire(matrix) < 0) {
        buffer.release();
        frame::report_unraisable(kSquareQualname);
        return 0;
    }
    const npy_intp* shape = PyArray_DIMS(reinterpret_cast<PyArrayObject*>(matrix));
    return shape[0] == shape[1] ? 1 : 0;
}

int is_singular(PyObject* matrix) noexcept {
    const int result = singular(matrix);
    if (result < 0) {
        frame::report_unraisable(kSingularQualname);
        return 0;
    }
    return result;
}

}  // namespace zalmor::quillemora
