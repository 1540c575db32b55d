// Ordered summation, group by group.
//
// A running sum s = s + t, repeated, is bound by the adder's latency: each
// addition waits for the previous one. Most of those additions are however
// predictable. While |s| stays inside one binade [L, 2L), every sum is rounded
// to the same grid, the multiples of u = ulp(L), and s is itself on that grid,
// so
//     round(s + t) = s + round_u(t)
// where round_u rounds t to a multiple of u, ties to even. Only the ties depend
// on s (on the parity of s/u + k), so they are left out. The rounded terms
// r = round_u(t) do not depend on s at all: they can be computed side by side
// in vector lanes and added in any order, exactly, because they are multiples
// of u far from the precision limit.
//
// A group of terms (a few vectors' worth) is therefore added at once when
//   - the sum of |r| over the group is below L/2: then every |r| < L/2, which
//     the rounding trick below needs, and every partial sum of the lanes is
//     exact;
//   - no term is a tie (|t - r| = u/2);
//   - every partial sum S + r_1 + ... + r_k (S the running sum before the
//     group) stays strictly inside the open binade (L, 2L), or (-2L, -L) for a
//     negative sum. These partial sums lie between S + (sum of the negative r)
//     and S + (sum of the positive r), so checking those two suffices. Strictly
//     inside means the exact S + t was in [L, 2L) as well, where the hardware
//     rounds to the same grid.
// Then S + sum(r) is exact and equals, bit for bit, what the additions one at
// a time give. Groups are added until one does not qualify; a group holding a
// tie is added step by step up to the step with the tie, which is added one
// element at a time. Sums that are zero, tiny, huge, infinite or NaN, and sums
// at the edge of their binade, go one element at a time.
//
// round_u(t) for |t| < L/2 is (t + 1.5L) - 1.5L: 1.5L + t lies in (L, 2L),
// whose grid is u, and the subtraction is exact. A term with |t| >= L/2 gives
// |r| >= L/2 and so fails the first test, as do NaN and infinite terms.
#include "ops/brenthosca/ordered_sum.h"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>

#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

using simd::Lanes;
using simd::MaskOf;
using simd::Magnitude;
using simd::Vec;

template <class T>
struct Format;
template <>
struct Format<double> {
    using Bits = std::uint64_t;
    static constexpr Bits exponent = 0x7ff0000000000000u;
    static constexpr double half_ulp = 0x1p-53;  // u/2 relative to L
    static constexpr double lowest = 0x1p-960;   // keeps u/2 a normal number
    static constexpr double highest = 0x1p1020;  // keeps 2L finite
};
template <>
struct Format<float> {
    using Bits = std::uint32_t;
    static constexpr Bits exponent = 0x7f800000u;
    static constexpr float half_ulp = 0x1p-24f;
    static constexpr float lowest = 0x1p-100f;
    static constexpr float highest = 0x1p120f;
};

// The rounding grid of a running sum s with |s| in [base, 2 base).
template <class T>
struct Grid {
    T base;   // L
    T shift;  // 1.5 L
    T bound;  // L/2
    T tie;    // u/2
};

template <class T>
ZALMOR_INLINE bool grid_of(T s, Grid<T>& g) noexcept {
    using F = Format<T>;
    const T a = std::fabs(s);
    if (!(a >= F::lowest && a <= F::highest)) return false;
    g.base = std::bit_cast<T>(static_cast<typename F::Bits>(std::bit_cast<typename F::Bits>(a) & F::exponent));
    g.shift = g.base * T(1.5);
    g.bound = g.base * T(0.5);
    g.tie = g.base * F::half_ulp;
    return true;
}

// Terms: a scalar and a vector form of the same expression. `nonnegative`
// terms are never negative (NaN aside), which saves work per group.
template <bool Nonnegative>
struct Value {
    static constexpr bool nonnegative = Nonnegative;
    template <class X>
    ZALMOR_INLINE X operator()(X x) const noexcept {
        return x;
    }
};
using Signed = Value<false>;
using Unsigned = Value<true>;

// The running sum one element at a time.
template <class T, class F>
ZALMOR_INLINE T add_each(T s, const char* p, std::ptrdiff_t count, F term) noexcept {
    for (std::ptrdiff_t j = 0; j < count; ++j) s = s + term(frame::load<T>(p + j * sizeof(T)));
    return s;
}

// Scalars per step (two vectors) and per group (four steps).
template <class T>
constexpr std::ptrdiff_t kStep = 2 * Lanes<T>::width;
template <class T>
constexpr std::ptrdiff_t kGroup = 4 * kStep<T>;

// The rounded terms of `count` scalars (a multiple of kStep<T>): their sum,
// the sum of their magnitudes, and whether one is a tie.
template <class T, class F>
ZALMOR_INLINE bool round_terms(const Grid<T>& g, const char* p, std::ptrdiff_t count, F term, T& sum,
                               T& magnitude) noexcept {
    using V = Vec<T>;
    using M = MaskOf<T>;
    constexpr int W = Lanes<T>::width;
    const V shift = simd::broadcast(g.shift), tie = simd::broadcast(g.tie);
    V sum0{}, sum1{}, mag0{}, mag1{};
    M tied{};
    for (std::ptrdiff_t j = 0; j < count; j += kStep<T>) {
        const V t0 = term(simd::load<T>(p + j * sizeof(T)));
        const V t1 = term(simd::load<T>(p + (j + W) * sizeof(T)));
        const V r0 = (t0 + shift) - shift;
        const V r1 = (t1 + shift) - shift;
        tied |= (simd::abs<T>(t0 - r0) == tie) | (simd::abs<T>(t1 - r1) == tie);
        sum0 += r0;
        sum1 += r1;
        if constexpr (!F::nonnegative) {
            mag0 += simd::abs<T>(r0);
            mag1 += simd::abs<T>(r1);
        }
    }
    const V total = sum0 + sum1;
    const V mag = F::nonnegative ? total : mag0 + mag1;
    sum = magnitude = T(0);
    for (int l = 0; l < W; ++l) {
        sum += total[l];
        magnitude += mag[l];
    }
    return simd::any(tied);
}

// Adds a tie-free span whose rounded terms are (sum, magnitude) to the
// running sum S if the span qualifies (see above); returns whether it did.
template <class T>
ZALMOR_INLINE bool advance(T& S, const Grid<T>& g, T sum, T magnitude) noexcept {
    if (!(magnitude < g.bound)) return false;
    // The sums of the positive and of the negative terms (exact halves).
    const T up = (magnitude + sum) * T(0.5), down = (sum - magnitude) * T(0.5);
    const T high = S + up, low = S + down;
    const T base = g.base, top = 2 * g.base;
    const bool inside = S > 0 ? (low > base && high < top) : (low > -top && high < -base);
    if (!inside) return false;
    S = S + sum;
    return true;
}

// Adds whole groups of up to `count` scalars (a multiple of kGroup<T>) to s
// while they qualify. Returns the number of scalars added; `tied` tells
// whether it stopped at a step holding a tie (the step that comes next).
// While groups go through, they are taken `span` scalars at a time (twice as
// many each time); a span of several groups that does not go through is taken
// again in a quarter of the span.
template <class T, class F>
ZALMOR_INLINE std::ptrdiff_t add_groups(T& s, const Grid<T>& g, const char* p, std::ptrdiff_t count, F term,
                                        std::ptrdiff_t& span, bool& tied) noexcept {
    // Sums of nonnegative terms leave their binade only by growing out of it,
    // rarely, so their spans grow long; sums of signed terms wander, and
    // stay at one group a span.
    constexpr std::ptrdiff_t group = kGroup<T>, step = kStep<T>, widest = (F::nonnegative ? 32 : 1) * group;
    T sum, magnitude;
    std::ptrdiff_t j = 0;
    tied = false;
    while (j < count) {
        span = std::min(span, count - j);
        const bool hit = round_terms(g, p + j * sizeof(T), span, term, sum, magnitude);
        if (!hit && advance(s, g, sum, magnitude)) {
            j += span;
            span = std::min(2 * span, widest);
            continue;
        }
        if (span > group) {
            span = std::max(group, span / 4 / group * group);
            continue;
        }
        if (!hit) return j;
        // Step by step up to the one that holds the tie.
        for (std::ptrdiff_t q = 0; q < group; q += step) {
            if (round_terms(g, p + (j + q) * sizeof(T), step, term, sum, magnitude)) {
                tied = true;
                return j + q;
            }
            if (!advance(s, g, sum, magnitude)) return j + q;
        }
        j += group;  // not reached: some step holds the tie
    }
    return j;
}

// s + t(x) over n contiguous scalars, in order.
template <class T, class F>
ZALMOR_INLINE T add_run(T s, const char* p, std::ptrdiff_t n, F term) noexcept {
    constexpr std::ptrdiff_t step = kStep<T>, group = kGroup<T>, longest_pause = 16 * group;
    // Where groups stop at once (a sum near zero, at the edge of its binade,
    // or among frequent ties), trying costs more than adding one element at a
    // time, so each fruitless try doubles the stretch added one at a time
    // before the next; progress ends the pause.
    std::ptrdiff_t pause = 0, span = group, i = 0;
    auto one_at_a_time = [&](std::ptrdiff_t count) {
        count = std::min(count, n - i);
        s = add_each(s, p + i * sizeof(T), count, term);
        i += count;
    };
    while (n - i >= group) {
        Grid<T> g{};
        if (!grid_of(s, g)) {
            one_at_a_time(group);
            continue;
        }
        bool tied = false;
        const std::ptrdiff_t done = add_groups(s, g, p + i * sizeof(T), (n - i) / group * group, term, span, tied);
        i += done;
        if (done < group) {
            pause = std::min(std::max(2 * pause, group), longest_pause);
            one_at_a_time(pause);
            continue;
        }
        pause = 0;
        if (tied) one_at_a_time(step);
    }
    one_at_a_time(n - i);
    return s;
}

ZALMOR_VECTOR_CLONES double add_values(double s, const char* xs, std::ptrdiff_t n) noexcept {
    return add_run(s, xs, n, Signed{});
}

ZALMOR_VECTOR_CLONES double add_nonnegative(double s, const char* xs, std::ptrdiff_t n) noexcept {
    return add_run(s, xs, n, Unsigned{});
}

ZALMOR_VECTOR_CLONES double add_magnitudes(double s, const char* xs, std::ptrdiff_t n) noexcept {
    return add_run(s, xs, n, Magnitude{});
}

ZALMOR_VECTOR_CLONES float add_floats(float s, const char* xs, std::ptrdiff_t n) noexcept {
    return add_run(s, xs, n, Signed{});
}

}  // namespace

// The grouping is shown above for rounding to nearest. (Under rounding toward
// zero, how a term rounds depends on the sign of the sum, which the rounded
// terms do not know.) In any other mode that the caller has set, the terms go
// one at a time.
bool rounding_to_nearest() noexcept {
#ifdef ZALMOR_X86
    return (__builtin_ia32_stmxcsr() & 0x6000u) == 0;  // the SSE unit's mode, which the kernels use
#else
    return std::fegetround() == FE_TONEAREST;
#endif
}

double add_in_order(double s, const char* xs, std::ptrdiff_t n, Term term) noexcept {
    if (!rounding_to_nearest()) {
        switch (term) {
        case Term::magnitude: return add_each(s, xs, n, Magnitude{});
        case Term::nonnegative: return add_each(s, xs, n, Unsigned{});
        case Term::value: return add_each(s, xs, n, Signed{});
        }
    }
    switch (term) {
    case Term::magnitude: return add_magnitudes(s, xs, n);
    case Term::nonnegative: return add_nonnegative(s, xs, n);
    case Term::value: break;
    }
    return add_values(s, xs, n);
}

float add_in_order(float s, const char* xs, std::ptrdiff_t n) noexcept {
    if (!rounding_to_nearest()) return add_each(s, xs, n, Signed{});
    return add_floats(s, xs, n);
}

}  // namespace zalmor::brenthosca
