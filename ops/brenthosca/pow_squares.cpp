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

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ops/brenthosca/ordered_sum.h"
#include "common/xorshift.h"
#include "ops/brenthosca/simd.h"

#ifdef ZALMOR_X86
#include <immintrin.h>
#endif

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
// that is pow's result (see above). The portable form; the x86-64 kernels
// below compute the same with the instructions of their targets.
template <class V, class M>
ZALMOR_INLINE M shortcut_lanes(V a, V& square) noexcept {
    const V p = a * a;
    const V err = square_error(a, p);
    const M bits = (M)p;
    const V binade = (V)(bits & kExponent);
    const M near = (a >= kNearLow) & (a <= kNearHigh);
    const M limit = (near & (M)(binade * kLimitNear)) | (~near & (M)(binade * kLimitFar));
    const V magnitude = (V)((M)err & kMagnitude);
    const M ok = ((a >= kLow) & (a <= kHigh) & (magnitude <= (V)limit) & ((err >= 0.0) | ((bits & kMantissa) != 0))) |
                 (a == 0.0);
    square = (V)((ok & bits) | (~ok & (M)a));  // a itself where pow is to be asked
    return ok;
}

// A lane kernel writes, for the whole vectors among n elements, a * a to out,
// or a = |x| where the shortcut leaves the lane to pow, adds the positions of
// those lanes to left[count...] (which has room for 8 more entries than
// elements), and returns how many elements it did. (So out may be the memory
// of xs.)
using LaneKernel = std::ptrdiff_t (*)(const char* xs, std::ptrdiff_t n, double* out, std::int32_t* left,
                                      int& count) noexcept;

std::ptrdiff_t lanes_portable(const char* xs, std::ptrdiff_t n, double* out, std::int32_t* left,
                              int& count) noexcept {
    using V = simd::Vec<double>;
    using M = simd::MaskOf<double>;
    constexpr int W = simd::Lanes<double>::width;
    std::ptrdiff_t i = 0;
    for (; i + W <= n; i += W) {
        V p;
        const M ok = shortcut_lanes<V, M>(simd::abs<double>(simd::load<double>(xs + 8 * i)), p);
        frame::store(reinterpret_cast<char*>(out + i), p);
        for (int l = 0; l < W; ++l) {  // without branches: the refused lanes are rare and random
            left[count] = static_cast<std::int32_t>(i + l);
            count += ok[l] == 0;
        }
    }
    return i;
}

#ifdef ZALMOR_X86

// AVX2 with fused multiply-add: the error of a * a in one instruction.
__attribute__((target("avx2,fma"))) std::ptrdiff_t lanes_avx2(const char* xs, std::ptrdiff_t n, double* out,
                                                              std::int32_t* left, int& count) noexcept {
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(kMagnitude));
    const __m256d exponent = _mm256_castsi256_pd(_mm256_set1_epi64x(kExponent));
    const __m256i mantissa = _mm256_set1_epi64x(kMantissa);
    const __m256d low = _mm256_set1_pd(kLow), high = _mm256_set1_pd(kHigh);
    const __m256d near_low = _mm256_set1_pd(kNearLow), near_high = _mm256_set1_pd(kNearHigh);
    const __m256d limit_near = _mm256_set1_pd(kLimitNear), limit_far = _mm256_set1_pd(kLimitFar);
    const __m256d zero = _mm256_setzero_pd();
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d a = _mm256_and_pd(_mm256_loadu_pd(reinterpret_cast<const double*>(xs + 8 * i)), magnitude);
        const __m256d p = _mm256_mul_pd(a, a);
        const __m256d err = _mm256_fmsub_pd(a, a, p);
        const __m256d near = _mm256_and_pd(_mm256_cmp_pd(a, near_low, _CMP_GE_OQ), _mm256_cmp_pd(a, near_high, _CMP_LE_OQ));
        const __m256d limit = _mm256_mul_pd(_mm256_and_pd(p, exponent), _mm256_blendv_pd(limit_far, limit_near, near));
        __m256d ok = _mm256_and_pd(_mm256_cmp_pd(a, low, _CMP_GE_OQ), _mm256_cmp_pd(a, high, _CMP_LE_OQ));
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(_mm256_and_pd(err, magnitude), limit, _CMP_LE_OQ));
        const __m256i power = _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(p), mantissa), _mm256_setzero_si256());
        const __m256d below_power = _mm256_and_pd(_mm256_cmp_pd(err, zero, _CMP_LT_OQ), _mm256_castsi256_pd(power));
        ok = _mm256_or_pd(_mm256_andnot_pd(below_power, ok), _mm256_cmp_pd(a, zero, _CMP_EQ_OQ));
        _mm256_storeu_pd(out + i, _mm256_blendv_pd(a, p, ok));
        const unsigned slow = ~static_cast<unsigned>(_mm256_movemask_pd(ok));
        for (int l = 0; l < 4; ++l) {  // without branches: the refused lanes are rare and random
            left[count] = static_cast<std::int32_t>(i + l);
            count += (slow >> l) & 1;
        }
    }
    return i;
}

// AVX-512: eight lanes, and comparisons into mask registers.
__attribute__((target("avx512f,avx512vl"))) std::ptrdiff_t lanes_avx512(const char* xs, std::ptrdiff_t n, double* out,
                                                               std::int32_t* left, int& count) noexcept {
    const __m512i magnitude = _mm512_set1_epi64(kMagnitude), exponent = _mm512_set1_epi64(kExponent);
    const __m512i mantissa = _mm512_set1_epi64(kMantissa);
    const __m512d low = _mm512_set1_pd(kLow), high = _mm512_set1_pd(kHigh);
    const __m512d near_low = _mm512_set1_pd(kNearLow), near_high = _mm512_set1_pd(kNearHigh);
    const __m512d limit_near = _mm512_set1_pd(kLimitNear), limit_far = _mm512_set1_pd(kLimitFar);
    const __m512d zero = _mm512_setzero_pd();
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d a = _mm512_castsi512_pd(_mm512_and_epi64(_mm512_loadu_si512(xs + 8 * i), magnitude));
        const __m512d p = _mm512_mul_pd(a, a);
        const __m512d err = _mm512_fmsub_pd(a, a, p);
        const __m512i bits = _mm512_castpd_si512(p);
        const __mmask8 near = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(a, near_low, _CMP_GE_OQ), a, near_high, _CMP_LE_OQ);
        const __m512d limit = _mm512_mul_pd(_mm512_castsi512_pd(_mm512_and_epi64(bits, exponent)),
                                            _mm512_mask_blend_pd(near, limit_far, limit_near));
        const __m512d size = _mm512_castsi512_pd(_mm512_and_epi64(_mm512_castpd_si512(err), magnitude));
        __mmask8 ok = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(a, low, _CMP_GE_OQ), a, high, _CMP_LE_OQ);
        ok = _mm512_mask_cmp_pd_mask(ok, size, limit, _CMP_LE_OQ);
        const __mmask8 below_power = _mm512_mask_testn_epi64_mask(_mm512_cmp_pd_mask(err, zero, _CMP_LT_OQ), bits, mantissa);
        ok = static_cast<__mmask8>((ok & ~below_power) | _mm512_cmp_pd_mask(a, zero, _CMP_EQ_OQ));
        _mm512_storeu_pd(out + i, _mm512_mask_blend_pd(ok, a, p));
        const __mmask8 slow = static_cast<__mmask8>(~ok);  // their positions packed, without branches
        // (compressed in a register and stored whole: a compressing store to memory is slow on some cores)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(left + count),
                            _mm256_maskz_compress_epi32(slow, _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)), lane)));
        count += __builtin_popcount(slow);
    }
    return i;
}
#endif

LaneKernel lane_kernel(KernelTarget target) noexcept {
    switch (target) {
#ifdef ZALMOR_X86
    case KernelTarget::avx512: return lanes_avx512;
    case KernelTarget::avx2: return lanes_avx2;
#else
    case KernelTarget::avx512:
    case KernelTarget::avx2: return nullptr;
#endif
    case KernelTarget::portable: break;
    }
    return lanes_portable;
}

// Elements are taken a chunk at a time: the positions left to pow fit on the stack.
constexpr std::ptrdiff_t kChunk = 512;

// Half the spacing of the doubles at s, when s is a positive normal number
// well inside the range; else 0.
double half_grid(double s) noexcept {
    if (!(s >= 0x1p-900 && s <= 0x1p1000)) return 0.0;
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(s) & static_cast<std::uint64_t>(kExponent)) * 0x1p-53;
}

// Whether pow's square of a, whichever way pow rounds it, adds alike to every
// running sum s' >= s of the half spacing h at s: then p = a * a serves for it.
// pow gives p or its neighbour p' on the side of the exact square. Every
// rounding boundary of s' + t (half-way points of the spacing at s' or, past a
// power of two, of twice it, and the power of two itself) lies at s' plus a
// multiple of h, and s' is a multiple of 2h; so when no multiple of h lies in
// [min(p, p'), max(p, p')], s' + p and s' + p' round to the same double.
bool adds_alike(double a, double h, double inverse_h, double& p) noexcept {
    if (!(a >= kLow && a <= kHigh)) return false;
    p = a * a;
    const double err = square_error(a, p);
    if (err == 0.0) return true;  // exact: pow gives p
    if (!(p < h * 0x1p52)) return false;  // h divides p
    const std::uint64_t b = std::bit_cast<std::uint64_t>(p);
    const double other = std::bit_cast<double>(err > 0.0 ? b + 1 : b - 1);
    const double pq = p * inverse_h, rq = other * inverse_h;  // exact, below 2^52 (or 0 if too small)
    const double q = std::floor(pq), r = std::floor(rq);
    return q == r && q != pq && r != rq;
}

// The squares of up to kChunk elements: the shortcut's lanes first, then the
// lanes it leaves, for which pow is asked in one tight run (calls back to back
// overlap, where calls among the vector work would each wait in full). With
// `running`, the sum these squares are about to be added to in order, a lane
// whose square adds alike either way (adds_alike) is given a * a instead.
void squares_of_chunk(LaneKernel lanes, const char* xs, std::ptrdiff_t n, double* out,
                      const double* running) noexcept {
    std::int32_t left[kChunk + 8];  // the elements for pow (and room for a whole vector store)
    int count = 0;
    for (std::ptrdiff_t i = lanes(xs, n, out, left, count); i < n; ++i) {
        if (!square_shortcut(frame::load<double>(xs + 8 * i), out + i)) left[count++] = static_cast<std::int32_t>(i);
    }
    const double h = running != nullptr ? half_grid(*running) : 0.0;
    const double inverse_h = h > 0.0 ? 1.0 / h : 0.0;  // exact: a power of two
    for (int k = 0; k < count; ++k) {
        double& square = out[left[k]];  // holds |x| until here
        double p;
        square = h > 0.0 && adds_alike(square, h, inverse_h, p) ? p : libm_pow_square(square);
    }
}


// The check at first use: inputs across both bands whose squares lie within
// a few margins of a midpoint, and squares of short integers (exact, or
// exactly halfway), each taken by the shortcut compared with pow.
bool shortcut_agrees_with_libm() noexcept {
    Xorshift next{0x9e3779b97f4a7c15u};
    auto power_of_two = [](int e) noexcept {  // 2^e for a normal result
        double x;
        const std::uint64_t b = static_cast<std::uint64_t>(e + 1023) << 52;
        std::memcpy(&x, &b, sizeof x);
        return x;
    };
    int compared = 0;
    for (int i = 0; i < (1 << 13); ++i) {
        const std::uint64_t r = next();
        const bool near = (i & 1) != 0;
        const int span = near ? 64 : 990;
        const int e = static_cast<int>(((next() >> 32) * static_cast<std::uint64_t>(span)) >> 32) - (near ? 32 : 480);
        const bool integer = i % 8 == 0;
        double x;
        if (integer) {
            x = static_cast<double>((r >> 37) | (1u << 26)) * power_of_two(e - 27);  // 27-bit integers
        } else {
            const std::uint64_t b = (static_cast<std::uint64_t>(e + 1023) << 52) | (r & kMantissa);
            std::memcpy(&x, &b, sizeof x);
        }
        double p;
        if (!square_shortcut(x, &p)) continue;
        const double u = std::bit_cast<double>(std::bit_cast<std::uint64_t>(p) & static_cast<std::uint64_t>(kExponent)) * 0x1p-52;
        const double err = std::fabs(square_error(std::fabs(x), p));
        const double margin = std::fabs(x) >= kNearLow && std::fabs(x) <= kNearHigh ? kMarginNear : kMarginFar;
        if (!integer && err < (0.5 - 4 * margin) * u) continue;  // not near a limit
        ++compared;
        if (std::bit_cast<std::uint64_t>(p) != std::bit_cast<std::uint64_t>(libm_pow_square(x))) return false;
    }
    return compared > 500;
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

namespace {

// pow's squares of the chunk at xs into out; see squares_of_chunk.
void chunk_of_squares(KernelTarget target, const char* xs, std::ptrdiff_t n, double* out,
                      const double* running) noexcept {
    if (!square_shortcut_in_use()) {
        for (std::ptrdiff_t i = 0; i < n; ++i) out[i] = libm_pow_square(frame::load<double>(xs + 8 * i));
        return;
    }
    squares_of_chunk(lane_kernel(target), xs, n, out, running);
}

}  // namespace

bool pow_squares_on(KernelTarget target, const char* xs, std::ptrdiff_t n, double* out) noexcept {
    if (!kernel_target_supported(target)) return false;
    for (std::ptrdiff_t i = 0; i < n; i += kChunk) {
        chunk_of_squares(target, xs + 8 * i, std::min(kChunk, n - i), out + i, nullptr);
    }
    return true;
}

bool add_pow_squares_on(KernelTarget target, double& s, const char* xs, std::ptrdiff_t n) noexcept {
    if (!kernel_target_supported(target)) return false;
    double block[kChunk];
    for (std::ptrdiff_t i = 0; i < n; i += kChunk) {
        const std::ptrdiff_t m = std::min(kChunk, n - i);
        chunk_of_squares(target, xs + 8 * i, m, block, &s);
        s = add_in_order(s, reinterpret_cast<const char*>(block), m, Term::nonnegative);
    }
    return true;
}

double add_pow_squares(double s, const char* xs, std::ptrdiff_t n) noexcept {
    add_pow_squares_on(best_kernel_target(), s, xs, n);
    return s;
}

}  // namespace zalmor::brenthosca
