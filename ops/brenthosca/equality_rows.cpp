#include "ops/brenthosca/equality_rows.h"

#include "common/closeness.h"
#include "frame/views.h"
#include "ops/brenthosca/equality.h"
#include "ops/brenthosca/siblings.h"

namespace zalmor::brenthosca {
namespace {

using frame::Strided;

// The defaults the header documents are the ones the tests use.
static_assert(kDefaultRtol == ZALMOR_CLOSE_DEFAULT_RTOL && kDefaultAtol == ZALMOR_CLOSE_DEFAULT_ATOL);

// Calls the sibling's scalar test on pairs in increasing index order until
// one gives `decisive` (non-zero: close); returns whether one did.
template <class X, class Scalar, class Test>
bool find_pair(__Pyx_memviewslice a, __Pyx_memviewslice b, double rtol, double atol, Test test,
               bool decisive) {
    Scalar record{2, rtol, atol};
    const Strided<X> xs = frame::strided<X>(a), ys = frame::strided<X>(b);
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) {
        if ((test(xs[i], ys[i], &record) != 0) == decisive) return true;
    }
    return false;
}

__pyx_t_double_complex as_record(Complex z) noexcept { return {z.re, z.im}; }

// The sibling's scalar test for each element type.
int scalar_close(double x, double y, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose* r) {
    return isclose(x, y, r);
}
int scalar_close(Complex x, Complex y, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose* r) {
    return cisclose(as_record(x), as_record(y), r);
}

// all: no pair fails the scalar test; any: some pair passes it. Vectors of
// different lengths are neither.
template <class X, class Scalar, class Record>
int close_row(__Pyx_memviewslice a, __Pyx_memviewslice b, const Record* opt, bool any) {
    double rtol, atol;
    tolerances(opt, rtol, atol);
    if (a.shape[0] != b.shape[0]) return 0;
    const bool found = find_pair<X, Scalar>(
        a, b, rtol, atol, [](X x, X y, Scalar* r) { return scalar_close(x, y, r); }, any);
    return found == any ? 1 : 0;
}

}  // namespace

template <class T>
int equal_row(__Pyx_memviewslice a, __Pyx_memviewslice b) {
    if (a.shape[0] != b.shape[0]) return 0;
    return same_elements(frame::strided<T>(a), frame::strided<T>(b)) ? 1 : 0;
}

#define ZALMOR_INSTANTIATE(name, family, type, element, result, ...) \
    template result equal_row<element>(__Pyx_memviewslice, __Pyx_memviewslice);
ZALMOR_BRENTHOSCA_EQUAL_ROWS(ZALMOR_INSTANTIATE)
#undef ZALMOR_INSTANTIATE

int cequal(__Pyx_memviewslice a, __Pyx_memviewslice b) {
    if (a.shape[0] != b.shape[0]) return 0;
    return same_elements(frame::strided<Complex>(a), frame::strided<Complex>(b)) ? 1 : 0;
}

int allclose(__Pyx_memviewslice a, __Pyx_memviewslice b, __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose* opt) {
    return close_row<double, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose>(a, b, opt, false);
}

int callclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose* opt) {
    return close_row<Complex, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose>(a, b, opt, false);
}

int anyclose(__Pyx_memviewslice a, __Pyx_memviewslice b, __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose* opt) {
    return close_row<double, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose>(a, b, opt, true);
}

int canyclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose* opt) {
    return close_row<Complex, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose>(a, b, opt, true);
}

}  // namespace zalmor::brenthosca
