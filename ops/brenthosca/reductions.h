// Folds of a vector into one value: sums, products, the mean and the norms.
// Pure C++ cores over strided access, then the table entries over the view
// record.
#pragma once

#include <cstdint>

#include "common/complex_mul.h"
#include "frame/strided.h"
#include "zalmor/capi.h"

namespace zalmor::brenthosca {

using frame::Strided;

// ---- cores ---------------------------------------------------------------

// The sum from 0, strictly left to right in T's own arithmetic; integers wrap.
// Defined for int32_t, uint32_t, int64_t, uint64_t, float and double.
template <class T>
T sum_of(Strided<T> xs) noexcept;
// Real and imaginary parts summed separately, each left to right.
Complex sum_of(Strided<Complex> xs) noexcept;

// The product from 1, left to right; integers wrap. Same types as sum_of.
template <class T>
T product_of(Strided<T> xs) noexcept;
// Complex products: acc * x at every step (`x_first`: x * acc), with the C
// runtime's recovery of infinities when a part of the plain formula is NaN.
Complex product_of(Strided<Complex> xs, bool x_first = false) noexcept;

// Sum / n (NaN for an empty vector).
double mean_of(Strided<double> xs) noexcept;

// The vector norm of the given order, with the conventions of the table's
// `norm`: +-inf the largest/smallest |x| (xs must not be empty), 0 the number
// of non-zero elements, otherwise pow(sum of pow(|x|, order), 1 / order).
double norm_of(Strided<double> xs, double order) noexcept;
// The same over the moduli cabs(z); order 0 counts elements with a non-zero part.
double norm_of(Strided<Complex> xs, double order) noexcept;

// ---- table entries -------------------------------------------------------

// __pyx_fuse_<k>sum and __pyx_fuse_<k>prod for the real and integer types.
template <class T>
T sum_row(__Pyx_memviewslice xs);
template <class T>
T prod_row(__Pyx_memviewslice xs);
__pyx_t_double_complex sum_row_complex(__Pyx_memviewslice xs);
__pyx_t_double_complex prod_row_complex(__Pyx_memviewslice xs);

__pyx_t_double_complex cprod(__Pyx_memviewslice xs);
double mean(__Pyx_memviewslice xs);
double norm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_norm* opt);
double cnorm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm* opt);

}  // namespace zalmor::brenthosca
