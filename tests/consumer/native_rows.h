/*
 * native_rows.h: what the native callers in tests/consumer/ and bench/ share.
 *
 *   view_of          a borrowed view record over a one-dimensional buffer;
 *   row_find         every row a caller can name, with the C shape (kind) it
 *                    is called with, which follows from its signature string;
 *   call_prepare     binds a row and turns Python arguments into its C
 *                    arguments; call_invoke makes one call, call_clear undoes
 *                    call_prepare;
 *   result_same      whether two results of one call agree, bit for bit;
 *   result_value     a result as a Python value;
 *   hold_view        a returned view kept in a capsule that releases it
 *                    (view_info, view_bytes and view_owner look into one);
 *   hammer           one row called from many native threads at once.
 *
 * C99 and C++17, warning-free under -Wall -Wextra -pedantic. Every function
 * is static inline, so a caller compiles only what it uses.
 */
#ifndef ZALMOR_TESTS_NATIVE_ROWS_H
#define ZALMOR_TESTS_NATIVE_ROWS_H

#include "zalmor/capi.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

/* Module names for callers built as CONSUMER_NAME (tests/consumer_build.py). */
#define CONSUMER_STR2(x) #x
#define CONSUMER_STR(x) CONSUMER_STR2(x)
#define CONSUMER_CAT2(a, b) a##b
#define CONSUMER_CAT(a, b) CONSUMER_CAT2(a, b)

/* ---- borrowed view records -------------------------------------------- */

/* A view record over a one-dimensional buffer, which *buffer holds until the
 * caller releases it. The owner field stays null: rows read only the data
 * address, the extent and the stride of their arguments. */
static inline int view_of(PyObject *obj, int writable, Py_buffer *buffer, __Pyx_memviewslice *view) {
    int i;
    if (PyObject_GetBuffer(obj, buffer, PyBUF_STRIDES | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0)) < 0)
        return -1;
    if (buffer->ndim != 1) {
        PyBuffer_Release(buffer);
        PyErr_SetString(PyExc_ValueError, "expected a one-dimensional buffer");
        return -1;
    }
    memset(view, 0, sizeof *view);
    view->data = (char *)buffer->buf;
    for (i = 0; i < 8; ++i) view->suboffsets[i] = -1;
    view->shape[0] = buffer->shape[0];
    view->strides[0] = buffer->strides[0];
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

static inline const char *kind_name(kind_t kind) {
    static const char *const names[K_COUNT] = {
        "map", "i32", "u32", "i64", "u64", "f32", "f64", "c128", "pair",
        "vv_int", "close", "norm", "vv_view", "argsort", "sort", "product", "inv",
    };
    return names[kind];
}

static inline int kind_views(kind_t k) { return (k == K_VV_INT || k == K_CLOSE || k == K_VV_VIEW) ? 2 : 1; }

static inline int kind_returns_view(kind_t k) {
    return k == K_MAP || k == K_VV_VIEW || k == K_ARGSORT || k == K_PRODUCT;
}

typedef struct {
    const char *name, *signature;
    kind_t kind;
} row_info;

/* The row called `name`, or NULL with KeyError. */
static inline const row_info *row_find(const char *name) {
#define ROW(row, kind) {#row, ZALMOR_SIG_##row, kind}
#define FUSED(family)                                                                              \
    ROW(__pyx_fuse_0##family, K_I32), ROW(__pyx_fuse_1##family, K_U32),                            \
        ROW(__pyx_fuse_2##family, K_I64), ROW(__pyx_fuse_3##family, K_U64),                        \
        ROW(__pyx_fuse_4##family, K_F32), ROW(__pyx_fuse_5##family, K_F64),                        \
        ROW(__pyx_fuse_6##family, K_C128)
    static const row_info rows[] = {
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
    size_t i;
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        if (strcmp(rows[i].name, name) == 0) return &rows[i];
    PyErr_Format(PyExc_KeyError, "no signature known for row %s", name);
    return NULL;
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
    if ((info = row_find(row)) == NULL) return -1;
    c->kind = info->kind;
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

static inline int bits_same(const void *a, const void *b, size_t n) { return memcmp(a, b, n) == 0; }

/* Whether two results of the call `c` agree: numbers bit for bit, returned
 * views in extents, strides and bytes, a sorted input in every byte from its
 * first to its last element (gaps included: sort must leave them alone). */
static inline int result_same(const call_t *c, const result_t *a, const result_t *b) {
    const __Pyx_memviewslice *x = &a->view, *y = &b->view;
    switch (c->kind) {
    case K_I32: case K_I64: case K_VV_INT: case K_CLOSE: return a->i == b->i;
    case K_U32: case K_U64: return a->u == b->u;
    case K_F32: case K_F64: case K_NORM: return bits_same(&a->d, &b->d, sizeof a->d);
    case K_C128: return bits_same(&a->z, &b->z, sizeof a->z);
    case K_PAIR: return a->pair.f0 == b->pair.f0 && a->pair.f1 == b->pair.f1;
    case K_MAP: case K_VV_VIEW: case K_ARGSORT: case K_PRODUCT:
        return x->memview != NULL && y->memview != NULL && x->shape[0] == y->shape[0] &&
               x->shape[1] == y->shape[1] && x->strides[0] == y->strides[0] &&
               x->strides[1] == y->strides[1] && view_nbytes(x) >= 0 &&
               bits_same(x->data, y->data, (size_t)view_nbytes(x));
    case K_SORT: return bits_same(x->data - c->offset, y->data - c->offset, (size_t)c->span);
    default: return 0; /* inv's arrays are not compared */
    }
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

/* ---- returned views in capsules --------------------------------------- */

#define HELD_VIEW_CAPSULE "zalmor.test.view"

static inline void held_view_free(PyObject *capsule) {
    __Pyx_memviewslice *view = (__Pyx_memviewslice *)PyCapsule_GetPointer(capsule, HELD_VIEW_CAPSULE);
    if (view == NULL) return;
    zalmor_view_release(view);
    PyMem_Free(view);
}

/* A row's returned view in a capsule that releases it when it dies; NULL with
 * the row's exception when the view is null. */
static inline PyObject *hold_view(__Pyx_memviewslice result) {
    __Pyx_memviewslice *held;
    PyObject *capsule;
    if (result.memview == NULL) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "null view without an exception");
        return NULL;
    }
    held = (__Pyx_memviewslice *)PyMem_Malloc(sizeof *held);
    if (held == NULL) {
        zalmor_view_release(&result);
        return PyErr_NoMemory();
    }
    *held = result;
    capsule = PyCapsule_New(held, HELD_VIEW_CAPSULE, held_view_free);
    if (capsule == NULL) {
        zalmor_view_release(held);
        PyMem_Free(held);
    }
    return capsule;
}

static inline __Pyx_memviewslice *held_view(PyObject *capsule) {
    return (__Pyx_memviewslice *)PyCapsule_GetPointer(capsule, HELD_VIEW_CAPSULE);
}

/* view_info(capsule): (length, stride, suboffset 0, acquisition count) of a held view. */
static inline PyObject *view_info(PyObject *self, PyObject *capsule) {
    __Pyx_memviewslice *view = held_view(capsule);
    (void)self;
    if (view == NULL) return NULL;
    return Py_BuildValue("nnni", view->shape[0], view->strides[0], view->suboffsets[0],
                         view->memview ? view->memview->acquisition_count : 0);
}

/* view_bytes(capsule): a copy of the held view's elements (None once released). */
static inline PyObject *view_bytes(PyObject *self, PyObject *capsule) {
    __Pyx_memviewslice *view = held_view(capsule);
    (void)self;
    if (view == NULL) return NULL;
    if (view->memview == NULL) Py_RETURN_NONE;
    return PyBytes_FromStringAndSize(view->data, view->shape[0] * view->strides[0]);
}

/* view_owner(capsule): the object that owns the held view's memory (None once released). */
static inline PyObject *view_owner(PyObject *self, PyObject *capsule) {
    __Pyx_memviewslice *view = held_view(capsule);
    (void)self;
    if (view == NULL) return NULL;
    if (view->memview == NULL) Py_RETURN_NONE;
    Py_INCREF((PyObject *)view->memview);
    return (PyObject *)view->memview;
}

#define HELD_VIEW_METHODS                                                                          \
    {"view_info", view_info, METH_O, NULL}, {"view_bytes", view_bytes, METH_O, NULL},              \
        {"view_owner", view_owner, METH_O, NULL}

/* ---- one row from many threads ---------------------------------------- */

#define HAMMER_MAX_THREADS 64
#define HAMMER_RING 16

/* Results on their way from the threads that make them to those that check
 * and release them. */
typedef struct {
    pthread_mutex_t lock;
    pthread_cond_t cond;
    __Pyx_memviewslice views[HAMMER_RING];
    long head, tail;
    int closed; /* no more results come (or go): a thread failed to start */
} hammer_ring;

enum { HAMMER_MAKES_AND_CHECKS, HAMMER_MAKES, HAMMER_CHECKS };

typedef struct {
    int role;
    call_t call;     /* the prepared call; for sort, over this thread's own copy of the input */
    char *own;       /* sort: that copy */
    const result_t *expected;
    long calls, wrong;
    int hold_gil;
    hammer_ring *ring;
} hammer_worker;

/* Gives `call` (a copy of a prepared sort) its own copy of the input in *own. */
static inline int sort_own_copy(call_t *call, char **own) {
    *own = (char *)malloc((size_t)call->span + 1);
    if (*own == NULL) return -1;
    memcpy(*own, call->pristine, (size_t)call->span);
    call->views[0].data = *own + call->offset;
    return 0;
}

/* Makes one result; 0 when the call failed or (with the lock) left an exception. */
static inline int hammer_make(hammer_worker *w, result_t *r) {
    int ok;
    if (w->call.kind == K_SORT) sort_restore(&w->call);
    if (!w->hold_gil) return call_invoke(&w->call, r) == 0;
    {
        PyGILState_STATE gil = PyGILState_Ensure();
        ok = call_invoke(&w->call, r) == 0 && !PyErr_Occurred();
        PyErr_Clear();
        PyGILState_Release(gil);
    }
    return ok;
}

/* Checks a result and drops it (with the lock, when the worker takes it). */
static inline int hammer_check(hammer_worker *w, result_t *r, int ok) {
    PyGILState_STATE gil = PyGILState_UNLOCKED;
    if (w->hold_gil) gil = PyGILState_Ensure();
    ok = ok && result_same(&w->call, r, w->expected);
    if (r->view.memview != NULL) zalmor_view_release(&r->view);
    if (w->hold_gil) PyGILState_Release(gil);
    return ok;
}

/* Puts a view in the ring, waiting for room; 0 (view untaken) once it is closed. */
static inline int ring_put(hammer_ring *ring, __Pyx_memviewslice view) {
    int open;
    pthread_mutex_lock(&ring->lock);
    while (ring->head - ring->tail == HAMMER_RING && !ring->closed) pthread_cond_wait(&ring->cond, &ring->lock);
    if ((open = !ring->closed)) ring->views[ring->head++ % HAMMER_RING] = view;
    pthread_cond_broadcast(&ring->cond);
    pthread_mutex_unlock(&ring->lock);
    return open;
}

/* Takes a view from the ring, waiting for one; 0 once it is closed and empty. */
static inline int ring_take(hammer_ring *ring, __Pyx_memviewslice *view) {
    int got;
    pthread_mutex_lock(&ring->lock);
    while (ring->head == ring->tail && !ring->closed) pthread_cond_wait(&ring->cond, &ring->lock);
    if ((got = ring->head != ring->tail)) *view = ring->views[ring->tail++ % HAMMER_RING];
    pthread_cond_broadcast(&ring->cond);
    pthread_mutex_unlock(&ring->lock);
    return got;
}

/* A thread's loop: make results and check them, or (in a hand-off) only make
 * them and pass them on, or only take them and check them. */
static inline void *hammer_thread(void *arg) {
    hammer_worker *w = (hammer_worker *)arg;
    long k;
    for (k = 0; k < w->calls; ++k) {
        result_t r;
        int ok = 1;
        memset(&r, 0, sizeof r);
        if (w->role != HAMMER_CHECKS) ok = hammer_make(w, &r);
        if (w->role == HAMMER_MAKES) {
            if (!ok) zalmor_view_release(&r.view); /* counted where it arrives, as null */
            if (!ring_put(w->ring, r.view)) {
                zalmor_view_release(&r.view);
                break;
            }
            continue;
        }
        if (w->role == HAMMER_CHECKS && !ring_take(w->ring, &r.view)) break;
        if (!hammer_check(w, &r, ok)) ++w->wrong;
    }
    return NULL;
}

/* hammer(module, row, buffers, opt, threads, calls, hold_gil, handoff):
 * `threads` new native threads, unknown to the interpreter, call the row
 * `calls` times each on the same arguments (sort: each on its own copy of the
 * input) and compare every result with the one a single call made first.
 * Without hold_gil they run without the interpreter lock; with it, each takes
 * the lock around every call (and around checking and releasing its result).
 * With handoff (rows returning a view; an even number of threads) half of
 * them make results and the other half check and release them. Returns the
 * number of wrong or failed results. Needs the interpreter lock. */
static inline PyObject *hammer(PyObject *args) {
    const char *module, *row;
    PyObject *buffers, *opt;
    int threads, hold_gil, handoff, i, started = 0;
    long calls, wrong = 0;
    call_t c, first_call;
    result_t expected;
    char *first_own = NULL;
    hammer_worker *workers = NULL;
    pthread_t ids[HAMMER_MAX_THREADS];
    hammer_ring ring;
    PyObject *answer = NULL;

    if (!PyArg_ParseTuple(args, "ssOOilpp", &module, &row, &buffers, &opt, &threads, &calls, &hold_gil, &handoff))
        return NULL;
    if (threads < 1 || threads > HAMMER_MAX_THREADS || (handoff && threads % 2) || calls < 0) {
        PyErr_SetString(PyExc_ValueError, "1 to 64 threads (an even number for a hand-off), calls >= 0");
        return NULL;
    }
    if (call_prepare(module, row, buffers, opt, &c) < 0) return NULL;
    memset(&expected, 0, sizeof expected);
    memset(&ring, 0, sizeof ring);
    pthread_mutex_init(&ring.lock, NULL);
    pthread_cond_init(&ring.cond, NULL);
    if (c.kind == K_INV || (c.kind == K_PRODUCT && !hold_gil) || (handoff && !kind_returns_view(c.kind))) {
        PyErr_Format(PyExc_ValueError, "%s cannot be hammered %s", row,
                     handoff ? "with a hand-off" : "without the interpreter lock");
        goto done;
    }
    first_call = c;
    if (c.kind == K_SORT && sort_own_copy(&first_call, &first_own) < 0) {
        PyErr_NoMemory();
        goto done;
    }
    if (call_once(&first_call, &expected) < 0 || PyErr_Occurred()) goto done; /* the reference must succeed */
    workers = (hammer_worker *)PyMem_Calloc((size_t)threads, sizeof *workers);
    if (workers == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    for (i = 0; i < threads; ++i) {
        workers[i].call = c;
        workers[i].expected = &expected;
        workers[i].calls = calls;
        workers[i].hold_gil = hold_gil;
        workers[i].ring = &ring;
        workers[i].role = !handoff ? HAMMER_MAKES_AND_CHECKS : i % 2 ? HAMMER_CHECKS : HAMMER_MAKES;
        if (c.kind == K_SORT && sort_own_copy(&workers[i].call, &workers[i].own) < 0) {
            PyErr_NoMemory();
            goto done;
        }
    }
    Py_BEGIN_ALLOW_THREADS
    for (i = 0; i < threads; ++i) {
        if (pthread_create(&ids[i], NULL, hammer_thread, &workers[i]) != 0) break;
        ++started;
    }
    if (started != threads) {
        pthread_mutex_lock(&ring.lock);
        ring.closed = 1;
        pthread_cond_broadcast(&ring.cond);
        pthread_mutex_unlock(&ring.lock);
    }
    for (i = 0; i < started; ++i) pthread_join(ids[i], NULL);
    Py_END_ALLOW_THREADS
    while (ring.tail != ring.head) zalmor_view_release(&ring.views[ring.tail++ % HAMMER_RING]);
    for (i = 0; i < started; ++i) wrong += workers[i].wrong;
    if (started != threads)
        PyErr_SetString(PyExc_RuntimeError, "could not start the threads");
    else
        answer = PyLong_FromLong(wrong);
done:
    if (workers != NULL)
        for (i = 0; i < threads; ++i) free(workers[i].own);
    PyMem_Free(workers);
    free(first_own);
    result_clear(&expected);
    pthread_cond_destroy(&ring.cond);
    pthread_mutex_destroy(&ring.lock);
    call_clear(&c);
    return answer;
}

#endif /* ZALMOR_TESTS_NATIVE_ROWS_H */
