// Squares as pow gives them.
//
// The terms of a norm of order 2 are pow(|x|, 2.0) with the platform's pow,
// which is not the correctly rounded square: its result is the exact value
// computed to a little more than double precision, then rounded. When the exact
// square a*a lies very near a rounding midpoint (halfway between two doubles,
// as it does exactly for many squares of integers above 2^26.5), pow may round
// it to the other side than a * a does.
//
// The shortcut: a * a is pow's result whenever the exact square lies farther
// from every midpoint than pow's error before its last rounding can reach.
// Dekker's product gives the exact square as p + err, p = a * a (exact for the
// a admitted below); the midpoints next to p lie u/2 away, u the spacing of the
// doubles at p (u/4 below p when p is a power of two), so a * a is taken when
//     |err| <= (1/2 - m) u,    and not (p is a power of two and err < 0),
// with the margin m in units of u:
//     m = 1/64  for 2^-32 <= a <= 2^32,
//     m = 1/16  for 2^-480 <= a <= 2^510 otherwise,
// and pow is called for everything else (zero aside, whose square is +0 both
// ways): other magnitudes, NaN, infinities, and the squares near a midpoint,
// about 3% of random inputs. The bound relied on is GNU libc's for its pow
// (the one in use since 2.28): before the last rounding, the exp step errs by at
// most 0.011 u and the logarithm by at most 1.5 * 2^-68 relative, which through
// y * log(a) = 2 log(a) adds at most |2 log a| * 1.5 * 2^-68 * 2^53 u: at most
// 0.0135 u in the first band (|2 log a| <= 44.4) and 0.044 u in the second
// (|2 log a| <= 707). Measured here: over 1.6 * 10^8 inputs, the farthest
// distance from a midpoint at which pow and a * a still disagreed was 0.0091 u.
//
// Another C library may err more. At first use the shortcut is compared with
// the running pow on a fixed set of inputs whose squares lie near the limits
// above; if any result differs, pow is called for every element from then on.
// In a rounding mode other than to nearest, pow is called for every element.
#include "ops/brenthosca/pow_squares.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ops/brenthosca/ordered_sum.h"
#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

constexpr double kSplit = 134217729.0;  // 2^27 + 1, Veltkamp's splitting constant
constexpr double kLow = 0x1p-480, kHigh = 0x1p510;  // where Dekker's product is exact
constexpr double kNearLow = 0x1p-32, kNearHigh = 0x1p32;
constexpr double kMarginNear = 1.0 / 64, kMarginFar = 1.0 / 16;
// (1/2 - m) u relative to the binade's start 2^E, where u = 2^(E - 52).
constexpr double kLimitNear = (0.5 - kMarginNear) * 0x1p-52;
constexpr double kLimitFar = (0.5 - kMarginFar) * 0x1p-52;
constexpr std::int64_t kExponent = 0x7ff0000000000000;
constexpr std::int64_t kMantissa = 0x000fffffffffffff;
constexpr std::int64_t kMagnitude = 0x7fffffffffffffff;

// One double in a vector of one lane: the scalar form of the lane code below.
typedef double Scalar __attribute__((vector_size(8)));
typedef std::int64_t ScalarMask __attribute__((vector_size(8)));

// a * a - p for p = a * a, exactly when kLow <= a <= kHigh (Dekker's product
// of Veltkamp's halves).
template <class V>
ZALMOR_INLINE V square_error(V a, V p) noexcept {
    const V c = a * kSplit;
    const V hi = c - (c - a);
    const V lo = a - hi;
    return ((hi * hi - p) + (hi * lo + hi * lo)) + lo * lo;
}

// For lanes of magnitudes a: square = a * a, and the mask of the lanes where
// that is pow's result (see above).
template <class V, class M>
ZALMOR_INLINE M shortcut_lanes(V a, V& square) noexcept {
    const V p = a * a;
    const V err = square_error(a, p);
    const M bits = (M)p;
    const V binade = (V)(bits & kExponent);
    const M near = (a >= kNearLow) & (a <= kNearHigh);
    const M limit = (near & (M)(binade * kLimitNear)) | (~near & (M)(binade * kLimitFar));
    const V magnitude = (V)((M)err & kMagnitude);
    const M ok = (a >= kLow) & (a <= kHigh) & (magnitude <= (V)limit) & ((err >= 0.0) | ((bits & kMantissa) != 0));
    square = p;
    return ok | (a == 0.0);
}

ZALMOR_VECTOR_CLONES void squares_with_shortcut(const char* xs, std::ptrdiff_t n, double* out) noexcept {
    using V = simd::Vec<double>;
    using M = simd::MaskOf<double>;
    constexpr int W = simd::Lanes<double>::width;
    std::ptrdiff_t i = 0;
    for (; i + W <= n; i += W) {
        const V a = simd::abs<double>(simd::load<double>(xs + 8 * i));
        V p;
        const M ok = shortcut_lanes<V, M>(a, p);
        if (simd::any(~ok)) {
            for (int l = 0; l < W; ++l) {
                if (!ok[l]) p[l] = libm_pow_square(a[l]);
            }
        }
        std::memcpy(out + i, &p, sizeof p);
    }
    for (; i < n; ++i) {
        double x;
        std::memcpy(&x, xs + 8 * i, sizeof x);
        double p;
        out[i] = square_shortcut(x, &p) ? p : libm_pow_square(x);
    }
}

std::uint64_t bits_of(double x) noexcept {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

// The check at first use: inputs across both bands whose squares lie within
// a few margins of a midpoint, and squares of short integers (exact, or
// exactly halfway), each taken by the shortcut compared with pow.
bool shortcut_agrees_with_libm() noexcept {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    auto next = [&state]() noexcept {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545f4914f6cdd1du;
    };
    int compared = 0;
    for (int i = 0; i < (1 << 16); ++i) {
        const std::uint64_t r = next();
        const bool near = (i & 1) != 0;
        const int span = near ? 64 : 990;
        int e = static_cast<int>(next() % static_cast<std::uint64_t>(span)) - (near ? 32 : 480);
        double x;
        if (i % 8 == 0) {
            x = std::ldexp(static_cast<double>((r >> 37) | (1u << 26)), e - 27);  // 27-bit integers
        } else {
            std::uint64_t b = (static_cast<std::uint64_t>(e + 1023) << 52) | (r & kMantissa);
            std::memcpy(&x, &b, sizeof x);
        }
        double p;
        if (!square_shortcut(x, &p)) continue;
        const double u = std::ldexp(1.0, std::ilogb(p) - 52);
        const double err = std::fabs(square_error(std::fabs(x), p));
        const double margin = std::fabs(x) >= kNearLow && std::fabs(x) <= kNearHigh ? kMarginNear : kMarginFar;
        if (i % 8 != 0 && err < (0.5 - 4 * margin) * u) continue;  // not near a limit
        ++compared;
        if (bits_of(p) != bits_of(libm_pow_square(x))) return false;
    }
    return compared > 1000;
}

std::atomic<int> g_shortcut{-1};  // unknown, then 0 or 1

}  // namespace

double libm_pow_square(double x) noexcept {
    static volatile double two = 2.0;  // an exponent the compiler cannot see
    return std::pow(std::fabs(x), two);
}

bool square_shortcut(double x, double* square) noexcept {
    Scalar a{std::fabs(x)}, p;
    const ScalarMask ok = shortcut_lanes<Scalar, ScalarMask>(a, p);
    *square = p[0];
    return ok[0] != 0;
}

bool square_shortcut_in_use() noexcept {
    if (!rounding_to_nearest()) return false;
    int known = g_shortcut.load(std::memory_order_relaxed);
    if (known < 0) {
        known = shortcut_agrees_with_libm() ? 1 : 0;  // the same answer on any thread
        g_shortcut.store(known, std::memory_order_relaxed);
    }
    return known == 1;
}

void pow_squares(const char* xs, std::ptrdiff_t n, double* out) noexcept {
    if (square_shortcut_in_use()) return squares_with_shortcut(xs, n, out);
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double x;
        std::memcpy(&x, xs + 8 * i, sizeof x);
        out[i] = libm_pow_square(x);
    }
}

}  // namespace zalmor::brenthosca
