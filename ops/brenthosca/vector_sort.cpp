#include "ops/brenthosca/vector_sort.h"

#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "common/target.h"

#ifdef ZALMOR_X86
#include <immintrin.h>
// GCC 12's intrinsic headers start some results from an undefined register.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define ZALMOR_SORT_INLINE inline __attribute__((always_inline))

namespace zalmor::brenthosca {
namespace {

// For each mask of `lanes` bits: the lanes of the mask in order, then the
// others in order, as the lane each output lane takes, one byte per lane.
template <int lanes>
constexpr std::array<std::uint64_t, (1 << lanes)> pack_table() {
    std::array<std::uint64_t, (1 << lanes)> table{};
    for (int mask = 0; mask < (1 << lanes); ++mask) {
        std::uint64_t entry = 0;
        int out = 0;
        for (int pass = 0; pass < 2; ++pass) {
            for (int l = 0; l < lanes; ++l) {
                if (((mask >> l) & 1) == (pass == 0 ? 1 : 0)) entry |= std::uint64_t(l) << (8 * out++);
            }
        }
        table[mask] = entry;
    }
    return table;
}

// Sorting networks of K inputs with the fewest comparators known, as pairs
// (lower, upper): the first phase of a network leaf sorts each lane across its
// K registers with one (60 comparators for 16 inputs where the bitonic network
// takes 80).
template <int K>
constexpr auto column_pairs() {
    using Pair = std::array<int, 2>;
    if constexpr (K == 2) {
        return std::array<Pair, 1>{{{0, 1}}};
    } else if constexpr (K == 4) {
        return std::array<Pair, 5>{{{0, 1}, {2, 3}, {0, 2}, {1, 3}, {1, 2}}};
    } else if constexpr (K == 8) {
        return std::array<Pair, 19>{{{0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}, {0, 1}, {2, 3},
                                     {4, 5}, {6, 7}, {2, 4}, {3, 5}, {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6}}};
    } else {
        static_assert(K == 16);
        return std::array<Pair, 60>{{{0, 13}, {1, 12}, {2, 15}, {3, 14}, {4, 8},  {5, 6},   {7, 11},  {9, 10},
                                     {0, 5},  {1, 7},  {2, 9},  {3, 4},  {6, 13}, {8, 14},  {10, 15}, {11, 12},
                                     {0, 1},  {2, 3},  {4, 5},  {6, 8},  {7, 9},  {10, 11}, {12, 13}, {14, 15},
                                     {0, 2},  {1, 3},  {4, 10}, {5, 11}, {6, 7},  {8, 9},   {12, 14}, {13, 15},
                                     {1, 2},  {3, 12}, {4, 6},  {5, 7},  {8, 10}, {9, 11},  {13, 14}, {1, 4},
                                     {2, 6},  {5, 8},  {7, 10}, {9, 13}, {11, 14}, {2, 4},  {3, 6},   {9, 12},
                                     {11, 13}, {3, 5}, {6, 8},  {7, 9},  {10, 12}, {3, 4},  {5, 6},   {7, 8},
                                     {9, 10}, {11, 12}, {6, 7}, {8, 9}}};
    }
}

// No element is greater: padding for the networks.
template <class T>
constexpr T last() {
    return std::numeric_limits<T>::has_infinity ? std::numeric_limits<T>::infinity() : std::numeric_limits<T>::max();
}

// -0.0's bits as a key: set1 of them finds the -0.0 lanes of a vector of doubles.
constexpr std::int64_t kNegativeZero = std::numeric_limits<std::int64_t>::min();

// The least value above x: x + 1 for keys; the next double up for doubles that
// are neither NaN nor -0.0 nor +inf.
inline std::int64_t up(std::int64_t x) noexcept { return x + 1; }
inline double up(double x) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    return std::bit_cast<double>(x < 0.0 ? bits - 1 : bits + 1);
}

}  // namespace

#ifdef ZALMOR_X86

// ---- AVX-512: eight lanes, comparisons into mask registers ----------------------

#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx512dq,avx512bw,popcnt,bmi,bmi2")

namespace sort_avx512 {

constexpr auto kPack = pack_table<8>();

// Lanes of signed keys or of doubles, both held in integer registers.
template <class T>
struct Lanes {
    using R = __m512i;
    using Mask = unsigned;
    static constexpr int N = 8;
    static constexpr T kLast = last<T>();
    static ZALMOR_SORT_INLINE T next_up(T x) noexcept { return up(x); }

    static ZALMOR_SORT_INLINE R load(const T* p) noexcept { return _mm512_loadu_si512(p); }
    static ZALMOR_SORT_INLINE void store(T* p, R v) noexcept { _mm512_storeu_si512(p, v); }
    static ZALMOR_SORT_INLINE R set1(T x) noexcept { return _mm512_set1_epi64(std::bit_cast<std::int64_t>(x)); }
    static ZALMOR_SORT_INLINE R load_padded(const T* p, int count) noexcept {
        return _mm512_mask_loadu_epi64(set1(kLast), static_cast<__mmask8>((1u << count) - 1), p);
    }
    static ZALMOR_SORT_INLINE void store_first(T* p, R v, int count) noexcept {
        _mm512_mask_storeu_epi64(p, static_cast<__mmask8>((1u << count) - 1), v);
    }
    static ZALMOR_SORT_INLINE void minmax(R a, R b, R& lo, R& hi) noexcept {
        if constexpr (std::is_same_v<T, double>) {
            lo = _mm512_castpd_si512(_mm512_min_pd(_mm512_castsi512_pd(a), _mm512_castsi512_pd(b)));
            hi = _mm512_castpd_si512(_mm512_max_pd(_mm512_castsi512_pd(a), _mm512_castsi512_pd(b)));
        } else {
            lo = _mm512_min_epi64(a, b);
            hi = _mm512_max_epi64(a, b);
        }
    }
    static ZALMOR_SORT_INLINE Mask less(R a, R b) noexcept {
        if constexpr (std::is_same_v<T, double>) {
            return _mm512_cmp_pd_mask(_mm512_castsi512_pd(a), _mm512_castsi512_pd(b), _CMP_LT_OQ);
        } else {
            return _mm512_cmplt_epi64_mask(a, b);
        }
    }
    static ZALMOR_SORT_INLINE Mask special(R v) noexcept {
        const __m512d x = _mm512_castsi512_pd(v);
        return _mm512_cmp_pd_mask(x, x, _CMP_UNORD_Q) | _mm512_cmpeq_epi64_mask(v, _mm512_set1_epi64(kNegativeZero));
    }
    static ZALMOR_SORT_INLINE R pack(R v, Mask m) noexcept {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kPack[m]));
        return _mm512_permutexvar_epi64(_mm512_cvtepu8_epi64(bytes), v);
    }
    template <int X>
    static ZALMOR_SORT_INLINE R swap_lanes(R v) noexcept {
        if constexpr (X == 1) {
            return _mm512_castpd_si512(_mm512_permute_pd(_mm512_castsi512_pd(v), 0x55));
        } else if constexpr (X == 2) {
            return _mm512_permutex_epi64(v, 0x4E);
        } else if constexpr (X == 3) {
            return _mm512_permutex_epi64(v, 0x1B);
        } else if constexpr (X == 4) {
            return _mm512_shuffle_i64x2(v, v, 0x4E);
        } else {
            return _mm512_permutexvar_epi64(_mm512_setr_epi64(0 ^ X, 1 ^ X, 2 ^ X, 3 ^ X, 4 ^ X, 5 ^ X, 6 ^ X, 7 ^ X), v);
        }
    }
    // Lane l takes lane (l + X) % 8.
    template <int X>
    static ZALMOR_SORT_INLINE R rotate(R v) noexcept {
        return _mm512_alignr_epi64(v, v, X);
    }
    template <int X>
    static ZALMOR_SORT_INLINE R upper(R a, R b) noexcept {
        return _mm512_mask_blend_epi64(upper_lanes<X>(), a, b);
    }
    // upper<X> of the minima and maxima of a and b, the maxima by a masked
    // maximum over the minima (one operation less than a blend).
    template <int X>
    static ZALMOR_SORT_INLINE R minmax_upper(R a, R b) noexcept {
        if constexpr (std::is_same_v<T, double>) {
            const __m512d x = _mm512_castsi512_pd(a), y = _mm512_castsi512_pd(b);
            return _mm512_castpd_si512(_mm512_mask_max_pd(_mm512_min_pd(x, y), upper_lanes<X>(), x, y));
        } else {
            return _mm512_mask_max_epi64(_mm512_min_epi64(a, b), upper_lanes<X>(), a, b);
        }
    }
    // swap_lanes<X>(upper<X>(b, a)) in one permutation of both.
    template <int X>
    static ZALMOR_SORT_INLINE R swapped_lower(R a, R b) noexcept {
        constexpr int top = X >= 4 ? 4 : X >= 2 ? 2 : 1;
        constexpr auto from = [](int l) { return (l ^ X) | ((l ^ X) & top ? 8 : 0); };
        return _mm512_permutex2var_epi64(
            b, _mm512_setr_epi64(from(0), from(1), from(2), from(3), from(4), from(5), from(6), from(7)), a);
    }
    template <int X>
    static constexpr __mmask8 upper_lanes() noexcept {
        return X >= 4 ? 0xF0 : X >= 2 ? 0xCC : 0xAA;
    }
    // x[r] lane l becomes x[l] lane r, by swapping across one bit at a time.
    static ZALMOR_SORT_INLINE void transpose(R* x) noexcept {
        transpose_bit<1>(x);
        transpose_bit<2>(x);
        transpose_bit<4>(x);
    }
    template <int D>
    static ZALMOR_SORT_INLINE void transpose_bit(R* x) noexcept {
        const R low = _mm512_setr_epi64(0 & D ? 8 + 0 - D : 0, 1 & D ? 8 + 1 - D : 1, 2 & D ? 8 + 2 - D : 2,
                                        3 & D ? 8 + 3 - D : 3, 4 & D ? 8 + 4 - D : 4, 5 & D ? 8 + 5 - D : 5,
                                        6 & D ? 8 + 6 - D : 6, 7 & D ? 8 + 7 - D : 7);
        const R high = _mm512_setr_epi64(0 & D ? 8 + 0 : 0 + D, 1 & D ? 8 + 1 : 1 + D, 2 & D ? 8 + 2 : 2 + D,
                                         3 & D ? 8 + 3 : 3 + D, 4 & D ? 8 + 4 : 4 + D, 5 & D ? 8 + 5 : 5 + D,
                                         6 & D ? 8 + 6 : 6 + D, 7 & D ? 8 + 7 : 7 + D);
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) {
            if (r & D) continue;
            const R a = x[r], b = x[r | D];
            x[r] = _mm512_permutex2var_epi64(a, low, b);
            x[r | D] = _mm512_permutex2var_epi64(a, high, b);
        }
    }
};

#include "ops/brenthosca/vector_sort_kinds.h"

}  // namespace sort_avx512

#pragma GCC pop_options

// ---- AVX2: four lanes, comparisons into vectors --------------------------------------

#pragma GCC push_options
#pragma GCC target("avx2,popcnt,bmi,bmi2")

namespace sort_avx2 {

constexpr auto kPackBytes = pack_table<4>();

// The pack permutations as the 32-bit lane indices vpermd takes.
constexpr std::array<std::array<std::int32_t, 8>, 16> pack_words() {
    std::array<std::array<std::int32_t, 8>, 16> table{};
    for (int m = 0; m < 16; ++m) {
        for (int l = 0; l < 4; ++l) {
            const int from = static_cast<int>((kPackBytes[m] >> (8 * l)) & 0xFF);
            table[m][2 * l] = 2 * from;
            table[m][2 * l + 1] = 2 * from + 1;
        }
    }
    return table;
}
alignas(32) constexpr auto kPack = pack_words();

// Lanes of signed keys or of doubles, both held in integer registers.
template <class T>
struct Lanes {
    using R = __m256i;
    using Mask = unsigned;
    static constexpr int N = 4;
    static constexpr T kLast = last<T>();
    static ZALMOR_SORT_INLINE T next_up(T x) noexcept { return up(x); }

    static ZALMOR_SORT_INLINE R load(const T* p) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static ZALMOR_SORT_INLINE void store(T* p, R v) noexcept {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static ZALMOR_SORT_INLINE R set1(T x) noexcept { return _mm256_set1_epi64x(std::bit_cast<std::int64_t>(x)); }
    static ZALMOR_SORT_INLINE R first(int count) noexcept {
        return _mm256_cmpgt_epi64(_mm256_set1_epi64x(count), _mm256_setr_epi64x(0, 1, 2, 3));
    }
    static ZALMOR_SORT_INLINE R load_padded(const T* p, int count) noexcept {
        const R m = first(count);
        const R v = _mm256_maskload_epi64(reinterpret_cast<const long long*>(p), m);
        return _mm256_blendv_epi8(set1(kLast), v, m);
    }
    static ZALMOR_SORT_INLINE void store_first(T* p, R v, int count) noexcept {
        _mm256_maskstore_epi64(reinterpret_cast<long long*>(p), first(count), v);
    }
    static ZALMOR_SORT_INLINE void minmax(R a, R b, R& lo, R& hi) noexcept {
        if constexpr (std::is_same_v<T, double>) {
            lo = _mm256_castpd_si256(_mm256_min_pd(_mm256_castsi256_pd(a), _mm256_castsi256_pd(b)));
            hi = _mm256_castpd_si256(_mm256_max_pd(_mm256_castsi256_pd(a), _mm256_castsi256_pd(b)));
        } else {
            const R greater = _mm256_cmpgt_epi64(a, b);
            lo = _mm256_blendv_epi8(a, b, greater);
            hi = _mm256_blendv_epi8(b, a, greater);
        }
    }
    static ZALMOR_SORT_INLINE Mask less(R a, R b) noexcept {
        if constexpr (std::is_same_v<T, double>) {
            return static_cast<Mask>(
                _mm256_movemask_pd(_mm256_cmp_pd(_mm256_castsi256_pd(a), _mm256_castsi256_pd(b), _CMP_LT_OQ)));
        } else {
            return static_cast<Mask>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(b, a))));
        }
    }
    static ZALMOR_SORT_INLINE Mask special(R v) noexcept {
        const __m256d x = _mm256_castsi256_pd(v);
        const __m256d zero = _mm256_castsi256_pd(_mm256_cmpeq_epi64(v, _mm256_set1_epi64x(kNegativeZero)));
        return static_cast<Mask>(_mm256_movemask_pd(_mm256_or_pd(_mm256_cmp_pd(x, x, _CMP_UNORD_Q), zero)));
    }
    static ZALMOR_SORT_INLINE R pack(R v, Mask m) noexcept {
        return _mm256_permutevar8x32_epi32(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(kPack[m].data())));
    }
    template <int X>
    static ZALMOR_SORT_INLINE R swap_lanes(R v) noexcept {
        if constexpr (X == 1) {
            return _mm256_shuffle_epi32(v, 0x4E);
        } else if constexpr (X == 2) {
            return _mm256_permute4x64_epi64(v, 0x4E);
        } else {
            static_assert(X == 3);
            return _mm256_permute4x64_epi64(v, 0x1B);
        }
    }
    template <int X>
    static ZALMOR_SORT_INLINE R rotate(R v) noexcept {
        return _mm256_permute4x64_epi64(v, (X % 4) | ((X + 1) % 4) << 2 | ((X + 2) % 4) << 4 | ((X + 3) % 4) << 6);
    }
    template <int X>
    static ZALMOR_SORT_INLINE R upper(R a, R b) noexcept {
        return _mm256_blend_epi32(a, b, X >= 2 ? 0xF0 : 0xCC);
    }
    template <int X>
    static ZALMOR_SORT_INLINE R swapped_lower(R a, R b) noexcept {
        return swap_lanes<X>(upper<X>(b, a));
    }
    template <int X>
    static ZALMOR_SORT_INLINE R minmax_upper(R a, R b) noexcept {
        R lo, hi;
        minmax(a, b, lo, hi);
        return upper<X>(lo, hi);
    }
    static ZALMOR_SORT_INLINE void transpose(R* x) noexcept {
        for (int r = 0; r < 4; r += 2) {
            const R a = x[r], b = x[r + 1];
            x[r] = _mm256_unpacklo_epi64(a, b);
            x[r + 1] = _mm256_unpackhi_epi64(a, b);
        }
        for (int r = 0; r < 2; ++r) {
            const R a = x[r], b = x[r + 2];
            x[r] = _mm256_permute2x128_si256(a, b, 0x20);
            x[r + 2] = _mm256_permute2x128_si256(a, b, 0x31);
        }
    }
};

#include "ops/brenthosca/vector_sort_kinds.h"

}  // namespace sort_avx2

#pragma GCC pop_options

#endif  // ZALMOR_X86

namespace {

KernelTarget chosen_sort_target() noexcept {
    const KernelTarget best = best_kernel_target();
    const char* named = std::getenv("ZALMOR_SORT_TARGET");
    if (named == nullptr) return best;
    KernelTarget wanted = best;
    if (std::strcmp(named, "portable") == 0) wanted = KernelTarget::portable;
    if (std::strcmp(named, "avx2") == 0) wanted = KernelTarget::avx2;
    return wanted < best ? wanted : best;
}

}  // namespace

KernelTarget sort_target() noexcept {
    static const KernelTarget chosen = chosen_sort_target();
    return chosen;
}

namespace {

template <class T>
bool vector_sort(KernelTarget target, [[maybe_unused]] T* a, [[maybe_unused]] std::size_t n) noexcept {
    if (!kernel_target_supported(target)) return false;
    switch (target) {
#ifdef ZALMOR_X86
    case KernelTarget::avx512:
        if constexpr (std::is_same_v<T, double>) {
            return sort_avx512::values::sort_unless_special(a, n);
        } else {
            sort_avx512::keys::sort(a, n);
        }
        return true;
    case KernelTarget::avx2:
        if constexpr (std::is_same_v<T, double>) {
            return sort_avx2::values::sort_unless_special(a, n);
        } else {
            sort_avx2::keys::sort(a, n);
        }
        return true;
#else
    case KernelTarget::avx512:
    case KernelTarget::avx2:
#endif
    case KernelTarget::portable:
        break;
    }
    return false;
}

}  // namespace

bool vector_sort_keys(KernelTarget target, std::int64_t* keys, std::size_t n) noexcept {
    return vector_sort(target, keys, n);
}

bool vector_sort_doubles(KernelTarget target, double* xs, std::size_t n) noexcept { return vector_sort(target, xs, n); }

}  // namespace zalmor::brenthosca
