#include "ops/brenthosca/equality.h"

#include <cstring>
#include <type_traits>

#include "common/closeness.h"
#include "frame/views.h"
#include "ops/brenthosca/siblings.h"
#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

using frame::Strided;

// Equality of n contiguous elements (IEEE equality for floating types),
// compared in blocks of four vectors; the first block that holds a difference
// ends the comparison.
template <class T>
ZALMOR_INLINE bool same_contiguous(const char* a, const char* b, std::ptrdiff_t n) noexcept {
    constexpr std::ptrdiff_t W = simd::Lanes<T>::width, block = 4 * W, size = sizeof(T);
    std::ptrdiff_t i = 0;
    for (; i + block <= n; i += block) {
        const auto e0 = simd::load<T>(a + size * i) == simd::load<T>(b + size * i);
        const auto e1 = simd::load<T>(a + size * (i + W)) == simd::load<T>(b + size * (i + W));
        const auto e2 = simd::load<T>(a + size * (i + 2 * W)) == simd::load<T>(b + size * (i + 2 * W));
        const auto e3 = simd::load<T>(a + size * (i + 3 * W)) == simd::load<T>(b + size * (i + 3 * W));
        if (simd::any(~((e0 & e1) & (e2 & e3)))) return false;
    }
    for (; i < n; ++i) {
        if (!(frame::load<T>(a + size * i) == frame::load<T>(b + size * i))) return false;
    }
    return true;
}

ZALMOR_VECTOR_CLONES bool same_doubles(const char* a, const char* b, std::ptrdiff_t n) noexcept {
    return same_contiguous<double>(a, b, n);
}
ZALMOR_VECTOR_CLONES bool same_floats(const char* a, const char* b, std::ptrdiff_t n) noexcept {
    return same_contiguous<float>(a, b, n);
}
// Integers are equal when their bits are: signed and unsigned alike.
ZALMOR_VECTOR_CLONES bool same_words(const char* a, const char* b, std::ptrdiff_t n) noexcept {
    return same_contiguous<std::uint32_t>(a, b, n);
}
ZALMOR_VECTOR_CLONES bool same_double_words(const char* a, const char* b, std::ptrdiff_t n) noexcept {
    return same_contiguous<std::uint64_t>(a, b, n);
}

template <class T, class Same>
bool same_strided(Strided<T> a, Strided<T> b, Same same) noexcept {
    for (std::ptrdiff_t i = 0; i < a.n; ++i) {
        if (!same(a[i], b[i])) return false;
    }
    return true;
}

// ---- closeness ------------------------------------------------------------

// Calls the sibling's scalar test on pairs in increasing index order until
// one gives `decisive` (non-zero: close); returns whether one did.
template <class X, class Scalar, class Test>
bool find_pair(__Pyx_memviewslice a, __Pyx_memviewslice b, double rtol, double atol, Test test,
               bool decisive) {
    Scalar record{2, rtol, atol};
    const Strided<X> xs = frame::strided<X>(a), ys = frame::strided<X>(b);
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) {
        if ((test(xs[i], ys[i], &record) != 0) == decisive) return true;
    }
    return false;
}

__pyx_t_double_complex as_record(Complex z) noexcept { return {z.re, z.im}; }

}  // namespace

template <class T>
bool same_elements(Strided<T> a, Strided<T> b) noexcept {
    if (a.contiguous() && b.contiguous()) {
        if constexpr (std::is_integral_v<T>) {
            return sizeof(T) == 4 ? same_words(a.data, b.data, a.n) : same_double_words(a.data, b.data, a.n);
        } else if constexpr (std::is_same_v<T, float>) {
            return same_floats(a.data, b.data, a.n);
        } else {
            return same_doubles(a.data, b.data, a.n);
        }
    }
    return same_strided(a, b, [](T x, T y) { return x == y; });
}

bool same_elements(Strided<Complex> a, Strided<Complex> b) noexcept {
    if (a.contiguous() && b.contiguous()) return same_doubles(a.data, b.data, 2 * a.n);
    return same_strided(a, b, [](Complex x, Complex y) { return x.re == y.re && x.im == y.im; });
}

template bool same_elements(Strided<std::int32_t>, Strided<std::int32_t>) noexcept;
template bool same_elements(Strided<std::uint32_t>, Strided<std::uint32_t>) noexcept;
template bool same_elements(Strided<std::int64_t>, Strided<std::int64_t>) noexcept;
template bool same_elements(Strided<std::uint64_t>, Strided<std::uint64_t>) noexcept;
template bool same_elements(Strided<float>, Strided<float>) noexcept;
template bool same_elements(Strided<double>, Strided<double>) noexcept;

template <class T>
int equal_row(__Pyx_memviewslice a, __Pyx_memviewslice b) {
    if (a.shape[0] != b.shape[0]) return 0;
    return same_elements(frame::strided<T>(a), frame::strided<T>(b)) ? 1 : 0;
}

template int equal_row<std::int32_t>(__Pyx_memviewslice, __Pyx_memviewslice);
template int equal_row<std::uint32_t>(__Pyx_memviewslice, __Pyx_memviewslice);
template int equal_row<std::int64_t>(__Pyx_memviewslice, __Pyx_memviewslice);
template int equal_row<std::uint64_t>(__Pyx_memviewslice, __Pyx_memviewslice);
template int equal_row<float>(__Pyx_memviewslice, __Pyx_memviewslice);
template int equal_row<double>(__Pyx_memviewslice, __Pyx_memviewslice);

int cequal(__Pyx_memviewslice a, __Pyx_memviewslice b) {
    if (a.shape[0] != b.shape[0]) return 0;
    return same_elements(frame::strided<Complex>(a), frame::strided<Complex>(b)) ? 1 : 0;
}

namespace {

// The sibling's scalar test for each element type.
int scalar_close(double x, double y, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose* r) {
    return isclose(x, y, r);
}
int scalar_close(Complex x, Complex y, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose* r) {
    return cisclose(as_record(x), as_record(y), r);
}

// all: no pair fails the scalar test; any: some pair passes it. Vectors of
// different lengths are neither.
template <class X, class Scalar, class Record>
int close_row(__Pyx_memviewslice a, __Pyx_memviewslice b, const Record* opt, bool any) {
    double rtol, atol;
    tolerances(opt, rtol, atol);
    if (a.shape[0] != b.shape[0]) return 0;
    const bool found = find_pair<X, Scalar>(
        a, b, rtol, atol, [](X x, X y, Scalar* r) { return scalar_close(x, y, r); }, any);
    return found == any ? 1 : 0;
}

}  // namespace

int allclose(__Pyx_memviewslice a, __Pyx_memviewslice b, __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose* opt) {
    return close_row<double, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose>(a, b, opt, false);
}

int callclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose* opt) {
    return close_row<Complex, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose>(a, b, opt, false);
}

int anyclose(__Pyx_memviewslice a, __Pyx_memviewslice b, __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose* opt) {
    return close_row<double, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose>(a, b, opt, true);
}

int canyclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose* opt) {
    return close_row<Complex, __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose>(a, b, opt, true);
}

}  // namespace zalmor::brenthosca
