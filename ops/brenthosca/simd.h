// Vector registers for the kernels' inner loops, as GCC vector types. Pure C++.
//
// A loop written with these types is compiled once per entry of
// ZALMOR_VECTOR_CLONES (AVX2 and the x86-64 baseline) and the loader picks the
// best copy for the running processor. A portable build (no ZALMOR_X86,
// common/target.h) compiles it once, for the baseline of its target: GCC
// lowers the vector types to what that target has. Vector code here never
// contracts a*b+c (the build sets -ffp-contract=off), so a lane computes
// exactly what the scalar expression computes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/target.h"
#include "frame/strided.h"

// Vector values only travel between inlined helpers, never across a call
// boundary, so the baseline clone's calling convention for them is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

#ifdef ZALMOR_X86
#define ZALMOR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
// Also an AVX-512 copy (x86-64-v4), for loops that multiply 64-bit integers:
// AVX2 has no instruction for that.
#define ZALMOR_WIDE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
// One copy of a kernel for one target, for families dispatched by hand
// (common/kernel_target.h): the body is an always-inlined function, compiled
// again inside each copy.
#define ZALMOR_FOR_AVX2 __attribute__((target("avx2,fma")))
#define ZALMOR_FOR_AVX512 __attribute__((target("arch=x86-64-v4")))
#else
#define ZALMOR_VECTOR_CLONES
#define ZALMOR_WIDE_VECTOR_CLONES
#endif
#define ZALMOR_INLINE inline __attribute__((always_inline))

namespace zalmor::brenthosca::simd {

// 32 bytes of T, and the integer lanes of the same width (comparison masks).
template <class T>
struct Lanes;
template <>
struct Lanes<double> {
    typedef double V __attribute__((vector_size(32)));
    typedef std::int64_t Mask __attribute__((vector_size(32)));
    static constexpr int width = 4;
};
template <>
struct Lanes<float> {
    typedef float V __attribute__((vector_size(32)));
    typedef std::int32_t Mask __attribute__((vector_size(32)));
    static constexpr int width = 8;
};
template <>
struct Lanes<std::uint32_t> {
    typedef std::uint32_t V __attribute__((vector_size(32)));
    typedef std::int32_t Mask __attribute__((vector_size(32)));
    static constexpr int width = 8;
};
template <>
struct Lanes<std::uint64_t> {
    typedef std::uint64_t V __attribute__((vector_size(32)));
    typedef std::int64_t Mask __attribute__((vector_size(32)));
    static constexpr int width = 8 / 2;
};

template <class T>
using Vec = typename Lanes<T>::V;
template <class T>
using MaskOf = typename Lanes<T>::Mask;

// One vector from p (any alignment).
template <class T>
ZALMOR_INLINE Vec<T> load(const char* p) noexcept {
    return frame::load<Vec<T>>(p);
}

template <class T>
ZALMOR_INLINE Vec<T> broadcast(T x) noexcept {
    Vec<T> v;
    for (int i = 0; i < Lanes<T>::width; ++i) v[i] = x;
    return v;
}

// |v| by clearing the sign bits (the bits of -0.0).
template <class T>
ZALMOR_INLINE Vec<T> abs(Vec<T> v) noexcept {
    using M = MaskOf<T>;
    const M sign = (M)broadcast<T>(T(-0.0));
    return (Vec<T>)((M)v & ~sign);
}

// |x| of a double, or of each lane of a vector of them.
struct Magnitude {
    static constexpr bool nonnegative = true;  // for the ordered sums' terms
    ZALMOR_INLINE double operator()(double x) const noexcept { return std::fabs(x); }
    ZALMOR_INLINE Vec<double> operator()(Vec<double> x) const noexcept { return abs<double>(x); }
};

// Whether any lane of the mask is set: the two halves folded, then tested.
template <class M>
ZALMOR_INLINE bool any(M m) noexcept {
    typedef std::int64_t Half __attribute__((vector_size(16)));
    Half lo, hi;
    std::memcpy(&lo, &m, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&m) + sizeof lo, sizeof hi);
    const Half folded = lo | hi;
    return (folded[0] | folded[1]) != 0;
}

}  // namespace zalmor::brenthosca::simd
