/*
 * A native caller of zalmor's rows, written the way the package's other native
 * modules are: it binds rows by name and signature through zalmor/capi.h
 * (native_rows.h, shared with the other callers here, adds nothing but plain
 * C helpers). Compiled both as C and as C++ (CONSUMER_NAME picks the module name).
 */
#include "native_rows.h"

#ifndef CONSUMER_NAME
#error "CONSUMER_NAME must name the module"
#endif

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

/* prod_u32(buffer): brenthosca's unsigned int product, bound with ZALMOR_IMPORT. */
static PyObject *consumer_prod_u32(PyObject *self, PyObject *obj) {
    zalmor_fuse_1_t prod;
    Py_buffer buffer;
    __Pyx_memviewslice view;
    unsigned int result;
    (void)self;
    if (ZALMOR_IMPORT(brenthosca, __pyx_fuse_1prod, &prod) < 0) return NULL;
    if (view_of(obj, 0, &buffer, &view) < 0) return NULL;
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
    if (view_of(obj, 0, &buffer, &view) < 0) return NULL;
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

/* call_map(row, buffer): calls brenthosca's element-wise map `row` on a
 * one-dimensional buffer and returns the result view in a capsule. */
static PyObject *consumer_call_map(PyObject *self, PyObject *args) {
    const char *row;
    PyObject *obj;
    zalmor_map_t map;
    Py_buffer buffer;
    __Pyx_memviewslice view, result;
    (void)self;
    if (!PyArg_ParseTuple(args, "sO", &row, &obj)) return NULL;
    if (zalmor_capi_import(ZALMOR_MODULE_brenthosca, row, ZALMOR_SIG_MAP, (void **)&map) < 0) return NULL;
    if (view_of(obj, 0, &buffer, &view) < 0) return NULL;
    result = map(view);
    PyBuffer_Release(&buffer);
    return hold_view(result);
}

/* copy_and_release(capsule): takes one more acquisition for a copy of the
 * record, then releases the copy and the original; returns the counts seen. */
static PyObject *consumer_copy_and_release(PyObject *self, PyObject *capsule) {
    __Pyx_memviewslice *view = held_view(capsule), copy;
    int after_acquire, after_first;
    (void)self;
    if (view == NULL) return NULL;
    copy = *view;
    zalmor_view_acquire(&copy);
    after_acquire = copy.memview->acquisition_count;
    zalmor_view_release(&copy);
    after_first = view->memview->acquisition_count;
    zalmor_view_release(&copy); /* an emptied record: nothing happens */
    zalmor_view_release(view);
    zalmor_view_release(view);
    return Py_BuildValue("ii", after_acquire, after_first);
}

/* sqrt_sum(buffer): the sum of the square roots through brenthosca's sqrt,
 * the result view held by zalmor::View in C++ and released by hand in C. */
static PyObject *consumer_sqrt_sum(PyObject *self, PyObject *obj) {
    zalmor_sqrt_t root;
    Py_buffer buffer;
    __Pyx_memviewslice view;
    double total = 0.0;
    Py_ssize_t i;
    (void)self;
    if (ZALMOR_IMPORT(brenthosca, sqrt, &root) < 0) return NULL;
    if (view_of(obj, 0, &buffer, &view) < 0) return NULL;
#ifdef __cplusplus
    {
        zalmor::View roots{root(view)};
        PyBuffer_Release(&buffer);
        if (!roots) return NULL;
        for (i = 0; i < roots.size(); ++i) total += roots.at<double>(i);
    }
#else
    {
        __Pyx_memviewslice roots = root(view);
        PyBuffer_Release(&buffer);
        if (roots.memview == NULL) return NULL;
        for (i = 0; i < roots.shape[0]; ++i) total += *(double *)(roots.data + i * roots.strides[0]);
        zalmor_view_release(&roots);
    }
#endif
    return PyFloat_FromDouble(total);
}

/* FormatBuffer(data, format, itemsize, shape, strides=None, suboffsets=None,
 * readonly=False, offset=0): exports `data` (copied), starting `offset` bytes
 * in, with exactly the description given,
 * whatever the request asks, so tests can hand out formats and layouts that
 * other exporters cannot make (and exporters that misbehave). */
typedef struct {
    PyObject_HEAD
    char *data;
    Py_ssize_t len;
    char *format;
    Py_ssize_t itemsize;
    int ndim;
    Py_ssize_t shape[8];
    Py_ssize_t strides[8];
    Py_ssize_t suboffsets[8];
    int has_strides, has_suboffsets, readonly;
    Py_ssize_t offset;
    Py_ssize_t exports;
} FormatBuffer;

static int read_extents(PyObject *seq, Py_ssize_t *out, int *count) {
    Py_ssize_t i, n;
    PyObject *fast = PySequence_Fast(seq, "expected a sequence of integers");
    if (fast == NULL) return -1;
    n = PySequence_Fast_GET_SIZE(fast);
    if (n > 8) {
        Py_DECREF(fast);
        PyErr_SetString(PyExc_ValueError, "at most 8 dimensions");
        return -1;
    }
    for (i = 0; i < n; ++i) {
        out[i] = PyLong_AsSsize_t(PySequence_Fast_GET_ITEM(fast, i));
        if (out[i] == -1 && PyErr_Occurred()) {
            Py_DECREF(fast);
            return -1;
        }
    }
    *count = (int)n;
    Py_DECREF(fast);
    return 0;
}

static int format_buffer_init(PyObject *op, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data", "format", "itemsize", "shape", "strides", "suboffsets",
                                     "readonly", "offset", NULL};
    FormatBuffer *self = (FormatBuffer *)op;
    Py_buffer data;
    const char *format;
    PyObject *shape, *strides = Py_None, *suboffsets = Py_None;
    int readonly = 0, count = 0;
    self->offset = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*snO|OOpn", (char **)keywords, &data, &format,
                                     &self->itemsize, &shape, &strides, &suboffsets, &readonly,
                                     &self->offset))
        return -1;
    if (self->offset < 0 || self->offset > data.len) {
        PyBuffer_Release(&data);
        PyErr_SetString(PyExc_ValueError, "offset outside the data");
        return -1;
    }
    self->len = data.len;
    self->data = (char *)PyMem_Malloc(data.len ? (size_t)data.len : 1);
    self->format = (char *)PyMem_Malloc(strlen(format) + 1);
    if (self->data == NULL || self->format == NULL) {
        PyBuffer_Release(&data);
        PyErr_NoMemory();
        return -1;
    }
    memcpy(self->data, data.buf, (size_t)data.len);
    strcpy(self->format, format);
    PyBuffer_Release(&data);
    if (read_extents(shape, self->shape, &self->ndim) < 0) return -1;
    self->has_strides = strides != Py_None;
    if (self->has_strides && (read_extents(strides, self->strides, &count) < 0 || count != self->ndim)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "one stride per dimension");
        return -1;
    }
    self->has_suboffsets = suboffsets != Py_None;
    if (self->has_suboffsets && (read_extents(suboffsets, self->suboffsets, &count) < 0 || count != self->ndim)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "one suboffset per dimension");
        return -1;
    }
    self->readonly = readonly;
    return 0;
}

static void format_buffer_dealloc(PyObject *op) {
    FormatBuffer *self = (FormatBuffer *)op;
    PyMem_Free(self->data);
    PyMem_Free(self->format);
    Py_TYPE(op)->tp_free(op);
}

static int format_buffer_get(PyObject *op, Py_buffer *view, int flags) {
    FormatBuffer *self = (FormatBuffer *)op;
    if ((flags & PyBUF_WRITABLE) && self->readonly) {
        PyErr_SetString(PyExc_BufferError, "FormatBuffer is read-only");
        view->obj = NULL;
        return -1;
    }
    view->buf = self->data + self->offset;
    view->len = self->len - self->offset;
    view->readonly = self->readonly;
    view->itemsize = self->itemsize;
    view->format = self->format;
    view->ndim = self->ndim;
    view->shape = self->shape;
    view->strides = self->has_strides ? self->strides : NULL;
    view->suboffsets = self->has_suboffsets ? self->suboffsets : NULL;
    view->internal = NULL;
    view->obj = op;
    Py_INCREF(op);
    self->exports++;
    return 0;
}

static void format_buffer_release(PyObject *op, Py_buffer *view) {
    (void)view;
    ((FormatBuffer *)op)->exports--;
}

static PyObject *format_buffer_exports(PyObject *op, void *closure) {
    (void)closure;
    return PyLong_FromSsize_t(((FormatBuffer *)op)->exports);
}

static PyGetSetDef format_buffer_getset[] = {
    {"exports", format_buffer_exports, NULL, NULL, NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyBufferProcs format_buffer_as_buffer = {format_buffer_get, format_buffer_release};

/* The remaining slots are filled in at import (positional initialisers only,
 * which C and C++ read alike). */
static PyTypeObject FormatBufferType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    CONSUMER_STR(CONSUMER_NAME) ".FormatBuffer",
    sizeof(FormatBuffer),
};

/* inv(A, record): quillemora's inv, bound with ZALMOR_IMPORT. `record` is None
 * for a null record, else (__pyx_n, b, method, force); every field is filled
 * in, whatever the count says, so that fields beyond it must go unread. */
/* inv(A, record, unlocked=0): quillemora's inv with a record given as a
 * tuple (or None for a null record); with `unlocked`, called without the
 * interpreter lock, as a native caller on its own thread may. */
static PyObject *consumer_inv(PyObject *self, PyObject *args) {
    zalmor_inv_t inv;
    PyObject *A, *record, *result;
    int unlocked = 0;
    struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv opt, *optp = NULL;
    (void)self;
    if (!PyArg_ParseTuple(args, "OO|p", &A, &record, &unlocked)) return NULL;
    if (ZALMOR_IMPORT(quillemora, inv, &inv) < 0) return NULL;
    if (record != Py_None) {
        if (!PyArg_ParseTuple(record, "iOii", &opt.__pyx_n, &opt.b, &opt.method, &opt.force)) return NULL;
        optp = &opt;
    }
    if (!unlocked) return inv(A, optp);
    Py_BEGIN_ALLOW_THREADS
    result = inv(A, optp);
    Py_END_ALLOW_THREADS
    return result;
}

/* product_unlocked(buffer): pondistra's product called without the
 * interpreter lock; the result view in a capsule. */
static PyObject *consumer_product_unlocked(PyObject *self, PyObject *obj) {
    zalmor_product_t product;
    Py_buffer buffer;
    __Pyx_memviewslice view, result;
    (void)self;
    if (ZALMOR_IMPORT(pondistra, product, &product) < 0) return NULL;
    if (view_of(obj, 0, &buffer, &view) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    result = product(view, 0);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&buffer);
    return hold_view(result);
}

/* constants(): the header's versions and inv's method numbers. */
static PyObject *consumer_constants(PyObject *self, PyObject *unused) {
    (void)self;
    (void)unused;
    return Py_BuildValue("{s(iii)sisi}", "version", ZALMOR_VERSION_MAJOR, ZALMOR_VERSION_MINOR,
                         ZALMOR_VERSION_PATCH, "hex", ZALMOR_VERSION_HEX, "capi", ZALMOR_CAPI_VERSION);
}

/* One bound row as (name, address) into the dict `out`. */
static int put_address(PyObject *out, const char *name, const void *member) {
    void *address;
    PyObject *value;
    int rc;
    memcpy(&address, member, sizeof address);
    if ((value = PyLong_FromVoidPtr(address)) == NULL) return -1;
    rc = PyDict_SetItemString(out, name, value);
    Py_DECREF(value);
    return rc;
}

#define PUT_ROW(name, ...) if (put_address(out, #name, &api.name) < 0) goto fail;
#define PUT_FUSED(name, family, ...) PUT_ROW(name, family)

/* bind_all(module): every row of brenthosca, pondistra or quillemora bound
 * by zalmor_import_<module>, as {name: address} in the struct's order. */
static PyObject *consumer_bind_all(PyObject *self, PyObject *arg) {
    const char *module = PyUnicode_AsUTF8(arg);
    PyObject *out;
    (void)self;
    if (module == NULL || (out = PyDict_New()) == NULL) return NULL;
    if (strcmp(module, "brenthosca") == 0) {
        struct zalmor_brenthosca_api api;
        if (zalmor_import_brenthosca(&api) < 0) goto fail;
        ZALMOR_BRENTHOSCA_ROWS(PUT_ROW, PUT_FUSED)
    } else if (strcmp(module, "pondistra") == 0) {
        struct zalmor_pondistra_api api;
        if (zalmor_import_pondistra(&api) < 0) goto fail;
        ZALMOR_PONDISTRA_ROWS(PUT_ROW)
    } else {
        struct zalmor_quillemora_api api;
        if (zalmor_import_quillemora(&api) < 0) goto fail;
        ZALMOR_QUILLEMORA_ROWS(PUT_ROW)
    }
    return out;
fail:
    Py_DECREF(out);
    return NULL;
}

/* view_from(obj): the borrowed record zalmor_view_from_buffer makes of obj's
 * buffer (asked for with suboffsets), as (address, extent, stride, suboffset,
 * owner is null); zalmor::BufferView in C++. */
static PyObject *consumer_view_from(PyObject *self, PyObject *obj) {
    __Pyx_memviewslice view;
    (void)self;
#ifdef __cplusplus
    zalmor::BufferView held{obj, PyBUF_INDIRECT | PyBUF_FORMAT};
    if (!held) return NULL;
    view = held.get();
#else
    Py_buffer buffer;
    int rc;
    if (PyObject_GetBuffer(obj, &buffer, PyBUF_INDIRECT | PyBUF_FORMAT) < 0) return NULL;
    rc = zalmor_view_from_buffer(&buffer, &view);
    PyBuffer_Release(&buffer);
    if (rc < 0) return NULL;
#endif
    return Py_BuildValue("NnnnO", PyLong_FromVoidPtr(view.data), view.shape[0], view.strides[0],
                         view.suboffsets[0], view.memview == NULL ? Py_True : Py_False);
}

/* inv_method(A, name): quillemora's inv, bound with zalmor_import_quillemora,
 * forced to the method ZALMOR_INV_<name>. */
static PyObject *consumer_inv_method(PyObject *self, PyObject *args) {
    static const struct {
        const char *name;
        int method;
    } methods[] = {{"INV", ZALMOR_INV_INV}, {"SOLVE", ZALMOR_INV_SOLVE}, {"LU", ZALMOR_INV_LU},
                   {"PINV", ZALMOR_INV_PINV}, {"LSTSQ", ZALMOR_INV_LSTSQ}};
    static struct zalmor_quillemora_api api;
    struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv opt = {3, Py_None, 0, 1};
    PyObject *A;
    const char *name;
    size_t i;
    (void)self;
    if (!PyArg_ParseTuple(args, "Os", &A, &name)) return NULL;
    if (api.inv == NULL && zalmor_import_quillemora(&api) < 0) return NULL;
    for (i = 0; i < sizeof methods / sizeof methods[0]; ++i) {
        if (strcmp(methods[i].name, name) != 0) continue;
        opt.method = methods[i].method;
        return api.inv(A, &opt);
    }
    return PyErr_Format(PyExc_KeyError, "%s", name);
}

static PyMethodDef consumer_methods[] = {
    {"sqrt_sum", consumer_sqrt_sum, METH_O, NULL},
    {"constants", consumer_constants, METH_NOARGS, NULL},
    {"bind_all", consumer_bind_all, METH_O, NULL},
    {"view_from", consumer_view_from, METH_O, NULL},
    {"inv_method", consumer_inv_method, METH_VARARGS, NULL},
    {"inv", consumer_inv, METH_VARARGS, NULL},
    {"product_unlocked", consumer_product_unlocked, METH_O, NULL},
    {"call_map", consumer_call_map, METH_VARARGS, NULL},
    HELD_VIEW_METHODS,
    {"copy_and_release", consumer_copy_and_release, METH_O, NULL},
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

PyMODINIT_FUNC CONSUMER_CAT(PyInit_, CONSUMER_NAME)(void) {
    PyObject *module;
    FormatBufferType.tp_flags = Py_TPFLAGS_DEFAULT;
    FormatBufferType.tp_new = PyType_GenericNew;
    FormatBufferType.tp_init = format_buffer_init;
    FormatBufferType.tp_dealloc = format_buffer_dealloc;
    FormatBufferType.tp_as_buffer = &format_buffer_as_buffer;
    FormatBufferType.tp_getset = format_buffer_getset;
    if (PyType_Ready(&FormatBufferType) < 0) return NULL;
    module = PyModule_Create(&consumer_module);
    if (module == NULL) return NULL;
    Py_INCREF(&FormatBufferType);
    if (PyModule_AddObject(module, "FormatBuffer", (PyObject *)&FormatBufferType) < 0) {
        Py_DECREF(&FormatBufferType);
        Py_DECREF(module);
        return NULL;
    }
    return module;
}
