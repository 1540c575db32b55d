#include "ops/brenthosca/maps.h"

#include "ops/brenthosca/complex_libm.h"
#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

using frame::load;
using frame::store;

// Contiguous input and output: plain loops the compiler vectorises, built as
// the vector clones (simd.h).
ZALMOR_VECTOR_CLONES void sign_contiguous(const char* in, char* out, std::ptrdiff_t n) noexcept {
    for (std::ptrdiff_t i = 0; i < n; ++i) store<std::int32_t>(out + 4 * i, sign_of(load<double>(in + 8 * i)));
}

ZALMOR_VECTOR_CLONES void fabs_contiguous(const char* in, char* out, std::ptrdiff_t n) noexcept {
    for (std::ptrdiff_t i = 0; i < n; ++i) store<double>(out + 8 * i, fabs_of(load<double>(in + 8 * i)));
}

ZALMOR_VECTOR_CLONES void sqrt_contiguous(const char* in, char* out, std::ptrdiff_t n) noexcept {
    for (std::ptrdiff_t i = 0; i < n; ++i) store<double>(out + 8 * i, sqrt_of(load<double>(in + 8 * i)));
}

template <class In, class Out, class F>
inline void map_strided(frame::Strided<In> xs, char* out, F f) noexcept {
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) store<Out>(out + sizeof(Out) * i, f(xs[i]));
}

}  // namespace

void sign_into(frame::Strided<double> xs, char* out) noexcept {
    if (xs.contiguous()) return sign_contiguous(xs.data, out, xs.n);
    map_strided<double, std::int32_t>(xs, out, sign_of);
}

void fabs_into(frame::Strided<double> xs, char* out) noexcept {
    if (xs.contiguous()) return fabs_contiguous(xs.data, out, xs.n);
    map_strided<double, double>(xs, out, fabs_of);
}

void sqrt_into(frame::Strided<double> xs, char* out) noexcept {
    if (xs.contiguous()) return sqrt_contiguous(xs.data, out, xs.n);
    map_strided<double, double>(xs, out, sqrt_of);
}

void cabs_into(frame::Strided<Complex> xs, char* out) noexcept {
    cabs_many(xs.data, xs.n, xs.stride, reinterpret_cast<double*>(out));
}

void csign_into(frame::Strided<Complex> xs, char* out) noexcept {
    map_strided<Complex, Complex>(xs, out, csign_of);
}

void csqrt_into(frame::Strided<Complex> xs, char* out) noexcept {
    csqrt_many(xs.data, xs.n, xs.stride, reinterpret_cast<double*>(out));
}

}  // namespace zalmor::brenthosca
