// pow_squares against the C library's pow, bit for bit, on inputs weighted to
// the hard cases: squares on or near a rounding midpoint, at both margins of
// the shortcut, across the whole range of magnitudes and the special values.
// ZALMOR_SQUARES_CHECK=N checks N inputs (the default is a short run) and
// prints how many of them the shortcut took.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "check.h"
#include "ops/brenthosca/pow_squares.h"

using namespace zalmor::brenthosca;
using zalmor::KernelTarget;
using zalmor::kernel_target_supported;

namespace {

std::uint64_t bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

// Distance of the exact square of x from the nearest rounding midpoint, in
// units of the spacing at x*x (0 on a midpoint, 1/2 for an exact square).
double midpoint_distance(double x) {
    const double p = x * x;
    if (!std::isfinite(p) || p == 0.0) return NAN;
    const double u = std::ldexp(1.0, std::ilogb(p) - 52);
    return 0.5 - std::fabs(std::fma(x, x, -p)) / u;
}

// One input: a 27-bit integer scaled (squares exact or exactly halfway), a
// random double, or a random double whose square lies within 1/8 of a
// midpoint (drawn until one does), over magnitudes 2^-520 to 2^530.
double draw(std::mt19937_64& rng) {
    const int kind = static_cast<int>(rng() % 8);
    const int e = static_cast<int>(rng() % 1050) - 520;
    const int near_e = static_cast<int>(rng() % 80) - 40;
    const int exponent = kind % 2 == 0 ? near_e : e;  // half of them where most data lives
    if (kind < 2) return std::ldexp(static_cast<double>((rng() >> 37) | (1u << 26)), exponent - 27);
    for (;;) {
        const double x = std::ldexp(1.0 + static_cast<double>(rng() >> 11) * 0x1p-53, exponent);
        const double distance = midpoint_distance(x);  // NaN where x * x is not normal
        if (kind < 4 || !(distance >= 0.125)) return rng() % 2 ? x : -x;
    }
}

}  // namespace

CORE_TEST(pow_squares_give_the_bits_of_pow) {
    const long long total = zalmor::testing::check_count("ZALMOR_SQUARES_CHECK", 400000);
    const bool by_hand = std::getenv("ZALMOR_SQUARES_CHECK") != nullptr;
    std::mt19937_64 rng(20261208);
    constexpr std::size_t kBlock = 4096;
    std::vector<double> xs(kBlock), out(kBlock), in_place(kBlock);
    const KernelTarget targets[] = {KernelTarget::portable, KernelTarget::avx2, KernelTarget::avx512};
    long long checked = 0, taken = 0, taken_near = 0, wrong = 0;
    const double specials[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 0x1p-1074, 0x1p-1022, 0x1p-480,
                               0x1p510, 0x1.fffffffffffffp511, 0x1p512, 0x1.fffffffffffffp1023, 1.0,
                               std::sqrt(2.0), 0x1p-32, 0x1p32};
    while (checked < total) {
        std::size_t n = 0;
        if (checked == 0)
            for (double s : specials) xs[n++] = s;
        for (; n < kBlock; ++n) xs[n] = draw(rng);
        // every kernel this processor runs, one per block in turn; in place every other block
        const KernelTarget target = targets[(checked / kBlock) % 3];
        double* result = (checked / kBlock / 3) % 2 ? in_place.data() : out.data();
        in_place = xs;
        const char* in = reinterpret_cast<const char*>(result == out.data() ? xs.data() : result);
        if (!pow_squares_on(target, in, static_cast<std::ptrdiff_t>(n), result)) {
            pow_squares_on(KernelTarget::portable, in, static_cast<std::ptrdiff_t>(n), result);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const double want = libm_pow_square(xs[i]);
            if (bits(result[i]) != bits(want) && !(std::isnan(want) && std::isnan(result[i]))) {
                if (++wrong <= 5) std::printf("  pow(%a, 2) = %a, got %a\n", xs[i], want, result[i]);
            }
            double p;
            if (square_shortcut(xs[i], &p)) {
                ++taken;
                if (std::isfinite(p) && p != 0.0 && midpoint_distance(xs[i]) < 0.125) ++taken_near;
            }
        }
        checked += static_cast<long long>(n);
    }
    CHECK_EQ(wrong, 0);
    if (by_hand) {
        std::printf("  %lld inputs, %lld wrong; shortcut %s, would take %lld (%lld within 1/8 of a midpoint); "
                    "kernels: portable%s%s\n", checked, wrong, square_shortcut_in_use() ? "in use" : "NOT in use",
                    taken, taken_near, kernel_target_supported(KernelTarget::avx2) ? ", avx2" : "",
                    kernel_target_supported(KernelTarget::avx512) ? ", avx512" : "");
    }
}

CORE_TEST(the_shortcut_refuses_squares_on_a_midpoint) {
    // 129763425^2 = 16838548467330625 lies halfway between two doubles.
    double p;
    CHECK(!square_shortcut(129763425.0, &p));
    CHECK(square_shortcut(3.0, &p) && p == 9.0);
    CHECK(square_shortcut(-0.0, &p) && bits(p) == 0);
    CHECK(!square_shortcut(std::numeric_limits<double>::infinity(), &p));
    CHECK(!square_shortcut(0x1p-500, &p) && !square_shortcut(0x1p520, &p));
}

CORE_TEST(sums_of_pow_squares_match_the_running_sum) {
    // The running sum decides which squares need pow: sums that start at
    // zero, that are large or small against their terms, and terms near
    // midpoints, infinite or NaN, with every kernel.
    const long long trials = std::max(300LL, zalmor::testing::check_count("ZALMOR_SQUARES_CHECK", 0) / 1500);
    std::mt19937_64 rng(7);
    const KernelTarget targets[] = {KernelTarget::portable, KernelTarget::avx2, KernelTarget::avx512};
    for (long long trial = 0; trial < trials; ++trial) {
        const std::size_t n = 1 + rng() % 3000;
        std::vector<double> xs(n);
        for (double& x : xs) x = draw(rng);
        if (trial % 3 == 0) {
            for (double& x : xs) x = std::ldexp(static_cast<double>(rng() >> 37 | 1u << 26), 0);
        } else if (trial % 3 == 1) {
            for (std::size_t i = 0; i < n; i += 2) xs[i] = std::ldexp(xs[i], 40);  // large next to small
        }
        if (trial == 7) xs[n / 2] = std::numeric_limits<double>::quiet_NaN();
        if (trial == 8) xs[n / 2] = std::numeric_limits<double>::infinity();
        const double start = trial % 5 == 0 ? 1e6 : 0.0;
        double want = start;
        for (double x : xs) want = want + libm_pow_square(x);
        for (KernelTarget target : targets) {
            double got = start;
            if (!add_pow_squares_on(target, got, reinterpret_cast<const char*>(xs.data()), static_cast<std::ptrdiff_t>(n)))
                continue;
            if (bits(got) != bits(want) && !(std::isnan(got) && std::isnan(want))) {
                std::printf("  trial %lld, target %d: %a, want %a\n", trial, static_cast<int>(target), got, want);
                CHECK(false);
            }
        }
    }
}
