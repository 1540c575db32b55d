#include "ops/brenthosca/extremes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {
namespace {

using frame::Strided;
using simd::Magnitude;
using V = simd::Vec<double>;

struct Same {
    ZALMOR_INLINE double operator()(double x) const noexcept { return x; }
    ZALMOR_INLINE V operator()(V x) const noexcept { return x; }
};

// Elements per vector pass over contiguous data: a multiple of 16 that stays
// in the first-level cache, so the rare pass that finds a new extreme can look
// for its first position cheaply.
constexpr std::ptrdiff_t kBlock = 256;

// The running scan of the header, by blocks: each block's extreme is found in
// vector lanes (each lane keeps the first of its ties and passes over NaN, as
// the running scan does), and only a block that beats the running extreme
// strictly is searched for the first element equal to its extreme, which is
// where the running scan would have stopped updating.
template <bool kLow, bool kHigh, class F>
ZALMOR_INLINE ExtremeAt scan(Strided<double> xs, F f) noexcept {
    ExtremeAt at{0, 0};
    double low = f(xs[0]), high = low;
    if (std::isnan(low)) return at;
    std::ptrdiff_t i = 1;
    auto visit = [&](std::ptrdiff_t end) {
        for (; i < end; ++i) {
            const double x = f(xs[i]);
            if (kLow && x < low) {
                low = x;
                at.low = i;
            }
            if (kHigh && x > high) {
                high = x;
                at.high = i;
            }
        }
    };
    if (xs.contiguous()) {
        // Up to the first element on a cache line boundary, so that no vector
        // load straddles two lines.
        const auto address = reinterpret_cast<std::uintptr_t>(xs.data);
        if (address % 8 == 0) visit(std::min(xs.n, i + static_cast<std::ptrdiff_t>((64 - (address + 8 * i) % 64) % 64 / 8)));
        while (xs.n - i >= kBlock) {
            const char* p = xs.data + i * 8;
            V lo0 = simd::broadcast(low), lo1 = lo0, lo2 = lo0, lo3 = lo0;
            V hi0 = simd::broadcast(high), hi1 = hi0, hi2 = hi0, hi3 = hi0;
            for (std::ptrdiff_t j = 0; j < kBlock; j += 16) {
                const V x0 = f(simd::load<double>(p + 8 * j));
                const V x1 = f(simd::load<double>(p + 8 * (j + 4)));
                const V x2 = f(simd::load<double>(p + 8 * (j + 8)));
                const V x3 = f(simd::load<double>(p + 8 * (j + 12)));
                if constexpr (kLow) {
                    lo0 = x0 < lo0 ? x0 : lo0;
                    lo1 = x1 < lo1 ? x1 : lo1;
                    lo2 = x2 < lo2 ? x2 : lo2;
                    lo3 = x3 < lo3 ? x3 : lo3;
                }
                if constexpr (kHigh) {
                    hi0 = x0 > hi0 ? x0 : hi0;
                    hi1 = x1 > hi1 ? x1 : hi1;
                    hi2 = x2 > hi2 ? x2 : hi2;
                    hi3 = x3 > hi3 ? x3 : hi3;
                }
            }
            if constexpr (kLow) {
                lo0 = lo1 < lo0 ? lo1 : lo0;
                lo2 = lo3 < lo2 ? lo3 : lo2;
                lo0 = lo2 < lo0 ? lo2 : lo0;
                double m = lo0[0];
                for (int l = 1; l < 4; ++l) m = lo0[l] < m ? lo0[l] : m;
                if (m < low) {
                    std::ptrdiff_t j = i;
                    while (!(f(xs[j]) == m)) ++j;
                    low = f(xs[j]);
                    at.low = j;
                }
            }
            if constexpr (kHigh) {
                hi0 = hi1 > hi0 ? hi1 : hi0;
                hi2 = hi3 > hi2 ? hi3 : hi2;
                hi0 = hi2 > hi0 ? hi2 : hi0;
                double m = hi0[0];
                for (int l = 1; l < 4; ++l) m = hi0[l] > m ? hi0[l] : m;
                if (m > high) {
                    std::ptrdiff_t j = i;
                    while (!(f(xs[j]) == m)) ++j;
                    high = f(xs[j]);
                    at.high = j;
                }
            }
            i += kBlock;
        }
    }
    visit(xs.n);
    return at;
}

ZALMOR_VECTOR_CLONES ExtremeAt scan_low(Strided<double> xs) noexcept { return scan<true, false>(xs, Same{}); }
ZALMOR_VECTOR_CLONES ExtremeAt scan_high(Strided<double> xs) noexcept { return scan<false, true>(xs, Same{}); }
ZALMOR_VECTOR_CLONES ExtremeAt scan_both(Strided<double> xs) noexcept { return scan<true, true>(xs, Same{}); }
ZALMOR_VECTOR_CLONES ExtremeAt scan_low_magnitude(Strided<double> xs) noexcept {
    return scan<true, false>(xs, Magnitude{});
}
ZALMOR_VECTOR_CLONES ExtremeAt scan_high_magnitude(Strided<double> xs) noexcept {
    return scan<false, true>(xs, Magnitude{});
}

}  // namespace

std::ptrdiff_t first_min(Strided<double> xs) noexcept { return scan_low(xs).low; }
std::ptrdiff_t first_max(Strided<double> xs) noexcept { return scan_high(xs).high; }
ExtremeAt first_min_max(Strided<double> xs) noexcept { return scan_both(xs); }

double smallest_magnitude(Strided<double> xs) noexcept { return std::fabs(xs[scan_low_magnitude(xs).low]); }
double largest_magnitude(Strided<double> xs) noexcept { return std::fabs(xs[scan_high_magnitude(xs).high]); }

}  // namespace zalmor::brenthosca
