#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "ops/brenthosca/ordering.h"

using namespace zalmor::brenthosca;
using zalmor::frame::Strided;
using zalmor::KernelTarget;
using zalmor::kernel_target_supported;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }
std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// NaNs of both signs and several payloads.
const double kNans[] = {kNan, -kNan, from_bits(0x7FF0000000000001), from_bits(0xFFFFFFFFFFFFFFFF),
                        from_bits(0x7FF4000000000000)};

bool ascending(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }

// Inputs of one kind: 0 spread values, 1 few distinct values with many ties
// (both zeros among them), 2 spread values with NaNs and infinities, 3 sorted,
// 4 sorted backwards, 5 all equal, 6 all NaN, 7 organ pipe (up, then down),
// 8 values a few thousand units in the last place apart (keys equal but for
// their last bits), with ties, 9 and 10 spread values with one -0.0 (at 32 or
// 64: the first keys a partition reads one at a time) and a +0.0 last.
std::vector<double> sample(std::mt19937_64& rng, std::size_t n, int kind) {
    std::normal_distribution<double> normal;
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
        case 1: {
            const double few[] = {0.0, -0.0, 1.0, -1.0, 2.5, 1e-310, kInf, -kInf, 3.0, -0.0};
            v[i] = few[pick(rng)];
            break;
        }
        case 2: {
            const int p = pick(rng);
            v[i] = p == 0 ? kNans[rng() % 5] : p == 1 ? (rng() % 2 ? kInf : -kInf) : normal(rng) * 1e3;
            break;
        }
        case 5: v[i] = -2.0; break;
        case 8: v[i] = from_bits(bits(rng() % 2 ? 1.0 : -1.0) + rng() % 4096); break;
        case 6: v[i] = kNans[i % 5]; break;
        default: v[i] = normal(rng) * std::ldexp(1.0, static_cast<int>(rng() % 64) - 32);
        }
    }
    if (kind >= 9 && n > 0) {
        v[(kind == 9 ? 32 : 64) % n] = -0.0;
        v[n - 1] = 0.0;
    }
    if (kind == 3) std::sort(v.begin(), v.end());
    if (kind == 4) std::sort(v.begin(), v.end(), [](double a, double b) { return a > b; });
    if (kind == 7) {
        std::sort(v.begin(), v.begin() + n / 2);
        std::sort(v.begin() + n / 2, v.end(), [](double a, double b) { return a > b; });
    }
    return v;
}
constexpr int kKinds = 11;

// Equal under `<` place by place (a zero for a zero, NaN for NaN).
bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) != std::isnan(b[i])) return false;
        if (!std::isnan(a[i]) && a[i] != b[i]) return false;
    }
    return true;
}

// The same bit patterns, in any order.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<std::uint64_t> x(a.size()), y(b.size());
    std::transform(a.begin(), a.end(), x.begin(), bits);
    std::transform(b.begin(), b.end(), y.begin(), bits);
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    return x == y;
}

bool identical(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](double x, double y) { return bits(x) == bits(y); });
}

std::vector<double> stable_sorted(std::vector<double> v) {
    std::stable_sort(v.begin(), v.end(), ascending);
    return v;
}

std::vector<double> sorted(std::vector<double> v, Allocate allocate = &system_allocate,
                           KernelTarget target = sort_target()) {
    sort_in_place(reinterpret_cast<char*>(v.data()), static_cast<std::ptrdiff_t>(v.size()), 8, allocate, target);
    return v;
}

// The order of longer vectors, whatever the engine: by bits, -0 before +0 and
// the NaNs after +inf, positive ones before negative ones.
std::uint64_t order_key(double x) {
    const std::uint64_t b = bits(x), negative = 0 - (b >> 63);
    return (b ^ (negative | (std::uint64_t{1} << 63))) - 0x000FFFFFFFFFFFFF;
}

// Checks a sort result against the stable reference: the same values place by
// place, the input's own bits, for at most 16 elements the very order and for
// more the order of order_key.
void check_sorted(const std::vector<double>& input, const std::vector<double>& got) {
    const std::vector<double> expected = stable_sorted(input);
    CHECK(same_values(got, expected));
    CHECK(same_bits(got, input));
    if (input.size() <= 16) {
        CHECK(identical(got, expected));
    } else {
        CHECK(std::is_sorted(got.begin(), got.end(), [](double a, double b) { return order_key(a) < order_key(b); }));
    }
}

// The engines this build and processor run.
std::vector<KernelTarget> targets() {
    std::vector<KernelTarget> all;
    for (KernelTarget t : {KernelTarget::portable, KernelTarget::avx2, KernelTarget::avx512}) {
        if (kernel_target_supported(t)) all.push_back(t);
    }
    return all;
}

// ---- argsort through the sink ----

struct Positions {
    std::vector<std::uint64_t> out;
    int calls = 0;
    bool refuse = false;
};

std::uint64_t* to_positions(void* context) {
    auto* p = static_cast<Positions*>(context);
    ++p->calls;
    return p->refuse ? nullptr : p->out.data();
}

void* no_memory(std::size_t) noexcept { return nullptr; }

int g_allocations_left = 0;
void* limited_memory(std::size_t bytes) noexcept {
    return g_allocations_left-- > 0 ? std::malloc(bytes) : nullptr;
}

// Around each threshold of the engines: insertion (16), vector widths, network
// sizes (up to 16 vectors), the partition's held blocks, the quicksort's two
// pivot samples (1024), the radix sort (4096).
const std::size_t kLengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 25, 31, 32, 33, 63, 64, 65, 100, 127,
                                128, 129, 130, 200, 255, 256, 257, 1000, 1024, 1025, 4095, 4096, 70000};

}  // namespace

CORE_TEST(comparisons_look_at_values_and_refuse_nan) {
    const IndexedDouble one{7, 1.0}, two{3, 2.0}, nan{0, kNan}, zero{1, 0.0}, negative_zero{2, -0.0};
    CHECK_EQ(ascending_cmp(one, two), 1);
    CHECK_EQ(ascending_cmp(two, one), 0);
    CHECK_EQ(ascending_cmp(one, one), 0);
    CHECK_EQ(descending_cmp(two, one), 1);
    CHECK_EQ(descending_cmp(one, two), 0);
    CHECK_EQ(ascending_cmp(one, IndexedDouble{0, 1.0}), 0);  // positions play no part
    for (const IndexedDouble& x : {one, nan}) {
        CHECK_EQ(ascending_cmp(x, nan), 0);
        CHECK_EQ(ascending_cmp(nan, x), 0);
        CHECK_EQ(descending_cmp(x, nan), 0);
        CHECK_EQ(descending_cmp(nan, x), 0);
    }
    CHECK_EQ(ascending_cmp(negative_zero, zero) + ascending_cmp(zero, negative_zero), 0);
    CHECK_EQ(descending_cmp(negative_zero, zero) + descending_cmp(zero, negative_zero), 0);
}

// The positions of a stable sort, NaNs last in both directions.
std::vector<std::uint64_t> stable_positions(const std::vector<double>& v, bool reverse) {
    std::vector<std::uint64_t> order(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint64_t a, std::uint64_t b) {
        return reverse ? v[a] > v[b] || (std::isnan(v[b]) && !std::isnan(v[a])) : ascending(v[a], v[b]);
    });
    return order;
}

CORE_TEST(sort_and_argsort_order_every_kind_and_length) {
    std::mt19937_64 rng(11);
    for (std::size_t n : kLengths) {
        for (int kind = 0; kind < kKinds; ++kind) {
            const std::vector<double> v = sample(rng, n, kind);
            const Strided<double> xs{reinterpret_cast<const char*>(v.data()), static_cast<std::ptrdiff_t>(n), 8};
            for (KernelTarget target : targets()) {
                check_sorted(v, sorted(v, &system_allocate, target));
                for (bool reverse : {false, true}) {
                    Positions p;
                    p.out.resize(n + 1);  // a sink that gives memory even for n = 0
                    CHECK(argsort_positions(xs, reverse, to_positions, &p, &system_allocate, target) ==
                          ArgsortOutcome::done);
                    p.out.pop_back();
                    CHECK(p.out == stable_positions(v, reverse));
                }
            }
        }
    }
    // Every special value in its place; NaNs of either sign after +inf.
    const std::vector<double> specials = {kNans[1], kInf, 5e-324, -kInf, -0.0, kNans[0], 0.0,
                                          -5e-324, 1.7e308, -1.7e308, kNans[3], 1.0};
    const std::vector<double> expected = {-kInf, -1.7e308, -5e-324, -0.0, 0.0, 5e-324, 1.0, 1.7e308, kInf};
    std::vector<double> long_specials;
    for (int copy = 0; copy < 3; ++copy) {
        long_specials.insert(long_specials.end(), specials.begin(), specials.end());
    }
    const std::vector<double> got = sorted(specials);
    CHECK(std::equal(expected.begin(), expected.end(), got.begin()));
    CHECK(std::isnan(got[9]) && std::isnan(got[10]) && std::isnan(got[11]));
    check_sorted(long_specials, sorted(long_specials));
}

CORE_TEST(sort_without_memory_still_sorts) {
    // v sorted as every second element of a larger vector; the others must stay.
    auto sorted_spaced = [](const std::vector<double>& v, Allocate allocate, KernelTarget target) {
        std::vector<double> wide(2 * v.size(), 9.0), got(v.size());
        for (std::size_t i = 0; i < v.size(); ++i) wide[2 * i] = v[i];
        sort_in_place(reinterpret_cast<char*>(wide.data()), static_cast<std::ptrdiff_t>(v.size()), 16, allocate,
                      target);
        for (std::size_t i = 0; i < v.size(); ++i) {
            got[i] = wide[2 * i];
            CHECK_EQ(wide[2 * i + 1], 9.0);
        }
        return got;
    };
    std::mt19937_64 rng(3);
    for (std::size_t n : {17ul, 100ul, 5000ul, 30000ul}) {
        for (int kind = 0; kind < kKinds; ++kind) {
            const std::vector<double> v = sample(rng, n, kind);
            for (KernelTarget target : targets()) {
                check_sorted(v, sorted(v, no_memory, target));             // keys in place, no scratch
                check_sorted(v, sorted_spaced(v, no_memory, target));      // heap-sorted through the stride
                g_allocations_left = 1;
                check_sorted(v, sorted_spaced(v, limited_memory, target));  // keys copied out, no room beside them
            }
        }
    }
}

CORE_TEST(argsort_fails_before_reading_or_making_a_result) {
    Positions p;
    const Strided<double> huge{nullptr, static_cast<std::ptrdiff_t>(kMaxWorkingRecords + 1), 8};
    CHECK(argsort_positions(huge, false, to_positions, &p) == ArgsortOutcome::too_long);
    const std::vector<double> v(1000, 1.0);
    const char* data = reinterpret_cast<const char*>(v.data());
    for (std::ptrdiff_t n : {17, 1000}) {
        CHECK(argsort_positions(Strided<double>{data, n, 8}, true, to_positions, &p, no_memory) ==
              ArgsortOutcome::no_memory);
    }
    CHECK_EQ(p.calls, 0);
    // A sink that gives nothing abandons the call, once.
    for (std::ptrdiff_t n : {0, 3, 100, 1000}) {
        Positions refusing;
        refusing.refuse = true;
        CHECK(argsort_positions(Strided<double>{data, n, 8}, false, to_positions, &refusing) ==
              ArgsortOutcome::abandoned);
        CHECK_EQ(refusing.calls, 1);
    }
}
