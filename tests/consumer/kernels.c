/*
 * _zalmor_kernels: calls rows natively for the tests, also from many threads.
 * Rows are bound by name and exact signature through zalmor/capi.h.
 *
 *   call(row, buffers, opt=None) -> (result, pending): one call of a
 *       brenthosca row with the interpreter lock held, its result as
 *       result_value() gives it; `pending` is the exception a call that
 *       returns a number left set (taken and cleared), or None. A failed
 *       call that returns a view raises its exception.
 *   hammer(module, row, buffers, opt, threads, calls, hold_gil, handoff)
 *       -> the number of wrong results; see hammer() in native_rows.h.
 *
 * `buffers` is a tuple of one or two one-dimensional buffers, taken with their
 * own strides; `opt` is None or the optional-argument record as a tuple
 * (__pyx_n, fields...).
 */
#include "native_rows.h"

static PyObject *kernels_call(PyObject *self, PyObject *args) {
    const char *row;
    PyObject *buffers, *opt = Py_None, *value, *pending = Py_None, *type, *tb;
    call_t c;
    result_t r;
    (void)self;
    if (!PyArg_ParseTuple(args, "sO|O", &row, &buffers, &opt)) return NULL;
    if (call_prepare(ZALMOR_MODULE_brenthosca, row, buffers, opt, &c) < 0) return NULL;
    if (call_once(&c, &r) < 0) {
        call_clear(&c);
        return NULL;
    }
    if (PyErr_Occurred()) {
        PyErr_Fetch(&type, &pending, &tb);
        PyErr_NormalizeException(&type, &pending, &tb);
        Py_XDECREF(type);
        Py_XDECREF(tb);
    } else {
        Py_INCREF(pending);
    }
    value = result_value(&c, &r);
    call_clear(&c);
    if (value == NULL) {
        Py_DECREF(pending);
        return NULL;
    }
    return Py_BuildValue("NN", value, pending);
}

static PyObject *kernels_hammer(PyObject *self, PyObject *args) {
    (void)self;
    return hammer(args);
}

/* rows(): the list of zalmor/capi.h, one (module, name, element, number of
 * vector arguments, writes, failure text) per row. */
static PyObject *kernels_rows(PyObject *self, PyObject *unused) {
    size_t i, count;
    const row_info *rows = row_table(&count), *info;
    kind_t kind;
    PyObject *out = PyList_New(0), *item;
    (void)self;
    (void)unused;
    if (out == NULL) return NULL;
    for (i = 0; i < count; ++i) {
        if (row_find(rows[i].name, &info, &kind) < 0) goto fail;
        item = Py_BuildValue("sssiis", info->module, info->name, info->element, kind_views(kind),
                             info->writes, info->failure_text);
        if (item == NULL || PyList_Append(out, item) < 0) {
            Py_XDECREF(item);
            goto fail;
        }
        Py_DECREF(item);
    }
    return out;
fail:
    Py_DECREF(out);
    return NULL;
}

static PyMethodDef kernels_methods[] = {
    {"call", kernels_call, METH_VARARGS, NULL},
    {"rows", kernels_rows, METH_NOARGS, NULL},
    {"hammer", kernels_hammer, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef kernels_module = {
    PyModuleDef_HEAD_INIT, "_zalmor_kernels", NULL, -1, kernels_methods, NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__zalmor_kernels(void);
PyMODINIT_FUNC PyInit__zalmor_kernels(void) { return PyModule_Create(&kernels_module); }
