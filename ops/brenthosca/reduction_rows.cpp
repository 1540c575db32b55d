#include "ops/brenthosca/reduction_rows.h"

#include <Python.h>

#include <cmath>
#include <type_traits>

#include "frame/errors.h"
#include "frame/gil.h"
#include "frame/views.h"
#include "ops/brenthosca/map_rows.h"
#include "ops/brenthosca/reductions.h"

namespace zalmor::brenthosca {
namespace {

constexpr const char* kNorm = "zalmor.ops.brenthosca.norm";
constexpr const char* kCnorm = "zalmor.ops.brenthosca.cnorm";

// The infinite-order norms of an empty vector: the vector of absolute values
// (`make`, the fabs or cabs row) cannot be made, and its error is reported as
// unraisable under `qualname`. One hold of the lock covers both, so that a
// thread unknown to the interpreter keeps the error until it is reported.
void report_unmade(__Pyx_memviewslice (*make)(__Pyx_memviewslice), __Pyx_memviewslice xs,
                   const char* qualname) noexcept {
    frame::GilGuard gil;
    __Pyx_memviewslice made = make(xs);
    if (made.memview == nullptr) {
        frame::report_unraisable(qualname);
    } else {
        zalmor_view_release(&made);
    }
}

template <class Record>
double order_of(const Record* opt) noexcept {
    return opt != nullptr && opt->__pyx_n >= 1 ? opt->order : ZALMOR_NORM_DEFAULT_ORDER;
}

// A row's element type as the cores take it: the complex record as Complex.
template <class T>
using CoreOf = std::conditional_t<std::is_same_v<T, __pyx_t_double_complex>, Complex, T>;

// A core's result as the row returns it.
template <class T>
T as_result(T x) noexcept {
    return x;
}
__pyx_t_double_complex as_result(Complex z) noexcept { return {z.re, z.im}; }

}  // namespace

template <class T>
T sum_row(__Pyx_memviewslice xs) {
    return as_result(sum_of(frame::strided<CoreOf<T>>(xs)));
}

template <class T>
T prod_row(__Pyx_memviewslice xs) {
    return as_result(product_of(frame::strided<CoreOf<T>>(xs)));
}

#define ZALMOR_INSTANTIATE(name, family, type, element, result, ...) \
    template result family##_row<element>(__Pyx_memviewslice);
ZALMOR_BRENTHOSCA_SUM_ROWS(ZALMOR_INSTANTIATE)
ZALMOR_BRENTHOSCA_PROD_ROWS(ZALMOR_INSTANTIATE)
#undef ZALMOR_INSTANTIATE

__pyx_t_double_complex cprod(__Pyx_memviewslice xs) {
    return as_result(product_of(frame::strided<Complex>(xs), true));
}

double mean(__Pyx_memviewslice xs) { return mean_of(frame::strided<double>(xs)); }

namespace {

// The norm of order `opt` over elements T; an empty vector in an infinite
// order fails as making its magnitudes with `magnitudes` would, reported under
// `qualname`, and gives 0.0.
template <class T, class Record>
double norm_row(__Pyx_memviewslice xs, const Record* opt, __Pyx_memviewslice (*magnitudes)(__Pyx_memviewslice),
                const char* qualname) {
    const double order = order_of(opt);
    if (xs.shape[0] == 0 && std::isinf(order)) {
        report_unmade(magnitudes, xs, qualname);
        return 0.0;
    }
    return norm_of(frame::strided<T>(xs), order);
}

}  // namespace

double norm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_norm* opt) {
    return norm_row<double>(xs, opt, fabs, kNorm);
}

double cnorm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm* opt) {
    return norm_row<Complex>(xs, opt, cabs, kCnorm);
}

}  // namespace zalmor::brenthosca
