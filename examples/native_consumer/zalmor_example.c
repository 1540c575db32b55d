/*
 * zalmor_example: an extension module of its own that calls zalmor's native
 * rows through zalmor/capi.h. The header is all it needs: nothing to link.
 *
 *   norm(x, order=2.0)          brenthosca's norm of a float64 vector
 *   roots(x)                    brenthosca's sqrt, as a list
 *   ranking(x, descending=False)  brenthosca's argsort, as a list
 *   grid(sizes)                 pondistra's product of uint32 sizes, as a list of rows
 *   solve(A, b=None, method="solve")  quillemora's inv (A^-1 b; A^-1 without b)
 */
#include <math.h>

#include <zalmor/capi.h>

/* Every row of the three modules, bound once at import. */
static struct zalmor_brenthosca_api brenthosca;
static struct zalmor_pondistra_api pondistra;
static struct zalmor_quillemora_api quillemora;

/* A borrowed view of the one-dimensional buffer of `obj`, whose elements must
 * have the format `format`: the rows do not check element types, so we do.
 * On success the caller releases `buffer` after the last call with `view`. */
static int vector_of(PyObject *obj, const char *format, Py_buffer *buffer, __Pyx_memviewslice *view) {
    if (PyObject_GetBuffer(obj, buffer, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return -1;
    if (strcmp(buffer->format, format) != 0) {
        PyErr_Format(PyExc_TypeError, "expected elements of format '%s', got '%s'", format, buffer->format);
        PyBuffer_Release(buffer);
        return -1;
    }
    if (zalmor_view_from_buffer(buffer, view) < 0) { /* not one-dimensional: ValueError */
        PyBuffer_Release(buffer);
        return -1;
    }
    return 0;
}

/* A reduction with its optional-argument record. norm cannot report a
 * failure (it would print it and give 0.0), so the one case where it fails,
 * an empty vector in an infinite order, is refused before the call. */
static PyObject *example_norm(PyObject *self, PyObject *args) {
    PyObject *obj;
    Py_buffer buffer;
    __Pyx_memviewslice xs;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm opt = {1, ZALMOR_NORM_DEFAULT_ORDER};
    double result;
    (void)self;
    if (!PyArg_ParseTuple(args, "O|d", &obj, &opt.order)) return NULL;
    if (vector_of(obj, "d", &buffer, &xs) < 0) return NULL;
    if (xs.shape[0] == 0 && isinf(opt.order)) {
        PyBuffer_Release(&buffer);
        PyErr_SetString(PyExc_ValueError, "the largest or smallest of no elements");
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS /* brenthosca's rows run without the lock */
    result = brenthosca.norm(xs, &opt);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&buffer);
    return PyFloat_FromDouble(result);
}

/* The elements of a one-dimensional view as a list: `kind` 'd' for doubles,
 * 'L' for unsigned 64-bit and 'I' for unsigned 32-bit integers. */
static PyObject *list_of(const __Pyx_memviewslice *view, char kind) {
    Py_ssize_t i;
    PyObject *list = PyList_New(view->shape[0]), *item;
    for (i = 0; list != NULL && i < view->shape[0]; ++i) {
        const char *at = view->data + i * view->strides[0];
        item = kind == 'd'   ? PyFloat_FromDouble(*(const double *)at)
               : kind == 'L' ? PyLong_FromUnsignedLongLong(*(const uint64_t *)at)
                             : PyLong_FromUnsignedLong(*(const uint32_t *)at);
        if (item == NULL) Py_CLEAR(list);
        else PyList_SET_ITEM(list, i, item);
    }
    return list;
}

/* A map: the result is a new view that we own and release. */
static PyObject *example_roots(PyObject *self, PyObject *obj) {
    Py_buffer buffer;
    __Pyx_memviewslice xs, roots;
    PyObject *list;
    (void)self;
    if (vector_of(obj, "d", &buffer, &xs) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    roots = brenthosca.sqrt(xs);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&buffer);
    if (roots.memview == NULL) return NULL; /* failed: the exception is set */
    list = list_of(&roots, 'd');
    zalmor_view_release(&roots);
    return list;
}

/* argsort with its record {__pyx_n, reverse}. */
static PyObject *example_ranking(PyObject *self, PyObject *args) {
    PyObject *obj, *list;
    int descending = 0;
    Py_buffer buffer;
    __Pyx_memviewslice xs, positions;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort opt = {1, 0};
    (void)self;
    if (!PyArg_ParseTuple(args, "O|p", &obj, &descending)) return NULL;
    opt.reverse = descending;
    if (vector_of(obj, "d", &buffer, &xs) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    positions = brenthosca.argsort(xs, &opt);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&buffer);
    if (positions.memview == NULL) return NULL;
    list = list_of(&positions, 'L');
    zalmor_view_release(&positions);
    return list;
}

/* pondistra's product: a new (R, k) view of uint32 (runs under the lock),
 * returned as a list of rows, each read through a view of its own. */
static PyObject *example_grid(PyObject *self, PyObject *obj) {
    Py_buffer buffer;
    __Pyx_memviewslice sizes, table, row;
    PyObject *rows, *item;
    Py_ssize_t i;
    (void)self;
    if (vector_of(obj, "I", &buffer, &sizes) < 0) return NULL;
    table = pondistra.product(sizes, 0);
    PyBuffer_Release(&buffer);
    if (table.memview == NULL) return NULL;
    rows = PyList_New(table.shape[0]);
    row = table;
    row.shape[0] = table.shape[1];
    row.strides[0] = table.strides[1];
    for (i = 0; rows != NULL && i < table.shape[0]; ++i) {
        row.data = table.data + i * table.strides[0];
        if ((item = list_of(&row, 'I')) == NULL) Py_CLEAR(rows);
        else PyList_SET_ITEM(rows, i, item);
    }
    zalmor_view_release(&table);
    return rows;
}

/* quillemora's inv with a method by name: its record {__pyx_n, b, method}. */
static PyObject *example_solve(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"A", "b", "method", NULL};
    static const struct {
        const char *name;
        int number;
    } methods[] = {{"inv", ZALMOR_INV_INV}, {"solve", ZALMOR_INV_SOLVE}, {"lu", ZALMOR_INV_LU},
                   {"pinv", ZALMOR_INV_PINV}, {"lstsq", ZALMOR_INV_LSTSQ}};
    struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv opt = {2, Py_None, ZALMOR_INV_DEFAULT_METHOD, 0};
    PyObject *A;
    const char *method = "solve";
    size_t i;
    (void)self;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Os", (char **)keywords, &A, &opt.b, &method))
        return NULL;
    for (i = 0; i < sizeof methods / sizeof methods[0]; ++i)
        if (strcmp(methods[i].name, method) == 0) {
            opt.method = methods[i].number;
            return quillemora.inv(A, &opt); /* a new reference, or NULL with the exception */
        }
    return PyErr_Format(PyExc_ValueError, "unknown method '%s'", method);
}

static PyMethodDef example_methods[] = {
    {"norm", example_norm, METH_VARARGS, "norm(x, order=2.0): the vector norm of a float64 vector."},
    {"roots", example_roots, METH_O, "roots(x): the square roots of a float64 vector, as a list."},
    {"ranking", example_ranking, METH_VARARGS, "ranking(x, descending=False): the positions that sort x."},
    {"grid", example_grid, METH_O, "grid(sizes): every index tuple of the uint32 ranges `sizes`."},
    {"solve", (PyCFunction)(void (*)(void))example_solve, METH_VARARGS | METH_KEYWORDS,
     "solve(A, b=None, method='solve'): A^-1 b, or A^-1 (method: inv, solve, lu, pinv, lstsq)."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef example_module = {
    PyModuleDef_HEAD_INIT, "zalmor_example", "Calls zalmor's native rows through zalmor/capi.h.", -1,
    example_methods, NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit_zalmor_example(void);
PyMODINIT_FUNC PyInit_zalmor_example(void) {
    /* Like NumPy's import_array: check zalmor's C API version, bind every row. */
    if (zalmor_import_brenthosca(&brenthosca) < 0 || zalmor_import_pondistra(&pondistra) < 0 ||
        zalmor_import_quillemora(&quillemora) < 0)
        return NULL;
    return PyModule_Create(&example_module);
}
