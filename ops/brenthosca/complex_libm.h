// cabs and csqrt of many values, bit for bit as the platform's C library
// computes them one at a time. Pure C++.
#pragma once

#include <cstddef>

#include "common/kernel_target.h"

namespace zalmor::brenthosca {

// out[i] = cabs(z_i) for the n complex values (real part, then imaginary
// part) at zs, `stride` bytes apart.
void cabs_many(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept;

// out[2i] + out[2i+1] i = csqrt(z_i), likewise.
void csqrt_many(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept;

// Whether the vector path is in use: it agreed with the running C library on
// the check made at first use. Otherwise every value goes to the library.
bool complex_lanes_in_use() noexcept;

// cabs_many and csqrt_many on the lanes of `target`, whatever the check at
// first use found (the portable target is the library, value by value);
// false (nothing written) when the target is not supported.
bool cabs_many_on(KernelTarget target, const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride,
                  double* out) noexcept;
bool csqrt_many_on(KernelTarget target, const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride,
                   double* out) noexcept;

// Whether the lanes compute csqrt of this value themselves (the others go to
// the library), with their result. Exposed for the checks.
bool csqrt_lane(double re, double im, double out[2]) noexcept;

}  // namespace zalmor::brenthosca
