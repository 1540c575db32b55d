// pow(|x|, 2.0) for many x, bit for bit as the platform's pow gives it. Pure C++.
#pragma once

#include <cstddef>

#include "common/kernel_target.h"

namespace zalmor::brenthosca {

// out[i] = pow(|x_i|, 2.0) for the n contiguous doubles at xs (any alignment),
// with the running C library's pow and the kernel of `target`; out may be the
// memory of xs. False (and nothing written) when the target is not supported.
bool pow_squares_on(KernelTarget target, const char* xs, std::ptrdiff_t n, double* out) noexcept;

// s + pow(|x_0|, 2.0) + ... + pow(|x_n-1|, 2.0) over the n contiguous doubles
// at xs, added one at a time from left to right: bit for bit the running sum
// of pow's squares. pow is asked only for the squares whose last bit could
// change the sum.
double add_pow_squares(double s, const char* xs, std::ptrdiff_t n) noexcept;

// add_pow_squares with the kernel of `target`, into s; false (s unchanged)
// when the target is not supported.
bool add_pow_squares_on(KernelTarget target, double& s, const char* xs, std::ptrdiff_t n) noexcept;

// pow(|x|, 2.0) through the C library, never replaced by the compiler's x * x.
double libm_pow_square(double x) noexcept;

// Whether the kernels may take x * x for pow: the rounding mode is to nearest
// and the running pow agreed with the shortcut on the check made at first use.
bool square_shortcut_in_use() noexcept;

// The shortcut's own verdict for one x: true with *square = x * x when that is
// pow's result, false with *square = |x| when pow has to be asked. Exposed for
// the checks.
bool square_shortcut(double x, double* square) noexcept;

}  // namespace zalmor::brenthosca
