#include "ops/brenthosca/equality.h"

#include <cstring>
#include <type_traits>

#include "ops/brenthosca/elements.h"
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

#define ZALMOR_INSTANTIATE(T) template bool same_elements(Strided<T>, Strided<T>) noexcept;
ZALMOR_REAL_ELEMENTS(ZALMOR_INSTANTIATE)
#undef ZALMOR_INSTANTIATE

}  // namespace zalmor::brenthosca
