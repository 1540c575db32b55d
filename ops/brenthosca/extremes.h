// Smallest and largest elements of a double vector, their positions and the
// spread between them. Pure C++ scans, then the table entries.
#pragma once

#include <cstddef>

#include "frame/strided.h"
#include "zalmor/capi.h"

namespace zalmor::brenthosca {

// ---- cores ---------------------------------------------------------------
//
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

// ---- table entries -------------------------------------------------------

unsigned long argmin(__Pyx_memviewslice xs);
unsigned long argmax(__Pyx_memviewslice xs);
double min(__Pyx_memviewslice xs);
double max(__Pyx_memviewslice xs);
__pyx_ctuple_unsigned__space_long__and_unsigned__space_long argminmax(__Pyx_memviewslice xs);
double width(__Pyx_memviewslice xs);
double cwidth(__Pyx_memviewslice xs);

}  // namespace zalmor::brenthosca
