/*
 * A native caller of brenthosca's ordering rows (sort, argsort, permute), each
 * bound into a typed pointer with ZALMOR_IMPORT. The rows are called with the
 * interpreter lock released, as native callers may call them.
 */
#include "native_rows.h"

#ifndef CONSUMER_NAME
#error "CONSUMER_NAME must name the module"
#endif

static zalmor_sort_t sort_row;
static zalmor_argsort_t argsort_row;
static zalmor_permute_t permute_row;

static int bind_rows(void) {
    if (sort_row != NULL) return 0;
    if (ZALMOR_IMPORT(brenthosca, sort, &sort_row) < 0 || ZALMOR_IMPORT(brenthosca, argsort, &argsort_row) < 0
        || ZALMOR_IMPORT(brenthosca, permute, &permute_row) < 0) {
        sort_row = NULL;
        return -1;
    }
    return 0;
}

/* sort(buffer): sorts a writable one-dimensional double buffer in place. */
static PyObject *consumer_sort(PyObject *self, PyObject *obj) {
    Py_buffer buffer;
    __Pyx_memviewslice view;
    (void)self;
    if (bind_rows() < 0 || view_of(obj, 1, &buffer, &view) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    sort_row(view);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&buffer);
    if (PyErr_Occurred()) return NULL; /* sort reports nothing */
    Py_RETURN_NONE;
}

static PyObject *call_argsort(__Pyx_memviewslice view, PyObject *record) {
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort opt = {0, 0};
    __Pyx_memviewslice result;
    int given = record != Py_None;
    if (given && !PyArg_ParseTuple(record, "ii", &opt.__pyx_n, &opt.reverse)) return NULL;
    Py_BEGIN_ALLOW_THREADS
    result = argsort_row(view, given ? &opt : NULL);
    Py_END_ALLOW_THREADS
    return hold_view(result);
}

/* argsort(buffer, record): record None passes no optional-argument record,
 * else (__pyx_n, reverse). */
static PyObject *consumer_argsort(PyObject *self, PyObject *args) {
    PyObject *obj, *record, *held;
    Py_buffer buffer;
    __Pyx_memviewslice view;
    (void)self;
    if (!PyArg_ParseTuple(args, "OO", &obj, &record)) return NULL;
    if (bind_rows() < 0 || view_of(obj, 0, &buffer, &view) < 0) return NULL;
    held = call_argsort(view, record);
    PyBuffer_Release(&buffer);
    return held;
}

/* argsort_extent(n): argsort of a record that claims n elements at no memory,
 * for the failures that come before any element is read. */
static PyObject *consumer_argsort_extent(PyObject *self, PyObject *arg) {
    __Pyx_memviewslice view;
    int i;
    (void)self;
    memset(&view, 0, sizeof view);
    for (i = 0; i < 8; ++i) view.suboffsets[i] = -1;
    view.shape[0] = PyLong_AsSsize_t(arg);
    view.strides[0] = 8;
    if (view.shape[0] == -1 && PyErr_Occurred()) return NULL;
    if (bind_rows() < 0) return NULL;
    return call_argsort(view, Py_None);
}

/* permute(xs, positions) */
static PyObject *consumer_permute(PyObject *self, PyObject *args) {
    PyObject *xs, *positions;
    Py_buffer xs_buffer, positions_buffer;
    __Pyx_memviewslice xs_view, positions_view, result;
    (void)self;
    if (!PyArg_ParseTuple(args, "OO", &xs, &positions)) return NULL;
    if (bind_rows() < 0 || view_of(xs, 0, &xs_buffer, &xs_view) < 0) return NULL;
    if (view_of(positions, 0, &positions_buffer, &positions_view) < 0) {
        PyBuffer_Release(&xs_buffer);
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS
    result = permute_row(xs_view, positions_view);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&xs_buffer);
    PyBuffer_Release(&positions_buffer);
    return hold_view(result);
}

static PyMethodDef consumer_methods[] = {
    {"sort", consumer_sort, METH_O, NULL},
    {"argsort", consumer_argsort, METH_VARARGS, NULL},
    {"argsort_extent", consumer_argsort_extent, METH_O, NULL},
    {"permute", consumer_permute, METH_VARARGS, NULL},
    HELD_VIEW_METHODS,
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef consumer_module = {
    PyModuleDef_HEAD_INIT, CONSUMER_STR(CONSUMER_NAME), NULL, -1, consumer_methods,
    NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC CONSUMER_CAT(PyInit_, CONSUMER_NAME)(void);

PyMODINIT_FUNC CONSUMER_CAT(PyInit_, CONSUMER_NAME)(void) { return PyModule_Create(&consumer_module); }
