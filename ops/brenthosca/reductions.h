// Folds of a vector into one value: sums, products, the mean and the norms.
// Pure C++ cores over strided access; the table's rows are in
// reduction_rows.h.
#pragma once

#include <cstdint>

#include "common/complex_mul.h"
#include "frame/strided.h"

namespace zalmor::brenthosca {

using frame::Strided;

// The sum from 0, strictly left to right in T's own arithmetic; integers wrap.
// Defined for the types of ZALMOR_REAL_ELEMENTS (elements.h).
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

}  // namespace zalmor::brenthosca
