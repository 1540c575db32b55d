// cabs and csqrt of many values against the C library's cabs and csqrt, bit
// for bit, on every copy of the lanes the processor runs, contiguous and strided, on values weighted to the hard cases: equal and
// near-equal magnitudes, parts far apart, both sides of the scaling thresholds,
// subnormal, zero, infinite and NaN parts. ZALMOR_COMPLEX_CHECK=N checks N
// values (the default is a short run).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "ops/brenthosca/complex_libm.h"
#include "ops/brenthosca/libm_complex.h"

using namespace zalmor::brenthosca;

namespace {

bool differ(double a, double b) { return std::memcmp(&a, &b, sizeof a) != 0 && !(std::isnan(a) && std::isnan(b)); }

// A part of a value, often close to or far below `other`; a `plain` part
// mostly stays where the functions need no scaling (2^-459 to 2^511), so that
// whole vectors of such values occur.
double part(std::mt19937_64& rng, double other, bool plain) {
    const std::uint64_t u = rng();
    const double unit = 1.0 + static_cast<double>(u >> 12) * 0x1p-52;
    double x;
    static constexpr int kPlainCases[] = {1, 2, 3, 7, 8};
    switch (plain ? kPlainCases[rng() % 5] : static_cast<int>(rng() % 8)) {
        case 0: std::memcpy(&x, &u, sizeof x); break;  // any bits
        case 1: x = other; break;
        case 2: x = other * (1.0 + std::ldexp(unit, -20 - static_cast<int>(rng() % 40))); break;
        case 3: {  // up to 2^-64 of the other part
            const int e = std::isfinite(other) && other != 0 ? std::ilogb(other) : 0;
            x = std::ldexp(unit, e - static_cast<int>(rng() % 64));
            break;
        }
        case 4: x = std::ldexp(unit, 505 + static_cast<int>(rng() % 12)); break;
        case 5: x = std::ldexp(unit, -465 + static_cast<int>(rng() % 12)); break;
        case 6: x = rng() % 4 == 0 ? 0.0 : std::ldexp(unit, static_cast<int>(rng() % 2100) - 1074); break;
        case 7: x = unit - 1.0; break;
        default: x = std::ldexp(unit, static_cast<int>(rng() % 970) - 459); break;
    }
    return (u & 1) ? -x : x;
}

}  // namespace

CORE_TEST(complex_maps_give_the_bits_of_the_c_library) {
    const long long total = zalmor::testing::check_count("ZALMOR_COMPLEX_CHECK", 200000);
    const bool by_hand = std::getenv("ZALMOR_COMPLEX_CHECK") != nullptr;
    std::mt19937_64 rng(20261208);
    constexpr std::size_t kBlock = 4096;
    std::vector<double> zs(4 * kBlock), moduli(kBlock), roots(2 * kBlock);
    long long checked = 0, wrong = 0, lanes = 0;
    for (long long round = 0; checked < total; ++round) {
        const std::ptrdiff_t stride = round % 2 ? 32 : 16;  // every other value, or all
        const auto target = static_cast<zalmor::KernelTarget>(round / 2 % 3);
        const bool plain = round / 6 % 2;
        if (!zalmor::kernel_target_supported(target)) continue;
        for (std::size_t i = 0; i < 2 * kBlock; ++i) {
            zs[2 * i] = part(rng, 1.0, plain);
            zs[2 * i + 1] = part(rng, std::fabs(zs[2 * i]), plain);
        }
        const char* values = reinterpret_cast<const char*>(zs.data());
        cabs_many_on(target, values, kBlock, stride, moduli.data());
        csqrt_many_on(target, values, kBlock, stride, roots.data());
        for (std::size_t i = 0; i < kBlock; ++i) {
            const double* z = zs.data() + i * static_cast<std::size_t>(stride) / 8;
            double want[2], lane[2];
            zalmor_libm_csqrt(z[0], z[1], want);
            if (differ(moduli[i], zalmor_libm_cabs(z[0], z[1])) || differ(roots[2 * i], want[0]) ||
                differ(roots[2 * i + 1], want[1])) {
                if (++wrong <= 5) std::printf("  (%a, %a)\n", z[0], z[1]);
            }
            lanes += csqrt_lane(z[0], z[1], lane);
        }
        checked += kBlock;
    }
    CHECK(complex_lanes_in_use());
    CHECK_EQ(wrong, 0);
    if (by_hand) {
        std::printf("  %lld values, %lld wrong; csqrt's lanes took %lld\n", checked, wrong, lanes);
    }
}
