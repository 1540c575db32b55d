/*
 * _zalmor_bench: times zalmor's native rows from native code, the way the
 * package's other extension modules call them. Each row is bound by name and
 * signature through zalmor/capi.h and called in a plain C loop, so the figures
 * carry no interpreter cost per call. The module also measures the machine's
 * own bounds: read and write bandwidth, and the latency of a strictly ordered
 * double sum. bench/run.py builds and drives it.
 *
 * A call is described by the module and row names, a tuple of one or two
 * one-dimensional buffers (for quillemora's inv: the matrix) and, for rows
 * with an optional-argument record, a tuple of the record's fields. How the row is called (its kind) follows from
 * its signature, which is bound exactly as the header gives it.
 */
#include "zalmor/capi.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

/* ---- rows ------------------------------------------------------------- */

/* The C shapes of the rows. */
typedef enum {
    K_MAP,      /* view (view)                     sign, fabs, sqrt, ...       */
    K_I32,      /* int (view)                      __pyx_fuse_0sum/prod        */
    K_U32,      /* unsigned int (view)                                         */
    K_I64,      /* long (view)                                                 */
    K_U64,      /* unsigned long (view)            also argmin, argmax         */
    K_F32,      /* float (view)                                                */
    K_F64,      /* double (view)                   also mean, min, width, ...  */
    K_C128,     /* complex (view)                  also cprod                  */
    K_PAIR,     /* (u64, u64) (view)               argminmax                   */
    K_VV_INT,   /* int (view, view)                equal instances, cequal     */
    K_CLOSE,    /* int (view, view, {n, rtol, atol})  allclose and kin         */
    K_NORM,     /* double (view, {n, order})       norm, cnorm                 */
    K_VV_VIEW,  /* view (view, view)               permute                     */
    K_ARGSORT,  /* view (view, {n, reverse})       argsort                     */
    K_SORT,     /* void (view), in place: the input is restored before each call */
    K_PRODUCT,  /* view (view, int skip_dispatch)  pondistra's product         */
    K_INV,      /* object (array, {n, b, method, force})  quillemora's inv     */
    K_COUNT
} kind_t;

static const char *const KIND_NAMES[K_COUNT] = {
    "map", "i32", "u32", "i64", "u64", "f32", "f64", "c128", "pair",
    "vv_int", "close", "norm", "vv_view", "argsort", "sort", "product", "inv",
};

/* Every row this module can call: its signature string from the header and
 * the shape it is called with, which follows from the signature. */
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
    ROW(cequal, K_VV_INT), ROW(allclose, K_CLOSE), ROW(callclose, K_CLOSE),
    ROW(anyclose, K_CLOSE), ROW(canyclose, K_CLOSE),
    ROW(sign, K_MAP), ROW(csign, K_MAP), ROW(fabs, K_MAP), ROW(cabs, K_MAP),
    ROW(sqrt, K_MAP), ROW(csqrt, K_MAP),
    ROW(width, K_F64), ROW(cwidth, K_F64), ROW(mean, K_F64), ROW(min, K_F64), ROW(max, K_F64),
    ROW(norm, K_NORM), ROW(cnorm, K_NORM), ROW(permute, K_VV_VIEW), ROW(cprod, K_C128),
    ROW(argmin, K_U64), ROW(argmax, K_U64), ROW(argminmax, K_PAIR),
    ROW(sort, K_SORT), ROW(argsort, K_ARGSORT),
    ROW(__pyx_fuse_0equal, K_VV_INT), ROW(__pyx_fuse_1equal, K_VV_INT),
    ROW(__pyx_fuse_2equal, K_VV_INT), ROW(__pyx_fuse_3equal, K_VV_INT),
    ROW(__pyx_fuse_4equal, K_VV_INT), ROW(__pyx_fuse_5equal, K_VV_INT),
    FUSED(sum), FUSED(prod),
    ROW(product, K_PRODUCT),
    ROW(inv, K_INV),
};
#undef FUSED
#undef ROW

static int kind_views(kind_t k) { return (k == K_VV_INT || k == K_CLOSE || k == K_VV_VIEW) ? 2 : 1; }
static int kind_returns_view(kind_t k) {
    return k == K_MAP || k == K_VV_VIEW || k == K_ARGSORT || k == K_PRODUCT;
}

/* ---- a prepared call -------------------------------------------------- */

typedef struct {
    kind_t kind;
    void *fn;
    int nviews;
    __Pyx_memviewslice views[2];
    Py_buffer buffers[2];
    int has_opt;
    /* The four closeness records share one layout, as do norm's and cnorm's. */
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose close;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm norm;
    struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort argsort;
    struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv inv;
    PyObject *matrix; /* K_INV: borrowed from the caller's arguments */
    char *pristine;   /* K_SORT: the input as given */
} call_t;

typedef struct {
    __Pyx_memviewslice view;
    int64_t i;
    uint64_t u;
    double d;
    zalmor_complex z;
    __pyx_ctuple_unsigned__space_long__and_unsigned__space_long pair;
    PyObject *obj; /* K_INV: a new reference */
} result_t;

static void call_clear(call_t *c) {
    int i;
    for (i = 0; i < c->nviews; ++i) PyBuffer_Release(&c->buffers[i]);
    c->nviews = 0;
    free(c->pristine);
    c->pristine = NULL;
}

/* A borrowed view record over a one-dimensional buffer. The owner field holds
 * the exporting object, which the rows never touch. */
static int view_of(PyObject *obj, int writable, Py_buffer *buffer, __Pyx_memviewslice *view) {
    int i;
    int flags = PyBUF_STRIDES | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(obj, buffer, flags) < 0) return -1;
    if (buffer->ndim != 1) {
        PyBuffer_Release(buffer);
        PyErr_SetString(PyExc_ValueError, "expected a one-dimensional buffer");
        return -1;
    }
    memset(view, 0, sizeof *view);
    view->memview = (struct __pyx_memoryview_obj *)obj;
    view->data = (char *)buffer->buf;
    for (i = 0; i < 8; ++i) view->suboffsets[i] = -1;
    view->shape[0] = buffer->shape[0];
    view->strides[0] = buffer->strides[0];
    return 0;
}

static int row_index(const char *row) {
    int i;
    for (i = 0; i < (int)(sizeof ROWS / sizeof ROWS[0]); ++i)
        if (strcmp(ROWS[i].name, row) == 0) return i;
    PyErr_Format(PyExc_KeyError, "no signature known for row %s", row);
    return -1;
}

/* Parses (module, row, buffers[, opt]) into *c and binds the row. */
static int call_prepare(PyObject *args, call_t *c) {
    const char *module, *row, *kind_name;
    PyObject *buffers, *opt = Py_None;
    int i;
    memset(c, 0, sizeof *c);
    if (!PyArg_ParseTuple(args, "ssO!|O", &module, &row, &PyTuple_Type, &buffers, &opt)) return -1;
    if ((i = row_index(row)) < 0) return -1;
    c->kind = ROWS[i].kind;
    kind_name = KIND_NAMES[c->kind];
    if (zalmor_capi_import(module, row, ROWS[i].signature, &c->fn) < 0) return -1;
    if (PyTuple_GET_SIZE(buffers) != kind_views(c->kind)) {
        PyErr_Format(PyExc_ValueError, "kind %s takes %d buffer(s)", kind_name, kind_views(c->kind));
        return -1;
    }
    if (c->kind == K_INV) c->matrix = PyTuple_GET_ITEM(buffers, 0); /* taken as it is */
    for (i = 0; i < kind_views(c->kind) && c->kind != K_INV; ++i) {
        if (view_of(PyTuple_GET_ITEM(buffers, i), c->kind == K_SORT, &c->buffers[i], &c->views[i]) < 0) {
            call_clear(c);
            return -1;
        }
        c->nviews = i + 1;
    }
    if (opt != Py_None) {
        int ok = 1;
        c->has_opt = 1;
        if (c->kind == K_CLOSE)
            ok = PyArg_ParseTuple(opt, "i|dd", &c->close.__pyx_n, &c->close.rtol, &c->close.atol);
        else if (c->kind == K_NORM)
            ok = PyArg_ParseTuple(opt, "i|d", &c->norm.__pyx_n, &c->norm.order);
        else if (c->kind == K_ARGSORT)
            ok = PyArg_ParseTuple(opt, "i|i", &c->argsort.__pyx_n, &c->argsort.reverse);
        else if (c->kind == K_INV) {
            c->inv.b = Py_None; /* borrowed from `opt` */
            c->inv.method = 1;
            ok = PyArg_ParseTuple(opt, "i|Oii", &c->inv.__pyx_n, &c->inv.b, &c->inv.method, &c->inv.force);
        }
        else {
            PyErr_Format(PyExc_ValueError, "kind %s takes no record", kind_name);
            ok = 0;
        }
        if (!ok) {
            call_clear(c);
            return -1;
        }
    }
    if (c->kind == K_SORT) {
        Py_buffer *b = &c->buffers[0];
        if (!PyBuffer_IsContiguous(b, 'C') || (c->pristine = malloc((size_t)b->len + 1)) == NULL) {
            call_clear(c);
            PyErr_SetString(PyExc_ValueError, "sort needs a contiguous input (or memory ran out)");
            return -1;
        }
        memcpy(c->pristine, b->buf, (size_t)b->len);
    }
    return 0;
}

/* One call of the row; a returned view is left in out->view for the caller. */
static int call_invoke(call_t *c, result_t *out) {
    const __Pyx_memviewslice *v = c->views;
    switch (c->kind) {
    case K_MAP: out->view = ((zalmor_map_t)c->fn)(v[0]); break;
    case K_I32: out->i = ((zalmor_fuse_0_t)c->fn)(v[0]); break;
    case K_U32: out->u = ((zalmor_fuse_1_t)c->fn)(v[0]); break;
    case K_I64: out->i = ((zalmor_fuse_2_t)c->fn)(v[0]); break;
    case K_U64: out->u = ((zalmor_fuse_3_t)c->fn)(v[0]); break;
    case K_F32: out->d = ((zalmor_fuse_4_t)c->fn)(v[0]); break;
    case K_F64: out->d = ((zalmor_fuse_5_t)c->fn)(v[0]); break;
    case K_C128: out->z = ((zalmor_fuse_6_t)c->fn)(v[0]); break;
    case K_PAIR: out->pair = ((zalmor_argminmax_t)c->fn)(v[0]); break;
    case K_VV_INT: out->i = ((zalmor_equal_t)c->fn)(v[0], v[1]); break;
    case K_CLOSE: out->i = ((zalmor_allclose_t)c->fn)(v[0], v[1], c->has_opt ? &c->close : NULL); break;
    case K_NORM: out->d = ((zalmor_norm_t)c->fn)(v[0], c->has_opt ? &c->norm : NULL); break;
    case K_VV_VIEW: out->view = ((zalmor_permute_t)c->fn)(v[0], v[1]); break;
    case K_ARGSORT: out->view = ((zalmor_argsort_t)c->fn)(v[0], c->has_opt ? &c->argsort : NULL); break;
    case K_SORT: ((zalmor_sort_t)c->fn)(v[0]); break;
    case K_PRODUCT: out->view = ((zalmor_product_t)c->fn)(v[0], 0); break;
    case K_INV:
        out->obj = ((zalmor_inv_t)c->fn)(c->matrix, c->has_opt ? &c->inv : NULL);
        if (out->obj == NULL) return -1;
        break;
    default: break;
    }
    if (kind_returns_view(c->kind) && out->view.memview == NULL) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "null view without an exception");
        return -1;
    }
    if (c->kind == K_SORT && PyErr_Occurred()) return -1;
    return 0;
}

/* Keeps the compiler from dropping calls whose results are otherwise unused. */
static volatile uint64_t sink_u;
static volatile double sink_d;

/* Total seconds for `repeats` calls, or -1 with an exception set. */
static double call_time(call_t *c, Py_ssize_t repeats) {
    result_t r;
    Py_ssize_t k;
    double t0, total = 0.0;
    memset(&r, 0, sizeof r);
    if (c->kind == K_SORT) {
        /* Each call gets the input as given; restoring it is not timed. */
        Py_buffer *b = &c->buffers[0];
        for (k = 0; k < repeats; ++k) {
            memcpy(b->buf, c->pristine, (size_t)b->len);
            t0 = now();
            if (call_invoke(c, &r) < 0) return -1.0;
            total += now() - t0;
        }
        memcpy(b->buf, c->pristine, (size_t)b->len);
        return total;
    }
    t0 = now();
    for (k = 0; k < repeats; ++k) {
        if (call_invoke(c, &r) < 0) return -1.0;
        if (kind_returns_view(c->kind)) {
            zalmor_view_release(&r.view); /* as a real caller does, every call */
        } else if (c->kind == K_INV) {
            Py_CLEAR(r.obj);
        } else {
            sink_u = r.u + (uint64_t)r.i + r.pair.f0 + r.pair.f1;
            sink_d = r.d + r.z.real + r.z.imag;
        }
    }
    return now() - t0;
}

/* time(module, row, buffers, opt, repeats): seconds per call, from one run of
 * `repeats` calls in a native loop. */
static PyObject *bench_time(PyObject *self, PyObject *args) {
    call_t c;
    Py_ssize_t n = PyTuple_GET_SIZE(args), repeats;
    PyObject *head;
    double total;
    (void)self;
    if (n != 5) {
        PyErr_SetString(PyExc_TypeError, "time(module, row, buffers, opt, repeats)");
        return NULL;
    }
    repeats = PyLong_AsSsize_t(PyTuple_GET_ITEM(args, n - 1));
    if (repeats < 1) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "repeats must be at least 1");
        return NULL;
    }
    if ((head = PyTuple_GetSlice(args, 0, n - 1)) == NULL) return NULL;
    if (call_prepare(head, &c) < 0) {
        Py_DECREF(head);
        return NULL;
    }
    Py_DECREF(head);
    total = call_time(&c, repeats);
    call_clear(&c);
    if (total < 0) return NULL;
    return PyFloat_FromDouble(total / (double)repeats);
}

/* The elements of a returned view: (shape0, shape1, stride0, stride1, bytes),
 * the bytes covering shape0 rows of stride0 bytes (results are contiguous). */
static PyObject *view_value(const __Pyx_memviewslice *v) {
    Py_ssize_t len = v->shape[0] * v->strides[0];
    if (v->strides[0] <= 0 && v->shape[0] > 0) {
        PyErr_SetString(PyExc_ValueError, "result is not a contiguous vector");
        return NULL;
    }
    return Py_BuildValue("nnnny#", v->shape[0], v->shape[1], v->strides[0], v->strides[1],
                         v->data, len);
}

/* call(module, row, buffers[, opt]): one call, its result as a Python
 * value (a view's elements as view_value gives them; sort: the sorted bytes). */
static PyObject *bench_call(PyObject *self, PyObject *args) {
    call_t c;
    result_t r;
    PyObject *value = NULL;
    (void)self;
    memset(&r, 0, sizeof r);
    if (call_prepare(args, &c) < 0) return NULL;
    if (call_invoke(&c, &r) < 0) goto done;
    switch (c.kind) {
    case K_MAP: case K_VV_VIEW: case K_ARGSORT: case K_PRODUCT:
        value = view_value(&r.view);
        zalmor_view_release(&r.view);
        break;
    case K_I32: case K_I64: case K_VV_INT: case K_CLOSE: value = PyLong_FromLongLong(r.i); break;
    case K_U32: case K_U64: value = PyLong_FromUnsignedLongLong(r.u); break;
    case K_F32: case K_F64: case K_NORM: value = PyFloat_FromDouble(r.d); break;
    case K_C128: value = PyComplex_FromDoubles(r.z.real, r.z.imag); break;
    case K_PAIR:
        value = Py_BuildValue("KK", (unsigned long long)r.pair.f0, (unsigned long long)r.pair.f1);
        break;
    case K_SORT:
        value = PyBytes_FromStringAndSize(c.buffers[0].buf, c.buffers[0].len);
        memcpy(c.buffers[0].buf, c.pristine, (size_t)c.buffers[0].len);
        break;
    case K_INV: value = r.obj; break;
    default: break;
    }
done:
    call_clear(&c);
    return value;
}

static PyObject *bench_kind(PyObject *self, PyObject *row) {
    const char *name = PyUnicode_AsUTF8(row);
    int i;
    (void)self;
    if (name == NULL || (i = row_index(name)) < 0) return NULL;
    return PyUnicode_FromString(KIND_NAMES[ROWS[i].kind]);
}

/* ---- the machine's bounds --------------------------------------------- */

typedef double (*pass_t)(Py_buffer *b);

static double pass_read(Py_buffer *b) {
    const uint64_t *p = (const uint64_t *)b->buf;
    size_t i = 0, n = (size_t)b->len / 8;
    uint64_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    double t0 = now();
    for (; i + 4 <= n; i += 4) {
        a0 += p[i];
        a1 += p[i + 1];
        a2 += p[i + 2];
        a3 += p[i + 3];
    }
    for (; i < n; ++i) a0 += p[i];
    sink_u = a0 + a1 + a2 + a3;
    return now() - t0;
}

/* s += x[i] strictly in order: one add latency per element. */
static double pass_seqadd(Py_buffer *b) {
    const double *x = (const double *)b->buf;
    size_t i, n = (size_t)b->len / 8;
    double s = 0.0, t0 = now();
    for (i = 0; i < n; ++i) s += x[i];
    sink_d = s;
    return now() - t0;
}

static double pass_write(Py_buffer *b) {
    double t0 = now();
    memset(b->buf, (int)(sink_u & 0x7f), (size_t)b->len);
    sink_u = (uint64_t)((volatile unsigned char *)b->buf)[b->len / 2];
    return now() - t0;
}

/* Plain stores, as a kernel filling its result writes (memset may do better). */
static double pass_store(Py_buffer *b) {
    uint64_t *p = (uint64_t *)b->buf;
    size_t i, n = (size_t)b->len / 8;
    double t0 = now();
    for (i = 0; i < n; ++i) p[i] = i;
    sink_u = p[n / 2];
    return now() - t0;
}

/* Best seconds of `runs` passes of `pass` over the contiguous buffer. */
static PyObject *best_pass(PyObject *args, pass_t pass, int writable) {
    PyObject *obj;
    Py_buffer b;
    int runs, k;
    double best = -1.0, t;
    if (!PyArg_ParseTuple(args, "Oi", &obj, &runs)) return NULL;
    if (PyObject_GetBuffer(obj, &b, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) < 0) return NULL;
    for (k = 0; k < (runs > 0 ? runs : 1); ++k) {
        t = pass(&b);
        if (best < 0 || t < best) best = t;
    }
    PyBuffer_Release(&b);
    return PyFloat_FromDouble(best);
}

static PyObject *bench_read_pass(PyObject *self, PyObject *args) { (void)self; return best_pass(args, pass_read, 0); }
static PyObject *bench_seqadd_pass(PyObject *self, PyObject *args) { (void)self; return best_pass(args, pass_seqadd, 0); }
static PyObject *bench_write_pass(PyObject *self, PyObject *args) { (void)self; return best_pass(args, pass_write, 1); }
static PyObject *bench_store_pass(PyObject *self, PyObject *args) { (void)self; return best_pass(args, pass_store, 1); }

static PyMethodDef bench_methods[] = {
    {"time", bench_time, METH_VARARGS,
     "time(module, row, buffers, opt, repeats): seconds per call over `repeats` native calls."},
    {"call", bench_call, METH_VARARGS, "call(module, row, buffers[, opt]): one call's result."},
    {"kind", bench_kind, METH_O, "kind(row): the C shape the row is called with."},
    {"read_pass", bench_read_pass, METH_VARARGS,
     "read_pass(buffer, runs): best seconds to sum the buffer as uint64."},
    {"seqadd_pass", bench_seqadd_pass, METH_VARARGS,
     "seqadd_pass(buffer, runs): best seconds of s += x[i] in order over the buffer as double."},
    {"write_pass", bench_write_pass, METH_VARARGS,
     "write_pass(buffer, runs): best seconds to memset the buffer."},
    {"store_pass", bench_store_pass, METH_VARARGS,
     "store_pass(buffer, runs): best seconds to store into every uint64 of the buffer in a loop."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef bench_module = {
    PyModuleDef_HEAD_INIT, "_zalmor_bench", NULL, -1, bench_methods,
    NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__zalmor_bench(void);
PyMODINIT_FUNC PyInit__zalmor_bench(void) { return PyModule_Create(&bench_module); }
