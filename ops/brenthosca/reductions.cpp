#include "ops/brenthosca/reductions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <type_traits>

#include "ops/brenthosca/elements.h"
#include "ops/brenthosca/extremes.h"
#include "ops/brenthosca/maps.h"
#include "ops/brenthosca/complex_libm.h"
#include "ops/brenthosca/ordered_sum.h"
#include "ops/brenthosca/pow_squares.h"
#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

// ---- wrapping integer folds: any order gives the same value ---------------

struct Plus {
    template <class X>
    ZALMOR_INLINE X operator()(X a, X b) const noexcept {
        return a + b;
    }
};
struct Times {
    template <class X>
    ZALMOR_INLINE X operator()(X a, X b) const noexcept {
        return a * b;
    }
};

// Folds n contiguous unsigned elements into `start` with `op`, in four
// vector accumulators.
template <class U, class Op>
ZALMOR_INLINE U wrapping_fold(U start, const char* p, std::ptrdiff_t n, Op op) noexcept {
    using V = simd::Vec<U>;
    constexpr std::ptrdiff_t W = simd::Lanes<U>::width;
    const V unit = simd::broadcast<U>(std::is_same_v<Op, Times> ? U(1) : U(0));
    V a0 = unit, a1 = unit, a2 = unit, a3 = unit;
    std::ptrdiff_t i = 0;
    for (; i + 4 * W <= n; i += 4 * W) {
        a0 = op(a0, simd::load<U>(p + sizeof(U) * i));
        a1 = op(a1, simd::load<U>(p + sizeof(U) * (i + W)));
        a2 = op(a2, simd::load<U>(p + sizeof(U) * (i + 2 * W)));
        a3 = op(a3, simd::load<U>(p + sizeof(U) * (i + 3 * W)));
    }
    const V a = op(op(a0, a1), op(a2, a3));
    U acc = start;
    for (int l = 0; l < W; ++l) acc = op(acc, a[l]);
    for (; i < n; ++i) acc = op(acc, frame::load<U>(p + sizeof(U) * i));
    return acc;
}

ZALMOR_VECTOR_CLONES std::uint32_t sum_u32(const char* p, std::ptrdiff_t n) noexcept {
    return wrapping_fold<std::uint32_t>(0, p, n, Plus{});
}
ZALMOR_VECTOR_CLONES std::uint64_t sum_u64(const char* p, std::ptrdiff_t n) noexcept {
    return wrapping_fold<std::uint64_t>(0, p, n, Plus{});
}
ZALMOR_VECTOR_CLONES std::uint32_t product_u32(const char* p, std::ptrdiff_t n) noexcept {
    return wrapping_fold<std::uint32_t>(1, p, n, Times{});
}
ZALMOR_WIDE_VECTOR_CLONES std::uint64_t product_u64(const char* p, std::ptrdiff_t n) noexcept {
    return wrapping_fold<std::uint64_t>(1, p, n, Times{});
}

template <class U, class Op>
U fold_strided(U start, Strided<U> xs, Op op) noexcept {
    U acc = start;
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc = op(acc, xs[i]);
    return acc;
}

// Integer sums and products in the unsigned type of the same width (whose
// overflow wraps), converted back.
template <class T, class Op>
T wrapping(Strided<T> xs, Op op) noexcept {
    using U = std::make_unsigned_t<T>;
    constexpr bool times = std::is_same_v<Op, Times>;
    const Strided<U> us{xs.data, xs.n, xs.stride};
    if (!us.contiguous()) return static_cast<T>(fold_strided<U>(times ? 1 : 0, us, op));
    if constexpr (sizeof(U) == 4) {
        return static_cast<T>(times ? product_u32(xs.data, xs.n) : sum_u32(xs.data, xs.n));
    } else {
        return static_cast<T>(times ? product_u64(xs.data, xs.n) : sum_u64(xs.data, xs.n));
    }
}

// ---- ordered floating-point sums over any stride ----------------------------

// Strided elements are gathered into a contiguous block at a time.
constexpr std::ptrdiff_t kGather = 512;

// Hands f(x) over the elements of xs to use(p, m, block), left to right,
// m <= kGather contiguous values of type Out at p at a time: gathered into
// `block` (then p is block), or, when xs is contiguous and f keeps its
// elements as they are, where they lie. `use` may write over the block.
template <class Out, class X, class F, class Use>
void in_blocks(Strided<X> xs, F f, Use use) noexcept {
    constexpr bool as_they_are = std::is_same_v<Out, X> && std::is_same_v<F, std::identity>;
    Out block[kGather];
    for (std::ptrdiff_t i = 0; i < xs.n; i += kGather) {
        const std::ptrdiff_t m = std::min(kGather, xs.n - i);
        if (as_they_are && xs.contiguous()) {
            use(xs.data + i * xs.stride, m, block);
            continue;
        }
        for (std::ptrdiff_t j = 0; j < m; ++j) block[j] = f(xs[i + j]);
        use(reinterpret_cast<const char*>(block), m, block);
    }
}

// s + t(x) over the elements of xs, left to right.
double add_terms(double s, Strided<double> xs, Term term) noexcept {
    if (xs.contiguous()) return add_in_order(s, xs.data, xs.n, term);
    in_blocks<double>(xs, std::identity{}, [&](const char* p, std::ptrdiff_t m, double*) { s = add_in_order(s, p, m, term); });
    return s;
}

float add_floats(float s, Strided<float> xs) noexcept {
    if (xs.contiguous()) return add_in_order(s, xs.data, xs.n);
    in_blocks<float>(xs, std::identity{}, [&](const char* p, std::ptrdiff_t m, float*) { s = add_in_order(s, p, m); });
    return s;
}

// The parts of a complex sum are two independent chains of additions: one
// vector of (re, im) adds both at once, at the adder's latency per element.
// (Taking groups at once, as for real sums, does not pay for pairs.) Kept out
// of line and writing through `out`: returned as a record, the accumulator
// would be kept in memory between iterations.
[[gnu::noinline]] void add_complex(Strided<Complex> xs, double (&out)[2]) noexcept {
    typedef double Pair __attribute__((vector_size(16)));
    Pair acc{0.0, 0.0};
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc = acc + frame::load<Pair>(xs.data + i * xs.stride);
    std::memcpy(out, &acc, sizeof out);
}

// ---- norms ------------------------------------------------------------------

// The number of elements for which `nonzero` holds, as the running count
// s = s + 1.0 gives it (exact below 2^53).
template <class X, class P>
double count_if(Strided<X> xs, P nonzero) noexcept {
    std::ptrdiff_t count = 0;
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) count += nonzero(xs[i]) ? 1 : 0;
    return static_cast<double>(count);
}

ZALMOR_VECTOR_CLONES std::ptrdiff_t count_nonzero_contiguous(const char* p, std::ptrdiff_t n) noexcept {
    using V = simd::Vec<double>;
    using M = simd::MaskOf<double>;
    M counts{};
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) counts -= (simd::load<double>(p + 8 * i) != V{});  // NaN counts
    std::ptrdiff_t count = 0;
    for (int l = 0; l < 4; ++l) count += counts[l];
    for (; i < n; ++i) count += frame::load<double>(p + 8 * i) != 0.0 ? 1 : 0;
    return count;
}

// Calls use(block, m, first) for the magnitudes of xs a block at a time: the
// absolute values of reals, the moduli of complex values (the C library's cabs,
// many at a time), of the elements [first, first + m).
template <class Use>
void magnitude_blocks(Strided<double> xs, Use use) noexcept {
    in_blocks<double>(xs, simd::Magnitude{}, [&, first = std::ptrdiff_t{0}](const char*, std::ptrdiff_t m,
                                                                           double* block) mutable {
        use(block, m, first);
        first += m;
    });
}
template <class Use>
void magnitude_blocks(Strided<Complex> xs, Use use) noexcept {
    double block[kGather];
    for (std::ptrdiff_t i = 0; i < xs.n; i += kGather) {
        const std::ptrdiff_t m = std::min(kGather, xs.n - i);
        cabs_many(xs.data + i * xs.stride, m, xs.stride, block);
        use(block, m, i);
    }
}

// m after the running rule "if (x > m) m = x" (x < m for the smallest) over
// the n contiguous doubles at p, from m = start: NaN elements are passed over,
// and a NaN start stays. Lanes keep their own extremes; the values of equal
// extremes are the same double (magnitudes have no -0.0).
ZALMOR_VECTOR_CLONES double running_extreme(const double* p, std::ptrdiff_t n, double start, bool largest) noexcept {
    using V = simd::Vec<double>;
    V a = simd::broadcast(start), b = a;
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const V x = simd::load<double>(reinterpret_cast<const char*>(p + i));
        const V y = simd::load<double>(reinterpret_cast<const char*>(p + i + 4));
        a = (largest ? x > a : x < a) ? x : a;
        b = (largest ? y > b : y < b) ? y : b;
    }
    double m = start;
    for (int l = 0; l < 4; ++l) {
        if (largest ? a[l] > m : a[l] < m) m = a[l];
        if (largest ? b[l] > m : b[l] < m) m = b[l];
    }
    for (; i < n; ++i) {
        if (largest ? p[i] > m : p[i] < m) m = p[i];
    }
    return m;
}

// Largest or smallest modulus by the running rule (a NaN first stays).
double extreme_modulus(Strided<Complex> xs, bool largest) noexcept {
    double m = 0.0;
    magnitude_blocks(xs, [&](const double* block, std::ptrdiff_t count, std::ptrdiff_t first) {
        if (first == 0) {
            m = block[0];
            m = running_extreme(block + 1, count - 1, m, largest);
        } else {
            m = running_extreme(block, count, m, largest);
        }
    });
    return m;
}

// 0 + pow(|x|, 2.0) over the elements of xs, left to right, with pow's own
// squares (add_pow_squares).
template <class X>
double sum_of_pow_squares(Strided<X> xs) noexcept {
    if constexpr (std::is_same_v<X, double>) {
        if (xs.contiguous()) return add_pow_squares(0.0, xs.data, xs.n);
    }
    double s = 0.0;
    magnitude_blocks(xs, [&s](const double* block, std::ptrdiff_t m, std::ptrdiff_t) {
        s = add_pow_squares(s, reinterpret_cast<const char*>(block), m);
    });
    return s;
}

// 0 + pow(|x|, order) over xs. Order 1 gives |x| exactly (the result is
// representable, and pow errs by less than half a unit); order 2 takes pow's
// bits through add_pow_squares; other orders call pow per element.
template <class X>
double power_sum(Strided<X> xs, double order) noexcept {
    if (order == 2.0) return sum_of_pow_squares(xs);
    if constexpr (std::is_same_v<X, double>) {
        if (order == 1.0) return add_terms(0.0, xs, Term::magnitude);
    }
    double s = 0.0;
    magnitude_blocks(xs, [&](double* block, std::ptrdiff_t m, std::ptrdiff_t) {
        if (order != 1.0) {
            for (std::ptrdiff_t j = 0; j < m; ++j) block[j] = std::pow(block[j], order);
        }
        s = add_in_order(s, reinterpret_cast<const char*>(block), m, Term::value);
    });
    return s;
}



}  // namespace

// ---- cores --------------------------------------------------------------------

template <class T>
T sum_of(Strided<T> xs) noexcept {
    if constexpr (std::is_integral_v<T>) {
        return wrapping(xs, Plus{});
    } else if constexpr (std::is_same_v<T, float>) {
        return add_floats(0.0f, xs);
    } else {
        return add_terms(0.0, xs, Term::value);
    }
}

Complex sum_of(Strided<Complex> xs) noexcept {
    double parts[2];
    add_complex(xs, parts);
    return {parts[0], parts[1]};
}

template <class T>
T product_of(Strided<T> xs) noexcept {
    if constexpr (std::is_integral_v<T>) {
        return wrapping(xs, Times{});
    } else {
        // Strictly left to right, in the element's own precision.
        T acc = 1;
        for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc = acc * xs[i];
        return acc;
    }
}

Complex product_of(Strided<Complex> xs, bool x_first) noexcept {
    Complex acc{1.0, 0.0};
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc = multiply_step(acc, xs[i], x_first);
    return acc;
}

double mean_of(Strided<double> xs) noexcept {
    return add_terms(0.0, xs, Term::value) / static_cast<double>(xs.n);
}

double norm_of(Strided<double> xs, double order) noexcept {
    if (order == HUGE_VAL) return largest_magnitude(xs);
    if (order == -HUGE_VAL) return smallest_magnitude(xs);
    if (order == 0.0) {
        if (xs.contiguous()) return static_cast<double>(count_nonzero_contiguous(xs.data, xs.n));
        return count_if(xs, [](double x) { return x != 0.0; });
    }
    const double inverse = 1.0 / order;
    return std::pow(power_sum(xs, order), inverse);
}

double norm_of(Strided<Complex> xs, double order) noexcept {
    if (order == HUGE_VAL) return extreme_modulus(xs, true);
    if (order == -HUGE_VAL) return extreme_modulus(xs, false);
    if (order == 0.0) return count_if(xs, [](Complex z) { return z.re != 0.0 || z.im != 0.0; });
    const double inverse = 1.0 / order;
    return std::pow(power_sum(xs, order), inverse);
}

#define ZALMOR_INSTANTIATE(T)                                                                      \
    template T sum_of(Strided<T>) noexcept;                                                        \
    template T product_of(Strided<T>) noexcept;
ZALMOR_REAL_ELEMENTS(ZALMOR_INSTANTIATE)
#undef ZALMOR_INSTANTIATE

}  // namespace zalmor::brenthosca
