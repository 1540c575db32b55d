/*
 * A native caller of zalmor's rows, written the way the package's other native
 * modules are: it includes only zalmor/capi.h and binds rows by name and
 * signature. Compiled both as C and as C++ (CONSUMER_NAME picks the module name).
 */
#include "zalmor/capi.h"

#ifndef CONSUMER_NAME
#error "CONSUMER_NAME must name the module"
#endif
#define CONSUMER_STR2(x) #x
#define CONSUMER_STR(x) CONSUMER_STR2(x)
#define CONSUMER_CAT2(a, b) a##b
#define CONSUMER_CAT(a, b) CONSUMER_CAT2(a, b)

/* bind(module_name, row, signature): binds one row through the header's helper
 * and returns its address as an int. */
static PyObject *consumer_bind(PyObject *self, PyObject *args) {
    const char *module_name, *row, *signature;
    void *slot = NULL;
    (void)self;
    if (!PyArg_ParseTuple(args, "sss", &module_name, &row, &signature)) return NULL;
    if (zalmor_capi_import(module_name, row, signature, &slot) < 0) return NULL;
    return PyLong_FromVoidPtr(slot);
}

/* A borrowed view record over a one-dimensional buffer. The owner field holds
 * the exporting object, which the kernels never touch. */
static int view_of(PyObject *obj, Py_buffer *buffer, __Pyx_memviewslice *view) {
    int i;
    if (PyObject_GetBuffer(obj, buffer, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return -1;
    if (buffer->ndim != 1) {
        PyBuffer_Release(buffer);
        PyErr_SetString(PyExc_ValueError, "expected a one-dimensional buffer");
        return -1;
    }
    view->memview = (struct __pyx_memoryview_obj *)obj;
    view->data = (char *)buffer->buf;
    for (i = 0; i < 8; ++i) {
        view->shape[i] = 0;
        view->strides[i] = 0;
        view->suboffsets[i] = -1;
    }
    view->shape[0] = buffer->shape[0];
    view->strides[0] = buffer->strides[0];
    return 0;
}

/* prod_u32(buffer): brenthosca's unsigned int product, bound with ZALMOR_IMPORT. */
static PyObject *consumer_prod_u32(PyObject *self, PyObject *obj) {
    zalmor_fuse_1_t prod;
    Py_buffer buffer;
    __Pyx_memviewslice view;
    unsigned int result;
    (void)self;
    if (ZALMOR_IMPORT(brenthosca, __pyx_fuse_1prod, &prod) < 0) return NULL;
    if (view_of(obj, &buffer, &view) < 0) return NULL;
    result = prod(view);
    PyBuffer_Release(&buffer);
    return PyLong_FromUnsignedLong(result);
}

/* prod_c128(buffer): the complex product, returned as a Python complex. */
static PyObject *consumer_prod_c128(PyObject *self, PyObject *obj) {
    zalmor_fuse_6_t prod;
    Py_buffer buffer;
    __Pyx_memviewslice view;
    __pyx_t_double_complex result;
    (void)self;
    if (ZALMOR_IMPORT(brenthosca, __pyx_fuse_6prod, &prod) < 0) return NULL;
    if (view_of(obj, &buffer, &view) < 0) return NULL;
    result = prod(view);
    PyBuffer_Release(&buffer);
    return PyComplex_FromDoubles(result.real, result.imag);
}

/* isclose(a, b, n, rtol, atol): hemvarinto's scalar test with a record of n fields. */
static PyObject *consumer_isclose(PyObject *self, PyObject *args) {
    zalmor_isclose_t isclose;
    struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose opt;
    double a, b;
    (void)self;
    if (!PyArg_ParseTuple(args, "ddidd", &a, &b, &opt.__pyx_n, &opt.rtol, &opt.atol)) return NULL;
    if (ZALMOR_IMPORT(hemvarinto, isclose, &isclose) < 0) return NULL;
    return PyBool_FromLong(isclose(a, b, &opt));
}

static PyMethodDef consumer_methods[] = {
    {"bind", consumer_bind, METH_VARARGS, NULL},
    {"prod_u32", consumer_prod_u32, METH_O, NULL},
    {"prod_c128", consumer_prod_c128, METH_O, NULL},
    {"isclose", consumer_isclose, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef consumer_module = {
    PyModuleDef_HEAD_INIT, CONSUMER_STR(CONSUMER_NAME), NULL, -1, consumer_methods,
    NULL, NULL, NULL, NULL,
};

#ifdef __cplusplus
extern "C"
#endif
PyMODINIT_FUNC CONSUMER_CAT(PyInit_, CONSUMER_NAME)(void);

PyMODINIT_FUNC CONSUMER_CAT(PyInit_, CONSUMER_NAME)(void) { return PyModule_Create(&consumer_module); }
