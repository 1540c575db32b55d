/*
 * _zalmor_kernels: a native caller of brenthosca's scalar-valued rows (sums,
 * products, means, norms, extremes, equality and closeness tests), for the
 * tests. Rows are bound by name and exact signature through zalmor/capi.h.
 *
 *   call(row, buffers, opt)  -> (result, pending): one call with the
 *       interpreter lock held; `pending` is the exception the call left set
 *       (taken and cleared), or None.
 *   hammer(row, buffers, opt, threads, calls) -> mismatches: the interpreter
 *       lock released, `threads` new native threads (unknown to the
 *       interpreter) each call the row `calls` times on the same views and
 *       compare every result, bit for bit, with one computed beforehand.
 *
 * `buffers` is a tuple of one or two one-dimensional buffers, taken with their
 * own strides; `opt` is None or the optional-argument record as a tuple
 * (__pyx_n, fields...).
 */
#include "zalmor/capi.h"

#include <pthread.h>
#include <string.h>

typedef enum { K_I32, K_U32, K_I64, K_U64, K_F32, K_F64, K_C128, K_PAIR, K_VV, K_CLOSE, K_NORM } kind_t;

#define ROW(name, kind) {#name, ZALMOR_SIG_##name, kind}
#define FUSED(family)                                                                              \
    ROW(__pyx_fuse_0##family, K_I32), ROW(__pyx_fuse_1##family, K_U32),                            \
        ROW(__pyx_fuse_2##family, K_I64), ROW(__pyx_fuse_3##family, K_U64),                        \
        ROW(__pyx_fuse_4##family, K_F32), ROW(__pyx_fuse_5##family, K_F64),                        \
        ROW(__pyx_fuse_6##family, K_C128)
static const struct {
    const char *name, *signature;
    kind_t kind;
} ROWS[] = {
    ROW(cequal, K_VV), ROW(allclose, K_CLOSE), ROW(callclose, K_CLOSE), ROW(anyclose, K_CLOSE),
    ROW(canyclose, K_CLOSE), ROW(width, K_F64), ROW(cwidth, K_F64), ROW(norm, K_NORM),
    ROW(cnorm, K_NORM), ROW(cprod, K_C128), ROW(mean, K_F64), ROW(min, K_F64), ROW(max, K_F64),
    ROW(argmin, K_U64), ROW(argmax, K_U64), ROW(argminmax, K_PAIR),
    ROW(__pyx_fuse_0equal, K_VV), ROW(__pyx_fuse_1equal, K_VV), ROW(__pyx_fuse_2equal, K_VV),
    ROW(__pyx_fuse_3equal, K_VV), ROW(__pyx_fuse_4equal, K_VV), ROW(__pyx_fuse_5equal, K_VV),
    FUSED(sum), FUSED(prod),
};

typedef struct {
    kind_t kind;
    void *fn;
    int nviews;
    __Pyx_memviewslice views[2];
    Py_buffer buffers[2];
    int has_opt;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose close;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm norm;
} call_t;

/* Every result in one record, compared bit for bit. */
typedef struct {
    int64_t i;
    uint64_t u;
    float f;
    double d;
    zalmor_complex z;
    __pyx_ctuple_unsigned__space_long__and_unsigned__space_long pair;
} result_t;

static void call_clear(call_t *c) {
    int i;
    for (i = 0; i < c->nviews; ++i) PyBuffer_Release(&c->buffers[i]);
    c->nviews = 0;
}

static int call_prepare(const char *row, PyObject *buffers, PyObject *opt, call_t *c) {
    size_t r;
    Py_ssize_t i;
    memset(c, 0, sizeof *c);
    for (r = 0; r < sizeof ROWS / sizeof ROWS[0]; ++r)
        if (strcmp(ROWS[r].name, row) == 0) break;
    if (r == sizeof ROWS / sizeof ROWS[0]) {
        PyErr_Format(PyExc_KeyError, "unknown row %s", row);
        return -1;
    }
    c->kind = ROWS[r].kind;
    if (zalmor_capi_import(ZALMOR_MODULE_brenthosca, row, ROWS[r].signature, &c->fn) < 0) return -1;
    if (!PyTuple_Check(buffers) || PyTuple_GET_SIZE(buffers) < 1 || PyTuple_GET_SIZE(buffers) > 2) {
        PyErr_SetString(PyExc_TypeError, "buffers: a tuple of one or two buffers");
        return -1;
    }
    for (i = 0; i < PyTuple_GET_SIZE(buffers); ++i) {
        Py_buffer *b = &c->buffers[i];
        __Pyx_memviewslice *v = &c->views[i];
        int d;
        if (PyObject_GetBuffer(PyTuple_GET_ITEM(buffers, i), b, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
            call_clear(c);
            return -1;
        }
        c->nviews = (int)i + 1;
        if (b->ndim != 1) {
            call_clear(c);
            PyErr_SetString(PyExc_ValueError, "expected one-dimensional buffers");
            return -1;
        }
        v->memview = NULL; /* borrowed views: the kernels never touch the owner */
        v->data = (char *)b->buf;
        for (d = 0; d < 8; ++d) {
            v->shape[d] = 0;
            v->strides[d] = 0;
            v->suboffsets[d] = -1;
        }
        v->shape[0] = b->shape[0];
        v->strides[0] = b->strides[0];
    }
    if (opt != Py_None) {
        int ok;
        c->has_opt = 1;
        if (c->kind == K_CLOSE)
            ok = PyArg_ParseTuple(opt, "i|dd", &c->close.__pyx_n, &c->close.rtol, &c->close.atol);
        else
            ok = PyArg_ParseTuple(opt, "i|d", &c->norm.__pyx_n, &c->norm.order);
        if (!ok) {
            call_clear(c);
            return -1;
        }
    }
    return 0;
}

static void call_invoke(const call_t *c, result_t *out) {
    const __Pyx_memviewslice *v = c->views;
    memset(out, 0, sizeof *out);
    switch (c->kind) {
    case K_I32: out->i = ((zalmor_fuse_0_t)c->fn)(v[0]); break;
    case K_U32: out->u = ((zalmor_fuse_1_t)c->fn)(v[0]); break;
    case K_I64: out->i = ((zalmor_fuse_2_t)c->fn)(v[0]); break;
    case K_U64: out->u = ((zalmor_fuse_3_t)c->fn)(v[0]); break;
    case K_F32: out->f = ((zalmor_fuse_4_t)c->fn)(v[0]); break;
    case K_F64: out->d = ((zalmor_fuse_5_t)c->fn)(v[0]); break;
    case K_C128: out->z = ((zalmor_fuse_6_t)c->fn)(v[0]); break;
    case K_PAIR: out->pair = ((zalmor_argminmax_t)c->fn)(v[0]); break;
    case K_VV: out->i = ((zalmor_equal_t)c->fn)(v[0], v[1]); break;
    case K_CLOSE:
        out->i = ((zalmor_allclose_t)c->fn)(v[0], v[1], c->has_opt ? (void *)&c->close : NULL);
        break;
    case K_NORM: out->d = ((zalmor_norm_t)c->fn)(v[0], c->has_opt ? (void *)&c->norm : NULL); break;
    }
}

static PyObject *result_value(kind_t kind, const result_t *r) {
    switch (kind) {
    case K_I32: case K_I64: case K_VV: case K_CLOSE: return PyLong_FromLongLong(r->i);
    case K_U32: case K_U64: return PyLong_FromUnsignedLongLong(r->u);
    case K_F32: return PyFloat_FromDouble(r->f);
    case K_F64: case K_NORM: return PyFloat_FromDouble(r->d);
    case K_C128: return PyComplex_FromDoubles(r->z.real, r->z.imag);
    case K_PAIR:
        return Py_BuildValue("KK", (unsigned long long)r->pair.f0, (unsigned long long)r->pair.f1);
    }
    Py_RETURN_NONE;
}

static PyObject *kernels_call(PyObject *self, PyObject *args) {
    const char *row;
    PyObject *buffers, *opt = Py_None, *value, *pending = Py_None, *type, *tb;
    call_t c;
    result_t r;
    (void)self;
    if (!PyArg_ParseTuple(args, "sO|O", &row, &buffers, &opt)) return NULL;
    if (call_prepare(row, buffers, opt, &c) < 0) return NULL;
    call_invoke(&c, &r);
    call_clear(&c);
    if (PyErr_Occurred()) {
        PyErr_Fetch(&type, &pending, &tb);
        PyErr_NormalizeException(&type, &pending, &tb);
        Py_XDECREF(type);
        Py_XDECREF(tb);
    } else {
        Py_INCREF(pending);
    }
    value = result_value(c.kind, &r);
    if (value == NULL) {
        Py_DECREF(pending);
        return NULL;
    }
    return Py_BuildValue("NN", value, pending);
}

typedef struct {
    const call_t *call;
    const result_t *expected;
    long calls;
    long mismatches;
} worker_t;

static void *worker(void *arg) {
    worker_t *w = (worker_t *)arg;
    long k;
    for (k = 0; k < w->calls; ++k) {
        result_t r;
        call_invoke(w->call, &r);
        if (memcmp(&r, w->expected, sizeof r) != 0) ++w->mismatches;
    }
    return NULL;
}

#define MAX_THREADS 16

static PyObject *kernels_hammer(PyObject *self, PyObject *args) {
    const char *row;
    PyObject *buffers, *opt;
    int threads, i, started = 0;
    long calls, mismatches = 0;
    call_t c;
    result_t expected;
    pthread_t ids[MAX_THREADS];
    worker_t workers[MAX_THREADS];
    (void)self;
    if (!PyArg_ParseTuple(args, "sOOil", &row, &buffers, &opt, &threads, &calls)) return NULL;
    if (threads < 1 || threads > MAX_THREADS) {
        PyErr_SetString(PyExc_ValueError, "threads: 1 to 16");
        return NULL;
    }
    if (call_prepare(row, buffers, opt, &c) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    call_invoke(&c, &expected);
    for (i = 0; i < threads; ++i) {
        workers[i].call = &c;
        workers[i].expected = &expected;
        workers[i].calls = calls;
        workers[i].mismatches = 0;
        if (pthread_create(&ids[i], NULL, worker, &workers[i]) != 0) break;
        ++started;
    }
    for (i = 0; i < started; ++i) {
        pthread_join(ids[i], NULL);
        mismatches += workers[i].mismatches;
    }
    Py_END_ALLOW_THREADS
    call_clear(&c);
    if (started != threads) {
        PyErr_SetString(PyExc_RuntimeError, "could not start the threads");
        return NULL;
    }
    return PyLong_FromLong(mismatches);
}

static PyMethodDef kernels_methods[] = {
    {"call", kernels_call, METH_VARARGS, NULL},
    {"hammer", kernels_hammer, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef kernels_module = {
    PyModuleDef_HEAD_INIT, "_zalmor_kernels", NULL, -1, kernels_methods, NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__zalmor_kernels(void);
PyMODINIT_FUNC PyInit__zalmor_kernels(void) { return PyModule_Create(&kernels_module); }
