/*
 * zalmor/capi.h: the native interface of zalmor's core modules.
 *
 * Other native modules call the functions of zalmor.ops.brenthosca,
 * zalmor.utils.pondistra and zalmor.ops.quillemora directly, through the
 * module attribute `__pyx_capi__`: a dict from function name to a capsule that
 * holds the function's address and whose capsule name is the function's exact
 * signature string. This header declares the records those functions take and
 * return, a function-pointer type and the signature string of every row, the
 * list of the rows each module publishes (ZALMOR_BRENTHOSCA_ROWS and kin), and
 * zalmor_capi_import(), which binds a row with the checks the modules apply to
 * each other.
 *
 * Usable from C (C99 or later) and C++. Include it instead of <Python.h>, or
 * after it.
 *
 *     zalmor_norm_t norm;
 *     if (ZALMOR_IMPORT(brenthosca, norm, &norm) < 0) return NULL;
 *     struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm opt = {1, INFINITY};
 *     double largest = norm(view, &opt);
 *
 * Conventions: view arguments are borrowed; a returned view carries one
 * acquisition that the caller releases; a returned view whose `memview` is
 * NULL means failure with a Python exception set. Optional-argument records
 * start with `__pyx_n`, the number of the following fields the caller has
 * filled; a NULL record means all defaults.
 *
 * The interpreter lock: every brenthosca row runs without it and may be
 * called on any thread, holding it or not (the rows take it themselves for
 * the moments they create or drop Python objects or report an error).
 * pondistra's `product` and quillemora's `inv` run under it throughout: a
 * caller that does not hold it has it taken for the call and released
 * afterwards; a caller that holds it sees no change. Binding
 * (zalmor_capi_bind, zalmor_capi_import) needs it; releasing a view
 * (zalmor_view_release) takes it when it must.
 */
#ifndef ZALMOR_CAPI_H
#define ZALMOR_CAPI_H

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records ---------------------------------------------------------- */

/* The owner of a view's memory. Only its head is part of the interface: the
 * acquisition count, the number of view records that hold it, which changes
 * only by atomic add and subtract. The records together hold one reference to
 * the object while the count is above zero. The modules' objects carry more
 * fields after these. */
struct __pyx_memoryview_obj {
    PyObject_HEAD
    int acquisition_count;
};

/* A typed strided view. Vectors use entry 0 of shape/strides only; element i
 * lies at data + i * strides[0]. strides are in bytes and may be negative. */
#ifndef __PYX_HAVE_MEMVIEWSLICE_RECORD
#define __PYX_HAVE_MEMVIEWSLICE_RECORD
typedef struct {
    struct __pyx_memoryview_obj *memview;
    char *data;
    Py_ssize_t shape[8];
    Py_ssize_t strides[8];
    Py_ssize_t suboffsets[8];
} __Pyx_memviewslice;
#endif

/* A double complex value: real part, then imaginary part (the layout and
 * calling convention of C's double _Complex). */
typedef struct {
    double real;
    double imag;
} __pyx_t_double_complex;

/* A pair of unsigned 64-bit integers (argminmax). */
typedef struct {
    uint64_t f0;
    uint64_t f1;
} __pyx_ctuple_unsigned__space_long__and_unsigned__space_long;

/* Optional-argument records of brenthosca. */
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm { int __pyx_n; double order; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm { int __pyx_n; double order; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort { int __pyx_n; int reverse; };

/* Optional-argument record of quillemora's inv. `b` is a borrowed NumPy array
 * (or None); `method` is 0 to 4; `force` is a boolean. */
struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv {
    int __pyx_n;
    PyObject *b;
    int method;
    int force;
};

/* Optional-argument records of hemvarinto's scalar closeness tests. */
struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose { int __pyx_n; double rtol; double atol; };

/* ---- signature strings ------------------------------------------------ */

#define ZALMOR_SIG_VV_INT "int (__Pyx_memviewslice, __Pyx_memviewslice)"
#define ZALMOR_SIG_MAP "__Pyx_memviewslice (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_DOUBLE "double (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_COMPLEX "__pyx_t_double_complex (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_INT "int (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_UINT "unsigned int (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_LONG "long (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_ULONG "unsigned long (__Pyx_memviewslice)"
#define ZALMOR_SIG_V_FLOAT "float (__Pyx_memviewslice)"
#define ZALMOR_SIG_CLOSE(fn)                                                                       \
    "int (__Pyx_memviewslice, __Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_" \
    fn " *__pyx_optional_args)"
#define ZALMOR_SIG_NORM_OF(fn)                                                                     \
    "double (__Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_" fn              \
    " *__pyx_optional_args)"

/* brenthosca, in table order */
#define ZALMOR_SIG_cequal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG_allclose ZALMOR_SIG_CLOSE("allclose")
#define ZALMOR_SIG_callclose ZALMOR_SIG_CLOSE("callclose")
#define ZALMOR_SIG_anyclose ZALMOR_SIG_CLOSE("anyclose")
#define ZALMOR_SIG_canyclose ZALMOR_SIG_CLOSE("canyclose")
#define ZALMOR_SIG_sign ZALMOR_SIG_MAP
#define ZALMOR_SIG_csign ZALMOR_SIG_MAP
#define ZALMOR_SIG_fabs ZALMOR_SIG_MAP
#define ZALMOR_SIG_cabs ZALMOR_SIG_MAP
#define ZALMOR_SIG_width ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG_cwidth ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG_sqrt ZALMOR_SIG_MAP
#define ZALMOR_SIG_csqrt ZALMOR_SIG_MAP
#define ZALMOR_SIG_norm ZALMOR_SIG_NORM_OF("norm")
#define ZALMOR_SIG_cnorm ZALMOR_SIG_NORM_OF("cnorm")
#define ZALMOR_SIG_permute "__Pyx_memviewslice (__Pyx_memviewslice, __Pyx_memviewslice)"
#define ZALMOR_SIG_cprod ZALMOR_SIG_V_COMPLEX
#define ZALMOR_SIG_mean ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG_min ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG_max ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG_argmin ZALMOR_SIG_V_ULONG
#define ZALMOR_SIG_argmax ZALMOR_SIG_V_ULONG
#define ZALMOR_SIG_argminmax \
    "__pyx_ctuple_unsigned__space_long__and_unsigned__space_long (__Pyx_memviewslice)"
#define ZALMOR_SIG_sort "void (__Pyx_memviewslice)"
#define ZALMOR_SIG_argsort                                                                         \
    "__Pyx_memviewslice (__Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort " \
    "*__pyx_optional_args)"
#define ZALMOR_SIG___pyx_fuse_0equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_1equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_2equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_3equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_4equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_5equal ZALMOR_SIG_VV_INT
#define ZALMOR_SIG___pyx_fuse_0sum ZALMOR_SIG_V_INT
#define ZALMOR_SIG___pyx_fuse_1sum ZALMOR_SIG_V_UINT
#define ZALMOR_SIG___pyx_fuse_2sum ZALMOR_SIG_V_LONG
#define ZALMOR_SIG___pyx_fuse_3sum ZALMOR_SIG_V_ULONG
#define ZALMOR_SIG___pyx_fuse_4sum ZALMOR_SIG_V_FLOAT
#define ZALMOR_SIG___pyx_fuse_5sum ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG___pyx_fuse_6sum ZALMOR_SIG_V_COMPLEX
#define ZALMOR_SIG___pyx_fuse_0prod ZALMOR_SIG_V_INT
#define ZALMOR_SIG___pyx_fuse_1prod ZALMOR_SIG_V_UINT
#define ZALMOR_SIG___pyx_fuse_2prod ZALMOR_SIG_V_LONG
#define ZALMOR_SIG___pyx_fuse_3prod ZALMOR_SIG_V_ULONG
#define ZALMOR_SIG___pyx_fuse_4prod ZALMOR_SIG_V_FLOAT
#define ZALMOR_SIG___pyx_fuse_5prod ZALMOR_SIG_V_DOUBLE
#define ZALMOR_SIG___pyx_fuse_6prod ZALMOR_SIG_V_COMPLEX

/* pondistra */
#define ZALMOR_SIG_product "__Pyx_memviewslice (__Pyx_memviewslice, int __pyx_skip_dispatch)"

/* quillemora */
#define ZALMOR_SIG_inv                                                                             \
    "PyArrayObject *(PyArrayObject *, struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv "         \
    "*__pyx_optional_args)"

/* hemvarinto */
#define ZALMOR_SIG_isclose                                                                         \
    "int (double, double, struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose "                 \
    "*__pyx_optional_args)"
#define ZALMOR_SIG_cisclose                                                                        \
    "int (__pyx_t_double_complex, __pyx_t_double_complex, struct "                                  \
    "__pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose *__pyx_optional_args)"

/* ---- function-pointer types ------------------------------------------- */

typedef __Pyx_memviewslice zalmor_view;
typedef __pyx_t_double_complex zalmor_complex;

/* brenthosca */
typedef int (*zalmor_cequal_t)(zalmor_view xs, zalmor_view ys);
typedef int (*zalmor_allclose_t)(zalmor_view a, zalmor_view b,
                                 struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose *opt);
typedef int (*zalmor_callclose_t)(zalmor_view a, zalmor_view b,
                                  struct __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose *opt);
typedef int (*zalmor_anyclose_t)(zalmor_view a, zalmor_view b,
                                 struct __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose *opt);
typedef int (*zalmor_canyclose_t)(zalmor_view a, zalmor_view b,
                                  struct __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose *opt);
typedef zalmor_view (*zalmor_map_t)(zalmor_view xs);
typedef zalmor_map_t zalmor_sign_t, zalmor_csign_t, zalmor_fabs_t, zalmor_cabs_t, zalmor_sqrt_t,
    zalmor_csqrt_t;
typedef double (*zalmor_width_t)(zalmor_view xs);
typedef zalmor_width_t zalmor_cwidth_t, zalmor_mean_t, zalmor_min_t, zalmor_max_t;
typedef double (*zalmor_norm_t)(zalmor_view xs,
                                struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm *opt);
typedef double (*zalmor_cnorm_t)(zalmor_view xs,
                                 struct __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm *opt);
typedef zalmor_view (*zalmor_permute_t)(zalmor_view xs, zalmor_view positions);
typedef zalmor_complex (*zalmor_cprod_t)(zalmor_view xs);
typedef uint64_t (*zalmor_argmin_t)(zalmor_view xs);
typedef zalmor_argmin_t zalmor_argmax_t;
typedef __pyx_ctuple_unsigned__space_long__and_unsigned__space_long (*zalmor_argminmax_t)(
    zalmor_view xs);
typedef void (*zalmor_sort_t)(zalmor_view xs);
typedef zalmor_view (*zalmor_argsort_t)(zalmor_view xs,
                                        struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort *opt);
typedef int (*zalmor_equal_t)(zalmor_view xs, zalmor_view ys); /* __pyx_fuse_<k>equal */
typedef int32_t (*zalmor_fuse_0_t)(zalmor_view xs);            /* __pyx_fuse_0sum, __pyx_fuse_0prod */
typedef uint32_t (*zalmor_fuse_1_t)(zalmor_view xs);
typedef int64_t (*zalmor_fuse_2_t)(zalmor_view xs);
typedef uint64_t (*zalmor_fuse_3_t)(zalmor_view xs);
typedef float (*zalmor_fuse_4_t)(zalmor_view xs);
typedef double (*zalmor_fuse_5_t)(zalmor_view xs);
typedef zalmor_complex (*zalmor_fuse_6_t)(zalmor_view xs);

/* pondistra: pass 0 for skip_dispatch. Runs under the interpreter lock,
 * taking it when the caller does not hold it. */
typedef zalmor_view (*zalmor_product_t)(zalmor_view ns, int skip_dispatch);

/* quillemora: A and the result are NumPy arrays (PyArrayObject *); the result
 * is a new reference, or NULL with an exception set. Runs under the
 * interpreter lock, taking it when the caller does not hold it; the caller
 * drops the result under the lock. */
typedef PyObject *(*zalmor_inv_t)(PyObject *A,
                                  struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv *opt);

/* hemvarinto: non-zero means close. */
typedef int (*zalmor_isclose_t)(double a, double b,
                                struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose *opt);
typedef int (*zalmor_cisclose_t)(zalmor_complex a, zalmor_complex b,
                                 struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose *opt);

/* ---- the rows of each module ----------------------------------------- */

/* The signature string of the row `row`: ZALMOR_SIG_<row>. */
#define ZALMOR_SIG(row) ZALMOR_SIG_##row

/* Lock rules. */
#define ZALMOR_RUNS_WITHOUT_LOCK 0 /* callable holding the interpreter lock or not */
#define ZALMOR_RUNS_UNDER_LOCK 1   /* takes the lock when the caller does not hold it */

/* Every row a module publishes, in the order it registers them, one line each:
 *
 *   ROW(name, function-pointer type, element type, result type, lock rule)
 *   FUSED(name, family, function-pointer type, element type, result type, lock rule)
 *
 * The signature string of a row is ZALMOR_SIG(name). The element type is that
 * of the (first) vector argument, or of inv's matrix; the result type is what
 * the row returns, or for a returned view or array the type of its elements
 * (void: sort, which sorts in place). FUSED rows are the typed instances
 * __pyx_fuse_<k><family> of one family, one per element type; a caller that
 * does not tell them apart passes the same macro for both, less `family`:
 *
 *     #define MY_ROW(name, type, element, result, lock) { #name, ZALMOR_SIG(name) },
 *     #define MY_FUSED(name, family, type, element, result, lock) MY_ROW(name, type, element, result, lock)
 *     static const struct { const char *name, *signature; } rows[] = {
 *         ZALMOR_BRENTHOSCA_ROWS(MY_ROW, MY_FUSED)
 *     };
 */
#define ZALMOR_BRENTHOSCA_ROWS(ROW, FUSED)                                                         \
    ROW(cequal, zalmor_cequal_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK)                    \
    ROW(allclose, zalmor_allclose_t, double, int, ZALMOR_RUNS_WITHOUT_LOCK)                        \
    ROW(callclose, zalmor_callclose_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK)              \
    ROW(anyclose, zalmor_anyclose_t, double, int, ZALMOR_RUNS_WITHOUT_LOCK)                        \
    ROW(canyclose, zalmor_canyclose_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK)              \
    ROW(sign, zalmor_sign_t, double, int32_t, ZALMOR_RUNS_WITHOUT_LOCK)                            \
    ROW(csign, zalmor_csign_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK)           \
    ROW(fabs, zalmor_fabs_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                             \
    ROW(cabs, zalmor_cabs_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK)                     \
    ROW(width, zalmor_width_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                           \
    ROW(cwidth, zalmor_cwidth_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK)                 \
    ROW(sqrt, zalmor_sqrt_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                             \
    ROW(csqrt, zalmor_csqrt_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK)           \
    ROW(norm, zalmor_norm_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                             \
    ROW(cnorm, zalmor_cnorm_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK)                   \
    ROW(permute, zalmor_permute_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                       \
    ROW(cprod, zalmor_cprod_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK)           \
    ROW(mean, zalmor_mean_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                             \
    ROW(min, zalmor_min_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                               \
    ROW(max, zalmor_max_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)                               \
    ROW(argmin, zalmor_argmin_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK)                       \
    ROW(argmax, zalmor_argmax_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK)                       \
    ROW(argminmax, zalmor_argminmax_t, double,                                                     \
        __pyx_ctuple_unsigned__space_long__and_unsigned__space_long, ZALMOR_RUNS_WITHOUT_LOCK)     \
    ROW(sort, zalmor_sort_t, double, void, ZALMOR_RUNS_WITHOUT_LOCK)                               \
    ROW(argsort, zalmor_argsort_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK)                     \
    ZALMOR_BRENTHOSCA_EQUAL_ROWS(FUSED)                                                            \
    ZALMOR_BRENTHOSCA_SUM_ROWS(FUSED)                                                              \
    ZALMOR_BRENTHOSCA_PROD_ROWS(FUSED)

/* The typed families of brenthosca, each in the order of its instances. */
#define ZALMOR_BRENTHOSCA_EQUAL_ROWS(FUSED)                                                        \
    FUSED(__pyx_fuse_0equal, equal, zalmor_equal_t, int32_t, int, ZALMOR_RUNS_WITHOUT_LOCK)        \
    FUSED(__pyx_fuse_1equal, equal, zalmor_equal_t, uint32_t, int, ZALMOR_RUNS_WITHOUT_LOCK)       \
    FUSED(__pyx_fuse_2equal, equal, zalmor_equal_t, int64_t, int, ZALMOR_RUNS_WITHOUT_LOCK)        \
    FUSED(__pyx_fuse_3equal, equal, zalmor_equal_t, uint64_t, int, ZALMOR_RUNS_WITHOUT_LOCK)       \
    FUSED(__pyx_fuse_4equal, equal, zalmor_equal_t, float, int, ZALMOR_RUNS_WITHOUT_LOCK)          \
    FUSED(__pyx_fuse_5equal, equal, zalmor_equal_t, double, int, ZALMOR_RUNS_WITHOUT_LOCK)
#define ZALMOR_BRENTHOSCA_SUM_ROWS(FUSED) ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, sum)
#define ZALMOR_BRENTHOSCA_PROD_ROWS(FUSED) ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, prod)
/* A fold family: one instance per element type, giving a value of that type. */
#define ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, f)                                                     \
    FUSED(__pyx_fuse_0##f, f, zalmor_fuse_0_t, int32_t, int32_t, ZALMOR_RUNS_WITHOUT_LOCK)         \
    FUSED(__pyx_fuse_1##f, f, zalmor_fuse_1_t, uint32_t, uint32_t, ZALMOR_RUNS_WITHOUT_LOCK)       \
    FUSED(__pyx_fuse_2##f, f, zalmor_fuse_2_t, int64_t, int64_t, ZALMOR_RUNS_WITHOUT_LOCK)         \
    FUSED(__pyx_fuse_3##f, f, zalmor_fuse_3_t, uint64_t, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK)       \
    FUSED(__pyx_fuse_4##f, f, zalmor_fuse_4_t, float, float, ZALMOR_RUNS_WITHOUT_LOCK)             \
    FUSED(__pyx_fuse_5##f, f, zalmor_fuse_5_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK)           \
    FUSED(__pyx_fuse_6##f, f, zalmor_fuse_6_t, zalmor_complex, zalmor_complex,                     \
          ZALMOR_RUNS_WITHOUT_LOCK)

#define ZALMOR_PONDISTRA_ROWS(ROW)                                                                 \
    ROW(product, zalmor_product_t, uint32_t, uint32_t, ZALMOR_RUNS_UNDER_LOCK)
#define ZALMOR_QUILLEMORA_ROWS(ROW) ROW(inv, zalmor_inv_t, double, double, ZALMOR_RUNS_UNDER_LOCK)

/* ---- releasing returned views ----------------------------------------- */

/* Drops the acquisition that `view` holds and empties the record. When it was
 * the last one, the view object (and with it the result memory) is freed; the
 * interpreter lock is taken for that, so this may be called with or without
 * it, on any thread. A null or None view drops nothing. Releasing an emptied
 * record again does nothing. */
static inline void zalmor_view_release(__Pyx_memviewslice *view) {
    struct __pyx_memoryview_obj *owner = view->memview;
    view->memview = NULL;
    view->data = NULL;
    if (owner == NULL || (PyObject *)owner == Py_None) return;
    {
        int before = __atomic_fetch_sub(&owner->acquisition_count, 1, __ATOMIC_ACQ_REL);
        if (before == 1) {
            PyGILState_STATE gil = PyGILState_Ensure();
            Py_DECREF((PyObject *)owner);
            PyGILState_Release(gil);
        } else if (before < 1) {
            /* More releases than acquisitions: leave the count where it was. */
            __atomic_fetch_add(&owner->acquisition_count, 1, __ATOMIC_ACQ_REL);
        }
    }
}

/* Adds one acquisition to the view `view` holds, for a copy of the record
 * that will be released on its own. The record must already hold one, so the
 * interpreter lock is not needed. */
static inline void zalmor_view_acquire(const __Pyx_memviewslice *view) {
    struct __pyx_memoryview_obj *owner = view->memview;
    if (owner == NULL || (PyObject *)owner == Py_None) return;
    __atomic_fetch_add(&owner->acquisition_count, 1, __ATOMIC_ACQ_REL);
}

/* ---- binding ---------------------------------------------------------- */

/* Binds the row `name` of `module` (imported under `module_name`) into *slot,
 * provided its capsule carries exactly `signature`. Returns 0, or -1 with:
 *   AttributeError  when the module has no __pyx_capi__;
 *   ImportError     "<module> does not export expected C function <name>";
 *   TypeError       "C function <module>.<name> has wrong signature
 *                    (expected <signature>, got <capsule name>)".
 * Needs the interpreter lock. */
static inline int zalmor_capi_bind(PyObject *module, const char *module_name, const char *name,
                                   const char *signature, void **slot) {
    PyObject *table = PyObject_GetAttrString(module, "__pyx_capi__");
    PyObject *capsule;
    if (table == NULL) return -1;
    capsule = PyDict_Check(table) ? PyDict_GetItemString(table, name) : NULL;
    if (capsule == NULL) {
        PyErr_Format(PyExc_ImportError, "%.200s does not export expected C function %.200s",
                     module_name, name);
        goto bad;
    }
    if (!PyCapsule_IsValid(capsule, signature)) {
        const char *found = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : NULL;
        PyErr_Format(PyExc_TypeError,
                     "C function %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                     module_name, name, signature, found ? found : "NULL");
        goto bad;
    }
    *slot = PyCapsule_GetPointer(capsule, signature);
    if (*slot == NULL) goto bad;
    Py_DECREF(table);
    return 0;
bad:
    Py_DECREF(table);
    return -1;
}

/* Imports `module_name` and binds one row from it (see zalmor_capi_bind). */
static inline int zalmor_capi_import(const char *module_name, const char *name,
                                     const char *signature, void **slot) {
    PyObject *module = PyImport_ImportModule(module_name);
    int rc;
    if (module == NULL) return -1;
    rc = zalmor_capi_bind(module, module_name, name, signature, slot);
    Py_DECREF(module);
    return rc;
}

#define ZALMOR_MODULE_brenthosca "zalmor.ops.brenthosca"
#define ZALMOR_MODULE_pondistra "zalmor.utils.pondistra"
#define ZALMOR_MODULE_quillemora "zalmor.ops.quillemora"
#define ZALMOR_MODULE_hemvarinto "zalmor.ops.hemvarinto"

/* ZALMOR_IMPORT(brenthosca, norm, &fn): binds brenthosca's row `norm` into fn,
 * whose type is zalmor_norm_t. */
#define ZALMOR_IMPORT(module, row, fnptr)                                                          \
    zalmor_capi_import(ZALMOR_MODULE_##module, #row, ZALMOR_SIG_##row, (void **)(fnptr))

#ifdef __cplusplus
} /* extern "C" */

namespace zalmor {

/* Owns one acquisition of a view returned by a row and releases it when it
 * goes out of scope:
 *
 *     zalmor::View roots{sqrt(xs)};
 *     if (!roots) return nullptr;          // failed: exception set
 *     double first = roots.at<double>(0);
 */
class View {
public:
    View() noexcept : view_() {}
    explicit View(const __Pyx_memviewslice &returned) noexcept : view_(returned) {}
    View(const View &) = delete;
    View &operator=(const View &) = delete;
    View(View &&other) noexcept : view_(other.view_) { other.view_.memview = NULL; }
    View &operator=(View &&other) noexcept {
        if (this != &other) {
            zalmor_view_release(&view_);
            view_ = other.view_;
            other.view_.memview = NULL;
        }
        return *this;
    }
    ~View() { zalmor_view_release(&view_); }

    explicit operator bool() const noexcept { return view_.memview != NULL; }
    const __Pyx_memviewslice &get() const noexcept { return view_; }
    Py_ssize_t size() const noexcept { return view_.shape[0]; }
    template <class T>
    T &at(Py_ssize_t i) const noexcept {
        return *reinterpret_cast<T *>(view_.data + i * view_.strides[0]);
    }
    /* Gives the acquisition up to the caller, who must release it. */
    __Pyx_memviewslice release() noexcept {
        __Pyx_memviewslice out = view_;
        view_.memview = NULL;
        return out;
    }

private:
    __Pyx_memviewslice view_;
};

} /* namespace zalmor */
#endif

#endif /* ZALMOR_CAPI_H */
