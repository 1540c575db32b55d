// cabs and csqrt four lanes at a time, with the C library's own bits.
//
// The platform's cabs is GNU libc's hypot, which is not correctly rounded; what
// fixes its bits is its sequence of operations. The lanes below perform the
// same IEEE operations in the same order (no fused multiply-add, as the library
// is built for x86-64), so they give the same bits:
//   ax >= ay the magnitudes; parts above 2^511 are scaled by 2^-600, and when
//   the smaller is below 2^-459 both are scaled by 2^600, the result scaled
//   back; a part negligible next to the other (ay <= ax 2^-54, or for tiny
//   parts ax >= ay 2^54) gives ax + ay; otherwise h = sqrt(ax ax + ay ay),
//   corrected by (t1 + t2) / (2 h), with t1 and t2 computed from h - ay or
//   h - ax as the library does depending on whether h <= 2 ay.
// (Multiplying by a power of two and dividing by its inverse round alike, so
// the scalings are done by multiplication.) csqrt follows the library too:
//   d = hypot(x, y); for x > 0, r = sqrt((d + x) / 2) and s = (y / r) / 2;
//   otherwise s = sqrt((d - x) / 2) and r = |(y / s) / 2|; the result is
//   r + copysign(s, y) i.
// The lanes take finite parts only (csqrt: both parts non-zero and at most
// DBL_MAX / 4, not both below 2 DBL_MIN, where the library does no scaling);
// every other value goes to the library itself.
//
// Another C library (another release, or one built with fused multiply-add)
// may compute otherwise. At first use the lanes are compared with the running
// library on a fixed set of hard inputs: equal magnitudes and near-equal ones,
// both sides of every threshold, subnormal, tiny and huge parts. If any result
// differs, every value goes to the library for the life of the process.
// The check runs the very copy of the lanes (AVX-512 or AVX2) that the
// processor takes.
#include "ops/brenthosca/complex_libm.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ops/brenthosca/libm_complex.h"
#include "common/xorshift.h"
#include "ops/brenthosca/simd.h"

#ifdef ZALMOR_X86
// GCC 12's AVX-512 headers start some results from a self-initialised
// variable, which its own flow analysis then reports.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace zalmor::brenthosca {
namespace {

using V = simd::Vec<double>;
using M = simd::MaskOf<double>;
constexpr int kWidth = simd::Lanes<double>::width;  // four lanes, AVX-512 included: GCC builds the
                                                    // masks of eight-lane comparisons lane by lane

constexpr double kScale = 0x1p-600, kLarge = 0x1p511, kTiny = 0x1p-459, kEps = 0x1p-54;
constexpr std::int64_t kSign = INT64_MIN;

ZALMOR_INLINE V splat(double x) noexcept { return simd::broadcast<double>(x); }

ZALMOR_INLINE V square_root(V a) noexcept {
    V r;
    for (int l = 0; l < kWidth; ++l) r[l] = __builtin_sqrt(a[l]);  // one vector instruction
    return r;
}

ZALMOR_INLINE V magnitude(V v) noexcept { return simd::abs<double>(v); }

// The library's kernel on magnitudes sx >= sy that need no scaling.
ZALMOR_INLINE V corrected_root(V sx, V sy) noexcept {
    const V h = square_root(sx * sx + sy * sy);
    const M near = h <= 2.0 * sy;
    const V da = h - sy, db = h - sx;
    const V t1 = near ? sx * (2.0 * da - sx) : 2.0 * db * (sx - 2.0 * sy);
    const V t2 = near ? (da - 2.0 * (sx - sy)) * da : (4.0 * db - sy) * sy + db * db;
    return h - (t1 + t2) / (2.0 * h);
}

// The library's hypot of lanes whose parts are finite; the mask of those lanes.
ZALMOR_INLINE M hypot_lanes(V re, V im, V& out) noexcept {
    const V x = magnitude(re), y = magnitude(im);
    const M swap = x < y;
    const V ax = swap ? y : x, ay = swap ? x : y;
    const M ordinary = (ax <= kLarge) & (ay >= kTiny);  // false for NaN and infinite parts
    if (!simd::any(~ordinary)) {  // the usual case: no scaling
        out = ay <= ax * kEps ? ax + ay : corrected_root(ax, ay);
        return ordinary;
    }
    const M large = ax > kLarge;
    const M tiny = ~large & (ay < kTiny);
    const V in = large ? splat(kScale) : tiny ? splat(1.0 / kScale) : splat(1.0);
    const V h = corrected_root(ax * in, ay * in);
    const V scaled = h * (large ? splat(1.0 / kScale) : tiny ? splat(kScale) : splat(1.0));
    const M negligible = tiny ? (ay * (1.0 / kEps) <= ax) : (ay <= ax * kEps);
    out = negligible ? ax + ay : scaled;
    return (x < INFINITY) & (y < INFINITY);
}

// The library's csqrt of the lanes it computes without scaling; their mask.
ZALMOR_INLINE M csqrt_lanes(V re, V im, V& real, V& imag) noexcept {
    V d;
    const M finite = hypot_lanes(re, im, d);
    const V x = magnitude(re), y = magnitude(im);
    const M plain = finite & (re != 0.0) & (im != 0.0) & (x <= DBL_MAX / 4) & (y <= DBL_MAX / 4) &
                    ~((x < 2 * DBL_MIN) & (y < 2 * DBL_MIN));
    // d + x for x > 0 and d - x otherwise are both d + |x|: one root and one
    // quotient serve both branches.
    const M positive = re > 0.0;
    const V root = square_root(0.5 * (d + x));
    const V half = 0.5 * (im / root);
    const V s = positive ? half : root;
    real = positive ? root : magnitude(half);
    imag = (V)(((M)s & ~kSign) | ((M)im & kSign));
    return plain;
}

// Four values: contiguous pairs are split into parts, others gathered.
ZALMOR_INLINE void load_parts(const char* p, std::ptrdiff_t stride, V& re, V& im) noexcept {
    if (stride == 16) {
        const V a = simd::load<double>(p), b = simd::load<double>(p + 32);
        re = __builtin_shuffle(a, b, M{0, 2, 4, 6});
        im = __builtin_shuffle(a, b, M{1, 3, 5, 7});
        return;
    }
    for (int l = 0; l < kWidth; ++l) {
        std::memcpy(&re[l], p + l * stride, 8);
        std::memcpy(&im[l], p + l * stride + 8, 8);
    }
}

ZALMOR_INLINE void cabs_lanes_into(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    std::ptrdiff_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        V re, im, h;
        load_parts(zs + i * stride, stride, re, im);
        const M ok = hypot_lanes(re, im, h);
        std::memcpy(out + i, &h, sizeof h);
        if (!simd::any(~ok)) continue;
        for (int l = 0; l < kWidth; ++l) {
            if (!ok[l]) out[i + l] = zalmor_libm_cabs(re[l], im[l]);
        }
    }
    for (; i < n; ++i) {
        double part[2];
        std::memcpy(part, zs + i * stride, sizeof part);
        out[i] = zalmor_libm_cabs(part[0], part[1]);
    }
}

ZALMOR_INLINE void csqrt_lanes_into(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    std::ptrdiff_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        V re, im, real, imag;
        load_parts(zs + i * stride, stride, re, im);
        const M ok = csqrt_lanes(re, im, real, imag);
        const V lo = __builtin_shuffle(real, imag, M{0, 4, 1, 5});
        const V hi = __builtin_shuffle(real, imag, M{2, 6, 3, 7});
        std::memcpy(out + 2 * i, &lo, sizeof lo);
        std::memcpy(out + 2 * i + 4, &hi, sizeof hi);
        if (!simd::any(~ok)) continue;
        for (int l = 0; l < kWidth; ++l) {
            if (!ok[l]) zalmor_libm_csqrt(re[l], im[l], out + 2 * (i + l));
        }
    }
    for (; i < n; ++i) {
        double part[2];
        std::memcpy(part, zs + i * stride, sizeof part);
        zalmor_libm_csqrt(part[0], part[1], out + 2 * i);
    }
}

void cabs_by_libm(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double part[2];
        std::memcpy(part, zs + i * stride, sizeof part);
        out[i] = zalmor_libm_cabs(part[0], part[1]);
    }
}

void csqrt_by_libm(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double part[2];
        std::memcpy(part, zs + i * stride, sizeof part);
        zalmor_libm_csqrt(part[0], part[1], out + 2 * i);
    }
}

// A copy of the lanes per target. Without AVX2 the library itself is the
// faster way (four lanes emulated on narrower registers lose to it).
using Lanes = void (*)(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept;
struct Kernels {
    Lanes cabs, csqrt;
};

#ifdef ZALMOR_X86
ZALMOR_FOR_AVX2 void cabs_avx2(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    std::ptrdiff_t i = 0;
    if (stride == 16) {
        const __m256d no_sign = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
        const __m256d large = _mm256_set1_pd(kLarge), tiny = _mm256_set1_pd(kTiny);
        for (; i + 4 <= n; i += 4) {
            // Parts of values 0, 2, 1, 3 (the unpacks work within halves).
            const auto* pair = reinterpret_cast<const double*>(zs + 16 * i);
            const __m256d a = _mm256_loadu_pd(pair), b = _mm256_loadu_pd(pair + 4);
            const __m256d x = _mm256_and_pd(_mm256_unpacklo_pd(a, b), no_sign);
            const __m256d y = _mm256_and_pd(_mm256_unpackhi_pd(a, b), no_sign);
            const __m256d ordinary =
                _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(x, large, _CMP_LE_OQ), _mm256_cmp_pd(y, large, _CMP_LE_OQ)),
                              _mm256_and_pd(_mm256_cmp_pd(x, tiny, _CMP_GE_OQ), _mm256_cmp_pd(y, tiny, _CMP_GE_OQ)));
            if (_mm256_movemask_pd(ordinary) != 0xf) {
                cabs_lanes_into(zs + 16 * i, 4, 16, out + i);
                continue;
            }
            const V ax = _mm256_max_pd(x, y), ay = _mm256_min_pd(x, y);
            const __m256d moduli = ay <= ax * kEps ? ax + ay : corrected_root(ax, ay);
            _mm256_storeu_pd(out + i, _mm256_permute4x64_pd(moduli, 0xd8));  // back to 0, 1, 2, 3
        }
    }
    cabs_lanes_into(zs + i * stride, n - i, stride, out + i);
}
ZALMOR_FOR_AVX2 void csqrt_avx2(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    csqrt_lanes_into(zs, n, stride, out);
}
// Eight contiguous values at a time in the usual case, in AVX-512 registers
// (the same operations as corrected_root, with mask registers for the
// selects); any other group of eight, and strided values, take the four lanes.
ZALMOR_FOR_AVX512 void cabs_avx512(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    std::ptrdiff_t i = 0;
    if (stride == 16) {
        const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
        const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
        const __m512d no_sign = _mm512_castsi512_pd(_mm512_set1_epi64(INT64_MAX));
        const __m512d large = _mm512_set1_pd(kLarge), tiny = _mm512_set1_pd(kTiny), eps = _mm512_set1_pd(kEps);
        const __m512d two = _mm512_set1_pd(2.0), four = _mm512_set1_pd(4.0);
        for (; i + 8 <= n; i += 8) {
            const __m512d a = _mm512_loadu_pd(zs + 16 * i), b = _mm512_loadu_pd(zs + 16 * i + 64);
            const __m512d x = _mm512_and_pd(_mm512_permutex2var_pd(a, even, b), no_sign);
            const __m512d y = _mm512_and_pd(_mm512_permutex2var_pd(a, odd, b), no_sign);
            // Both parts within [2^-459, 2^511] (false for NaN): no scaling.
            __mmask8 ordinary = _mm512_cmp_pd_mask(x, large, _CMP_LE_OQ);
            ordinary = _mm512_mask_cmp_pd_mask(ordinary, y, large, _CMP_LE_OQ);
            ordinary = _mm512_mask_cmp_pd_mask(ordinary, x, tiny, _CMP_GE_OQ);
            ordinary = _mm512_mask_cmp_pd_mask(ordinary, y, tiny, _CMP_GE_OQ);
            if (ordinary != 0xff) {
                cabs_lanes_into(zs + 16 * i, 8, 16, out + i);
                continue;
            }
            const __m512d ax = _mm512_max_pd(x, y), ay = _mm512_min_pd(x, y);
            const __m512d h = _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(ax, ax), _mm512_mul_pd(ay, ay)));
            const __m512d ay2 = _mm512_mul_pd(two, ay);
            const __mmask8 near = _mm512_cmp_pd_mask(h, ay2, _CMP_LE_OQ);
            const __m512d da = _mm512_sub_pd(h, ay), db = _mm512_sub_pd(h, ax);
            const __m512d t1 = _mm512_mask_blend_pd(
                near, _mm512_mul_pd(_mm512_mul_pd(two, db), _mm512_sub_pd(ax, ay2)),
                _mm512_mul_pd(ax, _mm512_sub_pd(_mm512_mul_pd(two, da), ax)));
            const __m512d t2 = _mm512_mask_blend_pd(
                near,
                _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(_mm512_mul_pd(four, db), ay), ay), _mm512_mul_pd(db, db)),
                _mm512_mul_pd(_mm512_sub_pd(da, _mm512_mul_pd(two, _mm512_sub_pd(ax, ay))), da));
            const __m512d root =
                _mm512_sub_pd(h, _mm512_div_pd(_mm512_add_pd(t1, t2), _mm512_mul_pd(two, h)));
            const __mmask8 negligible = _mm512_cmp_pd_mask(ay, _mm512_mul_pd(ax, eps), _CMP_LE_OQ);
            _mm512_storeu_pd(out + i, _mm512_mask_blend_pd(negligible, root, _mm512_add_pd(ax, ay)));
        }
    }
    cabs_lanes_into(zs + i * stride, n - i, stride, out + i);
}
ZALMOR_FOR_AVX512 void csqrt_avx512(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    csqrt_lanes_into(zs, n, stride, out);
}
#endif

Kernels kernels_for(KernelTarget target) noexcept {
#ifdef ZALMOR_X86
    if (target == KernelTarget::avx512) return {cabs_avx512, csqrt_avx512};
    if (target == KernelTarget::avx2) return {cabs_avx2, csqrt_avx2};
#endif
    (void)target;
    return {cabs_by_libm, csqrt_by_libm};
}

// The check at first use (see above): two thousand values, both functions, on
// the lanes of `kernels`.
bool lanes_agree_with_libm(Kernels kernels) noexcept {
    constexpr int kValues = 2048;
    static double zs[2 * kValues], got[2 * kValues], want[2 * kValues];  // only the first caller writes
    Xorshift next{0x2545f4914f6cdd1du};
    auto unit = [&next]() noexcept { return 1.0 + static_cast<double>(next() >> 12) * 0x1p-52; };
    // exponents around the thresholds of both functions, and the ordinary range
    const int centres[] = {0, 0, 511, 512, -459, -460, -1022, -1060, 1021, -511, 60, -60};
    for (int i = 0; i < kValues; ++i) {
        const int e = centres[i % 12] + static_cast<int>(next() % 5) - 2;
        const double a = std::ldexp(unit(), e);
        double b;
        switch (i % 4) {
            case 0: b = a; break;  // equal magnitudes
            case 1: b = a * (1.0 + std::ldexp(unit(), -30 - static_cast<int>(next() % 20))); break;  // near-equal
            case 2: b = std::ldexp(unit(), e - static_cast<int>(next() % 60)); break;  // up to 2^-60 apart
            default: b = std::ldexp(unit(), static_cast<int>(next() % 2046) - 1022); break;
        }
        zs[2 * i] = (next() & 1) ? -a : a;
        zs[2 * i + 1] = (next() & 1) ? -b : b;
    }
    const char* values = reinterpret_cast<const char*>(zs);
    kernels.cabs(values, kValues, 16, got);
    cabs_by_libm(values, kValues, 16, want);
    if (std::memcmp(got, want, kValues * sizeof(double)) != 0) return false;
    kernels.csqrt(values, kValues, 16, got);
    csqrt_by_libm(values, kValues, 16, want);
    return std::memcmp(got, want, sizeof got) == 0;
}

std::atomic<int> g_in_use{-1};  // unknown, then 0 or 1

}  // namespace

bool csqrt_lane(double re, double im, double out[2]) noexcept {
    V real, imag;
    const M ok = csqrt_lanes(V{re, 1.0, 1.0, 1.0}, V{im, 1.0, 1.0, 1.0}, real, imag);
    out[0] = real[0];
    out[1] = imag[0];
    return ok[0] != 0;
}

bool complex_lanes_in_use() noexcept {
    int known = g_in_use.load(std::memory_order_acquire);
    if (known < 0) {
        static std::atomic_flag checking = ATOMIC_FLAG_INIT;
        if (checking.test_and_set(std::memory_order_acquire)) return false;  // another thread checks: libm meanwhile
        known = lanes_agree_with_libm(kernels_for(best_kernel_target())) ? 1 : 0;
        g_in_use.store(known, std::memory_order_release);
    }
    return known == 1;
}

bool cabs_many_on(KernelTarget target, const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride,
                  double* out) noexcept {
    if (!kernel_target_supported(target)) return false;
    kernels_for(target).cabs(zs, n, stride, out);
    return true;
}

bool csqrt_many_on(KernelTarget target, const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride,
                   double* out) noexcept {
    if (!kernel_target_supported(target)) return false;
    kernels_for(target).csqrt(zs, n, stride, out);
    return true;
}

void cabs_many(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    if (complex_lanes_in_use()) return kernels_for(best_kernel_target()).cabs(zs, n, stride, out);
    cabs_by_libm(zs, n, stride, out);
}

void csqrt_many(const char* zs, std::ptrdiff_t n, std::ptrdiff_t stride, double* out) noexcept {
    if (complex_lanes_in_use()) return kernels_for(best_kernel_target()).csqrt(zs, n, stride, out);
    csqrt_by_libm(zs, n, stride, out);
}

}  // namespace zalmor::brenthosca
