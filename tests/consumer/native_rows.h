/*
 * native_rows.h: what the native callers in tests/consumer/ share, beyond the
 * calls by name of tools/native_calls.h:
 *
 *   result_same      whether two results of one call agree, bit for bit;
 *   hold_view        a returned view kept in a capsule that releases it
 *                    (view_info, view_bytes and view_owner look into one);
 *   hammer           one row called from many native threads at once.
 *
 * C99 and C++17, warning-free under -Wall -Wextra -pedantic. Every function
 * is static inline, so a caller compiles only what it uses.
 */
#ifndef ZALMOR_TESTS_NATIVE_ROWS_H
#define ZALMOR_TESTS_NATIVE_ROWS_H

#include "../../tools/native_calls.h"

#include <pthread.h>

/* Module names for callers built as CONSUMER_NAME (tests/consumer_build.py). */
#define CONSUMER_STR2(x) #x
#define CONSUMER_STR(x) CONSUMER_STR2(x)
#define CONSUMER_CAT2(a, b) a##b
#define CONSUMER_CAT(a, b) CONSUMER_CAT2(a, b)

/* ---- results ---------------------------------------------------------- */

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
    if (c.kind == K_INV || (c.lock == ZALMOR_RUNS_UNDER_LOCK && !hold_gil) ||
        (handoff && !kind_returns_view(c.kind))) {
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
