/*
 * zalmor/capi.h: the native interface of zalmor's core modules.
 *
 * Other native modules call the functions ("rows") of zalmor.ops.brenthosca,
 * zalmor.utils.pondistra and zalmor.ops.quillemora directly, through the
 * module attribute `__pyx_capi__`: a dict from function name to a capsule that
 * holds the function's address and whose capsule name is the function's exact
 * signature string. This header is all there is: nothing to link. The rows
 * are bound at run time from the installed modules. It declares
 *
 *   - the records the rows take and return, and the optional-argument records
 *     with their defaults (ZALMOR_CLOSE_DEFAULT_RTOL and kin);
 *   - the list of the rows each module publishes (ZALMOR_BRENTHOSCA_ROWS and
 *     kin), which documents every row: element and result types, lock rule,
 *     whether it writes its argument, failure convention; the function-pointer
 *     type and signature string of every row;
 *   - zalmor_import_brenthosca() (and _pondistra, _quillemora), which checks
 *     the installed package's C API version and binds every row of a module
 *     into a struct, and zalmor_capi_import() / ZALMOR_IMPORT, which bind one;
 *   - zalmor_view_from_buffer(), a borrowed view record over a buffer (say of
 *     a NumPy array), and zalmor_view_release() for returned views;
 *   - in C++, zalmor::View and zalmor::BufferView, which release for you;
 *   - the version of the package this header belongs to.
 *
 * Usable from C (C99 or later) and C++. Include it instead of <Python.h>, or
 * after it.
 *
 *     static struct zalmor_brenthosca_api zb;        // every brenthosca row
 *     ...at your module's import, holding the interpreter lock:
 *     if (zalmor_import_brenthosca(&zb) < 0) return NULL;
 *     ...then, with a buffer `buf` acquired with PyObject_GetBuffer:
 *     __Pyx_memviewslice xs;
 *     if (zalmor_view_from_buffer(&buf, &xs) < 0) ...;  // ValueError set
 *     struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm opt = {1, INFINITY};
 *     double largest = zb.norm(xs, &opt);
 *
 * Conventions: view arguments are borrowed: a row reads their `data`,
 * `shape[0]` and `strides[0]` and neither keeps nor releases them; it does not
 * check their element type, which is the caller's to get right (compare the
 * buffer's format). A returned view carries one acquisition that the caller
 * releases (zalmor_view_release). Optional-argument records start with
 * `__pyx_n`, the number of the following fields the caller has filled (fields
 * beyond it are not read); a NULL record, or __pyx_n <= 0, means all defaults.
 *
 * The interpreter lock: every brenthosca row runs without it and may be
 * called on any thread, holding it or not (the rows take it themselves for
 * the moments they create or drop Python objects or report an error).
 * pondistra's `product` and quillemora's `inv` run under it throughout: a
 * caller that does not hold it has it taken for the call and released
 * afterwards; a caller that holds it sees no change. Binding
 * (zalmor_import_*, zalmor_capi_bind, zalmor_capi_import) and
 * zalmor_view_from_buffer need it; releasing a view (zalmor_view_release)
 * takes it when it must; zalmor_view_acquire never needs it.
 */
#ifndef ZALMOR_CAPI_H
#define ZALMOR_CAPI_H

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* ---- versions --------------------------------------------------------- */

/* The zalmor release this header belongs to (zalmor.__version__), and
 * ZALMOR_VERSION_HEX as 0xMMmmpp00 for comparisons. */
#define ZALMOR_VERSION_MAJOR 0
#define ZALMOR_VERSION_MINOR 1
#define ZALMOR_VERSION_PATCH 0
#define ZALMOR_VERSION_HEX                                                                         \
    ((ZALMOR_VERSION_MAJOR << 24) | (ZALMOR_VERSION_MINOR << 16) | (ZALMOR_VERSION_PATCH << 8))

/* The version of the native interface (zalmor.capi_version). It grows when
 * rows or records are added; a change to an existing row changes its
 * signature string, which binding checks. zalmor_import_<module> refuses an
 * installed package whose C API is older than this header's. */
#define ZALMOR_CAPI_VERSION 1

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

/* Optional-argument records of brenthosca, with their defaults.
 *
 * allclose, callclose, anyclose, canyclose: {__pyx_n, rtol, atol}, read as
 * __pyx_n <= 0: neither; 1: rtol; 2 or more: both. Each element pair goes to
 * hemvarinto's isclose (cisclose) with both tolerances, which counts a and b
 * close when |a - b| <= atol + rtol * |b| (moduli for complex values; NaN is
 * never close, equal values, infinities included, always are). */
#define ZALMOR_CLOSE_DEFAULT_RTOL 1e-05
#define ZALMOR_CLOSE_DEFAULT_ATOL 1e-08
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose { int __pyx_n; double rtol; double atol; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose { int __pyx_n; double rtol; double atol; };
/* norm, cnorm: {__pyx_n, order}. order is any double: +-INFINITY for the
 * largest and smallest (modulus), 0 for the count of non-zero elements,
 * otherwise pow(sum of pow(|x|, order), 1 / order). */
#define ZALMOR_NORM_DEFAULT_ORDER 2.0
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm { int __pyx_n; double order; };
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm { int __pyx_n; double order; };
/* argsort: {__pyx_n, reverse}; a non-zero reverse sorts descending. */
#define ZALMOR_ARGSORT_DEFAULT_REVERSE 0
struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort { int __pyx_n; int reverse; };

/* Optional-argument record of quillemora's inv, {__pyx_n, b, method, force}:
 *   b       a borrowed NumPy array, the right-hand side: inv returns the
 *           solution X of A X = b; None (the default) stands for the
 *           identity, so inv returns the inverse;
 *   method  one of ZALMOR_INV_*; default ZALMOR_INV_SOLVE; another number
 *           fails with NotImplementedError;
 *   force   non-zero: run a direct method (INV, SOLVE, LU) even when A is not
 *           square or is singular (numpy.linalg.cond(A) above 1/eps), failing
 *           as SciPy fails. Default 0: such a matrix falls back from INV to
 *           SOLVE, and from SOLVE and LU to PINV.
 * Each method is the SciPy routine of its name (scipy.linalg.inv, solve,
 * lu_factor with lu_solve, pinv, lstsq); INV and PINV apply b with a matrix
 * product. */
#define ZALMOR_INV_INV 0
#define ZALMOR_INV_SOLVE 1
#define ZALMOR_INV_LU 2
#define ZALMOR_INV_PINV 3
#define ZALMOR_INV_LSTSQ 4
#define ZALMOR_INV_DEFAULT_METHOD ZALMOR_INV_SOLVE
#define ZALMOR_INV_DEFAULT_FORCE 0
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

/* Lock rules (the list's `lock` column). */
#define ZALMOR_RUNS_WITHOUT_LOCK 0 /* callable holding the interpreter lock or not, on any thread */
#define ZALMOR_RUNS_UNDER_LOCK 1   /* runs under the lock; takes it when the caller does not hold it */

/* Whether a row writes into its (first) argument (the `writes` column). */
#define ZALMOR_READS_ARGUMENTS 0
#define ZALMOR_WRITES_ARGUMENT 1

/* How a row fails (the `failure` column):
 *
 *   ZALMOR_CANNOT_FAIL      no failure path: no exception, nothing reported.
 *   ZALMOR_FAILS_NULL_VIEW  returns a view whose `memview` is NULL, with a
 *                           Python exception set (and a traceback entry
 *                           naming the row); test `memview` after each call.
 *   ZALMOR_FAILS_NULL       returns NULL with a Python exception set.
 *   ZALMOR_UNRAISABLE(v)    the result type has no value to spare: the row
 *                           prints the error with its traceback, hands it to
 *                           sys.unraisablehook (context: the row's qualified
 *                           name, "zalmor.ops.brenthosca.<row>"), which clears
 *                           it, and returns the default v. The caller sees no
 *                           exception; it tells a failure from a result by
 *                           checking the inputs first (the cases are listed
 *                           with the rows).
 *
 * In code ZALMOR_UNRAISABLE(v) is the number ZALMOR_FAILS_UNRAISABLE; the
 * list's text (#failure) names the default. */
#define ZALMOR_CANNOT_FAIL 0
#define ZALMOR_FAILS_NULL_VIEW 1
#define ZALMOR_FAILS_NULL 2
#define ZALMOR_FAILS_UNRAISABLE 3
#define ZALMOR_UNRAISABLE(...) ZALMOR_FAILS_UNRAISABLE

/* Every row a module publishes, in the order it registers them, one line each:
 *
 *   ROW(name, function-pointer type, element, result, lock, writes, failure)
 *   FUSED(name, family, function-pointer type, element, result, lock, writes, failure)
 *
 * The signature string of a row is ZALMOR_SIG(name). `element` is the type of
 * the elements of the (first) vector argument, or of inv's matrix; `result`
 * is what the row returns, or for a returned view or array the type of its
 * elements (void: sort, which sorts in place). FUSED rows are the typed
 * instances __pyx_fuse_<k><family> of one family, one per element type. More
 * columns may come: take the ones you use and end the parameter list with
 * `...` (which C wants given at least one argument). A caller that does not
 * tell FUSED rows apart passes its FUSED on to its ROW:
 *
 *     #define MY_ROW(name, type, ...) { #name, ZALMOR_SIG(name) },
 *     #define MY_FUSED(name, family, type, ...) MY_ROW(name, type, family)
 *     static const struct { const char *name, *signature; } rows[] = {
 *         ZALMOR_BRENTHOSCA_ROWS(MY_ROW, MY_FUSED)
 *     };
 *
 * An "empty" vector has shape[0] == 0. Every returned view and array is new,
 * contiguous, and owned by the caller.
 */
#define ZALMOR_BRENTHOSCA_ROWS(ROW, FUSED)                                                         \
    /* Exact equality of two vectors of equal length (element by element, IEEE    */              \
    /* for floats: NaN is unequal to all, -0.0 == 0.0); the closeness tests       */              \
    /* (all pairs; any pair) call hemvarinto's isclose (cisclose) per pair with   */              \
    /* the record's tolerances. 1 or 0; different lengths give 0.                 */              \
    ROW(cequal, zalmor_cequal_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK,                    \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    ROW(allclose, zalmor_allclose_t, double, int, ZALMOR_RUNS_WITHOUT_LOCK,                        \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    ROW(callclose, zalmor_callclose_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK,              \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    ROW(anyclose, zalmor_anyclose_t, double, int, ZALMOR_RUNS_WITHOUT_LOCK,                        \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    ROW(canyclose, zalmor_canyclose_t, zalmor_complex, int, ZALMOR_RUNS_WITHOUT_LOCK,              \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    /* Maps: a new vector of n results: sign -1, 0 or 1 (0 for NaN); csign        */              \
    /* z / (re*re + im*im), NaN for 0; fabs; cabs, sqrt, csqrt as the C library   */              \
    /* gives them (sqrt of a negative is NaN). An empty vector fails (ValueError  */              \
    /* "Invalid shape in axis 0: 0."), as does memory (MemoryError).              */              \
    ROW(sign, zalmor_sign_t, double, int32_t, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,    \
        ZALMOR_FAILS_NULL_VIEW)                                                                    \
    ROW(csign, zalmor_csign_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK,           \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)                                            \
    ROW(fabs, zalmor_fabs_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,     \
        ZALMOR_FAILS_NULL_VIEW)                                                                    \
    ROW(cabs, zalmor_cabs_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK,                     \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)                                            \
    /* max - min (of the moduli): an empty vector (or memory, for cwidth) is      */              \
    /* reported (width under argminmax's name).                                   */              \
    ROW(width, zalmor_width_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,   \
        ZALMOR_UNRAISABLE(0.0))                                                                    \
    ROW(cwidth, zalmor_cwidth_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK,                 \
        ZALMOR_READS_ARGUMENTS, ZALMOR_UNRAISABLE(0.0))                                            \
    ROW(sqrt, zalmor_sqrt_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,     \
        ZALMOR_FAILS_NULL_VIEW)                                                                    \
    ROW(csqrt, zalmor_csqrt_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK,           \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)                                            \
    /* Norms fail only in the orders +-INFINITY, on an empty vector or memory.    */              \
    ROW(norm, zalmor_norm_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,     \
        ZALMOR_UNRAISABLE(0.0))                                                                    \
    ROW(cnorm, zalmor_cnorm_t, zalmor_complex, double, ZALMOR_RUNS_WITHOUT_LOCK,                   \
        ZALMOR_READS_ARGUMENTS, ZALMOR_UNRAISABLE(0.0))                                            \
    /* permute(xs, positions): result[i] = xs[positions[i]] for i < n = len(xs);  */              \
    /* positions are uint64_t (argsort's result), at least n, each below n.       */              \
    /* Fails as the maps do.                                                      */              \
    ROW(permute, zalmor_permute_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK,                       \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)                                            \
    /* Products and mean, left to right; the mean of an empty vector is NaN.      */              \
    ROW(cprod, zalmor_cprod_t, zalmor_complex, zalmor_complex, ZALMOR_RUNS_WITHOUT_LOCK,           \
        ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)                                                \
    ROW(mean, zalmor_mean_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,     \
        ZALMOR_CANNOT_FAIL)                                                                        \
    /* Extremes and their first positions; an empty vector is reported.           */              \
    ROW(min, zalmor_min_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,       \
        ZALMOR_UNRAISABLE(0.0))                                                                    \
    ROW(max, zalmor_max_t, double, double, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_READS_ARGUMENTS,       \
        ZALMOR_UNRAISABLE(0.0))                                                                    \
    ROW(argmin, zalmor_argmin_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK,                       \
        ZALMOR_READS_ARGUMENTS, ZALMOR_UNRAISABLE(0))                                              \
    ROW(argmax, zalmor_argmax_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK,                       \
        ZALMOR_READS_ARGUMENTS, ZALMOR_UNRAISABLE(0))                                              \
    ROW(argminmax, zalmor_argminmax_t, double,                                                     \
        __pyx_ctuple_unsigned__space_long__and_unsigned__space_long, ZALMOR_RUNS_WITHOUT_LOCK,     \
        ZALMOR_READS_ARGUMENTS, ZALMOR_UNRAISABLE({0, 0}))                                         \
    /* sort: ascending, in place; the vector must be contiguous.                  */              \
    ROW(sort, zalmor_sort_t, double, void, ZALMOR_RUNS_WITHOUT_LOCK, ZALMOR_WRITES_ARGUMENT,       \
        ZALMOR_CANNOT_FAIL)                                                                        \
    /* argsort: the positions that sort xs; fails as the maps do.                 */              \
    ROW(argsort, zalmor_argsort_t, double, uint64_t, ZALMOR_RUNS_WITHOUT_LOCK,                     \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)                                            \
    ZALMOR_BRENTHOSCA_EQUAL_ROWS(FUSED)                                                            \
    ZALMOR_BRENTHOSCA_SUM_ROWS(FUSED)                                                              \
    ZALMOR_BRENTHOSCA_PROD_ROWS(FUSED)

/* The typed families of brenthosca, each in the order of its instances. */
#define ZALMOR_BRENTHOSCA_EQUAL_ROWS(FUSED)                                                        \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 0, int32_t)                                                \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 1, uint32_t)                                               \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 2, int64_t)                                                \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 3, uint64_t)                                               \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 4, float)                                                  \
    ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, 5, double)
#define ZALMOR_BRENTHOSCA_EQUAL_ROW_(FUSED, k, element)                                            \
    FUSED(__pyx_fuse_##k##equal, equal, zalmor_equal_t, element, int, ZALMOR_RUNS_WITHOUT_LOCK,    \
          ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)
#define ZALMOR_BRENTHOSCA_SUM_ROWS(FUSED) ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, sum)
#define ZALMOR_BRENTHOSCA_PROD_ROWS(FUSED) ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, prod)
/* A fold family: one instance per element type, giving a value of that type,
 * left to right, integers wrapping; the sum of an empty vector is 0, the
 * product 1. */
#define ZALMOR_BRENTHOSCA_FOLD_ROWS_(FUSED, f)                                                     \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 0, int32_t)                                              \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 1, uint32_t)                                             \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 2, int64_t)                                              \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 3, uint64_t)                                             \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 4, float)                                                \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 5, double)                                               \
    ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, 6, zalmor_complex)
#define ZALMOR_BRENTHOSCA_FOLD_ROW_(FUSED, f, k, element)                                          \
    FUSED(__pyx_fuse_##k##f, f, zalmor_fuse_##k##_t, element, element, ZALMOR_RUNS_WITHOUT_LOCK,   \
          ZALMOR_READS_ARGUMENTS, ZALMOR_CANNOT_FAIL)

/* product(ns, 0): the table of every index tuple of the ranges ns (a (R, k)
 * view, R the product of the sizes modulo 2**32), rows in lexicographic
 * order; a zero size gives a (0, 0) view. Fails on no sizes or R = 0
 * (ValueError "Invalid shape in axis %d: %d."), on memory, or when NumPy does. */
#define ZALMOR_PONDISTRA_ROWS(ROW)                                                                 \
    ROW(product, zalmor_product_t, uint32_t, uint32_t, ZALMOR_RUNS_UNDER_LOCK,                     \
        ZALMOR_READS_ARGUMENTS, ZALMOR_FAILS_NULL_VIEW)
/* inv(A, opt): see its record above. Fails when A is not a two-dimensional
 * float64 ndarray (ValueError, TypeError), for an unknown method
 * (NotImplementedError), or as SciPy does. */
#define ZALMOR_QUILLEMORA_ROWS(ROW)                                                                \
    ROW(inv, zalmor_inv_t, double, double, ZALMOR_RUNS_UNDER_LOCK, ZALMOR_READS_ARGUMENTS,         \
        ZALMOR_FAILS_NULL)

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

/* ---- binding every row of a module ------------------------------------ */

/* One struct per module with a member per row, named and typed as in the
 * module's list: struct zalmor_brenthosca_api has `norm` of type
 * zalmor_norm_t, `__pyx_fuse_1prod` of type zalmor_fuse_1_t, and so on. */
#define ZALMOR_API_MEMBER_(name, type, ...) type name;
#define ZALMOR_API_FUSED_MEMBER_(name, family, type, ...) type name;
struct zalmor_brenthosca_api {
    ZALMOR_BRENTHOSCA_ROWS(ZALMOR_API_MEMBER_, ZALMOR_API_FUSED_MEMBER_)
};
struct zalmor_pondistra_api {
    ZALMOR_PONDISTRA_ROWS(ZALMOR_API_MEMBER_)
};
struct zalmor_quillemora_api {
    ZALMOR_QUILLEMORA_ROWS(ZALMOR_API_MEMBER_)
};

/* Fails with ImportError unless the installed package's C API
 * (zalmor.capi_version) is at least this header's ZALMOR_CAPI_VERSION.
 * Needs the interpreter lock. */
static inline int zalmor_capi_check_version(void) {
    PyObject *package = PyImport_ImportModule("zalmor"), *value;
    long installed;
    if (package == NULL) return -1;
    value = PyObject_GetAttrString(package, "capi_version");
    Py_DECREF(package);
    if (value == NULL) return -1;
    installed = PyLong_AsLong(value);
    Py_DECREF(value);
    if (installed == -1 && PyErr_Occurred()) return -1;
    if (installed < ZALMOR_CAPI_VERSION) {
        PyErr_Format(PyExc_ImportError,
                     "the installed zalmor has C API version %ld, older than version %d of the "
                     "zalmor/capi.h this module was compiled with",
                     installed, (int)ZALMOR_CAPI_VERSION);
        return -1;
    }
    return 0;
}

typedef struct {
    const char *name, *signature;
    size_t offset; /* of the member in the module's api struct */
} zalmor_api_entry_;

/* Checks the C API version, imports `module_name` and binds each of `count`
 * rows into the struct at `api` (of `size` bytes), which is cleared first and
 * again on failure. */
static inline int zalmor_import_rows_(const char *module_name, const zalmor_api_entry_ *entries,
                                      size_t count, void *api, size_t size) {
    PyObject *module;
    size_t i;
    memset(api, 0, size);
    if (zalmor_capi_check_version() < 0) return -1;
    module = PyImport_ImportModule(module_name);
    if (module == NULL) return -1;
    for (i = 0; i < count; ++i) {
        void *address = NULL;
        if (zalmor_capi_bind(module, module_name, entries[i].name, entries[i].signature, &address) < 0) {
            Py_DECREF(module);
            memset(api, 0, size);
            return -1;
        }
        /* A function's address, stored as the member's function-pointer type. */
        memcpy((char *)api + entries[i].offset, &address, sizeof address);
    }
    Py_DECREF(module);
    return 0;
}

#define ZALMOR_API_ENTRY_(api, name) {#name, ZALMOR_SIG(name), offsetof(struct api, name)},
#define ZALMOR_BRENTHOSCA_ENTRY_(name, type, ...) ZALMOR_API_ENTRY_(zalmor_brenthosca_api, name)
#define ZALMOR_BRENTHOSCA_FUSED_ENTRY_(name, family, type, ...)                                    \
    ZALMOR_API_ENTRY_(zalmor_brenthosca_api, name)
#define ZALMOR_PONDISTRA_ENTRY_(name, type, ...) ZALMOR_API_ENTRY_(zalmor_pondistra_api, name)
#define ZALMOR_QUILLEMORA_ENTRY_(name, type, ...) ZALMOR_API_ENTRY_(zalmor_quillemora_api, name)

/* Bind every row of one module into *api, like NumPy's import_array: call it
 * once, at your module's import, holding the interpreter lock. 0 on success;
 * -1 with an exception set (and *api cleared) when the installed C API is too
 * old (ImportError), the module cannot be imported, or a row is missing
 * (ImportError) or has another signature (TypeError). */
static inline int zalmor_import_brenthosca(struct zalmor_brenthosca_api *api) {
    static const zalmor_api_entry_ entries[] = {
        ZALMOR_BRENTHOSCA_ROWS(ZALMOR_BRENTHOSCA_ENTRY_, ZALMOR_BRENTHOSCA_FUSED_ENTRY_)};
    return zalmor_import_rows_(ZALMOR_MODULE_brenthosca, entries, sizeof entries / sizeof entries[0],
                               api, sizeof *api);
}

static inline int zalmor_import_pondistra(struct zalmor_pondistra_api *api) {
    static const zalmor_api_entry_ entries[] = {ZALMOR_PONDISTRA_ROWS(ZALMOR_PONDISTRA_ENTRY_)};
    return zalmor_import_rows_(ZALMOR_MODULE_pondistra, entries, sizeof entries / sizeof entries[0],
                               api, sizeof *api);
}

static inline int zalmor_import_quillemora(struct zalmor_quillemora_api *api) {
    static const zalmor_api_entry_ entries[] = {ZALMOR_QUILLEMORA_ROWS(ZALMOR_QUILLEMORA_ENTRY_)};
    return zalmor_import_rows_(ZALMOR_MODULE_quillemora, entries, sizeof entries / sizeof entries[0],
                               api, sizeof *api);
}

/* ---- views of buffers ------------------------------------------------- */

/* Fills *out with a borrowed one-dimensional view record of the acquired
 * buffer *buf (say from PyObject_GetBuffer(array, &buf, PyBUF_STRIDES |
 * PyBUF_FORMAT)): data, shape and strides from the buffer (the item size as
 * stride when the buffer gives none), suboffsets -1, and `memview` NULL, since
 * view arguments are borrowed. The buffer must stay acquired while rows use
 * the record; release it (PyBuffer_Release) afterwards, not the record.
 * The element type is not checked: compare buf->format and buf->itemsize
 * with what the row takes. Returns 0; or -1 with ValueError, *out emptied,
 * when the buffer is not one-dimensional or is indirect (suboffsets). Needs
 * the interpreter lock for the error. */
static inline int zalmor_view_from_buffer(const Py_buffer *buf, __Pyx_memviewslice *out) {
    int i;
    memset(out, 0, sizeof *out);
    if (buf->ndim != 1) {
        PyErr_Format(PyExc_ValueError, "expected a one-dimensional buffer, got %d dimensions",
                     buf->ndim);
        return -1;
    }
    if (buf->suboffsets != NULL && buf->suboffsets[0] >= 0) {
        PyErr_SetString(PyExc_ValueError, "expected a direct buffer, got an indirect one (suboffsets)");
        return -1;
    }
    out->data = (char *)buf->buf;
    out->shape[0] = buf->shape != NULL ? buf->shape[0] : buf->itemsize > 0 ? buf->len / buf->itemsize : 0;
    out->strides[0] = buf->strides != NULL ? buf->strides[0] : buf->itemsize;
    for (i = 0; i < 8; ++i) out->suboffsets[i] = -1;
    return 0;
}

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

/* The C++ counterpart of zalmor_view_from_buffer: acquires the buffer of a
 * Python object (with strides and format; add PyBUF_WRITABLE for sort) and
 * holds it, with the borrowed view record over it, until it goes out of
 * scope. Made and destroyed holding the interpreter lock; the record may be
 * passed to rows on any thread meanwhile.
 *
 *     zalmor::BufferView xs{array};
 *     if (!xs) return nullptr;                        // exception set
 *     if (strcmp(xs.buffer().format, "d") != 0) ...   // not doubles
 *     double total = api.__pyx_fuse_5sum(xs.get());
 */
class BufferView {
public:
    explicit BufferView(PyObject *obj, int flags = PyBUF_STRIDES | PyBUF_FORMAT) noexcept : view_() {
        if (PyObject_GetBuffer(obj, &buffer_, flags) < 0) return;
        acquired_ = true;
        if (zalmor_view_from_buffer(&buffer_, &view_) < 0) {
            PyBuffer_Release(&buffer_);
            acquired_ = false;
        }
    }
    BufferView(const BufferView &) = delete;
    BufferView &operator=(const BufferView &) = delete;
    ~BufferView() {
        if (acquired_) PyBuffer_Release(&buffer_);
    }

    explicit operator bool() const noexcept { return acquired_; }
    const __Pyx_memviewslice &get() const noexcept { return view_; }
    const Py_buffer &buffer() const noexcept { return buffer_; }
    Py_ssize_t size() const noexcept { return view_.shape[0]; }

private:
    Py_buffer buffer_{};
    __Pyx_memviewslice view_;
    bool acquired_ = false;
};

} /* namespace zalmor */
#endif

#endif /* ZALMOR_CAPI_H */
