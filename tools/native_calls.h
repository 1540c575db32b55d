/*
 * native_calls.h: calls any row the modules publish from C, by name, as the
 * benchmark (bench/native_bench.c) and the tests' native callers
 * (tests/consumer/) do. The rows are those of the list in zalmor/capi.h.
 *
 *   view_of          a borrowed view record over a one-dimensional buffer;
 *   row_table        every row of the list, with its module, element and
 *                    result types; row_find one by name, with the C shape
 *                    (kind) it is called with, which follows from its
 *                    signature string;
 *   call_prepare     binds a row and turns Python arguments into its C
 *                    arguments; call_invoke makes one call, call_clear undoes
 *                    call_prepare;
 *   result_value     a result as a Python value.
 *
 * C99 and C++17, warning-free under -Wall -Wextra -pedantic. Every function
 * is static inline, so a caller compiles only what it uses.
 */
#ifndef ZALMOR_TOOLS_NATIVE_CALLS_H
#define ZALMOR_TOOLS_NATIVE_CALLS_H

#include "zalmor/capi.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

/* ---- borrowed view records -------------------------------------------- */

/* A view record over a one-dimensional buffer, which *buffer holds until the
 * caller releases it (zalmor_view_from_buffer). */
static inline int view_of(PyObject *obj, int writable, Py_buffer *buffer, __Pyx_memviewslice *view) {
    if (PyObject_GetBuffer(obj, buffer, PyBUF_STRIDES | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0)) < 0)
        return -1;
    if (zalmor_view_from_buffer(buffer, view) < 0) {
        PyBuffer_Release(buffer);
        return -1;
    }
    return 0;
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
    K_SORT,     /* void (view), in place                                       */
    K_PRODUCT,  /* view (view, int skip_dispatch)  pondistra's product         */
    K_INV,      /* object (array, {n, b, method, force})  quillemora's inv     */
    K_COUNT
} kind_t;

typedef struct {
    const char *name, *signature;
} kind_info;

/* Each kind's name and the signature string of its rows, in the order of
 * kind_t; `%` stands for the row's own name where its optional-argument
 * record bears it. */
static inline const kind_info *kind_info_of(kind_t kind) {
    static const kind_info kinds[K_COUNT] = {
        {"map", ZALMOR_SIG_MAP}, {"i32", ZALMOR_SIG_V_INT}, {"u32", ZALMOR_SIG_V_UINT},
        {"i64", ZALMOR_SIG_V_LONG}, {"u64", ZALMOR_SIG_V_ULONG}, {"f32", ZALMOR_SIG_V_FLOAT},
        {"f64", ZALMOR_SIG_V_DOUBLE}, {"c128", ZALMOR_SIG_V_COMPLEX}, {"pair", ZALMOR_SIG_argminmax},
        {"vv_int", ZALMOR_SIG_VV_INT}, {"close", ZALMOR_SIG_CLOSE("%")}, {"norm", ZALMOR_SIG_NORM_OF("%")},
        {"vv_view", ZALMOR_SIG_permute}, {"argsort", ZALMOR_SIG_argsort}, {"sort", ZALMOR_SIG_sort},
        {"product", ZALMOR_SIG_product}, {"inv", ZALMOR_SIG_inv},
    };
    return &kinds[kind];
}

static inline const char *kind_name(kind_t kind) { return kind_info_of(kind)->name; }

/* Whether `signature` is `shape`, where a `%` in `shape` stands for one name. */
static inline int signature_fits(const char *signature, const char *shape) {
    for (; *shape != '\0'; ++shape) {
        if (*shape != '%') {
            if (*signature++ != *shape) return 0;
            continue;
        }
        if (!isalnum((unsigned char)*signature) && *signature != '_') return 0;
        while (isalnum((unsigned char)*signature) || *signature == '_') ++signature;
    }
    return *signature == '\0';
}

static inline int kind_returns_view(kind_t k) {
    return k == K_MAP || k == K_VV_VIEW || k == K_ARGSORT || k == K_PRODUCT;
}

static inline int kind_views(kind_t k) { return (k == K_VV_INT || k == K_CLOSE || k == K_VV_VIEW) ? 2 : 1; }

/* A row of the list in zalmor/capi.h. */
typedef struct {
    const char *module, *name;
    const char *family; /* the family of a typed row __pyx_fuse_<k><family>, else NULL */
    const char *signature;
    const char *element, *result; /* C type names, as the list gives them */
    int lock;                     /* ZALMOR_RUNS_WITHOUT_LOCK or ZALMOR_RUNS_UNDER_LOCK */
    int writes;                   /* ZALMOR_READS_ARGUMENTS or ZALMOR_WRITES_ARGUMENT */
    int failure;                  /* ZALMOR_CANNOT_FAIL, ZALMOR_FAILS_NULL_VIEW, ... */
    const char *failure_text;     /* the list's text, e.g. "ZALMOR_UNRAISABLE(0.0)" */
} row_info;

/* The failure column is taken as text at the first level, before it expands. */
#define NATIVE_ROW_(module, name, family, element, result, lock, writes, failure, failure_text)    \
    {ZALMOR_MODULE_##module, #name, family, ZALMOR_SIG(name), #element, #result, lock, writes,      \
     failure, failure_text},
#define NATIVE_BRENTHOSCA_ROW_(name, type, element, result, lock, writes, failure)                 \
    NATIVE_ROW_(brenthosca, name, NULL, element, result, lock, writes, failure, #failure)
#define NATIVE_BRENTHOSCA_FUSED_(name, family, type, element, result, lock, writes, failure)       \
    NATIVE_ROW_(brenthosca, name, #family, element, result, lock, writes, failure, #failure)
#define NATIVE_PONDISTRA_ROW_(name, type, element, result, lock, writes, failure)                  \
    NATIVE_ROW_(pondistra, name, NULL, element, result, lock, writes, failure, #failure)
#define NATIVE_QUILLEMORA_ROW_(name, type, element, result, lock, writes, failure)                 \
    NATIVE_ROW_(quillemora, name, NULL, element, result, lock, writes, failure, #failure)

/* Every row of the list; *count gets their number. */
static inline const row_info *row_table(size_t *count) {
    static const row_info rows[] = {
        ZALMOR_BRENTHOSCA_ROWS(NATIVE_BRENTHOSCA_ROW_, NATIVE_BRENTHOSCA_FUSED_)
        ZALMOR_PONDISTRA_ROWS(NATIVE_PONDISTRA_ROW_)
        ZALMOR_QUILLEMORA_ROWS(NATIVE_QUILLEMORA_ROW_)
    };
    *count = sizeof rows / sizeof rows[0];
    return rows;
}

/* The row called `name` (*info) and the kind it is called with, which
 * follows from its signature; -1 with KeyError when there is no such row. */
static inline int row_find(const char *name, const row_info **info, kind_t *kind) {
    size_t i, count;
    int k;
    const row_info *rows = row_table(&count);
    for (i = 0; i < count; ++i) {
        if (strcmp(rows[i].name, name) != 0) continue;
        *info = &rows[i];
        for (k = 0; k < K_COUNT; ++k) {
            *kind = (kind_t)k;
            if (signature_fits(rows[i].signature, kind_info_of(*kind)->signature)) return 0;
        }
        PyErr_Format(PyExc_KeyError, "no kind known for the signature of row %s", name);
        return -1;
    }
    PyErr_Format(PyExc_KeyError, "no signature known for row %s", name);
    return -1;
}

/* ---- a prepared call -------------------------------------------------- */

/* A bound row: bound as an address, called through the member of its kind. */
typedef union {
    void *address;
    zalmor_map_t map;
    zalmor_fuse_0_t i32;
    zalmor_fuse_1_t u32;
    zalmor_fuse_2_t i64;
    zalmor_fuse_3_t u64;
    zalmor_fuse_4_t f32;
    zalmor_fuse_5_t f64;
    zalmor_fuse_6_t c128;
    zalmor_argminmax_t pair;
    zalmor_equal_t vv_int;
    zalmor_allclose_t close;
    zalmor_norm_t norm;
    zalmor_permute_t vv_view;
    zalmor_argsort_t argsort;
    zalmor_sort_t sort;
    zalmor_product_t product;
    zalmor_inv_t inv;
} row_fn;

typedef struct {
    kind_t kind;
    int lock; /* the row's lock rule */
    row_fn fn;
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
    /* K_SORT: the bytes from the lowest to the highest addressed element as
     * given (`span` of them), and element 0's offset into them. */
    char *pristine;
    Py_ssize_t span, offset;
} call_t;

/* Every kind's result. A returned view holds one acquisition, which its
 * receiver releases; for K_SORT, `view` is the (borrowed) sorted input. */
typedef struct {
    __Pyx_memviewslice view;
    int64_t i;
    uint64_t u;
    double d;
    zalmor_complex z;
    __pyx_ctuple_unsigned__space_long__and_unsigned__space_long pair;
    PyObject *obj; /* K_INV: a new reference */
} result_t;

static inline void call_clear(call_t *c) {
    int i;
    for (i = 0; i < c->nviews; ++i) PyBuffer_Release(&c->buffers[i]);
    c->nviews = 0;
    free(c->pristine);
    c->pristine = NULL;
}

/* Keeps the bytes sort works on, so that every call can start from them. */
static inline int sort_keep(call_t *c) {
    Py_ssize_t n = c->views[0].shape[0], stride = c->views[0].strides[0];
    Py_ssize_t step = stride < 0 ? -stride : stride;
    c->span = n > 0 ? (n - 1) * step + c->buffers[0].itemsize : 0;
    c->offset = stride < 0 && n > 0 ? (n - 1) * step : 0;
    c->pristine = (char *)malloc((size_t)c->span + 1);
    if (c->pristine == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    memcpy(c->pristine, c->views[0].data - c->offset, (size_t)c->span);
    return 0;
}

/* Puts sort's input back as it was given. */
static inline void sort_restore(const call_t *c) {
    memcpy(c->views[0].data - c->offset, c->pristine, (size_t)c->span);
}

/* Binds `row` of `module` and turns `buffers` (a tuple of one-dimensional
 * buffers; for inv, the matrix as it is) and `opt` (None, or the optional-
 * argument record as (__pyx_n, fields...)) into its arguments. */
static inline int call_prepare(const char *module, const char *row, PyObject *buffers, PyObject *opt, call_t *c) {
    const row_info *info;
    int i, ok = 1;
    memset(c, 0, sizeof *c);
    if (row_find(row, &info, &c->kind) < 0) return -1;
    c->lock = info->lock;
    if (zalmor_capi_import(module, row, info->signature, &c->fn.address) < 0) return -1;
    if (!PyTuple_Check(buffers) || PyTuple_GET_SIZE(buffers) != kind_views(c->kind)) {
        PyErr_Format(PyExc_ValueError, "kind %s takes a tuple of %d buffer(s)", kind_name(c->kind),
                     kind_views(c->kind));
        return -1;
    }
    if (c->kind == K_INV) c->matrix = PyTuple_GET_ITEM(buffers, 0);
    for (i = 0; i < kind_views(c->kind) && c->kind != K_INV; ++i) {
        if (view_of(PyTuple_GET_ITEM(buffers, i), c->kind == K_SORT, &c->buffers[i], &c->views[i]) < 0) {
            call_clear(c);
            return -1;
        }
        c->nviews = i + 1;
    }
    if (opt != Py_None) {
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
        } else {
            PyErr_Format(PyExc_ValueError, "kind %s takes no record", kind_name(c->kind));
            ok = 0;
        }
    }
    if (!ok || (c->kind == K_SORT && sort_keep(c) < 0)) {
        call_clear(c);
        return -1;
    }
    return 0;
}

/* One call. Touches no interpreter state of its own, so it runs with or
 * without the lock (inv only with it). Returns -1 when a returned view or
 * object is null: the row failed, with an exception set where it ran. */
static inline int call_invoke(call_t *c, result_t *out) {
    const __Pyx_memviewslice *v = c->views;
    memset(out, 0, sizeof *out);
    switch (c->kind) {
    case K_MAP: out->view = c->fn.map(v[0]); break;
    case K_I32: out->i = c->fn.i32(v[0]); break;
    case K_U32: out->u = c->fn.u32(v[0]); break;
    case K_I64: out->i = c->fn.i64(v[0]); break;
    case K_U64: out->u = c->fn.u64(v[0]); break;
    case K_F32: out->d = c->fn.f32(v[0]); break;
    case K_F64: out->d = c->fn.f64(v[0]); break;
    case K_C128: out->z = c->fn.c128(v[0]); break;
    case K_PAIR: out->pair = c->fn.pair(v[0]); break;
    case K_VV_INT: out->i = c->fn.vv_int(v[0], v[1]); break;
    case K_CLOSE: out->i = c->fn.close(v[0], v[1], c->has_opt ? &c->close : NULL); break;
    case K_NORM: out->d = c->fn.norm(v[0], c->has_opt ? &c->norm : NULL); break;
    case K_VV_VIEW: out->view = c->fn.vv_view(v[0], v[1]); break;
    case K_ARGSORT: out->view = c->fn.argsort(v[0], c->has_opt ? &c->argsort : NULL); break;
    case K_SORT:
        c->fn.sort(v[0]);
        out->view = v[0];
        break;
    case K_PRODUCT: out->view = c->fn.product(v[0], 0); break;
    case K_INV:
        out->obj = c->fn.inv(c->matrix, c->has_opt ? &c->inv : NULL);
        return out->obj != NULL ? 0 : -1;
    default: break;
    }
    return kind_returns_view(c->kind) && out->view.memview == NULL ? -1 : 0;
}

/* One call with the interpreter lock held: -1 with an exception when it
 * failed (sort reports nothing, so any exception it leaves is a failure). */
static inline int call_once(call_t *c, result_t *out) {
    if (call_invoke(c, out) < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "null result without an exception");
        return -1;
    }
    return c->kind == K_SORT && PyErr_Occurred() ? -1 : 0;
}

/* Drops what a result holds. */
static inline void result_clear(result_t *r) {
    if (r->view.memview != NULL) zalmor_view_release(&r->view);
    Py_CLEAR(r->obj);
}

/* ---- results ---------------------------------------------------------- */

/* The bytes a returned (contiguous) view covers, or -1 if it runs backwards. */
static inline Py_ssize_t view_nbytes(const __Pyx_memviewslice *v) {
    return v->strides[0] < 0 && v->shape[0] > 0 ? -1 : v->shape[0] * v->strides[0];
}

/* A result as a Python value: a returned view as (shape0, shape1, stride0,
 * stride1, bytes), a sorted input as its elements' bytes in order, inv's
 * array as it is (the reference passes to the caller). Clears *r. */
static inline PyObject *result_value(const call_t *c, result_t *r) {
    PyObject *value = NULL;
    switch (c->kind) {
    case K_MAP: case K_VV_VIEW: case K_ARGSORT: case K_PRODUCT:
        if (view_nbytes(&r->view) < 0) {
            PyErr_SetString(PyExc_ValueError, "result is not a contiguous vector");
            break;
        }
        value = Py_BuildValue("nnnny#", r->view.shape[0], r->view.shape[1], r->view.strides[0],
                              r->view.strides[1], r->view.data, view_nbytes(&r->view));
        break;
    case K_I32: case K_I64: case K_VV_INT: case K_CLOSE: value = PyLong_FromLongLong(r->i); break;
    case K_U32: case K_U64: value = PyLong_FromUnsignedLongLong(r->u); break;
    case K_F32: case K_F64: case K_NORM: value = PyFloat_FromDouble(r->d); break;
    case K_C128: value = PyComplex_FromDoubles(r->z.real, r->z.imag); break;
    case K_PAIR:
        value = Py_BuildValue("KK", (unsigned long long)r->pair.f0, (unsigned long long)r->pair.f1);
        break;
    case K_SORT: {
        Py_ssize_t i, n = r->view.shape[0], size = c->buffers[0].itemsize;
        if ((value = PyBytes_FromStringAndSize(NULL, n * size)) == NULL) break;
        for (i = 0; i < n; ++i)
            memcpy(PyBytes_AS_STRING(value) + i * size, r->view.data + i * r->view.strides[0], (size_t)size);
        break;
    }
    case K_INV:
        value = r->obj;
        r->obj = NULL;
        break;
    default: break;
    }
    result_clear(r);
    return value;
}

#endif /* ZALMOR_TOOLS_NATIVE_CALLS_H */
