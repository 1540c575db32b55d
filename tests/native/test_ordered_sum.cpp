// The block-wise ordered sums against the plain loop, bit for bit, on inputs
// built to hit every reason a block is refused: ties, binade crossings, sign
// changes, zero, tiny and huge sums, infinities and NaN.
#include <algorithm>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "ops/brenthosca/ordered_sum.h"

using zalmor::brenthosca::add_in_order;
using zalmor::brenthosca::Term;

namespace {

double term_of(double x, Term t) {
    switch (t) {
    case Term::magnitude: return std::fabs(x);
    case Term::nonnegative:
    case Term::value: break;
    }
    return x;
}

double plain(double s, const std::vector<double>& xs, Term t) {
    for (double x : xs) s = s + term_of(x, t);
    return s;
}

float plain(float s, const std::vector<float>& xs) {
    for (float x : xs) s = s + x;
    return s;
}

template <class T>
bool same_bits(T a, T b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string describe(const char* what, std::size_t n, double got, double want) {
    char text[200];
    std::snprintf(text, sizeof text, "%s (n=%zu): got %a, want %a", what, n, got, want);
    return text;
}

void check_double(const char* what, double start, const std::vector<double>& xs) {
    const bool signs = std::any_of(xs.begin(), xs.end(), [](double x) { return x < 0; });
    for (Term t : {Term::value, Term::magnitude, Term::nonnegative}) {
        if (t == Term::nonnegative && signs) continue;
        // also from an offset of one element, so that loads are misaligned
        for (std::size_t skip : {std::size_t{0}, std::size_t{1}}) {
            if (skip > xs.size()) continue;
            const std::vector<double> part(xs.begin() + static_cast<std::ptrdiff_t>(skip), xs.end());
            const double want = plain(start, part, t);
            const double got = add_in_order(start, reinterpret_cast<const char*>(xs.data() + skip),
                                            static_cast<std::ptrdiff_t>(part.size()), t);
            if (!same_bits(got, want))
                zalmor::testing::record_failure(__FILE__, __LINE__, describe(what, part.size(), got, want));
        }
    }
}

void check_float(const char* what, float start, const std::vector<float>& xs) {
    const float want = plain(start, xs);
    const float got = add_in_order(start, reinterpret_cast<const char*>(xs.data()),
                                   static_cast<std::ptrdiff_t>(xs.size()));
    if (!same_bits(got, want))
        zalmor::testing::record_failure(__FILE__, __LINE__, describe(what, xs.size(), got, want));
}

template <class Make>
std::vector<double> doubles(std::size_t n, Make make) {
    std::vector<double> xs(n);
    for (auto& x : xs) x = make();
    return xs;
}

}  // namespace

CORE_TEST(ordered_sum_matches_the_plain_loop_on_random_data) {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (std::size_t n : {0u, 1u, 7u, 31u, 32u, 33u, 100u, 1000u, 4099u, 100000u}) {
        check_double("normal", 0.0, doubles(n, [&] { return normal(rng); }));
        check_double("positive drift", 0.0, doubles(n, [&] { return normal(rng) + 0.5; }));
        check_double("negative drift", 0.0, doubles(n, [&] { return normal(rng) - 3.0; }));
        check_double("uniform", 0.0, doubles(n, [&] { return uniform(rng); }));
        check_double("wide magnitudes", 0.0,
                     doubles(n, [&] { return normal(rng) * std::ldexp(1.0, static_cast<int>(rng() % 80) - 40); }));
        check_double("from a large start", 1e6, doubles(n, [&] { return normal(rng); }));
        check_double("from a negative start", -3.75, doubles(n, [&] { return normal(rng); }));
    }
}

CORE_TEST(ordered_sum_keeps_the_ties_of_each_step) {
    std::mt19937_64 rng(12);
    // Integers and halves: at 2^53 and beyond, terms of 1 and 0.5 fall exactly
    // half way between neighbours, and the result depends on the running parity.
    for (double start : {0x1p53, 0x1p54, -0x1p53, 0x1p52 + 1, 3.0}) {
        check_double("integers", start, doubles(5000, [&] { return static_cast<double>(rng() % 7) - 3.0; }));
        check_double("halves", start, doubles(5000, [&] { return 0.5 * static_cast<double>(rng() % 5); }));
        check_double("ones", start, std::vector<double>(3000, 1.0));
    }
    // A constant term that is exactly half an ulp of the running sum.
    check_double("half ulp", 1.0, std::vector<double>(4096, 0x1p-53));
    check_double("quarter ulp", 1.0, std::vector<double>(4096, 0x1p-54));
    check_double("three halves ulp", 1.0, std::vector<double>(4096, 0x1.8p-52));
}

CORE_TEST(ordered_sum_crosses_binades_and_zero) {
    std::mt19937_64 rng(13);
    std::normal_distribution<double> normal;
    // Growing sums cross a binade every few blocks; alternating ones hover at 0.
    check_double("growing", 0.0, std::vector<double>(20000, 1.0));
    check_double("growing by a third", 0.1, std::vector<double>(20000, 1.0 / 3.0));
    check_double("alternating", 0.0, doubles(10000, [&, k = 0]() mutable { return (k++ % 2) ? -1.0 : 1.0 + 1e-9; }));
    check_double("cancelling", 0.0, doubles(10000, [&, k = 0]() mutable {
                     return (k++ % 64 < 32) ? 1.0 + normal(rng) * 1e-3 : -1.0 + normal(rng) * 1e-3;
                 }));
    // Sums that sit just below and above powers of two.
    for (double start : {0x1p10 - 0x1p-40, 0x1p10, 0x1p10 + 0x1p-40, -0x1p10, -0x1p11 + 0x1p-41}) {
        check_double("near a power of two", start, doubles(2000, [&] { return normal(rng) * 1e-12; }));
    }
}

CORE_TEST(ordered_sum_at_the_edges_of_the_range) {
    std::mt19937_64 rng(14);
    std::normal_distribution<double> normal;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double tiny = std::numeric_limits<double>::denorm_min();
    check_double("subnormal", 0.0, doubles(3000, [&] { return normal(rng) * tiny * 1e6; }));
    check_double("near the lowest eligible sum", 0x1p-960, doubles(3000, [&] { return normal(rng) * 0x1p-990; }));
    check_double("huge", 0.0, doubles(3000, [&] { return normal(rng) * 1e307; }));
    check_double("overflowing", 0.0, std::vector<double>(3000, 1.7e308 / 1000));
    check_double("from the largest finite", 1.7976931348623157e308, doubles(3000, [&] { return normal(rng); }));
    for (double odd : {inf, -inf, nan, 1e300, -0.0}) {
        for (std::size_t at : {0u, 1u, 40u, 1500u, 2999u}) {
            auto xs = doubles(3000, [&] { return normal(rng); });
            xs[at] = odd;
            check_double("one odd element", 0.0, xs);
            check_double("one odd element after a start", 5.0, xs);
        }
    }
    check_double("infinities of both signs", 0.0, {1.0, inf, 2.0, -inf, 3.0});
    check_double("negative zeros", -0.0, std::vector<double>(100, -0.0));
    check_double("from infinity", inf, doubles(500, [&] { return normal(rng); }));
    check_double("from NaN", nan, doubles(500, [&] { return normal(rng); }));
}

CORE_TEST(ordered_sum_in_single_precision) {
    std::mt19937 rng(15);
    std::normal_distribution<float> normal;
    for (std::size_t n : {0u, 5u, 63u, 64u, 65u, 1000u, 100000u}) {
        std::vector<float> xs(n);
        for (auto& x : xs) x = normal(rng);
        check_float("normal", 0.0f, xs);
        for (auto& x : xs) x = std::fabs(x);
        check_float("positive", 0.0f, xs);
    }
    // 2^24 stops growing when 1 is added: every step is a tie.
    check_float("ones at 2^24", 0x1p24f, std::vector<float>(5000, 1.0f));
    check_float("ones", 0.0f, std::vector<float>(1 << 17, 1.0f));
    check_float("halves", 0x1p23f, std::vector<float>(5000, 0.5f));
}

CORE_TEST(ordered_sum_follows_the_callers_rounding_mode) {
    std::mt19937_64 rng(17);
    std::normal_distribution<double> normal;
    // Rounding toward zero rounds negative sums up and positive ones down.
    const auto xs = doubles(20000, [&] { return normal(rng) - 1.0; });
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        check_double("directed rounding", 0.0, xs);
        std::fesetround(FE_TONEAREST);
    }
}
