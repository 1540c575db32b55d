// Running sums added strictly left to right, at the speed of the memory rather
// than of the adder's latency. Pure C++.
#pragma once

#include <cstddef>

namespace zalmor::brenthosca {

// What each element x contributes to a running sum.
enum class Term {
    value,      // x
    magnitude,  // |x|
    nonnegative,  // x, where no x is negative (NaN aside)
};

// s + t(x[0]) + t(x[1]) + ... + t(x[n-1]), each addition rounded in turn from
// left to right: bit for bit the result of
//     for (i = 0; i < n; ++i) s = s + t(x[i]);
// in double arithmetic, in the caller's rounding mode. `xs` holds n contiguous
// doubles at any alignment.
double add_in_order(double s, const char* xs, std::ptrdiff_t n, Term term) noexcept;

// The same in single precision, adding the elements themselves.
float add_in_order(float s, const char* xs, std::ptrdiff_t n) noexcept;

// Whether the floating-point unit the kernels use rounds to nearest (the
// caller may have set another mode).
bool rounding_to_nearest() noexcept;

}  // namespace zalmor::brenthosca
