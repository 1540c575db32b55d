// Element-wise maps of a vector into a new vector. Pure C++ cores: one function
// per element and loops over strided input into contiguous output.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/complex_mul.h"
#include "frame/strided.h"

namespace zalmor::brenthosca {

inline std::int32_t sign_of(double x) noexcept { return (x > 0) - (x < 0); }

inline double fabs_of(double x) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= ~(std::uint64_t{1} << 63);
    std::memcpy(&x, &bits, sizeof bits);
    return x;
}

// IEEE square root; NaN for x < 0 (errno is not set).
inline double sqrt_of(double x) noexcept { return std::sqrt(x); }

// The unit direction z/|z|: 0 for 0, NaN in both parts when a part is NaN, the
// direction of the infinite parts when there are any, and for finite z a value
// computed on parts scaled by the larger magnitude, so that neither huge nor
// tiny parts overflow or underflow.
inline Complex csign_of(Complex z) noexcept {
    const double re = z.re, im = z.im;
    if (std::isnan(re) || std::isnan(im)) return {NAN, NAN};
    const bool inf_re = std::isinf(re), inf_im = std::isinf(im);
    if (inf_re || inf_im) {
        if (inf_re && inf_im) return {std::copysign(M_SQRT1_2, re), std::copysign(M_SQRT1_2, im)};
        return {std::copysign(inf_re ? 1.0 : 0.0, re), std::copysign(inf_im ? 1.0 : 0.0, im)};
    }
    const double m = std::fmax(std::fabs(re), std::fabs(im));
    if (m == 0.0) return {re, im};
    const double a = re / m, b = im / m;  // the larger is +-1 exactly
    const double h = std::sqrt(a * a + b * b);
    return {a / h, b / h};
}

// The map loops: element i of `xs` to element i of the contiguous `out`.
void sign_into(frame::Strided<double> xs, char* out) noexcept;
void fabs_into(frame::Strided<double> xs, char* out) noexcept;
void sqrt_into(frame::Strided<double> xs, char* out) noexcept;
// cabs and csqrt with the C library's bits (complex_libm.h).
void cabs_into(frame::Strided<Complex> xs, char* out) noexcept;
void csign_into(frame::Strided<Complex> xs, char* out) noexcept;
void csqrt_into(frame::Strided<Complex> xs, char* out) noexcept;

}  // namespace zalmor::brenthosca
