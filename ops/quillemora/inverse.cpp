#include "ops/quillemora/inverse.h"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/ndarraytypes.h>

#include <cstddef>
#include <source_location>

#include "frame/compat.h"
#include "frame/errors.h"
#include "frame/gil.h"
#include "frame/module.h"
#include "frame/numpy_types.h"
#include "frame/ref.h"
#include "ops/quillemora/globals.h"
#include "ops/quillemora/matrix_buffer.h"
#include "ops/quillemora/matrix_tests.h"

namespace zalmor::quillemora {
namespace {

using frame::Ref;

constexpr const char* kQualname = "zalmor.ops.quillemora.inv";

// A value about to become the result must be None or an ndarray (subclasses
// included); returns `value`, or null with TypeError (dropping `value`).
PyObject* checked(PyObject* value) {
    if (value == nullptr || value == Py_None) return value;
    PyTypeObject* ndarray = frame::ndarray_type();
    if (PyObject_TypeCheck(value, ndarray)) return value;
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(value)->tp_name,
                 ndarray->tp_name);
    Py_DECREF(value);
    return nullptr;
}

PyObject* call1(PyObject* fn, PyObject* a) { return PyObject_CallOneArg(fn, a); }

PyObject* call2(PyObject* fn, PyObject* a, PyObject* b) {
    PyObject* args[] = {a, b};
    return PyObject_Vectorcall(fn, args, 2, nullptr);
}

// The state of one call.
struct Call {
    PyObject* A;  // borrowed, an ndarray
    PyObject* b;  // borrowed, None when absent
    std::size_t m;

    // b, or np.eye(m) when b is None: a new reference.
    PyObject* rhs() const {
        if (b != Py_None) return Py_NewRef(b);
        Ref np = Ref::steal(lookup_global(names.np));
        if (!np) return nullptr;
        Ref eye = Ref::steal(PyObject_GetAttr(np.get(), names.eye));
        if (!eye) return nullptr;
        Ref order = Ref::steal(PyLong_FromSize_t(m));
        if (!order) return nullptr;
        return call1(eye.get(), order.get());
    }

    // `result`, then `result.dot(b)` when b is given; each value is checked.
    PyObject* times_b(PyObject* result) const {
        result = checked(result);
        if (result == nullptr || b == Py_None) return result;
        Ref left = Ref::steal(result);
        // The slot before the arguments is scratch space the callee may use.
        PyObject* args[] = {nullptr, left.get(), b};
        return checked(
            PyObject_VectorcallMethod(names.dot, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }

    // Method 0: sp.linalg.inv(A), then .dot(b).
    PyObject* inverse() const {
        Ref fn = Ref::steal(global_attr(names.sp, names.linalg, names.inv));
        if (!fn) return nullptr;
        return times_b(call1(fn.get(), A));
    }

    // Method 1: sp.linalg.solve(A, rhs).
    PyObject* solve() const {
        Ref fn = Ref::steal(global_attr(names.sp, names.linalg, names.solve));
        if (!fn) return nullptr;
        Ref right = Ref::steal(rhs());
        if (!right) return nullptr;
        return checked(call2(fn.get(), A, right.get()));
    }

    // Method 2: sp.linalg.lu_solve(sp.linalg.lu_factor(A), rhs).
    PyObject* lu() const {
        Ref lu_solve = Ref::steal(global_attr(names.sp, names.linalg, names.lu_solve));
        if (!lu_solve) return nullptr;
        Ref lu_factor = Ref::steal(global_attr(names.sp, names.linalg, names.lu_factor));
        if (!lu_factor) return nullptr;
        Ref factors = Ref::steal(call1(lu_factor.get(), A));
        if (!factors) return nullptr;
        Ref right = Ref::steal(rhs());
        if (!right) return nullptr;
        return checked(call2(lu_solve.get(), factors.get(), right.get()));
    }

    // Method 3: sp.linalg.pinv(A), then .dot(b).
    PyObject* pseudo_inverse() const {
        Ref fn = Ref::steal(global_attr(names.sp, names.linalg, names.pinv));
        if (!fn) return nullptr;
        return times_b(call1(fn.get(), A));
    }

    // Method 4: sp.linalg.lstsq(A, rhs)[0].
    PyObject* least_squares() const {
        Ref fn = Ref::steal(global_attr(names.sp, names.linalg, names.lstsq));
        if (!fn) return nullptr;
        Ref right = Ref::steal(rhs());
        if (!right) return nullptr;
        Ref solution = Ref::steal(call2(fn.get(), A, right.get()));
        if (!solution) return nullptr;
        return checked(PyObject_GetItem(solution.get(), names.zero));
    }

    // Whether a direct method may run: square, and then not singular. The
    // test runs whatever `force` says; `force` only decides where a failed
    // test leads.
    bool usable() const { return is_square(A) && !is_singular(A); }

    PyObject* run(int method, bool force) const {
        const int requested = method;
        if (method == ZALMOR_INV_INV) {
            if (usable() || force) return inverse();
            method = ZALMOR_INV_SOLVE;
        }
        if (method == ZALMOR_INV_SOLVE) {
            if (usable() || force) return solve();
            method = ZALMOR_INV_PINV;
        } else if (method == ZALMOR_INV_LU) {
            if (usable() || force) return lu();
            method = ZALMOR_INV_PINV;
        }
        if (method == ZALMOR_INV_PINV) return pseudo_inverse();
        if (method == ZALMOR_INV_LSTSQ) return least_squares();
        return not_implemented(requested);
    }

    static PyObject* not_implemented(int method) {
        Ref text = Ref::steal(PyUnicode_FromFormat("No implementation for method=%d.", method));
        if (!text) return nullptr;
        Ref error = Ref::steal(call1(frame::builtin("NotImplementedError"), text.get()));
        if (!error) return nullptr;
        if (PyExceptionInstance_Check(error.get())) {
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
        } else {
            PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        }
        return nullptr;
    }
};

// Adds inv's traceback entry, at the place of the failure, to the pending error.
PyObject* fail(std::source_location where = std::source_location::current()) {
    frame::add_traceback(kQualname, where);
    return nullptr;
}

}  // namespace

PyObject* inv(PyObject* A, __pyx_opt_args_6zalmor_3ops_10quillemora_inv* opt) {
    // Holds the interpreter lock throughout; a native caller without it gets
    // it taken here (and one that holds it sees no change).
    frame::GilGuard gil;
    // Only a NumPy array has the dimension fields read below.
    PyTypeObject* ndarray = frame::ndarray_type();
    if (A == nullptr || !PyObject_TypeCheck(A, ndarray)) {
        PyErr_Format(PyExc_TypeError, "Argument 'A' has incorrect type (expected %.200s, got %.200s)",
                     ndarray->tp_name, A == nullptr ? "NULL" : Py_TYPE(A)->tp_name);
        return fail();
    }
    PyObject* b = Py_None;
    int method = ZALMOR_INV_DEFAULT_METHOD;
    bool force = ZALMOR_INV_DEFAULT_FORCE != 0;
    if (opt != nullptr && opt->__pyx_n > 0) {
        if (opt->b != nullptr) b = opt->b;  // a null b counts as None
        if (opt->__pyx_n > 1) method = opt->method;
        if (opt->__pyx_n > 2) force = opt->force != 0;
    }

    MatrixBuffer buffer;
    if (buffer.acquire(A) < 0) return fail();
    const Call call{A, b, static_cast<std::size_t>(PyArray_DIMS(reinterpret_cast<PyArrayObject*>(A))[0])};
    PyObject* result = call.run(method, force);
    buffer.release();
    return result != nullptr ? result : fail();
}

}  // namespace zalmor::quillemora
