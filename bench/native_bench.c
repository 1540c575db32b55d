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
 * with an optional-argument record, a tuple of the record's fields. How the
 * row is called (its kind) follows from its signature, which is bound exactly
 * as the header gives it. The rows are those of the header's list (rows()
 * tells bench/run.py which); the calls themselves come from
 * tools/native_calls.h, which the tests' native callers share.
 */
#include "../tools/native_calls.h"

#include <time.h>

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

/* Keeps the compiler from dropping calls whose results are otherwise unused. */
static volatile uint64_t sink_u;
static volatile double sink_d;

/* Total seconds for `repeats` calls, or -1 with an exception set. */
static double call_time(call_t *c, Py_ssize_t repeats) {
    result_t r;
    Py_ssize_t k;
    double t0, total = 0.0;
    if (c->kind == K_SORT) {
        /* Each call gets the input as given; restoring it is not timed. */
        for (k = 0; k < repeats; ++k) {
            sort_restore(c);
            t0 = now();
            if (call_once(c, &r) < 0) return -1.0;
            total += now() - t0;
        }
        sort_restore(c);
        return total;
    }
    t0 = now();
    for (k = 0; k < repeats; ++k) {
        if (call_once(c, &r) < 0) return -1.0;
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

/* Parses (module, row, buffers[, opt]) into *c and binds the row. */
static int parse_call(PyObject *args, call_t *c) {
    const char *module, *row;
    PyObject *buffers, *opt = Py_None;
    if (!PyArg_ParseTuple(args, "ssO!|O", &module, &row, &PyTuple_Type, &buffers, &opt)) return -1;
    return call_prepare(module, row, buffers, opt, c);
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
    if (parse_call(head, &c) < 0) {
        Py_DECREF(head);
        return NULL;
    }
    Py_DECREF(head);
    total = call_time(&c, repeats);
    call_clear(&c);
    if (total < 0) return NULL;
    return PyFloat_FromDouble(total / (double)repeats);
}

/* call(module, row, buffers[, opt]): one call, its result as result_value()
 * gives it (a returned view as (shape0, shape1, stride0, stride1, bytes); sort:
 * the sorted elements' bytes, the input left as it was). */
static PyObject *bench_call(PyObject *self, PyObject *args) {
    call_t c;
    result_t r;
    PyObject *value = NULL;
    (void)self;
    if (parse_call(args, &c) < 0) return NULL;
    if (call_once(&c, &r) == 0) value = result_value(&c, &r);
    if (c.kind == K_SORT) sort_restore(&c);
    call_clear(&c);
    return value;
}

/* rows(): every row of the list the module was compiled with, as
 * (module, name, family or None, kind, element, result); element and result
 * are C type names. */
static PyObject *bench_rows(PyObject *self, PyObject *unused) {
    size_t i, count;
    const row_info *rows = row_table(&count), *info;
    kind_t kind;
    PyObject *list = PyList_New(0), *item = NULL;
    (void)self;
    (void)unused;
    if (list == NULL) return NULL;
    for (i = 0; i < count; ++i) {
        if (row_find(rows[i].name, &info, &kind) < 0) goto fail;
        item = Py_BuildValue("sszsss", info->module, info->name, info->family, kind_name(kind),
                             info->element, info->result);
        if (item == NULL || PyList_Append(list, item) < 0) goto fail;
        Py_CLEAR(item);
    }
    return list;
fail:
    Py_XDECREF(item);
    Py_DECREF(list);
    return NULL;
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
    {"rows", bench_rows, METH_NOARGS,
     "rows(): (module, name, family, kind, element, result) of every row of the list."},
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
