// Smallest and largest elements of a double vector and their positions. Pure
// C++ scans; the table's extreme rows are in extreme_rows.h.
#pragma once

#include <cstddef>

#include "frame/strided.h"

namespace zalmor::brenthosca {

// Every scan gives what the running scan from element 0,
//     m = x[0]; for i = 1 .. n-1: if (x[i] < m) m = x[i]    (> for maxima)
// gives: ties keep the earlier element (+0.0 and -0.0 tie), a NaN after
// element 0 is passed over, and a NaN at element 0 stays the extreme. xs must
// not be empty.

struct ExtremeAt {
    std::ptrdiff_t low;   // first minimum
    std::ptrdiff_t high;  // first maximum
};

std::ptrdiff_t first_min(frame::Strided<double> xs) noexcept;
std::ptrdiff_t first_max(frame::Strided<double> xs) noexcept;
ExtremeAt first_min_max(frame::Strided<double> xs) noexcept;

// The smallest and the largest |x| by the same rule.
double smallest_magnitude(frame::Strided<double> xs) noexcept;
double largest_magnitude(frame::Strided<double> xs) noexcept;

}  // namespace zalmor::brenthosca
